#pragma once
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// A fresh temporary folder with HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME
// pointed inside it (same file system, so Trash moves stay local). Restores the previous
// environment and removes the folder when destroyed. Its name, part of every path a test
// searches, ends in six random letters and digits: a search term holds a '/' or a '.',
// which they cannot.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }
    std::string dataHome() const { return root_ + "/data"; }

private:
    std::string root_;
    std::string saved_[4];
    bool had_[4]{};
};

// Writes a file (creating parent folders) and returns its path.
std::string writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
// The inode at `path` itself (links not followed); throws when there is nothing there.
ino_t inodeOf(const std::string& path);
void makeDirs(const std::string& path);
// Sets a file's modification time to `secondsAgo` before now.
void setAge(const std::string& path, double secondsAgo);

// Runs `body` in a forked child that has dropped to the unprivileged user "nobody"
// (root ignores permission bits). Returns the child's exit status, or -1 when it crashed.
int runAsNobody(const std::function<int()>& body);
uid_t nobodyUid();

// Runs a command line through /bin/sh and returns its exit status and standard output.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::string& commandLine);

// Quotes a string for /bin/sh.
std::string shellQuote(const std::string& text);

// Runs `body` in a child with its own mount namespace, so test volumes can be mounted
// privately. Returns the failures it reported, or nullopt when mounting is not allowed.
std::optional<std::string> inPrivateMounts(const std::function<std::string()>& body);
