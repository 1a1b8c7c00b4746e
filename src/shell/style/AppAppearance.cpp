#include "shell/style/AppAppearance.h"

#include "shell/style/TessynStyle.h"
#include "shell/app/AppSettings.h"

#include <QApplication>
#include <QStyle>

namespace {
std::optional<QPalette>& startupPalette()
{
    static std::optional<QPalette> palette;
    return palette;
}
} // namespace

QString rawValue(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::light: return QStringLiteral("light");
    case AppAppearance::dark: return QStringLiteral("dark");
    case AppAppearance::system: break;
    }
    return QStringLiteral("system");
}

std::optional<AppAppearance> appAppearanceFromRaw(const QString& raw)
{
    for (AppAppearance appearance : allAppAppearances)
        if (rawValue(appearance) == raw) return appearance;
    return std::nullopt;
}

QPalette tessynLightPalette()
{
    return QApplication::style()->standardPalette();
}

QPalette tessynDarkPalette()
{
    QPalette p;
    const QColor window(0x1f, 0x20, 0x24), text(0xe8, 0xe8, 0xea), base(0x2a, 0x2b, 0x30);
    const QColor button(0x34, 0x35, 0x3b), accent(0x3d, 0x7f, 0xe6), disabledText(0x7c, 0x7d, 0x83);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x31, 0x32, 0x38));
    p.setColor(QPalette::ToolTipBase, QColor(0x2f, 0x30, 0x35));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8f, 0x95));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x61));
    p.setColor(QPalette::Light, QColor(0x4a, 0x4b, 0x52));
    p.setColor(QPalette::Midlight, QColor(0x3c, 0x3d, 0x43));
    p.setColor(QPalette::Mid, QColor(0x62, 0x63, 0x6a));
    p.setColor(QPalette::Dark, QColor(0x17, 0x18, 0x1b));
    p.setColor(QPalette::Shadow, QColor(0x0b, 0x0b, 0x0d));
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6e, 0xa8, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xb5, 0x8c, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4a, 0x4b, 0x52));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor(0x2c, 0x2d, 0x32));
    p.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0x3d, 0x5a, 0x8a));
    return p;
}

void apply(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::light: QApplication::setPalette(tessynLightPalette()); break;
    case AppAppearance::dark: QApplication::setPalette(tessynDarkPalette()); break;
    case AppAppearance::system: QApplication::setPalette(AppAppearanceModifier::systemPalette()); break;
    }
}

QPalette AppAppearanceModifier::systemPalette()
{
    if (startupPalette()) return *startupPalette();
    return QApplication::palette();
}

AppAppearanceModifier::AppAppearanceModifier(QObject* parent) : QObject(parent)
{
    connect(&AppSettings::shared(), &AppSettings::changed, this, [this](const QString& key) {
        if (key == AppSettings::appearanceKey) applyStored();
    });
}

void AppAppearanceModifier::applyStored()
{
    ::apply(appAppearanceFromRaw(AppSettings::shared().appearanceRaw()).value_or(AppAppearance::system));
}

void AppAppearanceModifier::install()
{
    static AppAppearanceModifier* modifier = nullptr;
    if (modifier) return;
    QApplication::setStyle(new TessynStyle());
    startupPalette() = QApplication::palette();
    modifier = new AppAppearanceModifier(qApp);
    modifier->applyStored();
}
