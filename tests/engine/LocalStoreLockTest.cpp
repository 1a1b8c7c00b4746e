#include "engine/LocalStoreLock.h"

#include "HeldLock.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

int errnoOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

} // namespace

TEST(LocalStoreLock, CreatesAnEmptyPrivateLockFileAndKeepsIt)
{
    TempHome home;
    const std::string store = home.path("Tessyn/operations.json");
    makeDirs(home.path("Tessyn"));
    mode_t old = umask(0);
    int result = LocalStoreLock::perform(store, [] { return 42; });
    umask(old);
    EXPECT_EQ(result, 42);

    struct stat info {};
    ASSERT_EQ(lstat((store + ".lock").c_str(), &info), 0) << "the lock file is kept";
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_NE(access(store.c_str(), F_OK), 0) << "the store itself is not created by the lock";

    // The body's result passes through, also a reference.
    std::string text = "kept";
    std::string& ref = LocalStoreLock::perform(store, [&]() -> std::string& { return text; });
    EXPECT_EQ(&ref, &text);
    EXPECT_EQ(lstat((store + ".lock").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
}

TEST(LocalStoreLock, OpenFailuresStopBeforeTheBody)
{
    TempHome home;
    makeDirs(home.path("Tessyn"));
    const std::string store = home.path("Tessyn/operations.json");
    bool ran = false;

    // A symbolic link at the lock path, dangling or not.
    ASSERT_EQ(symlink(home.path("elsewhere").c_str(), (store + ".lock").c_str()), 0);
    EXPECT_EQ(errnoOf([&] { LocalStoreLock::perform(store, [&] { ran = true; }); }), ELOOP);
    EXPECT_FALSE(ran);
    EXPECT_NE(access(home.path("elsewhere").c_str(), F_OK), 0) << "the link target must not be created";
    writeFile(home.path("target"), "");
    unlink((store + ".lock").c_str());
    ASSERT_EQ(symlink(home.path("target").c_str(), (store + ".lock").c_str()), 0);
    EXPECT_EQ(errnoOf([&] { LocalStoreLock::perform(store, [&] { ran = true; }); }), ELOOP);
    EXPECT_FALSE(ran);

    // A missing folder.
    EXPECT_EQ(errnoOf([&] { LocalStoreLock::perform(home.path("missing/operations.json"), [&] { ran = true; }); }), ENOENT);
    EXPECT_FALSE(ran);

    // A folder the user cannot write (checked as an unprivileged user).
    makeDirs(home.path("locked"));
    chmod(home.path("locked").c_str(), 0555);
    int code = runAsNobody([&] {
        bool ranHere = false;
        int err = errnoOf([&] { LocalStoreLock::perform(home.path("locked/operations.json"), [&] { ranHere = true; }); });
        return ranHere ? 99 : err;
    });
    EXPECT_EQ(code, EACCES);
}

TEST(LocalStoreLock, HeldElsewhereFailsAtOnceAndLeavesTheStore)
{
    TempHome home;
    makeDirs(home.path("Tessyn"));
    const std::string store = writeFile(home.path("Tessyn/operations.json"), "[{\"x\":1}]");
    bool ran = false;
    {
        HeldLock other(store);
        auto start = std::chrono::steady_clock::now();
        int err = errnoOf([&] {
            LocalStoreLock::perform(store, [&] {
                ran = true;
                writeFile(store, "changed");
            });
        });
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(err == EWOULDBLOCK || err == EAGAIN) << err;
        EXPECT_LT(waited, std::chrono::milliseconds(500)) << "the lock must not wait";
        EXPECT_FALSE(ran);
        EXPECT_EQ(readFile(store), "[{\"x\":1}]");
    }
    // Once the other process lets go the lock is free again.
    EXPECT_EQ(errnoOf([&] { LocalStoreLock::perform(store, [&] { ran = true; }); }), 0);
    EXPECT_TRUE(ran);

    // A second open of the same lock file inside this process is shut out as well.
    int inner = -1;
    LocalStoreLock::perform(store, [&] { inner = errnoOf([&] { LocalStoreLock::perform(store, [] {}); }); });
    EXPECT_TRUE(inner == EWOULDBLOCK || inner == EAGAIN) << inner;
}

TEST(LocalStoreLock, ThrowingBodyReleasesTheLockAndItsErrorPropagates)
{
    TempHome home;
    makeDirs(home.path("Tessyn"));
    const std::string store = home.path("Tessyn/pending-actions.json");
    struct BodyError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    try {
        LocalStoreLock::perform(store, []() -> int { throw BodyError("body failed"); });
        FAIL() << "the body's error was swallowed";
    } catch (const BodyError& e) {
        EXPECT_STREQ(e.what(), "body failed");
    }
    // A system error of the body keeps its own code rather than becoming a lock error.
    EXPECT_EQ(errnoOf([&] { LocalStoreLock::perform(store, [] { throw std::system_error(ENOSPC, std::generic_category()); }); }),
              ENOSPC);
    // Unlocked: another process can take the lock now.
    pid_t child = fork();
    if (child == 0) {
        int rc = errnoOf([&] { LocalStoreLock::perform(store, [] {}); });
        _exit(rc == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the lock was left held";
    // And no descriptor leaked: the count of open descriptors is unchanged by a failing body.
    auto openDescriptors = [] {
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd)
            if (fcntl(fd, F_GETFD) != -1) ++n;
        return n;
    };
    int before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        try {
            LocalStoreLock::perform(store, [] { throw std::runtime_error("x"); });
        } catch (const std::runtime_error&) {
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}
