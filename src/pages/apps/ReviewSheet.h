#pragma once
#include <QDialog>

class AppModel;
class QVBoxLayout;

// The frame shared by the review sheets of the applications page: a window-modal sheet of
// fixed size whose rows stack from the top. While the model processes, the sheet cannot be
// dismissed by Escape or the window's close button; only the sheet's own code closes it.
class ReviewSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 740;
    static constexpr int kHeight = 540;
    static constexpr int kMargin = 24;

    ReviewSheet(AppModel& model, QWidget* parent);

    QVBoxLayout* column() const { return column_; }

public slots:
    void reject() override;

protected:
    AppModel& model_;
    void closeEvent(QCloseEvent* event) override;

private:
    QVBoxLayout* column_ = nullptr;
};
