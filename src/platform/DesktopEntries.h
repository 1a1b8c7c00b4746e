#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// One application entry of the freedesktop.org menu (a .desktop file).
struct DesktopEntry {
    std::string id;              // desktop-file id without ".desktop"
    std::string name;            // Name, in the user's locale when the file has it
    std::string startupWMClass;  // StartupWMClass, may be empty
};

// The application entries of $XDG_DATA_HOME and $XDG_DATA_DIRS, read on first use and again
// whenever one of their folders changed. Not thread-safe; callers serialise.
class DesktopEntries {
public:
    // The entry whose StartupWMClass equals the window's class or instance, else the one whose
    // id equals them ignoring ASCII case.
    std::optional<DesktopEntry> match(const std::string& instance, const std::string& windowClass);

private:
    void refresh();

    std::vector<std::string> folders_;
    std::vector<timespec> stamps_;
    std::vector<DesktopEntry> entries_;
    bool loaded_ = false;
};
