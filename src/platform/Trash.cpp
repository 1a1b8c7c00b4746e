#include "platform/Trash.h"
#include "platform/PathText.h"

#include "platform/Errors.h"
#include "platform/FileWrites.h"
#include "platform/Locations.h"
#include "platform/MountTable.h"
#include "platform/ResolvedPath.h"
#include "platform/TextValidity.h"
#include "platform/TrashFolders.h"
#include "platform/TrashInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace Trash::detail {

const std::string kInfoSuffix = ".trashinfo";

} // namespace Trash::detail

namespace {

using namespace Trash::detail;

constexpr size_t kNameMax = 255;

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string absolutePath(const std::string& path)
{
    if (path.empty()) throwPosix(ENOENT);
    if (path[0] == '/') return withoutTrailingSlashes(path);
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (!cwd) throwErrno();
    return withoutTrailingSlashes(joinPath(cwd.get(), path));
}

// Creates the folder and those above it with mode 0700 where missing; links among them are
// followed (they lie above the Trash).
void ensureDirectories(const std::string& path)
{
    std::string parent = parentOf(path);
    struct stat st {};
    if (parent != path && stat(parent.c_str(), &st) != 0) {
        if (errno != ENOENT) throwErrno();
        ensureDirectories(parent);
    }
    if (mkdir(path.c_str(), 0700) == 0) return;
    if (errno != EEXIST) throwErrno();
    if (stat(path.c_str(), &st) != 0) throwErrno();
    if (!S_ISDIR(st.st_mode)) throwPosix(ENOTDIR);
}

// A folder of ours that is neither a link nor anyone else's.
bool isOwnedDirectory(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

// The device of the path, or of its nearest existing ancestor.
dev_t deviceOfNearest(std::string path)
{
    for (;;) {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) return st.st_dev;
        if (errno != ENOENT && errno != ENOTDIR) throwErrno();
        if (path == "/") throwErrno();
        path = parentOf(path);
    }
}

std::string homeTrashDirectory() { return Locations::homeTrash(); }

// The top directory of the mount holding the canonical folder `dir` on device `dev`.
std::string mountTop(std::string dir, dev_t dev)
{
    while (dir != "/") {
        std::string up = parentOf(dir);
        struct stat st {};
        if (stat(up.c_str(), &st) != 0 || st.st_dev != dev) return dir;
        dir = up;
    }
    return dir;
}

// $topdir/.Trash/$uid is used only when .Trash is a real, sticky folder shared by an
// administrator; everything else goes to $topdir/.Trash-$uid.
std::string sharedTrashCandidate(const std::string& topdir)
{
    std::string shared = joinPath(topdir, ".Trash");
    struct stat st {};
    if (lstat(shared.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !(st.st_mode & S_ISVTX)) return {};
    return shared + "/" + std::to_string(getuid());
}

std::string privateTrashCandidate(const std::string& topdir)
{
    return joinPath(topdir, ".Trash-" + std::to_string(getuid()));
}

std::string localTimestamp()
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    return buf;
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string truncateUtf8(const std::string& text, size_t limit)
{
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Sixteen lower-case hexadecimal digits, the generator seeded on first use.
std::string randomHex(std::optional<std::mt19937_64>& random)
{
    if (!random) random.emplace(std::random_device{}());
    char hex[20];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>((*random)()));
    return hex;
}

// Info files are written in full under such a name where the file system has no unnamed
// files, then renamed into place; no file manager lists it, as it lacks ".trashinfo".
const std::string kDraftPrefix = ".tessyn-info-";

TessynError swappedItemStays()
{
    return TessynError("Tessyn", 5, "移动时原位置的项目被替换，换入的项目已在废纸篓中且无法放回，请在 Finder 废纸篓中检查。");
}

TessynError trashNotRealRefusal()
{
    return TessynError("Tessyn", 7, "废纸篓文件夹不是真实的文件夹（可能是符号链接），未移入废纸篓。");
}

TessynError mountInsideRefusal()
{
    return TessynError("Tessyn", 6, "文件夹中有其他文件系统的挂载点，未移入废纸篓。");
}

} // namespace

namespace Trash {

namespace testing {
std::function<void(Step)> atStep;
bool namedInfoDrafts = false;
} // namespace testing

namespace {

void reach(testing::Step step)
{
    if (testing::atStep) testing::atStep(step);
}

// Opens the folder at the absolute path one component at a time without following any link,
// so a link put anywhere on the way fails (ENOTDIR) instead of leading elsewhere. Every later
// step acts relative to the descriptor and never looks the path up again. The descriptor is
// read-only when the folder may be read (so it can be flushed), else O_PATH.
int openRealFolder(const std::string& path)
{
    if (path.empty() || path[0] != '/') throwPosix(EINVAL);
    int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throwErrno();
    size_t start = 1;
    while (start < path.size()) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        int next = part == ".." ? -1 : openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int saved = part == ".." ? EINVAL : errno;
        close(fd);
        if (next < 0) throwPosix(saved);
        fd = next;
    }
    int readable = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable >= 0) {
        close(fd);
        fd = readable;
    }
    return fd;
}

// The folder at `name` is still the one held: a real folder of the same identity.
bool sameFolderAt(int dir, const std::string& name, const FolderHandle& held)
{
    struct stat st {};
    return fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           identityOf(st) == held.identity;
}

} // namespace

namespace detail {

std::pair<std::string, std::string> fittedParts(const std::string& name, size_t suffixSize)
{
    std::string stem = name, ext;
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    size_t room = kNameMax - kInfoSuffix.size();
    if (stem.size() + suffixSize + ext.size() > room) {
        if (suffixSize + ext.size() >= room) {
            stem = name;
            ext.clear();
        }
        stem = truncateUtf8(stem, room - suffixSize - ext.size());
    }
    return {stem, ext};
}

std::string candidateName(const std::string& name, int attempt, std::optional<std::mt19937_64>& random)
{
    std::string suffix;
    if (attempt >= 1 && attempt <= kNumberedAttempts) {
        suffix = " " + std::to_string(attempt + 1);
    } else if (attempt > kNumberedAttempts) {
        suffix = " " + randomHex(random);
    }
    auto [stem, ext] = fittedParts(name, suffix.size());
    return stem + suffix + ext;
}

bool isLowerHex(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isDraftName(const std::string& name)
{
    return name.size() == kDraftPrefix.size() + 16 && name.starts_with(kDraftPrefix) &&
           isLowerHex(std::string_view(name).substr(kDraftPrefix.size()));
}

bool isMissing(int dir, const std::string& name)
{
    struct stat st {};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return false;
    if (errno != ENOENT) throwErrno();
    return true;
}

Identity identityOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

void FolderHandle::reset()
{
    if (fd >= 0) close(fd);
    fd = -1;
}

namespace {

void takeIdentity(FolderHandle& folder)
{
    struct stat st {};
    if (fstat(folder.fd, &st) != 0) {
        int saved = errno;
        folder.reset();
        throwPosix(saved);
    }
    folder.identity = identityOf(st);
    folder.owner = st.st_uid;
}

} // namespace

void FolderHandle::open(const std::string& path)
{
    reset();
    fd = openRealFolder(path);
    takeIdentity(*this);
}

void FolderHandle::openIn(int dir, const std::string& name, bool create)
{
    reset();
    if (create && mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) throwErrno();
    fd = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A folder that may only be passed through is still held, as openRealFolder does.
    if (fd < 0 && errno == EACCES) fd = openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throwErrno();
    takeIdentity(*this);
}

void FolderHandle::sync() const { fsync(fd); }

std::string TrashFolders::path() const { return joinPath(parentPath, name); }

void TrashFolders::locate(const std::string& trashDir)
{
    parentPath = resolvedPath(parentOf(trashDir));
    name = lastComponent(trashDir);
}

void TrashFolders::open(bool create, bool ownedOnly, bool infoOptional)
{
    FolderHandle parent;
    parent.open(parentPath);
    reach(testing::Step::OpenTrash);
    trash.openIn(parent.fd, name, create);
    if (ownedOnly && trash.owner != getuid()) throwPosix(EPERM);
    files.openIn(trash.fd, "files", create);
    try {
        info.openIn(trash.fd, "info", create);
    } catch (const std::system_error&) {
        if (!infoOptional) throw;
    }
}

bool TrashFolders::current() const
{
    FolderHandle parent;
    try {
        parent.open(parentPath);
    } catch (const std::system_error&) {
        return false;
    }
    return sameFolderAt(parent.fd, name, trash) && sameFolderAt(trash.fd, "files", files) &&
           sameFolderAt(trash.fd, "info", info);
}

} // namespace detail

std::string homeFilesDirectory() { return homeTrashDirectory() + "/files"; }

std::string trashItem(const std::string& path, const ItemCheck& check) { return Mover().move(path, check); }

void requireRecordablePath(const std::string& path)
{
    if (!isValidUtf8(path))
        throw TessynError("Tessyn", 4, "路径不是有效的 UTF-8 文本，无法写入操作记录，请重命名后再试。");
}

namespace {

// An info file written in full before it has a name: an unnamed file (O_TMPFILE) linked in
// under the name it claims, or, where the file system has no unnamed files, a draft renamed
// there. Either way no kill leaves an info file that is empty or partly written. Locked from
// the start until the move is over (the kernel drops the lock of a mover that dies): the
// start-up clean-up skips a locked one.
class InfoDraft {
public:
    InfoDraft(int folder, const std::string& contents, std::optional<std::mt19937_64>& random) : folder_(folder)
    {
        if (!testing::namedInfoDrafts) fd_ = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            if (!testing::namedInfoDrafts && errno != EOPNOTSUPP && errno != EISDIR) throwErrno();
            for (int tries = 0; fd_ < 0; ++tries) {
                draft_ = kDraftPrefix + randomHex(random);
                fd_ = openat(folder, draft_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                if (fd_ < 0 && (errno != EEXIST || tries > 100)) {
                    draft_.clear();
                    throwErrno();
                }
            }
        }
        try {
            flock(fd_, LOCK_EX);
            writeAll(fd_, contents);
            // A new file: fdatasync flushes its size along with its text.
            if (fdatasync(fd_) != 0) throwErrno();
        } catch (...) {
            discard();
            throw;
        }
    }
    ~InfoDraft() { discard(); }
    InfoDraft(const InfoDraft&) = delete;
    InfoDraft& operator=(const InfoDraft&) = delete;

    // Names the complete file `name`; false, naming nothing, when that name is taken. Never
    // replaces. An unnamed file can be named only once.
    bool claim(const std::string& name)
    {
        if (draft_.empty()) {
            // Through /proc: AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH on kernels before 6.10.
            std::string self = "/proc/self/fd/" + std::to_string(fd_);
            if (linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
            if (errno == ENOENT && linkat(fd_, "", folder_, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        } else if (renameat2(folder_, draft_.c_str(), folder_, name.c_str(), RENAME_NOREPLACE) == 0) {
            draft_.clear();
            return true;
        }
        if (errno == EEXIST) return false;
        throwErrno();
    }

private:
    void discard()
    {
        if (!draft_.empty()) unlinkat(folder_, draft_.c_str(), 0);
        if (fd_ >= 0) close(fd_);
        draft_.clear();
        fd_ = -1;
    }

    int folder_;
    int fd_ = -1;
    std::string draft_; // the draft's name while it has one
};


// The item to move: its folder, resolved once and opened without following links, and the
// item as found there. Every later look at the item and every rename of it goes through
// that descriptor, so a folder swapped for a link meanwhile cannot send another folder's
// files to the Trash.
struct Source {
    FolderHandle folder;
    std::string name;     // the item's name in it
    std::string original; // its path with the folder resolved, as recorded
    struct stat item {}, parent {};

    explicit Source(const std::string& path)
    {
        std::string absolute = absolutePath(path);
        name = lastComponent(absolute);
        if (name.empty() || name == "." || name == ".." || absolute == "/") throwPosix(EINVAL);
        // The folder holding the item is resolved; the item itself is not (a link moves as a link).
        std::string folderPath = resolvedPath(parentOf(absolute));
        original = joinPath(folderPath, name);
        requireRecordablePath(original);
        folder.open(folderPath);
        if (fstatat(folder.fd, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
        if (fstat(folder.fd, &parent) != 0) throwErrno();
        // A mount point cannot be renamed away from its own mount.
        if (item.st_dev != parent.st_dev) throwPosix(EBUSY);
        if (S_ISDIR(item.st_mode) && MountTable::holdsMountPoint(original)) throw mountInsideRefusal();
    }
};

// A Trash found and made sure of for an earlier item of its volume.
struct Place {
    std::string key;    // "home", or the top folder of the volume
    std::string topdir; // empty for the home Trash
    TrashFolders folders;

    // Path= is absolute in the home Trash, relative to the volume's top folder elsewhere.
    std::string recorded(const std::string& original) const
    {
        if (topdir.empty()) return original;
        return topdir == "/" ? original.substr(1) : original.substr(topdir.size() + 1);
    }
};

// The home Trash, made where missing. Links above it are followed; the Trash itself must be
// a real folder: followed through a link it would put items elsewhere.
void openHomeTrash(TrashFolders& folders)
{
    const std::string trash = homeTrashDirectory();
    requireRecordablePath(trash);
    ensureDirectories(parentOf(trash));
    folders.locate(trash);
    folders.open(true);
}

// The Trash of another volume: $topdir/.Trash/$uid when .Trash is a real, sticky folder and
// that folder is ours, else $topdir/.Trash-$uid, which must be ours too.
void openVolumeTrash(TrashFolders& folders, const std::string& topdir)
{
    if (std::string shared = sharedTrashCandidate(topdir); !shared.empty()) {
        try {
            folders.locate(shared);
            folders.open(true, true);
            return;
        } catch (const std::system_error&) {
        }
    }
    folders.locate(privateTrashCandidate(topdir));
    folders.open(true, true);
}

// Renames the item into `slot` of files/, never replacing anything; false when the slot was
// taken meanwhile.
bool renameInto(const Source& source, const TrashFolders& trash, const std::string& slot, const ItemCheck& check)
{
    // The info file's name must be durable before the item moves, so a power loss never
    // leaves an item in files/ that nothing describes.
    trash.info.sync();
    // The steps above take time (two flushes); whatever sits at the name now is what the
    // rename takes, so it is checked once more right here.
    if (check) {
        struct stat now {};
        if (fstatat(source.folder.fd, source.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
        check(source.original, now, false);
    }
    reach(testing::Step::Move);
    if (renameat2(source.folder.fd, source.name.c_str(), trash.files.fd, slot.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) return false;
    // Without RENAME_NOREPLACE a plain rename could replace something another tool put in
    // the slot meanwhile: refuse rather than risk it.
    throwErrno();
}

// An item swapped in between the last check and the rename went instead: what now lies in
// files/ is compared, and anything else goes back where it was found. What cannot go back
// stays, and its info file, which says truly where it came from, stays with it (`keepInfo`).
void checkArrival(const Source& source, const TrashFolders& trash, const std::string& slot,
                  const std::string& target, const ItemCheck& check, bool& keepInfo)
{
    try {
        struct stat moved {};
        if (fstatat(trash.files.fd, slot.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
        check(target, moved, true);
    } catch (...) {
        reach(testing::Step::MoveBack);
        if (renameat2(trash.files.fd, slot.c_str(), source.folder.fd, source.name.c_str(), RENAME_NOREPLACE) != 0) {
            keepInfo = !isMissing(trash.files.fd, slot);
            throw swappedItemStays();
        }
        source.folder.sync();
        throw;
    }
}

// The move into `slot`, whose info file has just been claimed: the item is renamed in and
// what arrived is checked. None, with the info file removed, when the slot turns out to be
// taken; any failure removes the info file too, unless its item had to stay in the Trash.
std::optional<std::string> moveIntoSlot(const Source& source, const TrashFolders& trash, const std::string& slot,
                                        const ItemCheck& check)
{
    const std::string infoName = slot + kInfoSuffix;
    const std::string target = trash.path() + "/files/" + slot;
    bool keepInfo = false;
    try {
        // Taken by an orphan in files/ without its info file, or by an item arriving right now.
        if (!isMissing(trash.files.fd, slot) || !renameInto(source, trash, slot, check)) {
            unlinkat(trash.info.fd, infoName.c_str(), 0);
            return std::nullopt;
        }
        if (check) checkArrival(source, trash, slot, target, check, keepInfo);
        // The move itself has happened; flushing both folders only makes it durable.
        trash.files.sync();
        source.folder.sync();
        return target;
    } catch (...) {
        int saved = errno;
        if (!keepInfo) unlinkat(trash.info.fd, infoName.c_str(), 0);
        errno = saved;
        throw;
    }
}

} // namespace

struct Mover::State {
    std::optional<dev_t> homeDevice;
    std::vector<std::unique_ptr<Place>> places;
    std::optional<std::mt19937_64> random;

    void forget()
    {
        homeDevice.reset();
        places.clear();
    }

    // The Trash of the item's volume: the one kept while the folders at its names are still
    // the very ones held open, else looked up afresh.
    Place& placeFor(const Source& source)
    {
        if (!homeDevice) homeDevice = deviceOfNearest(homeFilesDirectory());
        bool home = source.item.st_dev == *homeDevice;
        std::string topdir = home ? std::string() : mountTop(parentOf(source.original), source.parent.st_dev);
        std::string key = home ? "home" : topdir;
        for (auto& place : places)
            if (place->key == key && place->folders.current()) return *place;
        std::erase_if(places, [&](const auto& place) { return place->key == key; });
        auto place = std::make_unique<Place>();
        place->key = key;
        place->topdir = topdir;
        try {
            if (home) openHomeTrash(place->folders);
            else openVolumeTrash(place->folders, topdir);
        } catch (const std::system_error& error) {
            int code = error.code().value();
            if (place->folders.trash.fd < 0 && (code == ELOOP || code == ENOTDIR)) throw trashNotRealRefusal();
            throw;
        }
        requireRecordablePath(place->folders.path());
        places.push_back(std::move(place));
        return *places.back();
    }
};

Mover::Mover() : state_(new State) {}

Mover::~Mover() { delete state_; }

std::string Mover::move(const std::string& path, const ItemCheck& check)
{
    try {
        return moveOnce(path, check);
    } catch (...) {
        state_->forget();
        throw;
    }
}

std::string Mover::moveOnce(const std::string& path, const ItemCheck& check)
{
    Source source(path);
    Place& place = state_->placeFor(source);
    const std::string contents = TrashInfo::contents(place.recorded(source.original), localTimestamp());
    std::optional<InfoDraft> draft;
    constexpr int kAttempts = 200;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string slot = candidateName(source.name, attempt, state_->random);
        // The .trashinfo claims the name first, so two movers never pick the same one.
        if (!draft) draft.emplace(place.folders.info.fd, contents, state_->random);
        if (!draft->claim(slot + kInfoSuffix)) continue;
        reach(testing::Step::InfoNamed);
        if (std::optional<std::string> target = moveIntoSlot(source, place.folders, slot, check)) return *target;
        draft.reset(); // its name was given up, and an unnamed file is named only once
    }
    throwPosix(EEXIST);
}

std::string filesDirectoryFor(const std::string& path)
{
    std::string absolute = absolutePath(path);

    // The nearest existing folder above the item, resolved, decides the volume.
    std::string folder = parentOf(absolute);
    std::string rest = absolute.substr(folder == "/" ? 0 : folder.size());
    std::string resolved;
    for (;;) {
        std::unique_ptr<char, decltype(&std::free)> r(realpath(folder.c_str(), nullptr), &std::free);
        if (r) {
            resolved = r.get();
            break;
        }
        if ((errno != ENOENT && errno != ENOTDIR) || folder == "/") throwErrno();
        std::string up = parentOf(folder);
        rest = folder.substr(up == "/" ? 0 : up.size()) + rest;
        folder = up;
    }
    struct stat st {};
    if (stat(resolved.c_str(), &st) != 0) throwErrno();
    if (st.st_dev == deviceOfNearest(homeFilesDirectory())) return homeFilesDirectory();

    std::string topdir = mountTop(resolved, st.st_dev);
    std::string where = (resolved == "/" ? "" : resolved) + rest;
    std::vector<std::string> trashes;
    if (std::string shared = sharedTrashCandidate(topdir); !shared.empty() && isOwnedDirectory(shared))
        trashes.push_back(shared);
    if (std::string own = privateTrashCandidate(topdir); isOwnedDirectory(own)) trashes.push_back(own);
    for (const auto& trash : trashes) {
        std::string files = trash + "/files";
        if (where.compare(0, files.size() + 1, files + "/") == 0) return files;
    }
    if (!trashes.empty()) return trashes.front() + "/files";
    return privateTrashCandidate(topdir) + "/files";
}


std::vector<std::pair<dev_t, ino_t>> folderIdentities(const std::string& path)
{
    std::vector<std::string> trashes{homeTrashDirectory()};
    try {
        trashes.push_back(parentOf(filesDirectoryFor(path)));
    } catch (const std::system_error&) {
    }
    std::vector<std::pair<dev_t, ino_t>> found;
    for (const std::string& trash : trashes)
        for (const std::string& folder : {trash, trash + "/files", trash + "/info"}) {
            struct stat st {};
            if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) found.emplace_back(st.st_dev, st.st_ino);
        }
    return found;
}

RestoreRefusal::RestoreRefusal(Reason reason)
    : std::runtime_error(reason == Reason::OutsideTrash ? "the item is not in the Trash of its volume"
                         : reason == Reason::Occupied   ? "something occupies the old place"
                                                        : "the old folder is not where it was"),
      reason_(reason)
{
}

void restoreItem(const std::string& trashPath, const std::string& originalPath, const ItemCheck& check)
{
    using Reason = RestoreRefusal::Reason;
    std::string absolute = absolutePath(trashPath);
    std::string name = lastComponent(absolute);
    // Links above the Trash are fine; the Trash itself, its files/ and info/ must be real folders.
    TrashFolders trash;
    trash.locate(parentOf(filesDirectoryFor(absolute)));
    if (resolvedPath(parentOf(absolute)) != trash.path() + "/files") throw RestoreRefusal(Reason::OutsideTrash);
    std::string destination = absolutePath(originalPath);
    std::string destinationName = lastComponent(destination);
    if (destinationName.empty() || destinationName == "." || destinationName == "..") throwPosix(EINVAL);

    // The Trash's folders and the old folder are each opened once, without following links;
    // the checks, the rename and the info file's removal go through them, so none of them can
    // be swapped for a link to somewhere else meanwhile.
    // The info file is only cosmetic once the item is back: a missing info/ refuses nothing.
    trash.open(false, false, true);
    FolderHandle folder;
    try {
        folder.open(parentOf(destination));
    } catch (const std::system_error& error) {
        // A link on the way: the old folder is not where it was.
        if (error.code().value() == ENOTDIR || error.code().value() == ELOOP) throw RestoreRefusal(Reason::FolderChanged);
        throw;
    }
    struct stat item {};
    if (fstatat(trash.files.fd, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
    if (check) check(trash.path() + "/files/" + name, item, false);
    if (!isMissing(folder.fd, destinationName)) throw RestoreRefusal(Reason::Occupied);

    reach(testing::Step::Restore);
    // RENAME_NOREPLACE also counts a dangling link as occupying the place; a file system
    // that cannot promise this fails with EINVAL and nothing is moved.
    if (renameat2(trash.files.fd, name.c_str(), folder.fd, destinationName.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) throw RestoreRefusal(Reason::Occupied);
        throwErrno();
    }
    reach(testing::Step::Restored);
    // The item is back; a stale info file is only cosmetic, so its removal is best effort.
    if (trash.info.fd >= 0 && unlinkat(trash.info.fd, (name + kInfoSuffix).c_str(), 0) == 0) trash.info.sync();
}

} // namespace Trash
