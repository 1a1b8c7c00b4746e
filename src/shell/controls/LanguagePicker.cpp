#include "shell/controls/LanguagePicker.h"

#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"

static const char* const kValues[] = {"zh-Hans", "en"};

LanguagePicker::LanguagePicker(QWidget* parent)
    : SegmentedControl({QStringLiteral("简体中文"), QStringLiteral("English")}, parent)
{
    setObjectName(QStringLiteral("language-picker"));
    setFixedSize(260, 28);
    connect(this, &SegmentedControl::segmentChosen, this, [](int index) {
        if (index == 0 || index == 1)
            AppSettings::shared().setValue(AppSettings::languageKey, QString::fromLatin1(kValues[index]));
    });
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) refresh();
    });
    refresh();
}

void LanguagePicker::refresh()
{
    setSelectedIndex(AppSettings::shared().languageRaw() == QLatin1String(kValues[1]) ? 1 : 0);
    setAccessibleName(L(QStringLiteral("界面语言")));
    update();
}
