#include "ChildProcess.h"

#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

ChildProcess::ChildProcess(const std::string& executable, const std::vector<std::string>& arguments)
{
    std::vector<std::string> args{executable};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, executable.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throw std::runtime_error("cannot start " + executable);
}

ChildProcess::~ChildProcess()
{
    if (reaped_ || pid_ <= 0) return;
    kill(pid_, SIGUSR1);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
}

int ChildProcess::wait(double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            return status;
        }
        if (r < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool waitUntil(double seconds, const std::function<bool()>& condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool waitForFile(const std::string& path, double seconds)
{
    return waitUntil(seconds, [&] { return access(path.c_str(), F_OK) == 0; });
}

std::string copyExecutable(const std::string& source, const std::string& destination)
{
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(destination).parent_path());
    fs::copy_file(source, destination, fs::copy_options::overwrite_existing);
    fs::permissions(destination, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    return destination;
}

std::string fixturePath(const std::string& name) { return std::string(TESSYN_FIXTURE_DIR) + "/fixture-" + name; }

std::vector<int> forkTogether(int count, const std::function<int(int)>& child)
{
    // Children wait on a pipe that closes once all exist, so they race from one moment.
    int start[2];
    if (pipe(start) != 0) return std::vector<int>(static_cast<size_t>(count), -1);
    std::vector<pid_t> pids;
    for (int i = 0; i < count; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) < 0) _exit(100);
            _exit(child(i));
        }
        pids.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    std::vector<int> codes;
    for (pid_t pid : pids) {
        int status = 0;
        bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
        codes.push_back(exited ? WEXITSTATUS(status) : -1);
    }
    return codes;
}
