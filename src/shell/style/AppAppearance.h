#pragma once
#include <QObject>
#include <QPalette>
#include <QString>
#include <array>
#include <optional>

// The appearance choice stored as "tessyn.appearance".
enum class AppAppearance { system, light, dark };

inline constexpr std::array<AppAppearance, 3> allAppAppearances{AppAppearance::system, AppAppearance::light,
                                                                AppAppearance::dark};

QString rawValue(AppAppearance appearance);
// Exactly "system", "light" or "dark"; anything else gives no value.
std::optional<AppAppearance> appAppearanceFromRaw(const QString& raw);

// Applies an appearance to the whole application at once: system = the palette in effect
// when the application style was installed, light = Fusion's standard palette, dark =
// Tessyn's dark palette.
void apply(AppAppearance appearance);

QPalette tessynDarkPalette();
QPalette tessynLightPalette();

// Keeps the application's appearance in step with the stored setting. install() sets the
// Fusion-based application style, remembers the start-up palette, applies the stored value
// (an unknown one counts as "system") and follows every later change of the setting.
class AppAppearanceModifier : public QObject {
    Q_OBJECT
public:
    static void install();
    // The palette that "system" stands for.
    static QPalette systemPalette();

private:
    explicit AppAppearanceModifier(QObject* parent);
    void applyStored();
};
