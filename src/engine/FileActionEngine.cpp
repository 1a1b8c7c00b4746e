#include "engine/FileActionEngine.h"
#include "platform/PathText.h"

#include "engine/CancellationError.h"
#include "engine/Dates.h"
#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/TextValidity.h"
#include "platform/Trash.h"
#include "services/InstalledAppInventory.h"
#include "services/RelatedItem.h"

#include <cerrno>
#include <chrono>
#include <sys/stat.h>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

const char kCheckingDuplicates[] = "正在复核重复内容";
const char kPreparedDetail[] = "准备移入废纸篓";
const char kCopyChanged[] = "副本内容已变化，请重新检测。";

// Refusals of a move whose item was replaced or changed in the last moments before it.
const char kMovedFileChanged[] = "文件已变化、已移动或超出扫描范围，请重新扫描。";
const char kMovedAppChanged[] = "应用包已变化，请重新扫描并确认。";
const char kMovedItemChanged[] = "关联文件已变化，请重新扫描并确认。";

const char kNotRestorable[] = "此记录无法自动恢复，请在 Finder 废纸篓检查。";
const char kSourceMissing[] = "废纸篓来源不存在或已被替换为符号链接。";
const char kSourceOutside[] = "恢复来源不是当前卷的废纸篓。";
const char kFileChanged[] = "废纸篓中的文件已变化或不再存在，请在 Finder 中检查。";
const char kAppChanged[] = "废纸篓应用已变化，请在 Finder 中检查。";
const char kFolderChanged[] = "关联目录已变化，请在 Finder 中检查。";
const char kPlaceOccupied[] = "原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。";
const char kParentMoved[] = "原目录已移动、删除或变化，请在 Finder 中手动恢复。";

TessynError restoreError(const char* text) { return TessynError("TessynRestore", 1, text); }

// What the pre-pass found out about a selected copy of a duplicate group.
struct DuplicateCheck {
    std::optional<std::string> block;   // the group may not lose this file
    const DuplicateGroup* group = nullptr;
    const FileEntry* keeper = nullptr;  // the copy that stays, when the move may go on
};

} // namespace

namespace FileActionEngine {

std::vector<Operation> execute(const std::vector<FileEntry>& files, const std::string& root,
                               const std::vector<DuplicateGroup>& groups,
                               const std::unordered_set<std::string>& selection, const ProgressHandler& progress,
                               const TrashFunction& trash, OperationJournal* journal, std::stop_token stop,
                               const CountHandler& counted)
{
    std::vector<const FileEntry*> targets;
    for (const FileEntry& file : files)
        if (selection.count(file.path)) targets.push_back(&file);
    const auto total = static_cast<int64_t>(targets.size());
    auto report = [&](const ActionProgress& value) {
        if (progress) progress(value);
    };
    report({0, total, kCheckingDuplicates});

    std::unordered_map<std::string, DuplicateCheck> checks;
    for (const DuplicateGroup& group : groups) {
        if (stop.stop_requested()) return {};
        std::optional<std::string> text = DuplicateEngine::deletionError(group, selection, root, stop);
        const FileEntry* keeper = nullptr;
        for (const FileEntry& file : group.files) {
            if (!selection.count(file.path)) {
                keeper = &file;
                break;
            }
        }
        for (const FileEntry& file : group.files) {
            if (!selection.count(file.path)) continue;
            if (text) checks[file.path] = DuplicateCheck{text, nullptr, nullptr};
            else if (keeper) checks[file.path] = DuplicateCheck{std::nullopt, &group, keeper};
        }
    }

    std::optional<Clock::time_point> lastReport; // none: the first record always reports
    MoveRun run(journal, trash);
    std::vector<Operation>& records = run.records();
    records.reserve(targets.size());
    for (const FileEntry* target : targets) {
        if (stop.stop_requested()) break;
        run.move(*target, root, [&] {
            auto check = checks.find(target->path);
            if (check == checks.end()) return;
            if (check->second.block) throw TessynError("Tessyn", 2, *check->second.block);
            if (check->second.keeper) {
                FileEngine::validate(*check->second.keeper, root);
                if (DuplicateEngine::digest(*target, root, stop) != check->second.group->id)
                    throw TessynError("Tessyn", 3, kCopyChanged);
            }
        }, stop);

        if (counted) counted(static_cast<int64_t>(records.size()));
        auto now = Clock::now();
        if (!lastReport || now - *lastReport >= kProgressInterval || static_cast<int64_t>(records.size()) == total) {
            report({static_cast<int64_t>(records.size()), total, std::string(target->name())});
            lastReport = Clock::now();
        }
    }
    run.settle();
    return std::move(records);
}

MoveRun::MoveRun(OperationJournal* journal, TrashFunction trash) : moves_(journal, records_), trash_(std::move(trash)) {}

void MoveRun::move(const FileEntry& file, const std::string& root, const std::function<void()>& check,
                   std::stop_token stop)
{
    size_t before = records_.size();
    try {
        // The journal and the history hold UTF-8 text only; such a file cannot be recorded.
        Trash::requireRecordablePath(file.path);
        if (check) check();
        if (stop.stop_requested()) throw CancellationError();
        FileEngine::validate(file, root);

        Operation prepared;
        prepared.id = newUUID();
        prepared.date = dateNow();
        prepared.path = file.path;
        prepared.size = file.size;
        prepared.success = false;
        prepared.detail = kPreparedDetail;
        prepared.resourceID = file.resourceID();
        prepared.modified = file.modified;
        // Records "moving" with the outcome of the previous move (its failure is the
        // refusal below), then moves; this outcome goes with the next move.
        moves_.move(prepared, [&]() -> std::optional<std::string> {
            if (trash_) {
                trash_(file.path);
                return std::nullopt;
            }
            return mover_.move(file.path, sameItem(prepared));
        });
        records_.back().detail = displayUtf8(records_.back().detail);
    } catch (const std::exception& error) {
        if (records_.size() == before) records_.push_back(refusedRecord(file, errorDescription(error)));
    } catch (...) {
        if (records_.size() == before) records_.push_back(refusedRecord(file, errorDescription(posixError(EIO))));
    }
}

void restore(const Operation& operation)
{
    if (!operation.success || operation.restoredAt || !operation.trashPath || !operation.resourceID)
        throw restoreError(kNotRestorable);
    const std::string& trashPath = *operation.trashPath;
    const std::string& homePath = operation.path;

    std::string trashRoot = FileEngine::canonicalURL(Trash::filesDirectoryFor(trashPath));

    struct stat item {};
    if (lstat(trashPath.c_str(), &item) != 0 || S_ISLNK(item.st_mode)) throw restoreError(kSourceMissing);

    std::string source = FileEngine::canonicalURL(trashPath);
    std::string prefix = trashRoot == "/" ? "/" : trashRoot + "/";
    if (source.size() <= prefix.size() || source.compare(0, prefix.size(), prefix) != 0)
        throw restoreError(kSourceOutside);

    if (!operation.kind) {
        std::optional<FileEntry> entry = FileEngine::snapshot(trashPath);
        if (!entry || entry->resourceID() != *operation.resourceID || entry->size != operation.size ||
            (operation.modified && entry->modified != *operation.modified))
            throw restoreError(kFileChanged);
    } else if (*operation.kind == "application") {
        InstalledApp app = MaintenanceEngine::app(source, {trashRoot});
        if (app.identity != *operation.resourceID || !operation.bundleID || *operation.bundleID != app.bundleID ||
            !operation.modified || *operation.modified != app.modified)
            throw restoreError(kAppChanged);
    } else if (*operation.kind == "related-directory") {
        std::string identity = identityString(item);
        if (!S_ISDIR(item.st_mode) || identity != *operation.resourceID || !operation.modified ||
            *operation.modified != dateFromTimespec(item.st_mtim) || !operation.treeSignature ||
            RelatedItem::treeSignature(trashPath, {}, identity) != *operation.treeSignature)
            throw restoreError(kFolderChanged);
    } else {
        throw restoreError(kFileChanged);
    }

    struct stat occupant {};
    if (lstat(homePath.c_str(), &occupant) == 0 || errno != ENOENT) throw restoreError(kPlaceOccupied);

    std::string parent = parentOf(homePath);
    struct stat folder {};
    if (stat(parent.c_str(), &folder) != 0) throw restoreError(kParentMoved);
    if (FileEngine::canonicalURL(parent) != parent) throw restoreError(kParentMoved);

    // A rename that never replaces: whatever appeared at the old place meanwhile stays. What
    // it moves is checked once more through the Trash folder's descriptor: the item checked
    // above, by identity (and a plain file by size and date too).
    const char* changed = !operation.kind ? kFileChanged : *operation.kind == "application" ? kAppChanged : kFolderChanged;
    try {
        Trash::restoreItem(trashPath, homePath, [&](const std::string&, const struct stat& now, bool) {
            if (S_ISLNK(now.st_mode)) throw restoreError(kSourceMissing);
            if (identityString(now) != *operation.resourceID ||
                (operation.modified && *operation.modified != dateFromTimespec(now.st_mtim)) ||
                (!operation.kind && (!S_ISREG(now.st_mode) || now.st_size != operation.size)))
                throw restoreError(changed);
        });
    } catch (const Trash::RestoreRefusal& refusal) {
        using Reason = Trash::RestoreRefusal::Reason;
        throw restoreError(refusal.reason() == Reason::OutsideTrash ? kSourceOutside
                           : refusal.reason() == Reason::Occupied   ? kPlaceOccupied
                                                                    : kParentMoved);
    }
}

std::optional<std::string> restoreTask(const Operation& operation, OperationJournal& journal,
                                       const std::vector<Operation>& alsoBack)
{
    OperationJournal::RestoreMark mark;
    try {
        OperationJournal::whenFree([&] { mark = journal.beginRestore(operation); });
    } catch (const std::exception& error) {
        return errorDescription(error);
    }
    try {
        restore(operation);
    } catch (const std::exception& error) {
        // Nothing moved, so nothing is left to settle: a receipt here would only come back
        // at the next start, also after the history was cleared. When the undo cannot be
        // written, "restoring" stays and the next start asks the user to check.
        try {
            OperationJournal::whenFree([&] { journal.abandonRestore(mark); });
        } catch (const std::exception&) {
        }
        return errorDescription(error);
    }
    std::vector<OperationJournal::Entry> receipts;
    const double restoredAt = dateNow();
    receipts.push_back({operation, OperationJournal::kFinished});
    for (const Operation& record : alsoBack) receipts.push_back({record, OperationJournal::kFinished});
    for (OperationJournal::Entry& receipt : receipts) receipt.operation.restoredAt = restoredAt;
    try {
        OperationJournal::whenFree([&] { journal.record(receipts); });
    } catch (const std::exception& error) {
        return errorDescription(error);
    }
    return std::nullopt;
}

Trash::ItemCheck sameItem(const Operation& prepared)
{
    return [prepared](const std::string& path, const struct stat& item, bool moved) {
        const char* refusal = prepared.kind == "application" ? kMovedAppChanged
                              : prepared.bundleID              ? kMovedItemChanged
                                                               : kMovedFileChanged;
        // The record's path is its resolved form: any other path means a folder on the way
        // became a link, and what it leads to may be another name of this very file.
        if (!moved && path != prepared.path) throw TessynError("Tessyn", 1, refusal);
        std::string identity = identityString(item);
        if (!prepared.resourceID || identity != *prepared.resourceID ||
            (prepared.modified && *prepared.modified != dateFromTimespec(item.st_mtim)))
            throw TessynError("Tessyn", 1, refusal);
        if (!prepared.kind && (!S_ISREG(item.st_mode) || item.st_size != prepared.size))
            throw TessynError("Tessyn", 1, refusal);
        // Only a folder whose contents are as signed can be restored later.
        if (moved && prepared.kind == "related-directory" && prepared.treeSignature) {
            std::string signature;
            try {
                signature = RelatedItem::treeSignature(path, {}, identity);
            } catch (const std::exception&) {
            }
            if (signature != *prepared.treeSignature) throw TessynError("Tessyn", 1, refusal);
        }
    };
}

void removeInterruptedInfo(const std::vector<Operation>& prepared)
{
    // An info file that describes an item goes only while the item is still at its place;
    // one that names nothing describes no item anyway.
    std::vector<Trash::InterruptedMove> moves;
    moves.reserve(prepared.size());
    for (const Operation& move : prepared) {
        struct stat item {};
        bool stayed = move.resourceID && lstat(move.path.c_str(), &item) == 0 &&
                      identityString(item) == *move.resourceID;
        Trash::InterruptedMove interrupted{move.path, unixTimeFromDate(move.date), stayed, {}};
        // Moved to the Trash by another running copy, the item is accounted for there too.
        if (!stayed && move.resourceID)
            interrupted.isItem = [id = *move.resourceID](const struct stat& st) { return identityString(st) == id; };
        moves.push_back(std::move(interrupted));
    }
    try {
        Trash::removeOrphanInfo(moves);
    } catch (const std::exception&) {
        // Only cosmetic: the items themselves never left their places.
    }
}

Operation refusedRecord(const FileEntry& file, const std::string& text)
{
    return failedOperation(file.path, file.size, text);
}

} // namespace FileActionEngine
