#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

// The text of a .trashinfo file: "[Trash Info]", then "Path=" (percent-encoded; absolute in
// the home Trash, relative to the volume's top folder elsewhere) and "DeletionDate=".
namespace TrashInfo {

// Percent-encodes every byte but ASCII letters, digits, "-_.~/".
std::string encodePath(std::string_view path);
// Decodes %XX escapes; none when an escape is malformed or decodes to a NUL.
std::optional<std::string> decodePath(std::string_view encoded);

// The contents for an item at `recordedPath` deleted at `deletionDate` (local time text).
std::string contents(std::string_view recordedPath, std::string_view deletionDate);

// The decoded Path= value of the [Trash Info] group, or none when the group or the key is
// missing or the value does not decode. Later keys of the same name are ignored.
std::optional<std::string> pathOf(std::string_view text);

// The DeletionDate= of the [Trash Info] group ("YYYY-MM-DDThh:mm:ss", local time) as Unix
// time, or none when it is missing or not such a date.
std::optional<time_t> deletionTimeOf(std::string_view text);
// The same date read as if it were UTC: the clock reading, whatever the writer's time zone.
std::optional<time_t> deletionClockOf(std::string_view text);

} // namespace TrashInfo
