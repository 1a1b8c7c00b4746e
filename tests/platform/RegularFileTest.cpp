#include "platform/RegularFile.h"

#include "TestSupport.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// "data:<contents>", "none" or "errno:<n>".
std::string readSameOutcome(const std::string& path, const RegularFile::Identity& expected, size_t limit)
{
    try {
        std::optional<std::string> data = RegularFile::readSame(path, expected, limit);
        return data ? "data:" + *data : "none";
    } catch (const std::system_error& e) {
        return "errno:" + std::to_string(e.code().value());
    }
}

} // namespace

// Whatever is put at the path after the file was measured, only that file within the limit is read.
TEST(RegularFile, ReadSameReadsOnlyTheMeasuredFileWithinTheLimit)
{
    TempHome home;
    const std::string path = home.path("Info.plist");
    const std::string other = home.path("other");
    struct Case {
        const char* name;
        std::function<void()> replace;
        std::string outcome;
    } cases[] = {
        {"unchanged, exactly at the limit", [] {}, "data:12345678"},
        {"grown past the limit in place", [&] { writeFile(path, "123456789"); }, "none"},
        {"swapped for a smaller file", [&] { writeFile(other, "x"), std::rename(other.c_str(), path.c_str()); }, "none"},
        {"replaced by a folder", [&] { unlink(path.c_str()), mkdir(path.c_str(), 0700); }, "none"},
        {"replaced by a pipe", [&] { unlink(path.c_str()), mkfifo(path.c_str(), 0600); }, "none"},
        {"replaced by a link", [&] { writeFile(other, "x"), unlink(path.c_str()), symlink(other.c_str(), path.c_str()); },
         "errno:" + std::to_string(ELOOP)},
        {"removed", [&] { unlink(path.c_str()); }, "errno:" + std::to_string(ENOENT)},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(path);
        writeFile(path, "12345678");
        struct stat measured {};
        ASSERT_EQ(lstat(path.c_str(), &measured), 0);
        c.replace();
        EXPECT_EQ(readSameOutcome(path, {static_cast<int32_t>(measured.st_dev), measured.st_ino}, 8), c.outcome)
            << c.name;
    }
}
