#include "TestSupport.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const char* kVars[4] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
}

TempHome::TempHome()
{
    char pattern[] = "/tmp/tessyn-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    chmod(root_.c_str(), 0755);
    for (int i = 0; i < 4; ++i) {
        const char* value = getenv(kVars[i]);
        had_[i] = value != nullptr;
        if (value) saved_[i] = value;
    }
    makeDirs(root_ + "/data");
    makeDirs(root_ + "/config");
    makeDirs(root_ + "/cache");
    setenv("HOME", root_.c_str(), 1);
    setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
}

TempHome::~TempHome()
{
    for (int i = 0; i < 4; ++i) {
        if (had_[i]) setenv(kVars[i], saved_[i].c_str(), 1);
        else unsetenv(kVars[i]);
    }
    std::error_code ec;
    // Make everything removable first: tests may leave unreadable folders behind.
    for (auto it = std::filesystem::recursive_directory_iterator(
             root_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
    }
    std::filesystem::remove_all(root_, ec);
}

void makeDirs(const std::string& path) { std::filesystem::create_directories(path); }

std::string writeFile(const std::string& path, const std::string& contents)
{
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << contents;
    return path;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ino_t inodeOf(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat failed: " + path);
    return st.st_ino;
}

void setAge(const std::string& path, double secondsAgo)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    double t = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - secondsAgo;
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(std::floor(t));
    times[0].tv_nsec = static_cast<long>((t - std::floor(t)) * 1e9);
    times[1] = times[0];
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed for " + path);
}

uid_t nobodyUid()
{
    struct passwd* pw = getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}

int runAsNobody(const std::function<int()>& body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        uid_t uid = nobodyUid();
        gid_t gid = 65534;
        if (struct passwd* pw = getpwnam("nobody")) gid = pw->pw_gid;
        if (getuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(120);
        }
        int rc = body();
        _exit(rc & 0xff);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

CommandResult runCommand(const std::string& commandLine)
{
    CommandResult result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (!pipe) return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// Runs `body` in a child with its own mount namespace, so test volumes can be mounted
// privately. Returns the failures it reported, or nullopt when mounting is not allowed.
std::optional<std::string> inPrivateMounts(const std::function<std::string()>& body)
{
    int fds[2];
    if (pipe(fds) != 0) return std::string("pipe failed");
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        std::string failures;
        try {
            failures = body();
        } catch (const std::exception& e) {
            failures = std::string("exception: ") + e.what();
        }
        if (write(fds[1], failures.data(), failures.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return out + "\nchild failed";
    return out;
}
