#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

// The user's Trash as the freedesktop.org Trash specification lays it out, so that file
// managers and trash-cli see and restore what Tessyn moved. Items are only ever renamed,
// never copied: a move that cannot be a rename fails and leaves the item where it was.
namespace Trash {

// Moves the item (a link is moved itself, not its target) into the Trash of its volume and
// returns its new path in that Trash's files/ folder. The home Trash takes items on its own
// device, other volumes use their top directory's Trash. The Trash folder is opened relative
// to the folder holding it, and files/ and info/ relative to it, none followed if a link.
// Throws std::system_error with the errno of the failing call (EXDEV when the item lies on
// another mount of the Trash's file system), or TessynError for a refusal: a path that is not
// valid UTF-8, a Trash folder that is not a real folder, a folder holding a mount point, an
// item swapped in at the rename that cannot go back; and whatever `check` throws. On failure
// the item stays in place and no .trashinfo is left behind, but for that swapped item.
//
// `check`, when given, is called with the item's path and lstat right before the rename
// (moved false) and again with its path in files/ right after it (moved true), and refuses by
// throwing. A refusal after the
// rename puts the item back without replacing anything and removes its .trashinfo; when it
// cannot go back it stays in the Trash, described by its .trashinfo, and a TessynError says so.
using ItemCheck = std::function<void(const std::string& path, const struct stat& item, bool moved)>;
std::string trashItem(const std::string& path, const ItemCheck& check = {});

// Throws TessynError when the path is not valid UTF-8: the journal and the history hold
// UTF-8 text only, so a move of such an item could not be recorded.
void requireRecordablePath(const std::string& path);

// trashItem for a run of items: the Trash folders found for the first item of a volume are
// kept open with their identity, and for the next ones only that identity is checked, the
// Trash folder against what its parent now holds under its name and files/ and info/ against
// what it holds (a folder replaced meanwhile fails the check and is looked up afresh); any
// failure drops what was kept, so the next item looks everything up again. One instance per
// thread.
class Mover {
public:
    Mover();
    ~Mover();
    Mover(const Mover&) = delete;
    Mover& operator=(const Mover&) = delete;
    std::string move(const std::string& path, const ItemCheck& check = {});

private:
    struct State;
    std::string moveOnce(const std::string& path, const ItemCheck& check);
    State* state_;
};

// Moves a trashed item back to where it came from, then removes its .trashinfo. Never
// replaces anything at originalPath (not even a dangling link) and refuses when the file
// system cannot promise that. `check`, when given, is called with the item's path and lstat
// right before the rename (moved false) and refuses by throwing. The Trash folder and the
// old folder are each opened once, without following links, and the check and the rename go
// through them, and so does the removal of the info file. Refusals are RestoreRefusal, which
// the caller words; other failures are std::system_error with errno.
class RestoreRefusal : public std::runtime_error {
public:
    enum class Reason { OutsideTrash, Occupied, FolderChanged };
    explicit RestoreRefusal(Reason reason);
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};
void restoreItem(const std::string& trashPath, const std::string& originalPath, const ItemCheck& check = {});

// Removes the info files that an interrupted move of the item at `originalPath` (canonical)
// wrote and left without its item: not locked by a move still under way, no item in files/
// under their name, and a name that move could have claimed (or a draft's). Only what that
// very move wrote goes, modified at a time that fits `movedAt` (Unix seconds, taken right
// before the move): one describing the item with a DeletionDate= that fits it in some time
// zone, when `describedToo`, and one that names nothing (empty, or without a readable Path=:
// older versions could leave such). Returns how many went.
int removeOrphanInfo(const std::string& originalPath, double movedAt, bool describedToo = true);

// The same for many interrupted moves at once: each Trash's info/ is listed once and only
// names one of the moves could have claimed are opened, however many moves there are.
// `isItem`, when given, recognises the item: found in files/ under another name its move
// could have claimed (another running copy moved it), the item is accounted for, and info
// files describing it go as with `describedToo`.
struct InterruptedMove {
    std::string originalPath;
    double movedAt = 0;
    bool describedToo = true;
    std::function<bool(const struct stat&)> isItem;
};
int removeOrphanInfo(const std::vector<InterruptedMove>& moves);

// Test seam, unused by the program. `atStep` is called, on the moving thread, right before a
// Trash folder is opened (by a move, a restore or the clean-up), right after an info file
// gets its name, right before the rename of a move, of a move back and of a restore, and
// right after a restore's rename. `namedInfoDrafts` writes info files as on a
// file system without unnamed files.
namespace testing {
enum class Step { OpenTrash, InfoNamed, Move, MoveBack, Restore, Restored };
extern std::function<void(Step)> atStep;
extern bool namedInfoDrafts;
} // namespace testing

// The files/ folder of the Trash that holds, or would hold, items of the volume on which
// `path` lies. Creates nothing; the folder need not exist.
std::string filesDirectoryFor(const std::string& path);

// $XDG_DATA_HOME/Trash/files (default ~/.local/share/Trash/files); creates nothing.
std::string homeFilesDirectory();

// The device and inode of the home Trash folder, of the Trash of `path`'s volume, and of
// their files/ and info/, those that exist: a scan knows them wherever they show up (a bind
// mount shows them under another path).
std::vector<std::pair<dev_t, ino_t>> folderIdentities(const std::string& path);

} // namespace Trash
