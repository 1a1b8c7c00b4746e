#include "platform/LinuxRunningApplications.h"
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <cerrno>
#include <functional>
#include <optional>
#include <plist/plist.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <xcb/xcb.h>

extern char** environ;

namespace {
using Bundle = LinuxRunningApplications;

std::string realPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    std::string out = resolved ? resolved : "";
    std::free(resolved);
    return out;
}

std::string binaryPlist(const std::map<std::string, std::string>& values)
{
    plist_t dict = plist_new_dict();
    for (const auto& [key, value] : values) plist_dict_set_item(dict, key.c_str(), plist_new_string(value.c_str()));
    char* data = nullptr;
    uint32_t length = 0;
    plist_to_bin(dict, &data, &length);
    std::string out(data, length);
    plist_to_bin_free(data);
    plist_free(dict);
    return out;
}

const RunningApplication* findPid(const std::vector<RunningApplication>& apps, pid_t pid)
{
    auto it = std::find_if(apps.begin(), apps.end(), [&](const auto& a) { return a.pid == pid; });
    return it == apps.end() ? nullptr : &*it;
}

// Field 22 of the process's stat line, read independently of the code under test.
std::optional<uint64_t> statStartTime(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line) || line.rfind(')') == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) return std::stoull(field);
    return std::nullopt;
}

// Runs `body` in a forked child; its exit status, or -1 when it did not exit normally.
int inChild(const std::function<int()>& body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) _exit(body() & 0xff);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool displayReachable()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    xcb_connection_t* c = xcb_connect(display, nullptr);
    bool ok = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return ok;
}

// The session's display, or a private Xvfb started for the test.
class TestDisplay {
public:
    TestDisplay()
    {
        const char* current = std::getenv("DISPLAY");
        if (current) saved_ = current;
        if (displayReachable()) {
            ready_ = true;
            return;
        }
        if (access("/usr/bin/Xvfb", X_OK) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args{"/usr/bin/Xvfb", "-displayfd", fd, "-nolisten", "tcp", "-screen", "0", "640x480x24"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        int rc = posix_spawn(&server_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            server_ = -1;
            return;
        }
        std::string number;
        char ch;
        while (read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
        close(fds[0]);
        if (number.empty()) return;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        ready_ = displayReachable();
    }
    ~TestDisplay()
    {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            int status;
            waitpid(server_, &status, 0);
        }
        if (saved_) setenv("DISPLAY", saved_->c_str(), 1);
        else unsetenv("DISPLAY");
    }
    bool ready() const { return ready_; }
    bool xvfbInstalled() const { return access("/usr/bin/Xvfb", X_OK) == 0; }

private:
    pid_t server_ = -1;
    bool ready_ = false;
    std::optional<std::string> saved_;
};
} // namespace

TEST(RunningApplications, BundleOfAnExecutable)
{
    EXPECT_EQ(Bundle::bundleContaining("/Applications/Demo.app/Contents/MacOS/demo"), "/Applications/Demo.app");
    EXPECT_EQ(Bundle::bundleContaining("/A.app/Contents/Helpers/B.app/Contents/MacOS/b"), "/A.app/Contents/Helpers/B.app")
        << "the innermost bundle";
    EXPECT_EQ(Bundle::bundleContaining("/A.app/Contents/MacOS/tools/x"), "/A.app");
    EXPECT_EQ(Bundle::bundleContaining("/A.app/Contents/MacOS/x (deleted)"), "/A.app");
    EXPECT_FALSE(Bundle::bundleContaining("/A.app/Contents/MacOS/").has_value()) << "no executable";
    EXPECT_FALSE(Bundle::bundleContaining("/.app/Contents/MacOS/x").has_value()) << "no bundle name";
    EXPECT_FALSE(Bundle::bundleContaining("/A.apps/Contents/MacOS/x").has_value());
    EXPECT_FALSE(Bundle::bundleContaining("/A.app/Contents/Resources/x").has_value());
    EXPECT_FALSE(Bundle::bundleContaining("A.app/Contents/MacOS/x").has_value()) << "relative";
    EXPECT_FALSE(Bundle::bundleContaining("/usr/bin/bash").has_value());
}

TEST(RunningApplications, InfoPlistNamesTheBundle)
{
    TempHome home;
    std::string xml = home.path("Xml.app");
    writeFile(xml + "/Contents/Info.plist",
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>org.example.xml</string>"
              "<key>CFBundleName</key><string>Short</string><key>CFBundleDisplayName</key><string>显示名</string></dict></plist>");
    auto info = Bundle::readBundleInfo(xml);
    EXPECT_EQ(info.identifier, "org.example.xml");
    EXPECT_EQ(info.name, "显示名");

    std::string binary = home.path("Binary.app");
    writeFile(binary + "/Contents/Info.plist", binaryPlist({{"CFBundleIdentifier", "org.example.bin"}, {"CFBundleName", "Bin"}}));
    info = Bundle::readBundleInfo(binary);
    EXPECT_EQ(info.identifier, "org.example.bin");
    EXPECT_EQ(info.name, "Bin");

    std::string bare = home.path("Bare Tool.app");
    makeDirs(bare + "/Contents");
    info = Bundle::readBundleInfo(bare);
    EXPECT_FALSE(info.identifier.has_value());
    EXPECT_EQ(info.name, "Bare Tool") << "folder name without .app";

    std::string array = home.path("Array.app");
    writeFile(array + "/Contents/Info.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    EXPECT_EQ(Bundle::readBundleInfo(array).name, "Array");
    EXPECT_FALSE(Bundle::readBundleInfo(array).identifier.has_value());

    std::string linked = home.path("Linked.app");
    makeDirs(linked + "/Contents");
    std::filesystem::create_symlink(xml + "/Contents/Info.plist", linked + "/Contents/Info.plist");
    EXPECT_FALSE(Bundle::readBundleInfo(linked).identifier.has_value()) << "not read through a link";

    std::string huge = home.path("Huge.app");
    std::string body = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>org.big</string></dict></plist>";
    writeFile(huge + "/Contents/Info.plist", body + std::string(4 * 1024 * 1024 + 1 - body.size(), ' '));
    EXPECT_FALSE(Bundle::readBundleInfo(huge).identifier.has_value()) << "over 4 MiB";
    writeFile(huge + "/Contents/Info.plist", body + std::string(4 * 1024 * 1024 - body.size(), ' '));
    EXPECT_EQ(Bundle::readBundleInfo(huge).identifier, "org.big") << "exactly 4 MiB";
}

TEST(RunningApplications, BundleProcessesAreListedLookedUpAndQuit)
{
    TempHome home;
    std::string bundle = home.path("Apps/Demo.app");
    writeFile(bundle + "/Contents/Info.plist", binaryPlist({{"CFBundleIdentifier", "test.tessyn.demo"}, {"CFBundleName", "Demo"}}));
    std::string exe = copyExecutable(fixturePath("demo_app"), bundle + "/Contents/MacOS/demo");
    ChildProcess app(exe, {"parent", home.root()});
    std::string ready = home.path("ready-" + std::to_string(app.pid()));
    ASSERT_TRUE(waitForFile(ready, 10));
    pid_t helper = std::atoi(readFile(ready).c_str());

    LinuxRunningApplications running;
    auto list = running.list();
    const RunningApplication* listed = findPid(list, app.pid());
    ASSERT_NE(listed, nullptr);
    EXPECT_TRUE(listed->regular);
    EXPECT_EQ(listed->name, "Demo");
    EXPECT_EQ(listed->bundleIdentifier, "test.tessyn.demo");
    EXPECT_EQ(listed->bundlePath, realPath(bundle));
    EXPECT_EQ(listed->process, nullptr);
    ASSERT_TRUE(listed->startTime.has_value());
    EXPECT_EQ(listed->startTime, statStartTime(app.pid()));
    const RunningApplication* helperEntry = findPid(list, helper);
    ASSERT_NE(helperEntry, nullptr) << "the helper started by the application";
    EXPECT_FALSE(helperEntry->regular);
    EXPECT_EQ(helperEntry->bundlePath, realPath(bundle));
    EXPECT_EQ(findPid(list, getpid()), nullptr) << "no bundle, no window: not an application";
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; }));
    // One application asked about: by its bundle, or by another bundle with its identifier.
    for (auto [path, id, runs] : {std::tuple{realPath(bundle), "", true}, {home.path("Apps/Copy.app"), "test.tessyn.demo", true},
                                  {home.path("Apps/Copy.app"), "test.tessyn.other", false}})
        EXPECT_EQ(running.isRunning(path, id), runs) << path << " " << id;

    auto found = running.lookup(app.pid());
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->sameDescription(*listed));
    ASSERT_NE(found->process, nullptr);
    EXPECT_FALSE(running.hasTerminated(*found));
    EXPECT_FALSE(running.lookup(getpid()).has_value());

    // Windowless: the quit request is SIGTERM through the pinned process.
    EXPECT_TRUE(running.requestQuit(*found));
    EXPECT_TRUE(waitUntil(5, [&] { return running.hasTerminated(*found); }));
    EXPECT_TRUE(waitForFile(home.path("term-" + std::to_string(app.pid())), 1));
    int status = app.wait(5);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // Still gone after reaping; no request goes to a process that has ended.
    EXPECT_TRUE(running.hasTerminated(*found));
    EXPECT_FALSE(running.requestQuit(*found));
    EXPECT_FALSE(running.lookup(app.pid()).has_value());
    EXPECT_TRUE(running.hasTerminated(*listed)) << "a listed entry names its process by start time";
    RunningApplication unpinned;
    unpinned.pid = app.pid();
    EXPECT_FALSE(running.hasTerminated(unpinned)) << "a bare pid cannot be judged: not terminated";
}

TEST(RunningApplications, UnpinnedEntriesAreCheckedBeforeAnyRequest)
{
    TempHome home;
    std::string bundle = home.path("Apps/Quit.app");
    writeFile(bundle + "/Contents/Info.plist", binaryPlist({{"CFBundleIdentifier", "test.tessyn.quit"}, {"CFBundleName", "Quit"}}));
    std::string exe = copyExecutable(fixturePath("demo_app"), bundle + "/Contents/MacOS/quit");
    ChildProcess app(exe, {"quits", home.root()});
    ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(app.pid())), 10));
    std::string termMarker = home.path("term-" + std::to_string(app.pid()));

    LinuxRunningApplications running;
    auto list = running.list();
    const RunningApplication* listed = findPid(list, app.pid());
    ASSERT_NE(listed, nullptr);
    ASSERT_TRUE(listed->startTime.has_value());
    RunningApplication entry = *listed;
    EXPECT_FALSE(running.hasTerminated(entry));

    // Entries that no longer describe the process holding the pid get no request.
    RunningApplication other = entry;
    other.startTime = *entry.startTime + 1;
    EXPECT_FALSE(running.requestQuit(other)) << "the pid now belongs to another process";
    EXPECT_TRUE(running.hasTerminated(other)) << "the process it named is gone";
    RunningApplication renamed = entry;
    renamed.name = "Another";
    EXPECT_FALSE(running.requestQuit(renamed));
    RunningApplication bare;
    bare.pid = app.pid();
    EXPECT_FALSE(running.requestQuit(bare)) << "a bare pid names no process";
    EXPECT_FALSE(running.hasTerminated(bare));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // time for a signal to land, to show none does
    EXPECT_NE(access(termMarker.c_str(), F_OK), 0) << "no signal reached the process";

    // Without a free descriptor nothing can be pinned: neither terminated nor requested.
    int rc = inChild([&] {
        rlimit limit{64, 64};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 10;
        while (dup(0) >= 0) {}
        if (errno != EMFILE) return 11;
        if (running.hasTerminated(entry)) return 1;
        if (running.requestQuit(entry)) return 2;
        return 0;
    });
    EXPECT_EQ(rc, 0) << "1: said terminated, 2: requested without pinning";
    EXPECT_FALSE(running.hasTerminated(entry));

    // The entry as listed still names the process: the request goes through.
    EXPECT_TRUE(running.requestQuit(entry));
    EXPECT_TRUE(waitForFile(termMarker, 5));
    int status = app.wait(5);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(running.hasTerminated(entry));
    EXPECT_FALSE(running.requestQuit(entry));
}

TEST(RunningApplications, OnlyProcessesOfTheRealUser)
{
    // /proc/<pid> belongs to the effective user: a set-user-ID root program started by nobody
    // shows as root's, yet nobody started it and it is no application of root's.
    if (getuid() != 0) GTEST_SKIP() << "starting a process of another user needs root";
    TempHome home;
    std::string markers = home.path("markers");
    makeDirs(markers);
    std::string bundle = home.path("Apps/Other.app");
    writeFile(bundle + "/Contents/Info.plist", binaryPlist({{"CFBundleIdentifier", "test.tessyn.other"}}));
    std::string exe = copyExecutable(fixturePath("demo_app"), bundle + "/Contents/MacOS/other");
    ChildProcess app(exe, {"asnobody", markers});
    ASSERT_TRUE(waitForFile(markers + "/ready-" + std::to_string(app.pid()), 10));
    EXPECT_NE(readFile("/proc/" + std::to_string(app.pid()) + "/status").find("\nUid:\t" + std::to_string(nobodyUid()) + "\t0\t"),
              std::string::npos);
    struct stat st{};
    ASSERT_EQ(stat(("/proc/" + std::to_string(app.pid())).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "the situation under test: /proc names root";

    LinuxRunningApplications running;
    EXPECT_EQ(findPid(running.list(), app.pid()), nullptr);
    EXPECT_FALSE(running.lookup(app.pid()).has_value());
    EXPECT_FALSE(running.isRunning(realPath(bundle), "test.tessyn.other"));
}

TEST(RunningApplications, WindowOwnersUnderX11)
{
    TestDisplay display;
    if (!display.ready()) {
        if (!display.xvfbInstalled()) GTEST_SKIP() << "no X display and no Xvfb";
        FAIL() << "Xvfb is installed but could not be started";
    }
    TempHome home;
    ChildProcess window(fixturePath("x11_window"), {home.root(), "TessynDemo"});
    ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(window.pid())), 10));

    LinuxRunningApplications running;
    {
        auto list = running.list();
        const RunningApplication* listed = findPid(list, window.pid());
        ASSERT_NE(listed, nullptr) << "a process owning a top-level window";
        EXPECT_TRUE(listed->regular);
        EXPECT_EQ(listed->name, "TessynDemo") << "no desktop entry: WM_CLASS";
        EXPECT_EQ(listed->bundleIdentifier, "TessynDemo");
        EXPECT_EQ(listed->bundlePath, realPath(fixturePath("x11_window")));
    }

    // A desktop entry naming the window class gives the name and identifier.
    writeFile(home.dataHome() + "/applications/tessyn/demo-window.desktop",
              "[Desktop Entry]\nType=Application\nName=Demo Window\nName[zh_CN]=演示窗口\nStartupWMClass=TessynDemo\nExec=x\n");
    std::optional<std::string> savedLang;
    if (const char* v = std::getenv("LC_ALL")) savedLang = v;
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    auto found = running.lookup(window.pid());
    if (savedLang) setenv("LC_ALL", savedLang->c_str(), 1);
    else unsetenv("LC_ALL");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->name, "演示窗口");
    EXPECT_EQ(found->bundleIdentifier, "tessyn-demo-window") << "desktop-file id of a file in a subfolder";

    // A window that takes no close request: the request is refused, and no signal is sent
    // instead.
    {
        ChildProcess stubborn(fixturePath("x11_window"), {home.root(), "TessynStubborn", "nodelete"});
        ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(stubborn.pid())), 10));
        auto entry = running.lookup(stubborn.pid());
        ASSERT_TRUE(entry.has_value());
        EXPECT_FALSE(running.requestQuit(*entry));
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // time for a signal to land, to show none does
        EXPECT_NE(access(home.path("term-" + std::to_string(stubborn.pid())).c_str(), F_OK), 0);
        EXPECT_FALSE(running.hasTerminated(*entry));
        auto listed = running.list();
        const RunningApplication* unpinned = findPid(listed, stubborn.pid());
        ASSERT_NE(unpinned, nullptr);
        EXPECT_FALSE(running.requestQuit(*unpinned));
        EXPECT_FALSE(running.hasTerminated(*unpinned));
    }

    // Quitting closes the window the way its close button would; no signal is sent.
    EXPECT_TRUE(running.requestQuit(*found));
    EXPECT_TRUE(waitUntil(5, [&] { return running.hasTerminated(*found); }));
    EXPECT_TRUE(waitForFile(home.path("deleted-" + std::to_string(window.pid())), 1));
    EXPECT_NE(access(home.path("term-" + std::to_string(window.pid())).c_str(), F_OK), 0);
    int status = window.wait(5);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(findPid(running.list(), window.pid()), nullptr);
}
