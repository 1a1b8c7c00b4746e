#include "pages/apps/ReviewSheet.h"

#include "model/AppModel.h"

#include <QCloseEvent>
#include <QVBoxLayout>

ReviewSheet::ReviewSheet(AppModel& model, QWidget* parent) : QDialog(parent), model_(model)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Tessyn"));
    setFixedSize(kWidth, kHeight);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    column_->setSpacing(14);
}

void ReviewSheet::reject()
{
    // Escape while items are being moved would leave the run without its view.
    if (model_.processing()) return;
    QDialog::reject();
}

void ReviewSheet::closeEvent(QCloseEvent* event)
{
    if (model_.processing()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
