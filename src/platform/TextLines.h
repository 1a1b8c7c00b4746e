#pragma once
#include <string_view>

// Calls fn(line) for each '\n'-separated line of text, the last one also without its '\n'.
template <typename Fn>
void forEachLine(std::string_view text, Fn fn)
{
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        fn(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}
