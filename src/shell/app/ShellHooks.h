#pragma once
#include <QString>
#include <functional>
#include <optional>

class AppModel;

// What the software update and the interface audit do at the shell's moments. Both sit above
// the shell, so the program's composition root hands them in, as it does the pages; a part
// left empty does nothing.
struct ShellHooks {
    struct Update {
        // The application menu's "检查更新…".
        std::function<void()> checkFromMenu;
        // A main view is shown for the first time.
        std::function<void()> checkAtStartUp;
    };
    struct Audit {
        // A main view is shown for the first time, after its first memory sample.
        std::function<void(AppModel& model)> start;
        // The page a main view shows, and the page whose content is mounted and shown.
        std::function<void(const QString& visible, const std::optional<QString>& content)> pageShown;
    };
    Update update;
    Audit audit;
};

// Replaces the hooks used from now on.
void installShellHooks(ShellHooks hooks);
const ShellHooks& shellHooks();
