#pragma once
#include <QCheckBox>

// The per-item checkbox of the uninstall review, titled "移走此关联项" in the current language.
// The owner shows its bound value with setSelected(); a click by the user is reported through
// selectionWritten() with the new state.
class NativeRelatedCheckbox : public QCheckBox {
    Q_OBJECT
public:
    explicit NativeRelatedCheckbox(const QString& identifier, QWidget* parent = nullptr);

    void setSelected(bool selected) { setChecked(selected); }
    bool selected() const { return isChecked(); }

signals:
    void selectionWritten(bool selected);

private:
    void retranslate();
};
