#include "platform/TrashInfo.h"

#include "platform/TextLines.h"

#include <ctime>

namespace TrashInfo {

std::string encodePath(std::string_view path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::optional<std::string> decodePath(std::string_view encoded)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(encoded.size());
    for (size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        if (c == '%') {
            if (encoded.size() - i < 3) return std::nullopt;
            int high = digit(encoded[i + 1]), low = digit(encoded[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0') return std::nullopt;
        out += c;
    }
    return out;
}

std::string contents(std::string_view recordedPath, std::string_view deletionDate)
{
    return "[Trash Info]\nPath=" + encodePath(recordedPath) + "\nDeletionDate=" + std::string(deletionDate) + "\n";
}

namespace {

// The raw value of `key` in the [Trash Info] group; later keys of the same name are ignored.
std::optional<std::string_view> valueOf(std::string_view text, std::string_view key)
{
    bool inGroup = false, done = false;
    std::optional<std::string_view> value;
    forEachLine(text, [&](std::string_view line) {
        if (done) return;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.front() == '[') {
            done = inGroup; // the group ended without the key
            inGroup = line == "[Trash Info]";
        } else if (inGroup && line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            value = line.substr(key.size() + 1);
            done = true;
        }
    });
    return value;
}

} // namespace

std::optional<std::string> pathOf(std::string_view text)
{
    std::optional<std::string_view> value = valueOf(text, "Path");
    if (!value) return std::nullopt;
    return decodePath(*value);
}

namespace {

std::optional<struct tm> deletionDateOf(std::string_view text)
{
    std::optional<std::string_view> value = valueOf(text, "DeletionDate");
    if (!value || value->size() != 19) return std::nullopt;
    std::string date(*value);
    struct tm fields {};
    const char* end = strptime(date.c_str(), "%Y-%m-%dT%H:%M:%S", &fields);
    if (!end || *end != '\0') return std::nullopt;
    return fields;
}

std::optional<time_t> validTime(time_t when)
{
    if (when == static_cast<time_t>(-1)) return std::nullopt;
    return when;
}

} // namespace

std::optional<time_t> deletionTimeOf(std::string_view text)
{
    std::optional<struct tm> local = deletionDateOf(text);
    if (!local) return std::nullopt;
    local->tm_isdst = -1;
    return validTime(mktime(&*local));
}

std::optional<time_t> deletionClockOf(std::string_view text)
{
    std::optional<struct tm> clock = deletionDateOf(text);
    if (!clock) return std::nullopt;
    return validTime(timegm(&*clock));
}

} // namespace TrashInfo
