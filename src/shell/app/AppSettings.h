#pragma once
#include "services/Localization.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;

// The three stored settings, kept in ~/.config/Tessyn/Tessyn.conf (Qt's native format here: INI
// text). Every writer in the program goes through this object, so views can follow a change the
// moment it is written.
class AppSettings : public QObject {
    Q_OBJECT
public:
    static const QString languageKey;    // "tessyn.language", default "en"
    static const QString appearanceKey;  // "tessyn.appearance", default "system"
    static const QString layoutKey;      // "tessyn.layout", default "sidebar"

    static AppSettings& shared();

    QString value(const QString& key, const QString& fallback = {}) const;
    // Stores the value and announces it when it differs from the stored one.
    void setValue(const QString& key, const QString& value);
    // The value stored under the key as it is, whatever its type; none when nothing is stored.
    std::optional<QVariant> storedValue(const QString& key) const;
    // Puts back what storedValue gave: the value itself, or no entry at all. Announced when it
    // differs from what is stored now.
    void restoreValue(const QString& key, const std::optional<QVariant>& value);

    QString languageRaw() const { return value(languageKey, QStringLiteral("en")); }
    QString appearanceRaw() const { return value(appearanceKey, QStringLiteral("system")); }
    QString layoutRaw() const { return value(layoutKey, QStringLiteral("sidebar")); }

signals:
    void changed(const QString& key);

private:
    AppSettings();
    ~AppSettings() override;
    std::unique_ptr<QSettings> settings_;
};

// The interface language now: Simplified Chinese exactly when the stored setting is "zh-Hans".
AppLanguage currentLanguage();
