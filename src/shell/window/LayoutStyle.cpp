#include "shell/window/LayoutStyle.h"

QString rawValue(LayoutStyle style)
{
    return style == LayoutStyle::sidebar ? QStringLiteral("sidebar") : QStringLiteral("top");
}

std::optional<LayoutStyle> layoutStyleFromRaw(const QString& raw)
{
    for (LayoutStyle style : allLayoutStyles)
        if (rawValue(style) == raw) return style;
    return std::nullopt;
}
