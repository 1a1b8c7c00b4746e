#pragma once
#include "services/ApplicationMemory.h"
#include "shell/controls/RowButtonTracker.h"

#include <QListView>
#include <optional>
#include <vector>

class QAbstractListModel;

// The running applications of the memory page with their summed footprints, largest first as
// the model delivers them: name over the process counts, the footprint, and a "请求退出" button
// on every row but the program's own. Backed by an item model, so a refresh repaints rows
// instead of building widgets. At most 160 high; scrolls beyond that. One stop in the focus
// chain: the arrows move the current row, which keeps its application across refreshes, and
// Space presses that row's button.
class MemoryApplicationList : public QListView {
    Q_OBJECT
public:
    static constexpr int kMaximumHeight = 160;

    // `self`: the program's own process id, whose row gets no button.
    explicit MemoryApplicationList(int32_t self, QWidget* parent = nullptr);

    void setApplications(std::vector<ApplicationMemory> applications);
    const std::vector<ApplicationMemory>& applications() const;
    // The application of the current row, if a row is current.
    std::optional<int32_t> currentApplication() const;
    // Makes the row of application `id` current; with no such row, none is.
    void setCurrentApplication(std::optional<int32_t> id);
    // Where the quit button of a row is drawn, in viewport coordinates; empty when it has none.
    QRect quitButtonRect(int row) const;

signals:
    void quitRequested(const ApplicationMemory& application);

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    class Rows;
    class Delegate;
    Rows* rows_ = nullptr;
    Delegate* delegate_ = nullptr;
    RowButtonTracker* buttons_ = nullptr;
    int32_t self_;

    void fitHeight();
    std::optional<RowButtonHit> buttonAt(const QPoint& viewportPos) const;
    void press(int row);
};
