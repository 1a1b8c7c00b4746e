#include "platform/Trash.h"
#include "platform/PathText.h"

#include "platform/Errors.h"
#include "platform/FdCloser.h"
#include "platform/FileWrites.h"
#include "platform/FolderNames.h"
#include "platform/Locations.h"
#include "platform/MountTable.h"
#include "platform/RegularFile.h"
#include "platform/ResolvedPath.h"
#include "platform/TextValidity.h"
#include "platform/TrashInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unordered_map>
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

// The stem and extension of `name`, cut so that the stem, a suffix of `suffixSize` bytes, the
// extension and ".trashinfo" fit in one file name, never splitting a character.
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

// Sixteen lower-case hexadecimal digits, the generator seeded on first use.
std::string randomHex(std::optional<std::mt19937_64>& random)
{
    if (!random) random.emplace(std::random_device{}());
    char hex[20];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>((*random)()));
    return hex;
}

constexpr int kNumberedAttempts = 8;     // "name 2.ext" ... "name 9.ext"
constexpr size_t kRandomSuffixSize = 17; // " " and 16 hexadecimal digits

// The name to try on attempt `n`: the item's own name first, then "stem 2.ext" ... and
// finally random suffixes, each cut so that "<name>.trashinfo" fits in one file name.
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

// Info files are written in full under such a name where the file system has no unnamed
// files, then renamed into place; no file manager lists it, as it lacks ".trashinfo".
const std::string kDraftPrefix = ".tessyn-info-";

bool isDraftName(const std::string& name)
{
    return name.size() == kDraftPrefix.size() + 16 && name.starts_with(kDraftPrefix) &&
           isLowerHex(std::string_view(name).substr(kDraftPrefix.size()));
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

namespace testing {
std::function<void(Step)> atStep;
bool namedInfoDrafts = false;
} // namespace testing

namespace {

void reach(testing::Step step)
{
    if (testing::atStep) testing::atStep(step);
}

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};

Identity identityOf(const struct stat& st) { return {st.st_dev, st.st_ino}; }

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

// An open folder, looked up once; moves act relative to it.
struct FolderHandle {
    int fd = -1;
    Identity identity;
    FolderHandle() = default;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle() { reset(); }
    void reset()
    {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    void open(const std::string& folder)
    {
        reset();
        fd = openRealFolder(folder);
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            int saved = errno;
            reset();
            throwPosix(saved);
        }
        identity = identityOf(st);
    }
    // Best effort: once a rename has happened, a failed flush only weakens durability.
    void sync() const { fsync(fd); }
};

// A Trash folder found and made sure of for an earlier item.
struct Place {
    std::string key; // "home", or the top folder of the volume
    std::string trashDir;
    FolderHandle files, info;
    // Still the folders found then: what sits at their paths now is the same folder. Only
    // decides whether to look them up again; the moves go through the descriptors.
    bool current() const
    {
        struct stat st {};
        if (lstat((trashDir + "/files").c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || identityOf(st) != files.identity)
            return false;
        return lstat((trashDir + "/info").c_str(), &st) == 0 && S_ISDIR(st.st_mode) && identityOf(st) == info.identity;
    }
};

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

bool isMissing(int dir, const std::string& name)
{
    struct stat st {};
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return false;
    if (errno != ENOENT) throwErrno();
    return true;
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
    // The resolved folder is then opened without following links, once: every later look at
    // the item and every rename of it goes through that descriptor, so a folder swapped for a
    // link meanwhile cannot send another folder's files to the Trash.
    std::string folderPath = resolvedPath(parentOf(absolute));
    std::string original = joinPath(folderPath, name);
    requireRecordablePath(original);
    FolderHandle folder;
    folder.open(folderPath);

    struct stat item {}, parent {};
    if (fstatat(folder.fd, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
    if (fstat(folder.fd, &parent) != 0) throwErrno();
    // A mount point cannot be renamed away from its own mount.
    if (item.st_dev != parent.st_dev) throwPosix(EBUSY);
    if (S_ISDIR(item.st_mode) && MountTable::holdsMountPoint(original)) throw mountInsideRefusal();

    // The home Trash must be a real folder: followed through a link it would put items
    // elsewhere, and its device would send them to a Trash at the top of their volume.
    struct stat homeTrash {};
    if (lstat(homeTrashDirectory().c_str(), &homeTrash) == 0 && !S_ISDIR(homeTrash.st_mode)) throw trashNotRealRefusal();

    if (!state.homeDevice) state.homeDevice = deviceOfNearest(homeFilesDirectory());
    bool home = item.st_dev == *state.homeDevice;
    std::string topdir = home ? std::string() : mountTop(folderPath, parent.st_dev);
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
    const int files = place->files.fd, info = place->info.fd;
    std::string recordedPath = home ? original : topdir == "/" ? original.substr(1) : original.substr(topdir.size() + 1);

    const std::string contents = TrashInfo::contents(recordedPath, localTimestamp());
    std::optional<InfoDraft> draft;
    constexpr int kAttempts = 200;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string candidate = candidateName(name, attempt, state.random);
        std::string infoName = candidate + kInfoSuffix;
        std::string target = trashDir + "/files/" + candidate;

        // The .trashinfo claims the name first, so two movers never pick the same one.
        if (!draft) draft.emplace(info, contents, state.random);
        if (!draft->claim(infoName)) continue;
        reach(testing::Step::InfoNamed);
        bool keepInfo = false;
        try {
            if (!isMissing(files, candidate)) {
                unlinkat(info, infoName.c_str(), 0);
                draft.reset();
                continue; // an orphan in files/ without its info file
            }
            // The info file's name must be durable before the item moves, so a power loss
            // never leaves an item in files/ that nothing describes.
            place->info.sync();

            // The steps above take time (two flushes); whatever sits at the name now is what
            // the rename takes, so it is checked once more right here.
            if (check) {
                struct stat now {};
                if (fstatat(folder.fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
                check(original, now, false);
            }
            reach(testing::Step::Move);
            if (renameat2(folder.fd, name.c_str(), files, candidate.c_str(), RENAME_NOREPLACE) != 0) {
                if (errno == EEXIST) {
                    unlinkat(info, infoName.c_str(), 0);
                    draft.reset();
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
                    if (fstatat(files, candidate.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
                    check(target, moved, true);
                } catch (...) {
                    reach(testing::Step::MoveBack);
                    if (renameat2(files, candidate.c_str(), folder.fd, name.c_str(), RENAME_NOREPLACE) != 0) {
                        // Its .trashinfo still says truly where it came from.
                        keepInfo = !isMissing(files, candidate);
                        throw swappedItemStays();
                    }
                    folder.sync();
                    throw;
                }
            }
            // The move itself has happened; flushing both folders only makes it durable.
            place->files.sync();
            folder.sync();
            return target;
        } catch (...) {
            int saved = errno;
            if (!keepInfo) unlinkat(info, infoName.c_str(), 0);
            errno = saved;
            throw;
        }
    }
    throwPosix(EEXIST);
}

namespace {

// What the clean-up looks for in one Trash: for each interrupted move, the Path= its info
// file holds and the names its move could have claimed.
struct OrphanSearch {
    struct Move {
        std::string recorded;
        bool describedToo;
        std::function<bool(const struct stat&)> isItem;
    };
    std::vector<Move> moves;
    std::unordered_map<std::string, std::vector<size_t>> numbered; // slot -> moves
    std::unordered_map<std::string, std::vector<size_t>> random;   // stem "/" ext -> moves

    void add(std::string recorded, const std::string& itemName, bool describedToo,
             std::function<bool(const struct stat&)> isItem)
    {
        size_t index = moves.size();
        std::optional<std::mt19937_64> unused;
        for (int attempt = 0; attempt <= kNumberedAttempts; ++attempt) {
            auto& list = numbered[candidateName(itemName, attempt, unused)];
            if (list.empty() || list.back() != index) list.push_back(index);
        }
        auto [stem, ext] = fittedParts(itemName, kRandomSuffixSize);
        random[stem + "/" + ext].push_back(index);
        moves.push_back({std::move(recorded), describedToo, std::move(isItem)});
    }

    // The moves that could have claimed `slot` (names hold no "/", so it parts stem and ext).
    std::vector<size_t> claimants(const std::string& slot) const
    {
        std::vector<size_t> found;
        if (auto it = numbered.find(slot); it != numbered.end()) found = it->second;
        for (size_t at = slot.find(' '); at != std::string::npos; at = slot.find(' ', at + 1)) {
            if (slot.size() < at + kRandomSuffixSize ||
                !isLowerHex(std::string_view(slot).substr(at + 1, kRandomSuffixSize - 1)))
                continue;
            auto it = random.find(slot.substr(0, at) + "/" + slot.substr(at + kRandomSuffixSize));
            if (it != random.end()) found.insert(found.end(), it->second.begin(), it->second.end());
        }
        return found;
    }
};

int removeOrphanInfoIn(const std::string& trashDir, OrphanSearch& search)
{
    // Links above the Trash are fine; its info/ and files/ must be real folders.
    FolderHandle info, files;
    try {
        std::string realTrash = resolvedPath(trashDir);
        info.open(realTrash + "/info");
        files.open(realTrash + "/files");
    } catch (const std::system_error&) {
        return 0;
    }
    FolderNames listing = listFolder(info.fd);
    if (listing.error != 0 && listing.names.empty()) return 0;
    // Only names a move could have claimed (and drafts) are looked at further, so the Trash is
    // read once however many moves were interrupted; each name's claimants are found once.
    struct Candidate {
        const std::string* name;
        bool draft;
        std::string slot;
        std::vector<size_t> claimants;
    };
    std::vector<Candidate> candidates;
    for (const std::string& name : listing.names) {
        if (isDraftName(name)) {
            candidates.push_back({&name, true, {}, {}});
            continue;
        }
        if (name.size() <= kInfoSuffix.size() || !name.ends_with(kInfoSuffix)) continue;
        std::string slot = name.substr(0, name.size() - kInfoSuffix.size());
        std::vector<size_t> claimants = search.claimants(slot);
        if (claimants.empty()) continue;
        // A move whose item another copy moved here under a name of its own left an info file
        // that describes nothing.
        struct stat st {};
        bool looked = false;
        for (size_t i : claimants) {
            OrphanSearch::Move& move = search.moves[i];
            if (move.describedToo || !move.isItem) continue;
            if (!looked && fstatat(files.fd, slot.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;
            looked = true;
            if (move.isItem(st)) move.describedToo = true;
        }
        candidates.push_back({&name, false, std::move(slot), std::move(claimants)});
    }
    std::unordered_map<std::string, bool> described; // recorded -> describedToo
    for (const OrphanSearch::Move& move : search.moves) described[move.recorded] = described[move.recorded] || move.describedToo;
    int removed = 0;
    for (const auto& [namePointer, draft, slot, claimants] : candidates) {
        const std::string& name = *namePointer;
        int fd = openat(info.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        FdCloser held{fd};
        // A move still under way holds the lock.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) continue;
        std::optional<std::string> text;
        try {
            text = RegularFile::readOpened(fd, kInfoLimit);
        } catch (const std::system_error&) {
            continue;
        }
        if (!text) continue;
        std::optional<std::string> path = TrashInfo::pathOf(*text);
        // One that names nothing (a kill left it empty) is removed only under a name such a
        // move could have claimed; one that names the item, only when asked.
        bool ours = !path;
        if (path && draft) {
            auto it = described.find(*path);
            ours = it != described.end() && it->second;
        } else if (path) {
            ours = std::any_of(claimants.begin(), claimants.end(), [&](size_t i) {
                return search.moves[i].describedToo && search.moves[i].recorded == *path;
            });
        }
        if (!ours) continue;
        try {
            if (!draft && !isMissing(files.fd, slot)) continue;
        } catch (const std::system_error&) {
            continue;
        }
        if (unlinkat(info.fd, name.c_str(), 0) == 0) ++removed;
    }
    if (removed) info.sync();
    return removed;
}

} // namespace

int removeOrphanInfo(const std::string& originalPath, bool describedToo)
{
    return removeOrphanInfo(std::vector<InterruptedMove>{{originalPath, describedToo, {}}});
}

int removeOrphanInfo(const std::vector<InterruptedMove>& moves)
{
    std::map<std::string, OrphanSearch> byTrash;
    for (const InterruptedMove& move : moves) {
        std::string filesPath;
        try {
            filesPath = filesDirectoryFor(move.originalPath);
        } catch (const std::system_error&) {
            continue;
        }
        std::string trashDir = parentOf(filesPath);
        // Path= is absolute in the home Trash, relative to the volume's top folder elsewhere.
        std::string recorded = move.originalPath;
        if (filesPath != homeFilesDirectory()) {
            std::string topdir = parentOf(trashDir);
            if (lastComponent(topdir) == ".Trash") topdir = parentOf(topdir);
            std::string prefix = topdir == "/" ? "/" : topdir + "/";
            if (move.originalPath.compare(0, prefix.size(), prefix) != 0) continue;
            recorded = move.originalPath.substr(prefix.size());
        }
        std::string itemName = lastComponent(move.originalPath);
        if (itemName.empty()) continue;
        byTrash[trashDir].add(std::move(recorded), itemName, move.describedToo, move.isItem);
    }
    int removed = 0;
    for (auto& [trashDir, search] : byTrash) removed += removeOrphanInfoIn(trashDir, search);
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

void restoreItem(const std::string& trashPath, const std::string& originalPath, const ItemCheck& check)
{
    std::string absolute = absolutePath(trashPath);
    std::string name = lastComponent(absolute);
    // Links above the Trash are fine; its files/ must be a real folder.
    std::string filesDir = resolvedPath(parentOf(filesDirectoryFor(absolute))) + "/files";
    if (resolvedPath(parentOf(absolute)) != filesDir) throw restoreRefusal("恢复来源不是当前卷的废纸篓。");
    std::string destination = absolutePath(originalPath);
    std::string destinationName = lastComponent(destination);
    if (destinationName.empty() || destinationName == "." || destinationName == "..") throwPosix(EINVAL);

    // Both folders are opened once, without following links; the checks and the rename below
    // go through them, so neither can be swapped for a link to somewhere else meanwhile.
    FolderHandle files, folder;
    files.open(filesDir);
    try {
        folder.open(parentOf(destination));
    } catch (const std::system_error& error) {
        // A link on the way: the old folder is not where it was.
        if (error.code().value() == ENOTDIR || error.code().value() == ELOOP)
            throw restoreRefusal("原目录已移动、删除或变化，请在 Finder 中手动恢复。");
        throw;
    }
    struct stat item {};
    if (fstatat(files.fd, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) throwErrno();
    if (check) check(joinPath(filesDir, name), item, false);
    if (!isMissing(folder.fd, destinationName))
        throw restoreRefusal("原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。");

    reach(testing::Step::Restore);
    // RENAME_NOREPLACE also counts a dangling link as occupying the place; a file system
    // that cannot promise this fails with EINVAL and nothing is moved.
    if (renameat2(files.fd, name.c_str(), folder.fd, destinationName.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) throw restoreRefusal("原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。");
        throwErrno();
    }
    reach(testing::Step::Restored);
    // The item is back; a stale info file is only cosmetic, so its removal is best effort.
    try {
        FolderHandle info;
        info.open(parentOf(filesDir) + "/info");
        unlinkat(info.fd, (name + kInfoSuffix).c_str(), 0);
    } catch (const std::system_error&) {
    }
}

} // namespace Trash
