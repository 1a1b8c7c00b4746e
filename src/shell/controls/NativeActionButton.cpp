#include "shell/controls/NativeActionButton.h"

#include "shell/controls/ActionConfirmation.h"
#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"

NativeActionButton::NativeActionButton(const QString& title, Emphasis emphasis, std::function<void()> action,
                                       QWidget* parent)
    : QPushButton(parent), title_(title), emphasis_(emphasis), action_(std::move(action))
{
    setAutoDefault(false);
    setDefault(false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setButtonEmphasis(this, emphasis_);
    retranslate();
    connect(this, &QPushButton::clicked, this, &NativeActionButton::pressed);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retranslate();
    });
}

void NativeActionButton::setTitle(const QString& title)
{
    title_ = title;
    retranslate();
}

void NativeActionButton::setEmphasis(Emphasis emphasis)
{
    emphasis_ = emphasis;
    setButtonEmphasis(this, emphasis_);
}

void NativeActionButton::retranslate()
{
    setText(plainTitle(L(title_)));
    setAccessibleName(L(title_));
}

void NativeActionButton::pressed()
{
    QWidget* host = window();
    ActionConfirmation::setSourceWindow(host == this ? nullptr : host);
    if (action_) action_();
}
