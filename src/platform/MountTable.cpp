#include "platform/MountTable.h"

#include "platform/Errors.h"
#include "platform/RegularFile.h"
#include "platform/TextLines.h"

#include <cerrno>
#include <optional>

namespace MountTable {

namespace {
constexpr size_t kTableLimit = 64 * 1024 * 1024;
}

std::vector<std::string> pointsIn(std::string_view text)
{
    std::vector<std::string> points;
    forEachLine(text, [&](std::string_view line) {
        size_t start = 0;
        for (int skip = 0; skip < 4 && start != std::string_view::npos; ++skip) {
            start = line.find(' ', start);
            if (start != std::string_view::npos) ++start;
        }
        if (start == std::string_view::npos) return;
        size_t field = line.find(' ', start);
        std::string_view raw = line.substr(start, field == std::string_view::npos ? line.npos : field - start);
        std::string point;
        for (size_t i = 0; i < raw.size(); ++i) {
            auto octal = [&](size_t k) { return raw[k] >= '0' && raw[k] <= '7'; };
            if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] <= '3' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
                point += static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0'));
                i += 3;
            } else {
                point += raw[i];
            }
        }
        points.push_back(std::move(point));
    });
    return points;
}

bool holdsMountPoint(const std::string& folder)
{
    std::optional<std::string> table = RegularFile::read("/proc/self/mountinfo", kTableLimit, true);
    if (!table) throwPosix(ENOENT);
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    for (const std::string& point : pointsIn(*table))
        if (point.size() > prefix.size() && point.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

} // namespace MountTable
