#include "pages/apps/NativeRelatedCheckbox.h"

#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"

NativeRelatedCheckbox::NativeRelatedCheckbox(const QString& identifier, QWidget* parent) : QCheckBox(parent)
{
    setObjectName(identifier);
    retranslate();
    connect(this, &QCheckBox::clicked, this, &NativeRelatedCheckbox::selectionWritten);
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::languageKey) retranslate();
    });
}

void NativeRelatedCheckbox::retranslate() { setText(plainTitle(L(QStringLiteral("移走此关联项")))); }
