#pragma once
#include "shell/style/TessynStyle.h"

#include <QPushButton>
#include <functional>

// The push button of the pages' main actions. Its title is the Chinese text, translated at
// every language change; it never answers Return or Enter. Pressing it records its window
// for the next confirmation, then runs its action.
class NativeActionButton : public QPushButton {
    Q_OBJECT
public:
    using Emphasis = ButtonEmphasis;

    NativeActionButton(const QString& title, Emphasis emphasis = Emphasis::standard,
                       std::function<void()> action = {}, QWidget* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    Emphasis emphasis() const { return emphasis_; }
    void setEmphasis(Emphasis emphasis);

private:
    QString title_;
    Emphasis emphasis_;
    std::function<void()> action_;

    void retranslate();
    void pressed();
};
