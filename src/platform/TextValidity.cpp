#include "platform/TextValidity.h"

#include <utf8proc.h>

bool isAsciiText(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

bool isValidUtf8(std::string_view text)
{
    if (isAsciiText(text)) return true;
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t cp;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

std::string displayUtf8(std::string_view text)
{
    if (isAsciiText(text)) return std::string(text);
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t cp;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &cp);
        if (n <= 0) {
            out += "\xEF\xBF\xBD";
            ++p;
            --left;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
        p += n;
        left -= n;
    }
    return out;
}
