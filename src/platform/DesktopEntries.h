#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// One application entry of the freedesktop.org menu (a .desktop file).
struct DesktopEntry {
    std::string id;              // desktop-file id without ".desktop"
    std::string name;            // Name, in the user's locale when the file has it
    std::string startupWMClass;  // StartupWMClass, may be empty
};

// The application entries of $XDG_DATA_HOME and $XDG_DATA_DIRS, read on first use and again
// whenever one of their folders (subfolders included) changed or the locale did. Not
// thread-safe; callers serialise.
class DesktopEntries {
public:
    // The entry whose StartupWMClass equals the window's class or instance, else the one whose
    // id equals them ignoring ASCII case.
    std::optional<DesktopEntry> match(const std::string& instance, const std::string& windowClass);

    // A folder as last read: it changed when any of these did.
    struct FolderStamp {
        std::string path;
        timespec modified{-1, 0};
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const FolderStamp& o) const
        {
            return path == o.path && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
                   device == o.device && inode == o.inode;
        }
    };
    static FolderStamp stampOf(const std::string& folder);

    // The application entry a desktop file's text describes (its [Desktop Entry] group, Type
    // Application, not Hidden, with a Name, localised by the first of `locales` it has).
    static std::optional<DesktopEntry> parse(std::string_view text, const std::string& id,
                                             const std::vector<std::string>& locales);

private:
    void refresh();

    std::vector<std::string> folders_;
    std::vector<std::string> locales_;
    std::vector<FolderStamp> visited_;  // every folder read, top-level ones even when missing
    std::vector<DesktopEntry> entries_;
    bool loaded_ = false;
    bool settled_ = false;  // no folder changed just before the reading
};
