#pragma once
#include <QDialog>
#include <QString>
#include <functional>

class QPushButton;

// The confirmation asked before every action that moves files or discards records: a
// warning dialog, modal to one window, whose first button "取消" answers Escape and whose
// second button carries the action. Neither Return nor Enter confirms unless the caller gives
// the action the default role; otherwise only a click on the action button does.
namespace ActionConfirmation {

// Whether Return and Enter press the action button.
enum class ReturnKey { ignored, confirms };

// The window of the native action button pressed last (null once that window is gone).
QWidget* sourceWindow();
void setSourceWindow(QWidget* window);

// The dialog (not shown) with the translated title, detail and action text.
QDialog* alert(const QString& title, const QString& detail, const QString& action, QWidget* parent = nullptr,
               ReturnKey returnKey = ReturnKey::ignored);
QPushButton* cancelButton(QDialog* alert);
QPushButton* actionButton(QDialog* alert);

// The window a confirmation attaches to: `window` when given, else the source window while
// it exists, else the active window. Null when none exists.
QWidget* targetWindow(QWidget* window = nullptr);

// Shows the confirmation on the target window and later calls `completion` exactly once
// with true only when the action button was clicked. Without a shown target window it
// answers false at once and shows nothing. `didPresent` receives the dialog once shown.
void present(const QString& title, const QString& detail, const QString& action,
             std::function<void(bool confirmed)> completion, QWidget* window = nullptr,
             std::function<void(QDialog*)> didPresent = {}, ReturnKey returnKey = ReturnKey::ignored);

} // namespace ActionConfirmation
