#pragma once
#include "engine/DuplicateReport.h"
#include "engine/FileEntry.h"
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "platform/Trash.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

// Progress of a running file or maintenance action.
struct ActionProgress {
    int64_t completed = 0; // items dealt with so far
    int64_t total = 0;     // items in the run
    std::string current;   // short text shown under the progress bar
    bool operator==(const ActionProgress&) const = default;
};

// Moves scanned files to the Trash under the journal and puts trashed items back.
namespace FileActionEngine {

using ProgressHandler = std::function<void(const ActionProgress&)>;
// A replacement for the move to the Trash; it gets the file's path and throws on failure.
// Records made through it carry no trash path.
using TrashFunction = std::function<void(const std::string& path)>;
// Told, on the running thread, how many files the run has dealt with after each one; the
// model's history checkpoints follow it, whatever the pace of the progress reports.
using CountHandler = std::function<void(int64_t completed)>;

// Moves scanned files to the Trash one at a time as one run: one journal sequence and one
// Trash mover serve every file, so each file costs one journal write (see
// OperationJournal::MoveSequence). Records come in the order the files were done; the last
// one's outcome reaches the journal with the next move or settle(), which may still add a
// receipt failure to its detail.
class MoveRun {
public:
    explicit MoveRun(OperationJournal* journal, TrashFunction trash = {});
    MoveRun(const MoveRun&) = delete;
    MoveRun& operator=(const MoveRun&) = delete;

    // Moves one file after `check` (which refuses it by throwing) and after checking that it
    // is still the scanned file below `root`; appends its record, a refusal when anything
    // fails (a stop request refuses it too). Never throws.
    void move(const FileEntry& file, const std::string& root, const std::function<void()>& check = {},
              std::stop_token stop = {});
    // Writes the outcome of the last move, if not written yet. Never throws.
    void settle() { moves_.settle(); }
    // How many records, from the first, are final (see MoveSequence::settled).
    size_t settled() const { return moves_.settled(); }
    std::vector<Operation>& records() { return records_; }

private:
    std::vector<Operation> records_;  // before moves_, which refers to it
    OperationJournal::MoveSequence moves_;
    Trash::Mover mover_;
    TrashFunction trash_;
};

// Moves the selected files of `files` (in list order) to the Trash, one record per file
// dealt with. Each file is checked again first: a selected duplicate must leave an unchanged
// copy of its group and still hold the group's content, and the file must still be the
// scanned file below `root`. Every move is journalled "moving" before and "finished" after.
// Never throws: refusals and failures are records with success false. A stop request ends
// the run with the records made so far (none while duplicate groups are being re-checked).
// Progress: (0, total, "正在复核重复内容") first, then at most every 0.1 s and after the
// last file. The journal write that announces a move also settles the one before it.
std::vector<Operation> execute(const std::vector<FileEntry>& files, const std::string& root,
                               const std::vector<DuplicateGroup>& groups,
                               const std::unordered_set<std::string>& selection,
                               const ProgressHandler& progress = {}, const TrashFunction& trash = {},
                               OperationJournal* journal = nullptr, std::stop_token stop = {},
                               const CountHandler& counted = {});

// Puts a trashed item back at `operation.path` after proving that the item in the Trash is
// the one that was moved (by kind: plain file, "application", "related-directory"), that it
// lies in its volume's Trash, that nothing occupies the old place and that the old folder
// is where it was. Never overwrites. Throws a "TessynRestore" refusal (code 1), or the
// platform's or a consulted engine's error unchanged.
void restore(const Operation& operation);

// The restore as the model runs it in the background: journals "restoring" (after a
// "finished" receipt of that record, which it keeps, see OperationJournal::beginRestore), restores,
// then journals "finished" with restoredAt stamped. A refused restore leaves the journal as
// it found it. Returns the text of the first failure, or none when the item is back and the
// journal says so; the model then stamps its own history record. A failed "restoring" write
// means nothing was touched. `alsoBack`: other records of the same item in the same place of
// the Trash (moved again after it came back some other way), whose item the restore takes
// back too; their receipts, also with restoredAt, go in the same write.
std::optional<std::string> restoreTask(const Operation& operation, OperationJournal& journal,
                                       const std::vector<Operation>& alsoBack = {});

// The check the move to the Trash runs right before and right after its rename: the item must
// still be the one the prepared record describes (identity and modification date; a plain
// file also its size; a related folder, once in the Trash, also its tree signature), and
// before the rename be found at the record's path (resolved, as recorded), else the move is
// refused with the text of its kind.
Trash::ItemCheck sameItem(const Operation& prepared);

// For the moves the journal left "moving": removes the .trashinfo files the interrupted moves
// may have written without moving their items, which file managers would list as broken
// Trash entries: one that describes an item when the item is still at its place with its
// recorded identity, or in the Trash under another name its move could have claimed (another
// running copy moved it), and one left empty (by older versions) under a name the move could
// have claimed. Only what that very move wrote goes: a describing one's DeletionDate=, an
// empty one's modification time, must fit the record's date; another tool's info file,
// written first and its item moved after, stays. Each Trash is read once for all of them.
// Never throws.
void removeInterruptedInfo(const std::vector<Operation>& prepared);

// A record of a file refused before its move: it carries no identity, since nothing of the
// file was taken for the move. Texts are made storable so the history stays valid JSON.
Operation refusedRecord(const FileEntry& file, const std::string& text);

} // namespace FileActionEngine
