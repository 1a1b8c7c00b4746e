#pragma once
#include <optional>
#include <string>
#include <string_view>

// A new random (version 4) UUID in its canonical 8-4-4-4-12 form with upper-case letters.
std::string newUUID();

// The canonical upper-case form of a UUID written in either case; none when the text is not
// a UUID in the 8-4-4-4-12 hexadecimal form.
std::optional<std::string> canonicalUUID(std::string_view text);
