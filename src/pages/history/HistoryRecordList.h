#pragma once
#include "engine/Operation.h"
#include "shell/controls/RowButtonTracker.h"

#include <QListView>
#include <optional>
#include <vector>

class HistoryRecordModel;
class HistoryRecordDelegate;

// The operation records of the history page, newest first, one list however long: a model
// over a copy of the records and a delegate that paints each row (status symbol, name, path,
// outcome, date and, for a record still in the Trash, the restore button), so ten thousand
// records cost no widgets. A double click opens the row's path in a read-only field to
// select and copy; Space presses the current row's restore button.
class HistoryRecordList : public QListView {
    Q_OBJECT
public:
    explicit HistoryRecordList(QWidget* parent = nullptr);
    ~HistoryRecordList() override;

    // Same records in the same order: only the changed rows are redrawn; otherwise the rows
    // are rebuilt and the scroll position kept.
    void setRecords(const std::vector<Operation>& records);
    const std::vector<Operation>& records() const;
    // While blocked every restore button is shown disabled.
    void setRestoreBlocked(bool blocked);
    bool restoreBlocked() const { return blocked_; }

    // A path or name as one line of text: control characters (a line break in a file name)
    // are shown as U+FFFD, so a name cannot pass for another line of the row.
    static QString oneLine(const std::string& bytes);
    // A record that lies in the Trash and has not been put back.
    static bool isRestorable(const Operation& record);
    // Where the row's restore button is drawn, in viewport coordinates; empty when the row
    // has none or is not laid out.
    QRect restoreButtonRect(int row) const;
    // The row's texts as drawn: the outcome line and the date.
    QString subtitle(int row) const;
    QString dateText(int row) const;

signals:
    // The restore button of a row was pressed; the record as the row shows it.
    void restoreRequested(const Operation& record);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class HistoryRecordDelegate;

    HistoryRecordModel* model_ = nullptr;
    HistoryRecordDelegate* delegate_ = nullptr;
    bool blocked_ = false;
    RowButtonTracker* buttons_ = nullptr;

    std::optional<RowButtonHit> buttonAt(const QPoint& viewportPos) const;
    void press(int row);
};
