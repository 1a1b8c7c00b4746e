#include "engine/ByteFormat.h"

#include <cmath>
#include <cstdio>

std::string formatFileSize(int64_t bytes)
{
    if (bytes == 0) return "Zero KB";
    bool negative = bytes < 0;
    // Work in double: the magnitude of INT64_MIN is not representable as int64.
    double magnitude = std::fabs(static_cast<double>(bytes));
    std::string sign = negative ? "-" : "";
    if (magnitude < 1000) {
        auto n = static_cast<long long>(magnitude);
        return sign + std::to_string(n) + (n == 1 ? " byte" : " bytes");
    }
    static const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    int unit = 0;
    double value = magnitude / 1000.0;
    // Move up a unit when rounding at this unit's precision would reach 1000.
    while (unit < 5) {
        double scale = std::pow(10.0, decimals[unit]);
        if (std::round(value * scale) / scale < 1000.0) break;
        value /= 1000.0;
        ++unit;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals[unit], value);
    std::string number(buf);
    if (number.find('.') != std::string::npos) {
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
    }
    return sign + number + " " + units[unit];
}
