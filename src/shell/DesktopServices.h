#pragma once
#include "services/Localization.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>
#include <string>

// What the pages ask of the desktop: showing a file in the file manager, opening Tessyn's
// Trash folder and the system's activity monitor, and Qt's own texts in the interface language.
namespace DesktopServices {

// How the desktop is reached; every member can be replaced (tests record instead of launching).
struct Launcher {
    // org.freedesktop.FileManager1.ShowItems with the items' URIs. Returns at once; `answered`
    // follows on the main thread, true when a file manager showed them, false when none
    // answered within fileManagerWait.
    std::function<void(const QStringList& uris, std::function<void(bool shown)> answered)> showItems;
    // The desktop's opener for a URL; false when it could not be started.
    std::function<bool(const QUrl& url)> openUrl;
    // Starts a program without waiting for it; false when it could not be started.
    std::function<bool(const QString& program)> startProgram;
    // The full path of an installed program, or empty.
    std::function<QString(const QString& name)> findProgram;
};
// Installs a launcher (an empty one restores the desktop's own).
void setLauncher(Launcher launcher);

// How long a file manager has to answer before the folder opens instead.
inline constexpr int fileManagerWait = 1000; // milliseconds
// The desktop's own showItems, over `bus` (the session bus for the launcher).
void showItemsOver(const QDBusConnection& bus, const QStringList& uris, std::function<void(bool shown)> answered);

// Selects the item in the file manager, else opens the folder holding it. Never waits for the
// file manager: the folder opens when it declines or does not answer in time.
void reveal(const std::string& path);
// Opens the files folder of the home Trash.
bool openTrash();
// The activity monitors looked for, first installed wins.
const QStringList& activityMonitors();
// Starts the first installed activity monitor; false, doing nothing, when none is installed.
bool openActivityMonitor();

// Loads Qt's own translations (dialog buttons, the folder chooser) for `language`, replacing
// those loaded before; English needs none.
void applyQtTranslations(AppLanguage language);

} // namespace DesktopServices
