#include "csystem/csystem.h"
#include "csystem/procstatus.h"
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
std::string realPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    std::string out = resolved ? resolved : "";
    std::free(resolved);
    return out;
}

// A pid that belonged to a process which has been reaped.
pid_t vanishedPid()
{
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    int status;
    waitpid(pid, &status, 0);
    return pid;
}

// A kernel thread visible in this pid namespace (PF_KTHREAD in the flags field of its stat
// line), or -1: a container with its own pid namespace shows none.
pid_t visibleKernelThread()
{
    DIR* proc = opendir("/proc");
    if (!proc) return -1;
    pid_t found = -1;
    while (dirent* d = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(d->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::ifstream in(std::string("/proc/") + d->d_name + "/stat");
        std::string line;
        if (!std::getline(in, line)) continue;
        size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 1));
        std::string state;
        long long ppid, pgrp, session, tty, tpgid;
        unsigned long long flags = 0;
        if (!(fields >> state >> ppid >> pgrp >> session >> tty >> tpgid >> flags)) continue;
        if (flags & 0x00200000ull) {
            found = static_cast<pid_t>(pid);
            break;
        }
    }
    closedir(proc);
    return found;
}

// The kB figure of one line of this process's status file, read by plain C++.
uint64_t ownStatusKb(const std::string& key, size_t* fileSize = nullptr)
{
    std::ifstream in("/proc/self/status");
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    if (fileSize) *fileSize = text.size();
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1));
    return 0;
}
} // namespace

TEST(ProcessInfo, ParentOfLiveMissingAndOddlyNamedProcesses)
{
    EXPECT_EQ(ts_parent_pid(getpid()), getppid());
    EXPECT_EQ(ts_parent_pid(1), 0) << "init has no parent";

    pid_t gone = vanishedPid();
    ASSERT_NE(kill(gone, 0), 0);
    EXPECT_EQ(ts_parent_pid(gone), -1) << "a process that does not exist";
    EXPECT_EQ(ts_parent_pid(0), -1);
    EXPECT_EQ(ts_parent_pid(-5), -1);

    // The command name sits in parentheses and may itself hold ") (" and digits.
    TempHome home;
    std::string odd = copyExecutable(fixturePath("demo_app"), home.path("x) 7 (y"));
    ChildProcess child(odd, {"quits", home.root()});
    ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(child.pid())), 10));
    EXPECT_EQ(ts_parent_pid(child.pid()), getpid());
}

TEST(ProcessInfo, ExecutablePathIsTheRealPathAndNeverCutShort)
{
    TempHome home;
    std::string exe = copyExecutable(fixturePath("demo_app"), home.path("bin/demo"));
    ChildProcess child(exe, {"quits", home.root()});
    ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(child.pid())), 10));

    std::string expected = realPath(exe);
    char buffer[4096];
    std::memset(buffer, 'x', sizeof buffer);
    int32_t n = ts_process_path(child.pid(), buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer), expected) << "NUL-terminated real path";
    EXPECT_EQ(n, static_cast<int32_t>(expected.size()));

    // Exactly room for the path and its NUL works; one byte less fails instead of truncating.
    std::vector<char> exact(expected.size() + 1, 'x');
    EXPECT_EQ(ts_process_path(child.pid(), exact.data(), static_cast<int32_t>(exact.size())), n);
    EXPECT_EQ(std::string(exact.data()), expected);
    std::vector<char> tight(expected.size(), 'x');
    EXPECT_LE(ts_process_path(child.pid(), tight.data(), static_cast<int32_t>(tight.size())), 0);

    EXPECT_LE(ts_process_path(vanishedPid(), buffer, sizeof buffer), 0);
    if (pid_t kthread = visibleKernelThread(); kthread > 0) {
        EXPECT_LE(ts_process_path(kthread, buffer, sizeof buffer), 0) << "kernel thread " << kthread << " has no executable";
    }

    // Another user's executable link cannot be read by an unprivileged process. As root the
    // child drops to nobody and looks at this (root's) process; otherwise at init.
    pid_t other = getuid() == 0 ? getpid() : 1;
    pid_t otherParent = ts_parent_pid(other);
    ASSERT_GE(otherParent, 0);
    int rc = runAsNobody([&] {
        char b[4096];
        return ts_process_path(other, b, sizeof b) <= 0 && ts_parent_pid(other) == otherParent ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}

TEST(ProcessInfo, UsageCountsResidentAndAnonymousMemory)
{
    uint64_t resident = 0, footprint = 0;
    ASSERT_EQ(ts_process_usage(getpid(), &resident, &footprint), 0);
    EXPECT_GT(resident, 0u);
    EXPECT_GT(footprint, 0u);

    // 64 MiB of touched anonymous memory shows in both figures.
    const size_t size = 64u << 20;
    std::vector<char> block(size);
    for (size_t i = 0; i < size; i += 4096) block[i] = static_cast<char>(i | 1);
    asm volatile("" : : "r"(block.data()) : "memory");
    uint64_t resident2 = 0, footprint2 = 0;
    ASSERT_EQ(ts_process_usage(getpid(), &resident2, &footprint2), 0);
    EXPECT_GE(resident2, resident + size - (4u << 20));
    EXPECT_GE(footprint2, footprint + size - (4u << 20));
    EXPECT_EQ(resident2 % 1024, 0u) << "kB scaled to bytes";

    uint64_t r = 11, f = 22;
    EXPECT_NE(ts_process_usage(vanishedPid(), &r, &f), 0);
    EXPECT_EQ(r, 11u);
    EXPECT_EQ(f, 22u);
    if (pid_t kthread = visibleKernelThread(); kthread > 0) {
        EXPECT_NE(ts_process_usage(kthread, &r, &f), 0) << "kernel thread " << kthread << " has no memory of its own";
        EXPECT_EQ(r, 11u);
        EXPECT_EQ(f, 22u);
    }
}

TEST(ProcessInfo, UsageReadsPastALongGroupsLine)
{
    // The Groups: line comes before the memory lines; thousands of supplementary groups push
    // them far beyond any small fixed buffer.
    if (getuid() != 0) GTEST_SKIP() << "setting supplementary groups needs root";
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<gid_t> groups;
        for (gid_t g = 0; g < 20000; ++g) groups.push_back(4000000000u + g);
        if (setgroups(groups.size(), groups.data()) != 0) _exit(10);
        size_t statusSize = 0;
        uint64_t expected = ownStatusKb("VmRSS", &statusSize);
        if (statusSize < 200000 || expected == 0) _exit(11);
        uint64_t resident = 0, footprint = 0;
        if (ts_process_usage(getpid(), &resident, &footprint) != 0) _exit(12);
        uint64_t after = ownStatusKb("VmRSS");
        uint64_t low = std::min(expected, after) * 1024, high = std::max(expected, after) * 1024;
        if (resident + (1u << 20) < low || resident > high + (1u << 20) || footprint == 0) _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setgroups failed, 11 status file not long, 12 usage failed, "
                                         "13 resident differs from VmRSS";
}

TEST(ProcessInfo, StatusLinesMustBeComplete)
{
    uint64_t v = 7;
    EXPECT_EQ(ts_status_kb("Name:\tx\nVmRSS:\t    1234 kB\nRssAnon:\t  56 kB\n", "VmRSS", &v), 1);
    EXPECT_EQ(v, 1234u);
    EXPECT_EQ(ts_status_kb("Name:\tx\nVmRSS:\t    1234 kB\nRssAnon:\t  56 kB\n", "RssAnon", &v), 1);
    EXPECT_EQ(v, 56u);
    v = 7;
    EXPECT_EQ(ts_status_kb("Name:\tx\nVmRSS:\t    12", "VmRSS", &v), 0) << "a line cut in its number";
    EXPECT_EQ(ts_status_kb("Name:\tx\nVmRSS:\t    1234 k", "VmRSS", &v), 0) << "a line cut after its number";
    EXPECT_EQ(ts_status_kb("VmRSS:\t 12x kB\n", "VmRSS", &v), 0);
    EXPECT_EQ(ts_status_kb("VmRSS:\t 99999999999999999999999 kB\n", "VmRSS", &v), 0) << "overflow";
    EXPECT_EQ(ts_status_kb("VmRSSX:\t 5 kB\nXVmRSS:\t 5 kB\n", "VmRSS", &v), 0) << "only the exact key";
    EXPECT_EQ(ts_status_kb("Name:\tx\n", "VmRSS", &v), 0);
    EXPECT_EQ(v, 7u) << "untouched when not found";
}

TEST(ProcessInfo, ListHoldsLiveProcessesWithinCapacity)
{
    TempHome home;
    ChildProcess child(fixturePath("demo_app"), {"quits", home.root()});
    std::vector<int32_t> pids(16384, 0);
    int32_t n = ts_list_pids(pids.data(), 16384);
    ASSERT_GT(n, 1);
    pids.resize(static_cast<size_t>(n));
    EXPECT_NE(std::find(pids.begin(), pids.end(), getpid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), child.pid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), 1), pids.end());
    EXPECT_TRUE(std::all_of(pids.begin(), pids.end(), [](int32_t p) { return p > 0; }));

    int32_t one[2] = {0, -7};
    EXPECT_EQ(ts_list_pids(one, 1), 1) << "stops at the capacity";
    EXPECT_GT(one[0], 0);
    EXPECT_EQ(one[1], -7) << "writes nothing beyond the capacity";
    EXPECT_LT(ts_list_pids(one, 0), 1);
}

TEST(ProcessInfo, ContainsComparesBytes)
{
    EXPECT_TRUE(ts_contains_utf8("abc", ""));
    EXPECT_TRUE(ts_contains_utf8("", ""));
    EXPECT_FALSE(ts_contains_utf8("ab", "abc"));
    EXPECT_TRUE(ts_contains_utf8("文件名.txt", "件名"));
    EXPECT_FALSE(ts_contains_utf8("ABC", "b"));
}

TEST(ProcessInfo, SmallFileReadsAreCutToTheBufferAndTerminated)
{
    TempHome home;
    std::string path = writeFile(home.path("small"), "abcdef");
    struct Case {
        size_t size;
        int64_t length;
        const char* text;
    } cases[] = {{64, 6, "abcdef"}, {7, 6, "abcdef"}, {4, 3, "abc"}, {1, 0, ""}};
    for (const Case& c : cases) {
        char buf[64];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(ts_read_small_file(path.c_str(), buf, c.size), c.length) << "size " << c.size;
        EXPECT_STREQ(buf, c.text) << "size " << c.size;
    }
    char buf[8];
    errno = 0;
    EXPECT_EQ(ts_read_small_file(home.path("missing").c_str(), buf, sizeof buf), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(ts_read_small_file(path.c_str(), buf, 0), -1) << "no room for the terminator";

    // Neither a FIFO without a writer nor a device is read: the call returns at once.
    std::string fifo = home.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& odd : {fifo, std::string("/dev/zero")}) {
        errno = 0;
        EXPECT_EQ(ts_read_small_file(odd.c_str(), buf, sizeof buf), -1) << odd;
        EXPECT_EQ(errno, EINVAL) << odd;
    }
}
