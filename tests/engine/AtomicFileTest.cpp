#include "engine/AtomicFile.h"

#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

// Replacements reuse the file they replaced; whatever sits at the reuse name that is not
// solely that old file (the store itself after a crash, a link, a folder) is never written
// into, and every replacement still leaves the complete new text.
TEST(AtomicFile, ReplacementsReuseOnlyTheirOwnOldFile)
{
    struct Case {
        const char* name;
        std::function<void(const std::string& store, const std::string& spare, const std::string& other)> prepare;
    };
    const std::vector<Case> cases{
        {"the old file", [](const std::string&, const std::string&, const std::string&) {}},
        {"a second name of the store",
         [](const std::string& store, const std::string& spare, const std::string&) {
             std::filesystem::remove(spare);
             ASSERT_EQ(link(store.c_str(), spare.c_str()), 0);
         }},
        {"a link to another file",
         [](const std::string&, const std::string& spare, const std::string& other) {
             std::filesystem::remove(spare);
             std::filesystem::create_symlink(other, spare);
         }},
        {"a second name of someone else's file",
         [](const std::string&, const std::string& spare, const std::string& other) {
             std::filesystem::remove(spare);
             ASSERT_EQ(link(other.c_str(), spare.c_str()), 0);
         }},
        {"a pipe",
         [](const std::string&, const std::string& spare, const std::string&) {
             std::filesystem::remove(spare);
             ASSERT_EQ(mkfifo(spare.c_str(), 0600), 0);
         }},
        {"a folder",
         [](const std::string&, const std::string& spare, const std::string&) {
             std::filesystem::remove(spare);
             makeDirs(spare + "/inside");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const std::string store = home.path("store.json");
        const std::string spare = home.path(".store.json.spare");
        const std::string other = writeFile(home.path("other.txt"), "someone else's");
        // Lengths differ so a reused file that kept its old tail would show.
        AtomicFile::replace(store, "the first and longest text");
        AtomicFile::replace(store, "second");
        ASSERT_EQ(readFile(spare), "the first and longest text") << "the replaced file is kept for the next write";
        ino_t kept = inodeOf(spare);
        c.prepare(store, spare, other);
        AtomicFile::replace(store, "3");
        EXPECT_EQ(readFile(store), "3");
        EXPECT_EQ(readFile(other), "someone else's");
        if (std::string(c.name) == "the old file") {
            EXPECT_EQ(inodeOf(store), kept);
        }
        AtomicFile::replace(store, "fourth");
        EXPECT_EQ(readFile(store), "fourth");
        for (const auto& e : std::filesystem::directory_iterator(home.root()))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }
}

// Another running copy reads the store without the lock: a reader that opened the file
// before it was replaced must go on reading that whole version, not a mix with later ones.
TEST(AtomicFile, ReaderOfAReplacedFileKeepsItsVersion)
{
    TempHome home;
    const std::string store = home.path("store.json");
    const std::string old(100000, 'a');
    AtomicFile::replace(store, "before");
    AtomicFile::replace(store, old);
    int fd = open(store.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string seen(4096, '\0');
    ASSERT_EQ(read(fd, seen.data(), seen.size()), 4096);
    AtomicFile::replace(store, std::string(50000, 'b'));
    AtomicFile::replace(store, std::string(100000, 'c'));
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<size_t>(n));
    close(fd);
    EXPECT_TRUE(seen == old) << "the reader saw " << seen.size() << " bytes, not its version";
    EXPECT_EQ(readFile(store), std::string(100000, 'c'));
}

// A write that fails part way into the reused old file (a full disk, here a file size limit
// in a child) throws and leaves the store as it was, with no temporary file behind.
TEST(AtomicFile, FailedWriteIntoTheReusedFileLeavesTheStore)
{
    struct Case {
        const char* name;
        rlim_t limit;
    } cases[] = {
        {"fails at the first bytes", 10},
        {"fails within the old file's length", 20000},
        {"fails past the old file's length", 40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const std::string store = home.path("store.json");
        AtomicFile::replace(store, std::string(30000, 'a'));
        AtomicFile::replace(store, "kept");
        ASSERT_EQ(readFile(home.path(".store.json.spare")).size(), 30000u);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {c.limit, c.limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
            try {
                AtomicFile::replace(store, std::string(50000, 'b'));
            } catch (const std::system_error& e) {
                _exit(e.code().value() == EFBIG ? 0 : 11);
            }
            _exit(12);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no limit, 11: another error, 12: no error";
        EXPECT_TRUE(readFile(store) == "kept") << "the store was replaced by the failed write";
        for (const auto& e : std::filesystem::directory_iterator(home.root()))
            EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
    }
}
