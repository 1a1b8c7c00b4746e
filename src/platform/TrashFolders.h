#pragma once
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>

// What the move, the restore and the start-up clean-up of the Trash share: the folders held
// open and the names an info file may take. Not for use outside src/platform/Trash*.cpp.
namespace Trash::detail {

extern const std::string kInfoSuffix;
constexpr int kNumberedAttempts = 8;     // "name 2.ext" ... "name 9.ext"
constexpr size_t kRandomSuffixSize = 17; // " " and 16 hexadecimal digits

// The stem and extension of `name`, cut so that the stem, a suffix of `suffixSize` bytes, the
// extension and ".trashinfo" fit in one file name, never splitting a character.
std::pair<std::string, std::string> fittedParts(const std::string& name, size_t suffixSize);
// The name to try on attempt `n`: the item's own name first, then "stem 2.ext" ... and
// finally random suffixes.
std::string candidateName(const std::string& name, int attempt, std::optional<std::mt19937_64>& random);
bool isLowerHex(std::string_view text);
// An info file written where the file system has no unnamed files, before it got its name.
bool isDraftName(const std::string& name);
// Nothing at `name` in the folder; throws for any failure but ENOENT.
bool isMissing(int dir, const std::string& name);

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
};
Identity identityOf(const struct stat& st);

// An open folder, looked up once; everything later acts relative to its descriptor.
struct FolderHandle {
    int fd = -1;
    Identity identity;
    uid_t owner = 0;
    FolderHandle() = default;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    ~FolderHandle() { reset(); }
    void reset();
    // The folder at an absolute path, opened one component at a time without following any
    // link (a link on the way fails with ENOTDIR).
    void open(const std::string& path);
    // The folder `name` in the open folder `dir`, not followed if it is a link (ELOOP or
    // ENOTDIR); made first with mode 0700 when `create` and missing.
    void openIn(int dir, const std::string& name, bool create);
    // Best effort: once a rename has happened, a failed flush only weakens durability.
    void sync() const;
};

// A Trash folder with its files/ and info/. Its parent is reached like any folder of an item
// (resolved, then opened component by component); the Trash itself is opened relative to
// the parent and files/ and info/ relative to it, none of them followed if it is a link.
struct TrashFolders {
    std::string parentPath; // resolved
    std::string name;       // "Trash", "<uid>" in ".Trash", or ".Trash-<uid>"
    FolderHandle trash, files, info;

    std::string path() const;
    // Takes the Trash folder at `trashDir` as it is found now: the path above it resolved.
    void locate(const std::string& trashDir);
    // Opens all three; when `create`, those missing are made first. `ownedOnly` refuses
    // (EPERM) a Trash folder that is not the user's own. `infoOptional` leaves info closed
    // (fd -1) when it cannot be opened.
    void open(bool create, bool ownedOnly = false, bool infoOptional = false);
    // Whether the folders at these names now are still the ones held open.
    bool current() const;
};

} // namespace Trash::detail
