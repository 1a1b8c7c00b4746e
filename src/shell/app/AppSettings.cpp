#include "shell/app/AppSettings.h"

#include <QSettings>

const QString AppSettings::languageKey = QStringLiteral("tessyn.language");
const QString AppSettings::appearanceKey = QStringLiteral("tessyn.appearance");
const QString AppSettings::layoutKey = QStringLiteral("tessyn.layout");

AppSettings::AppSettings()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tessyn"),
                                            QStringLiteral("Tessyn")))
{
}

AppSettings::~AppSettings() = default;

AppSettings& AppSettings::shared()
{
    static AppSettings* instance = new AppSettings();
    return *instance;
}

QString AppSettings::value(const QString& key, const QString& fallback) const
{
    QVariant stored = settings_->value(key);
    if (!stored.isValid()) return fallback;
    return stored.toString();
}

void AppSettings::setValue(const QString& key, const QString& value)
{
    QVariant stored = settings_->value(key);
    bool same = stored.isValid() && stored.toString() == value;
    settings_->setValue(key, value);
    settings_->sync();
    if (!same) emit changed(key);
}

std::optional<QVariant> AppSettings::storedValue(const QString& key) const
{
    if (!settings_->contains(key)) return std::nullopt;
    return settings_->value(key);
}

void AppSettings::restoreValue(const QString& key, const std::optional<QVariant>& value)
{
    std::optional<QVariant> before = storedValue(key);
    if (value) settings_->setValue(key, *value);
    else settings_->remove(key);
    settings_->sync();
    if (before != value) emit changed(key);
}

AppLanguage currentLanguage()
{
    return appLanguageFromRaw(AppSettings::shared().languageRaw().toStdString());
}
