#include "platform/ResolvedPath.h"

#include "TestSupport.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <system_error>

namespace {

// What realpath says: the path, or the errno it fails with.
std::string byRealpath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer)) return "errno " + std::to_string(errno);
    return buffer;
}

std::string byResolver(const std::string& path)
{
    try {
        return resolvedPath(path);
    } catch (const std::system_error& e) {
        return "errno " + std::to_string(e.code().value());
    }
}

} // namespace

// The resolver answers as realpath does for plain paths, links anywhere, dots, missing
// components, loops, overlong names and a NUL inside the text (from a decoded record).
TEST(ResolvedPath, AnswersAsRealpath)
{
    TempHome home;
    const std::string base = byRealpath(home.root());
    makeDirs(base + "/real/sub");
    writeFile(base + "/real/sub/file.txt", "x");
    std::filesystem::create_directory_symlink(base + "/real", base + "/linked");
    std::filesystem::create_symlink("file.txt", base + "/real/sub/alias.txt");
    std::filesystem::create_symlink(base + "/loop-b", base + "/loop-a");
    std::filesystem::create_symlink(base + "/loop-a", base + "/loop-b");
    const std::vector<std::string> paths{
        base + "/real/sub/file.txt", base + "/linked/sub/file.txt", base + "/real/sub/alias.txt",
        base + "/real/./sub/../sub/file.txt", base + "/real//sub/", base + "/real/sub/missing.txt",
        base + "/missing/file.txt", base + "/loop-a/x", base + "/real/sub/file.txt/inside",
        base + "/" + std::string(300, 'n'), "/", "relative/path",
        base + "/real/sub" + std::string(1, '\0') + "/file.txt"};
    for (const std::string& path : paths) EXPECT_EQ(byResolver(path), byRealpath(path)) << path;

    EXPECT_TRUE(isPlainAbsolutePath(base + "/real/sub"));
    for (const char* path : {"", "a/b", "/a/", "/a//b", "/a/./b", "/a/../b", "/.."})
        EXPECT_FALSE(isPlainAbsolutePath(path)) << path;
}
