#include "platform/FolderNames.h"

#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names of a listing that succeeded, sorted.
std::vector<std::string> sortedNames(FolderNames listing)
{
    EXPECT_EQ(listing.error, 0);
    std::sort(listing.names.begin(), listing.names.end());
    return listing.names;
}

} // namespace

// By path or by descriptor, the same names; the descriptor stays open and lists again from the start.
TEST(FolderNames, PathAndDescriptorListTheSameNames)
{
    TempHome home;
    const std::string folder = home.path("listed");
    for (const char* name : {"a", "b c", ".hidden", "sub/inner"}) writeFile(folder + "/" + name, "x");
    const std::vector<std::string> expected{".hidden", "a", "b c", "sub"};

    EXPECT_EQ(sortedNames(listFolder(folder)), expected);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(sortedNames(listFolder(fd)), expected) << "pass " << pass;
    EXPECT_EQ(listFolder(fd, 3).names.size(), 3u);
    EXPECT_EQ(listFolder(folder, 0).names.size(), 0u);
    EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the caller's descriptor is still open";
    close(fd);
}

TEST(FolderNames, FailuresCarryTheirErrno)
{
    TempHome home;
    const std::string file = writeFile(home.path("plain"), "x");
    const std::string locked = home.path("locked");
    makeDirs(locked);
    chmod(locked.c_str(), 0);
    int fileFd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fileFd, 0);

    struct Case {
        const char* name;
        std::function<FolderNames()> list;
        int error;
    } cases[] = {
        {"missing", [&] { return listFolder(home.path("missing")); }, ENOENT},
        {"a file by path", [&] { return listFolder(file); }, ENOTDIR},
        {"a file by descriptor", [&] { return listFolder(fileFd); }, ENOTDIR},
        {"a closed descriptor", [] { return listFolder(-1); }, EBADF},
    };
    for (const Case& c : cases) {
        FolderNames listing = c.list();
        EXPECT_EQ(listing.error, c.error) << c.name;
        EXPECT_TRUE(listing.names.empty()) << c.name;
    }
    // The folder next to it lists, so the refusal is the folder's own.
    EXPECT_EQ(runAsNobody([&] { return listFolder(home.root()).error == 0 ? listFolder(locked).error : 255; }), EACCES)
        << "an unreadable folder";
    close(fileFd);
}
