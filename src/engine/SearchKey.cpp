#include "engine/SearchKey.h"
#include "engine/AsciiCase.h"
#include "platform/TextValidity.h"

#include <cstdlib>
#include <utf8proc.h>

std::string searchKey(std::string_view text)
{
    if (isAsciiText(text)) return asciiLower(text);
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
