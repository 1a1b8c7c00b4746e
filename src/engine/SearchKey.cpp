#include "engine/SearchKey.h"

#include <cstdlib>
#include <utf8proc.h>

namespace {
bool isAscii(std::string_view text)
{
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

std::string asciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}
} // namespace

bool isValidUtf8(std::string_view text)
{
    if (isAscii(text)) return true;
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
    if (isAscii(text)) return std::string(text);
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

std::string searchKey(std::string_view text)
{
    if (isAscii(text)) return asciiLower(text);
    // Ill-formed bytes cannot be folded; show them as U+FFFD first so the rest still folds.
    std::string input = isValidUtf8(text) ? std::string(text) : displayUtf8(text);
    utf8proc_uint8_t* folded = nullptr;
    auto options = static_cast<utf8proc_option_t>(UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK);
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(input.data()),
                                      static_cast<utf8proc_ssize_t>(input.size()), &folded, options);
    if (n < 0) return asciiLower(text);
    std::string out(reinterpret_cast<char*>(folded), static_cast<size_t>(n));
    std::free(folded);
    return out;
}
