#pragma once
#include <QString>
#include <array>
#include <optional>

// The main window's navigation layout; its raw value is the stored setting "tessyn.layout".
enum class LayoutStyle { sidebar, top };

inline constexpr std::array<LayoutStyle, 2> allLayoutStyles{LayoutStyle::sidebar, LayoutStyle::top};

QString rawValue(LayoutStyle style);
// Exactly "sidebar" or "top"; anything else gives no value.
std::optional<LayoutStyle> layoutStyleFromRaw(const QString& raw);
