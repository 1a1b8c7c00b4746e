#include "engine/ByteFormat.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <unicode/uloc.h>

ByteCountWords systemByteCountWords()
{
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(uloc_getDefault(), language, sizeof language, &status);
    return U_SUCCESS(status) && std::strcmp(language, "zh") == 0 ? ByteCountWords::chinese : ByteCountWords::english;
}

std::string formatFileSize(int64_t bytes, const std::string& decimalPoint, ByteCountWords words)
{
    bool chinese = words == ByteCountWords::chinese;
    if (bytes == 0) return chinese ? "零 KB" : "Zero KB";
    bool negative = bytes < 0;
    // Work in double: the magnitude of INT64_MIN is not representable as int64.
    double magnitude = std::fabs(static_cast<double>(bytes));
    std::string sign = negative ? "-" : "";
    if (magnitude < 1000) {
        auto n = static_cast<long long>(magnitude);
        return sign + std::to_string(n) + (chinese ? " 字节" : n == 1 ? " byte" : " bytes");
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
    // Written without the locale, so the zeros are trimmed after a known point, which then
    // becomes the user's separator.
    char buf[64];
    auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals[unit]);
    std::string number(buf, written.ptr);
    if (auto point = number.find('.'); point != std::string::npos) {
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
        else number.replace(point, 1, decimalPoint);
    }
    return sign + number + " " + units[unit];
}

std::string formatFileSize(int64_t bytes)
{
    const char* point = localeconv()->decimal_point;
    return formatFileSize(bytes, point && *point ? point : ".", systemByteCountWords());
}
