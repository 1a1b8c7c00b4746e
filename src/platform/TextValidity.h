#pragma once
#include <string>
#include <string_view>

// Checks on text that must stay UTF-8: the journal, the history and the other stores hold
// UTF-8 only, while paths and file contents may hold any bytes.

// True when every byte is below 0x80.
bool isAsciiText(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD, for display.
std::string displayUtf8(std::string_view text);
