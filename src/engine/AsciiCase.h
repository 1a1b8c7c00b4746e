#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Lower-casing of A-Z only, for extensions and names matched against fixed lists; other
// bytes, UTF-8 included, pass through unchanged.

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Writes text.size() bytes to `out`.
inline void asciiLowerInto(std::string_view text, char* out)
{
    for (size_t i = 0; i < text.size(); ++i) out[i] = asciiLower(text[i]);
}

inline std::string asciiLower(std::string_view text)
{
    std::string out(text.size(), '\0');
    asciiLowerInto(text, out.data());
    return out;
}
