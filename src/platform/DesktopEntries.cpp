#include "platform/DesktopEntries.h"

#include "platform/FolderNames.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unordered_set>

namespace {
constexpr size_t kMaxEntrySize = 256 * 1024;
constexpr int kMaxDepth = 4;

std::vector<std::string> applicationFolders()
{
    std::vector<std::string> bases;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/') bases.push_back(dataHome);
    else if (home && *home) bases.push_back(std::string(home) + "/.local/share");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::stringstream split(list);
    for (std::string dir; std::getline(split, dir, ':');)
        if (!dir.empty() && dir[0] == '/') bases.push_back(dir);
    std::vector<std::string> folders;
    for (auto& base : bases) {
        std::string folder = base + (base.back() == '/' ? "" : "/") + "applications";
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    return folders;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Locale names to try for Name[...], most specific first.
std::vector<std::string> localeKeys()
{
    const char* value = nullptr;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(var);
        if (value && *value) break;
    }
    std::vector<std::string> keys;
    if (!value || !*value) return keys;
    std::string locale = value;
    locale = locale.substr(0, locale.find('.'));
    locale = locale.substr(0, locale.find('@'));
    if (locale.empty() || locale == "C" || locale == "POSIX") return keys;
    keys.push_back(locale);
    size_t underscore = locale.find('_');
    if (underscore != std::string::npos) keys.push_back(locale.substr(0, underscore));
    return keys;
}

std::string unescape(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        char c = value[++i];
        switch (c) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += c; break;
        }
    }
    return out;
}

std::optional<DesktopEntry> parseEntry(const std::string& path, const std::string& id,
                                       const std::vector<std::string>& locales)
{
    std::optional<std::string> text;
    try {
        text = RegularFile::read(path, kMaxEntrySize, true);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!text) return std::nullopt;
    return DesktopEntries::parse(*text, id, locales);
}

} // namespace

std::optional<DesktopEntry> DesktopEntries::parse(std::string_view text, const std::string& id,
                                                  const std::vector<std::string>& locales)
{
    std::istringstream in{std::string(text)};
    bool inGroup = false, application = false, hidden = false;
    std::string name, wmClass;
    std::vector<std::string> localized(locales.size());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::string value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ') value.erase(value.begin());
        if (key == "Type") application = value == "Application";
        else if (key == "Hidden") hidden = value == "true";
        else if (key == "Name") name = unescape(value);
        else if (key == "StartupWMClass") wmClass = unescape(value);
        else
            for (size_t i = 0; i < locales.size(); ++i)
                if (key == "Name[" + locales[i] + "]") localized[i] = unescape(value);
    }
    if (!application || hidden || name.empty()) return std::nullopt;
    for (const auto& text : localized) {
        if (!text.empty()) {
            name = text;
            break;
        }
    }
    return DesktopEntry{id, name, wmClass};
}

namespace {

void collect(const std::string& folder, const std::string& prefix, int depth, const std::vector<std::string>& locales,
             std::unordered_set<std::string>& seen, std::vector<DesktopEntry>& out,
             std::vector<DesktopEntries::FolderStamp>& visited)
{
    // Stamped before reading, so a change made meanwhile shows on the next look.
    if (depth > 0) visited.push_back(DesktopEntries::stampOf(folder));
    std::vector<std::string> names = listFolder(folder).names;
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        std::string path = folder + "/" + name;
        struct stat st{};
        if (stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < kMaxDepth) collect(path, prefix + name + "-", depth + 1, locales, seen, out, visited);
            continue;
        }
        if (name.size() <= 8 || !name.ends_with(".desktop")) continue;
        std::string id = prefix + name.substr(0, name.size() - 8);
        // An earlier folder's entry hides a later one with the same id.
        if (!seen.insert(id).second) continue;
        if (auto entry = parseEntry(path, id, locales)) out.push_back(std::move(*entry));
    }
}
} // namespace

DesktopEntries::FolderStamp DesktopEntries::stampOf(const std::string& folder)
{
    FolderStamp stamp;
    stamp.path = folder;
    struct stat st{};
    if (stat(folder.c_str(), &st) != 0) return stamp;
    stamp.modified = st.st_mtim;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return stamp;
}

void DesktopEntries::refresh()
{
    std::vector<std::string> folders = applicationFolders();
    std::vector<std::string> locales = localeKeys();
    if (loaded_ && settled_ && folders == folders_ && locales == locales_) {
        bool unchanged = std::all_of(visited_.begin(), visited_.end(),
                                     [](const FolderStamp& s) { return stampOf(s.path) == s; });
        if (unchanged) return;
    }
    std::unordered_set<std::string> seen;
    std::vector<DesktopEntry> entries;
    std::vector<FolderStamp> visited;
    for (const auto& folder : folders) {
        visited.push_back(stampOf(folder));
        collect(folder, "", 0, locales, seen, entries, visited);
    }
    // Folder times advance in coarse ticks: a folder changed within the last moments may change
    // again without its time moving, so such a reading is not trusted for long.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    settled_ = std::all_of(visited.begin(), visited.end(),
                           [&](const FolderStamp& s) { return s.modified.tv_sec + 2 < now.tv_sec; });
    folders_ = std::move(folders);
    locales_ = std::move(locales);
    visited_ = std::move(visited);
    entries_ = std::move(entries);
    loaded_ = true;
}

std::optional<DesktopEntry> DesktopEntries::match(const std::string& instance, const std::string& windowClass)
{
    if (instance.empty() && windowClass.empty()) return std::nullopt;
    refresh();
    for (const auto& key : {windowClass, instance}) {
        if (key.empty()) continue;
        for (const auto& entry : entries_)
            if (!entry.startupWMClass.empty() && entry.startupWMClass == key) return entry;
    }
    for (const auto& key : {windowClass, instance}) {
        if (key.empty()) continue;
        for (const auto& entry : entries_)
            if (equalsIgnoringCase(entry.id, key)) return entry;
    }
    return std::nullopt;
}
