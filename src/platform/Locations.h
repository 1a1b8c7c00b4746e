#pragma once
#include <string>

// Where Tessyn's own and the user's folders live on this system.
namespace Locations {
// $HOME, else the password database.
std::string homeFolder();
// $XDG_DATA_HOME, default ~/.local/share.
std::string dataHome();
// <data home>/Tessyn: history, journal, backups and lock files.
std::string applicationSupport();
// <data home>/Trash: the home Trash.
std::string homeTrash();
// The application roots: /Applications and ~/Applications.
std::string systemApplications();
std::string userApplications();
} // namespace Locations
