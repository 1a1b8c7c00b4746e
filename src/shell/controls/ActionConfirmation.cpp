#include "shell/controls/ActionConfirmation.h"

#include "shell/LocalizedText.h"
#include "shell/style/SymbolIcon.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <memory>

namespace ActionConfirmation {

namespace {
QPointer<QWidget>& recordedWindow()
{
    static QPointer<QWidget> window;
    return window;
}
} // namespace

QWidget* sourceWindow() { return recordedWindow().data(); }

void setSourceWindow(QWidget* window) { recordedWindow() = window; }

QDialog* alert(const QString& title, const QString& detail, const QString& action, QWidget* parent,
               ReturnKey returnKey)
{
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("action-confirmation"));
    dialog->setWindowTitle(QStringLiteral("Tessyn"));

    auto* icon = new QLabel(dialog);
    icon->setObjectName(QStringLiteral("confirmation-icon"));
    QPixmap warning = SymbolIcon::tinted(QStringLiteral("exclamationmark.triangle"), QSize(40, 40),
                                         QColor(0xf0, 0x8c, 0x00), dialog->devicePixelRatioF());
    if (warning.isNull()) {
        int side = dialog->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dialog);
        warning = dialog->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, dialog).pixmap(side, side);
    }
    icon->setPixmap(warning);
    icon->setAlignment(Qt::AlignTop);

    auto* message = new QLabel(L(title), dialog);
    message->setObjectName(QStringLiteral("confirmation-title"));
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    QFont bold = message->font();
    bold.setWeight(QFont::DemiBold);
    message->setFont(bold);
    auto* informative = new QLabel(L(detail), dialog);
    informative->setObjectName(QStringLiteral("confirmation-detail"));
    informative->setWordWrap(true);
    informative->setTextFormat(Qt::PlainText);
    informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A confirmation that is all title leaves no empty line under it.
    informative->setVisible(!detail.isEmpty());

    auto* cancel = new QPushButton(plainTitle(L(QStringLiteral("取消"))), dialog);
    cancel->setObjectName(QStringLiteral("confirmation-cancel"));
    auto* confirm = new QPushButton(plainTitle(L(action)), dialog);
    confirm->setObjectName(QStringLiteral("confirmation-action"));
    for (QPushButton* b : {cancel, confirm}) {
        // Return and Enter press nothing, or only the action when it has the default role.
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    confirm->setDefault(returnKey == ReturnKey::confirms);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(confirm, &QPushButton::clicked, dialog, &QDialog::accept);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(8);
    texts->addWidget(message);
    texts->addWidget(informative);
    auto* top = new QHBoxLayout();
    top->setSpacing(16);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(confirm);
    auto* column = new QVBoxLayout(dialog);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(18);
    column->addLayout(top);
    column->addLayout(buttons);
    dialog->setMinimumWidth(420);
    message->setMinimumWidth(300);
    cancel->setFocus();
    return dialog;
}

QPushButton* cancelButton(QDialog* dialog)
{
    return dialog ? dialog->findChild<QPushButton*>(QStringLiteral("confirmation-cancel")) : nullptr;
}

QPushButton* actionButton(QDialog* dialog)
{
    return dialog ? dialog->findChild<QPushButton*>(QStringLiteral("confirmation-action")) : nullptr;
}

QWidget* targetWindow(QWidget* window)
{
    if (window) return window->window();
    if (QWidget* recorded = sourceWindow(); recorded && recorded->isVisible()) return recorded;
    return QApplication::activeWindow();
}

void present(const QString& title, const QString& detail, const QString& action,
             std::function<void(bool)> completion, QWidget* window, std::function<void(QDialog*)> didPresent,
             ReturnKey returnKey)
{
    QWidget* target = targetWindow(window);
    if (!target || !target->isVisible()) {
        if (completion) completion(false);
        return;
    }
    QDialog* dialog = alert(title, detail, action, target, returnKey);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);

    // Answered exactly once: by the buttons, by Escape, or as "no" if the dialog goes away.
    auto answered = std::make_shared<bool>(false);
    auto finish = [answered, completion](bool confirmed) {
        if (*answered) return;
        *answered = true;
        if (completion) completion(confirmed);
    };
    QObject::connect(dialog, &QDialog::finished, dialog, [finish](int result) { finish(result == QDialog::Accepted); });
    QObject::connect(dialog, &QObject::destroyed, [finish] { finish(false); });
    dialog->open();
    if (didPresent) didPresent(dialog);
}

} // namespace ActionConfirmation
