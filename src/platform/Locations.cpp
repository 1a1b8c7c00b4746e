#include "platform/Locations.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace Locations {

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string dataHome()
{
    // Only an absolute XDG_DATA_HOME counts; a relative one is ignored as the base directory rules say.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return xdg;
    std::string home = homeFolder();
    return (home == "/" ? "" : home) + "/.local/share";
}

std::string applicationSupport() { return dataHome() + "/Tessyn"; }

std::string homeTrash() { return dataHome() + "/Trash"; }

std::string systemApplications() { return "/Applications"; }

std::string userApplications() { return homeFolder() + "/Applications"; }

} // namespace Locations
