#pragma once
#include "services/ApplicationMemory.h"

#include <QListView>
#include <vector>

class QAbstractListModel;

// The running applications of the memory page with their summed footprints, largest first as
// the model delivers them: name over the process counts, the footprint, and a "请求退出" button
// on every row but the program's own. Backed by an item model, so a refresh repaints rows
// instead of building widgets. At most 160 high; scrolls beyond that.
class MemoryApplicationList : public QListView {
    Q_OBJECT
public:
    static constexpr int kMaximumHeight = 160;

    // `self`: the program's own process id, whose row gets no button.
    explicit MemoryApplicationList(int32_t self, QWidget* parent = nullptr);

    void setApplications(std::vector<ApplicationMemory> applications);
    const std::vector<ApplicationMemory>& applications() const;
    // Where the quit button of a row is drawn, in viewport coordinates; empty when it has none.
    QRect quitButtonRect(int row) const;

signals:
    void quitRequested(const ApplicationMemory& application);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    class Rows;
    class Delegate;
    Rows* rows_ = nullptr;
    Delegate* delegate_ = nullptr;
    int32_t self_;

    void fitHeight();
};
