#pragma once
#include "engine/AtomicFile.h"
#include "engine/Sha256.h"
#include "engine/Operation.h"
#include "engine/OperationJournal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

// The history file "operations.json" and the list it holds, newest first. The model owns
// one and uses it on the main thread only: it changes history() in place (insert, stamp
// restoredAt, clear) and calls saveHistory, the one writer of the file.
class HistoryStore {
public:
    // journal: the model's journal ("pending-actions.json" in the same folder).
    HistoryStore(std::string historyPath, std::shared_ptr<OperationJournal> journal);

    const std::string& historyPath() const { return historyPath_; }
    const std::shared_ptr<OperationJournal>& journal() const { return journal_; }

    std::vector<Operation>& history() { return history_; }
    const std::vector<Operation>& history() const { return history_; }

    // True while the history file that failed to load has not yet been copied aside.
    bool needsBackup() const { return needsBackup_; }

    // Start-up load, newest first (a file in that order keeps its order). A missing file gives
    // an empty history. A file that cannot be read or decoded gives an empty history, sets
    // needsBackup and returns the message for the user:
    // "操作记录无法读取；下次保存前会保留原文件副本。" followed by the error's description.
    std::optional<std::string> load();

    // Writes the history under the history lock file: copies an unreadable file aside first
    // ("operations-unreadable-<UUID>.json", then no merge), else, unless replacing, merges
    // records written by another running copy, if there is a file, and sorts newest first; writes
    // atomically; then lets the journal drop what the history settles. Returns nothing on
    // success, else the failing error's description.
    std::optional<std::string> saveHistory(bool replacing);

    // Forgets the history: `kept` (records a running trash run has already settled) replaces
    // it and the file, as a replacing save does, but no file written keeps a record cleared:
    // neither the store's spare or temporaries, nor the journal, which drops their receipts.
    std::optional<std::string> clear(std::vector<Operation> kept);

    // How many moves a long run lets its journal hold between two history saves: about the
    // square root of the history. The journal stays short (each of its rewrites costs its
    // length) while the history, rewritten whole at each save, is not rewritten every file.
    static int64_t checkpointInterval(size_t records);

    // Whether the last save wrote the history file, also when the journal step after it failed.
    bool lastSaveWritten() const { return lastSaveWritten_; }

private:
    // Copies the history file aside; false when there is no file to copy.
    bool copyUnreadableAside();
    void mergeFromFile(const std::string& contents);
    // Adds the file's records that are neither held nor `forgotten` (saved by another copy).
    void keepUnseen(const std::unordered_set<std::string>& forgotten);
    // By date, newest first; equal dates keep their order.
    void sortNewestFirst();
    // The save; `forgotten`: ids of cleared records, see clear.
    std::optional<std::string> save(bool replacing, const std::unordered_set<std::string>* forgotten);

    std::string historyPath_;
    std::shared_ptr<OperationJournal> journal_;
    std::vector<Operation> history_;
    bool needsBackup_ = false;
    bool lastSaveWritten_ = false;
    // The file as this store last loaded or wrote it, and what it held (id, restore date) in
    // file order: while that file is still there byte for byte and the list still holds all of
    // it, a merge would add nothing, so a save need not decode the file again. Gives the
    // file's text.
    std::optional<std::string> stillSeen() const;
    void remember(std::optional<AtomicFile::Version> version, std::string_view text,
                  const std::vector<Operation>& records, bool written);
    // The text of the list, reusing `previous` (the text last written) where it still holds.
    std::string encodeAfter(const std::optional<std::string>& previous) const;
    std::optional<AtomicFile::Version> seen_;
    std::optional<Sha256::Digest> seenDigest_;
    std::vector<std::pair<std::string, std::optional<double>>> seenRecords_;
    // Whether the file seen is this store's own text, which encodeAfter may reuse; a loaded
    // file may come from an older version, in another form.
    bool seenWritten_ = false;
};

// The history file's JSON: an array of records.
std::string encodeHistory(const std::vector<Operation>& history);
std::vector<Operation> decodeHistory(std::string_view text);
