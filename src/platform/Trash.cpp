#include "platform/Trash.h"
#include "platform/PathText.h"

#include "platform/Errors.h"
#include "platform/FdCloser.h"
#include "platform/FileWrites.h"
#include "platform/Locations.h"
#include "platform/MountTable.h"
#include "platform/RegularFile.h"
#include "platform/ResolvedPath.h"
#include "platform/TextValidity.h"
#include "platform/TrashInfo.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kNameMax = 255;
const std::string kInfoSuffix = ".trashinfo";
// Far above any info file Tessyn or a file manager writes.
constexpr size_t kInfoLimit = 64 * 1024;

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

// Creates a folder with mode 0700 unless one is there. `followLink` accepts a link to a
// folder (allowed above the home Trash); Trash folders themselves must be real folders.
void ensureDirectory(const std::string& path, bool followLink)
{
    if (mkdir(path.c_str(), 0700) == 0) return;
    if (errno != EEXIST) throwErrno();
    struct stat st {};
    if ((followLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) throwErrno();
    if (!S_ISDIR(st.st_mode)) throwPosix(ENOTDIR);
}

// Creates the folders above `path` (links among them are followed), then `path` itself,
// which must be a real folder when `realLast`.
void ensureDirectories(const std::string& path, bool realLast = false)
{
    std::string parent = parentOf(path);
    struct stat st {};
    if (parent != path && stat(parent.c_str(), &st) != 0) {
        if (errno != ENOENT) throwErrno();
        ensureDirectories(parent);
    }
    ensureDirectory(path, !realLast);
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

// Finds or creates the Trash folder (holding files/ and info/) of a foreign volume.
std::string volumeTrash(const std::string& topdir)
{
    std::string shared = sharedTrashCandidate(topdir);
    if (!shared.empty()) {
        if (mkdir(shared.c_str(), 0700) == 0 || errno == EEXIST) {
            if (isOwnedDirectory(shared)) return shared;
        }
    }
    std::string own = privateTrashCandidate(topdir);
    if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) throwErrno();
    if (!isOwnedDirectory(own)) throwPosix(EPERM);
    return own;
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

// The name to try on attempt `n`: the item's own name first, then "stem 2.ext" ... and
// finally random suffixes, each cut so that "<name>.trashinfo" fits in one file name.
std::string candidateName(const std::string& name, int attempt, std::optional<std::mt19937_64>& random)
{
    std::string stem = name, ext;
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    std::string suffix;
    if (attempt >= 1 && attempt <= 8) {
        suffix = " " + std::to_string(attempt + 1);
    } else if (attempt > 8) {
        char buf[24];
        if (!random) random.emplace(std::random_device{}());
        snprintf(buf, sizeof buf, " %016llx", static_cast<unsigned long long>((*random)()));
        suffix = buf;
    }
    size_t room = kNameMax - kInfoSuffix.size();
    if (stem.size() + suffix.size() + ext.size() > room) {
        if (suffix.size() + ext.size() >= room) {
            stem = name;
            ext.clear();
        }
        stem = truncateUtf8(stem, room - suffix.size() - ext.size());
    }
    return stem + suffix + ext;
}

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

TessynError restoreRefusal(const std::string& text) { return TessynError("TessynRestore", 1, text); }

} // namespace

namespace Trash {

std::string homeFilesDirectory() { return homeTrashDirectory() + "/files"; }

std::string trashItem(const std::string& path, const ItemCheck& check) { return Mover().move(path, check); }

void requireRecordablePath(const std::string& path)
{
    if (!isValidUtf8(path))
        throw TessynError("Tessyn", 4, "路径不是有效的 UTF-8 文本，无法写入操作记录，请重命名后再试。");
}

namespace {

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

Identity identityOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// An open folder, kept to flush it without looking it up again.
struct FolderHandle {
    int fd = -1;
    Identity identity;
    std::string path;
    FolderHandle() = default;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle() { reset(); }
    void reset()
    {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    // Opens the real folder at path (no link); false when that fails.
    bool open(const std::string& folder)
    {
        reset();
        path = folder;
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0) {
            reset();
            return false;
        }
        identity = identityOf(st);
        return true;
    }
    void sync() const
    {
        if (fd >= 0) fsync(fd);
        else syncFolder(path);
    }
};

// A Trash folder found and made sure of for an earlier item.
struct Place {
    std::string key; // "home", or the top folder of the volume
    std::string trashDir;
    FolderHandle files, info;
    // Still the folders found then: what sits at their paths now is the same folder.
    bool current() const
    {
        struct stat st {};
        if (lstat((trashDir + "/files").c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || identityOf(st) != files.identity)
            return false;
        return lstat((trashDir + "/info").c_str(), &st) == 0 && S_ISDIR(st.st_mode) && identityOf(st) == info.identity;
    }
};

} // namespace

struct Mover::State {
    std::optional<dev_t> homeDevice;
    std::vector<std::unique_ptr<Place>> places;
    FolderHandle folder; // the last item's folder
    std::optional<std::mt19937_64> random;

    void forget()
    {
        homeDevice.reset();
        places.clear();
        folder.reset();
    }
    Place* find(const std::string& key)
    {
        for (auto& place : places)
            if (place->key == key) return place->current() ? place.get() : nullptr;
        return nullptr;
    }
    Place& keep(const std::string& key, const std::string& trashDir)
    {
        std::erase_if(places, [&](const auto& place) { return place->key == key; });
        auto place = std::make_unique<Place>();
        place->key = key;
        place->trashDir = trashDir;
        place->files.open(trashDir + "/files");
        place->info.open(trashDir + "/info");
        places.push_back(std::move(place));
        return *places.back();
    }
    void syncFolder(const std::string& path, const struct stat& identity)
    {
        if (folder.fd < 0 || folder.path != path || folder.identity != identityOf(identity)) folder.open(path);
        folder.sync();
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
    State& state = *state_;
    std::string absolute = absolutePath(path);
    std::string name = lastComponent(absolute);
    if (name.empty() || name == "." || name == ".." || absolute == "/") throwPosix(EINVAL);

    // The folder holding the item is resolved; the item itself is not (a link moves as a link).
    std::string folder = resolvedPath(parentOf(absolute));
    std::string original = joinPath(folder, name);
    requireRecordablePath(original);

    struct stat item {}, parent {};
    if (lstat(original.c_str(), &item) != 0) throwErrno();
    if (stat(folder.c_str(), &parent) != 0) throwErrno();
    // A mount point cannot be renamed away from its own mount.
    if (item.st_dev != parent.st_dev) throwPosix(EBUSY);
    if (S_ISDIR(item.st_mode) && MountTable::holdsMountPoint(original)) throw mountInsideRefusal();

    // The home Trash must be a real folder: followed through a link it would put items
    // elsewhere, and its device would send them to a Trash at the top of their volume.
    struct stat homeTrash {};
    if (lstat(homeTrashDirectory().c_str(), &homeTrash) == 0 && !S_ISDIR(homeTrash.st_mode)) throw trashNotRealRefusal();

    if (!state.homeDevice) state.homeDevice = deviceOfNearest(homeFilesDirectory());
    bool home = item.st_dev == *state.homeDevice;
    std::string topdir = home ? std::string() : mountTop(folder, parent.st_dev);
    std::string key = home ? "home" : topdir;
    Place* place = state.find(key);
    if (!place) {
        std::string trashDir;
        if (home) {
            requireRecordablePath(homeTrashDirectory());
            ensureDirectories(homeTrashDirectory(), true);
            trashDir = resolvedPath(homeTrashDirectory());
        } else {
            trashDir = volumeTrash(topdir);
        }
        ensureDirectory(trashDir + "/files", false);
        ensureDirectory(trashDir + "/info", false);
        requireRecordablePath(trashDir);
        place = &state.keep(key, trashDir);
    }
    const std::string& trashDir = place->trashDir;
    std::string recordedPath = home ? original : topdir == "/" ? original.substr(1) : original.substr(topdir.size() + 1);

    const std::string contents = TrashInfo::contents(recordedPath, localTimestamp());
    constexpr int kAttempts = 200;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string candidate = candidateName(name, attempt, state.random);
        std::string infoPath = trashDir + "/info/" + candidate + kInfoSuffix;
        std::string target = trashDir + "/files/" + candidate;

        // The .trashinfo claims the name first, so two movers never pick the same one.
        int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        bool keepInfo = false;
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throwErrno();
        }
        // Locked until the move is over (the kernel drops the lock of a mover that dies): the
        // start-up clean-up of info files left by an interrupted move skips a locked one.
        FdCloser info{fd};
        flock(fd, LOCK_EX);
        try {
            struct stat existing {};
            if (lstat(target.c_str(), &existing) == 0) {
                unlink(infoPath.c_str());
                continue; // an orphan in files/ without its info file
            }
            if (errno != ENOENT) throwErrno();
            writeAll(fd, contents);
            // A new file: fdatasync flushes its size along with its text.
            if (fdatasync(fd) != 0) throwErrno();
            // The info file's name must be durable before the item moves, so a power loss
            // never leaves an item in files/ that nothing describes.
            place->info.sync();

            // The steps above take time (two flushes); whatever sits at the path now is what
            // the rename takes, so it is checked once more right here.
            if (check) {
                struct stat now {};
                if (lstat(original.c_str(), &now) != 0) throwErrno();
                check(original, now, false);
            }
            if (renameat2(AT_FDCWD, original.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
                if (errno == EEXIST) {
                    unlink(infoPath.c_str());
                    continue;
                }
                // Without RENAME_NOREPLACE a plain rename could replace something another
                // tool put in the slot meanwhile: refuse rather than risk it.
                throwErrno();
            }
            // An item swapped in between that check and the rename went instead: what now
            // lies in files/ is compared, and anything else goes back where it was found.
            if (check) {
                try {
                    struct stat moved {};
                    if (lstat(target.c_str(), &moved) != 0) throwErrno();
                    check(target, moved, true);
                } catch (...) {
                    if (renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, original.c_str(), RENAME_NOREPLACE) != 0) {
                        struct stat left {};
                        // Its .trashinfo still says truly where it came from.
                        keepInfo = lstat(target.c_str(), &left) == 0;
                        throw swappedItemStays();
                    }
                    syncFolder(folder);
                    throw;
                }
            }
            // The move itself has happened; flushing both folders only makes it durable.
            place->files.sync();
            state.syncFolder(folder, parent);
            return target;
        } catch (...) {
            int saved = errno;
            if (!keepInfo) unlink(infoPath.c_str());
            errno = saved;
            throw;
        }
    }
    throwPosix(EEXIST);
}

int removeOrphanInfo(const std::string& originalPath)
{
    std::string files = filesDirectoryFor(originalPath);
    std::string trashDir = parentOf(files);
    std::string infoDir = trashDir + "/info";
    // Path= is absolute in the home Trash, relative to the volume's top folder elsewhere.
    std::string recorded = originalPath;
    if (files != homeFilesDirectory()) {
        std::string topdir = parentOf(trashDir);
        if (lastComponent(topdir) == ".Trash") topdir = parentOf(topdir);
        std::string prefix = topdir == "/" ? "/" : topdir + "/";
        if (originalPath.compare(0, prefix.size(), prefix) != 0) return 0;
        recorded = originalPath.substr(prefix.size());
    }
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(infoDir.c_str()), &closedir);
    if (!dir) return 0;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir.get())) {
        std::string name = e->d_name;
        if (name.size() > kInfoSuffix.size() && name.ends_with(kInfoSuffix)) names.push_back(std::move(name));
    }
    int removed = 0;
    for (const std::string& name : names) {
        std::string infoPath = infoDir + "/" + name;
        std::string item = files + "/" + name.substr(0, name.size() - kInfoSuffix.size());
        int fd = open(infoPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        FdCloser info{fd};
        // A move still under way holds the lock.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) continue;
        std::optional<std::string> text;
        try {
            text = RegularFile::readOpened(fd, kInfoLimit);
        } catch (const std::system_error&) {
            continue;
        }
        if (!text || TrashInfo::pathOf(*text) != recorded) continue;
        struct stat described {};
        if (lstat(item.c_str(), &described) == 0 || errno != ENOENT) continue;
        if (unlink(infoPath.c_str()) == 0) ++removed;
    }
    if (removed) syncFolder(infoDir);
    return removed;
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

void restoreItem(const std::string& trashPath, const std::string& originalPath)
{
    std::string absolute = absolutePath(trashPath);
    std::string name = lastComponent(absolute);
    std::string filesDir = resolvedPath(filesDirectoryFor(absolute));
    std::string folder = resolvedPath(parentOf(absolute));
    if (folder != filesDir) throw restoreRefusal("恢复来源不是当前卷的废纸篓。");

    std::string source = joinPath(folder, name);
    // RENAME_NOREPLACE also counts a dangling link as occupying the place; a file system
    // that cannot promise this fails with EINVAL and nothing is moved.
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, originalPath.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) throw restoreRefusal("原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。");
        throwErrno();
    }
    // The item is back; a stale info file is only cosmetic, so its removal is best effort.
    unlink((parentOf(filesDir) + "/info/" + name + kInfoSuffix).c_str());
}

} // namespace Trash
