#pragma once
#include "engine/Operation.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The crash-safe record of moves in progress, "pending-actions.json" beside the history.
// Every move into or out of the Trash is written here before it starts and after it ends;
// the history save drops what the saved history settles. One instance per model, shared by
// all threads. A journal file that cannot be decoded makes every write throw and is never
// overwritten.
class OperationJournal {
public:
    static constexpr const char* kMoving = "moving";
    static constexpr const char* kRestoring = "restoring";
    static constexpr const char* kFinished = "finished";

    struct Entry {
        Operation operation;
        std::string phase;
        bool operator==(const Entry&) const = default;
    };

    explicit OperationJournal(std::string path);
    OperationJournal(const OperationJournal&) = delete;
    OperationJournal& operator=(const OperationJournal&) = delete;

    const std::string& path() const { return path_; }

    // Every operation below takes the in-process lock, then the lock file, and throws the
    // first error it meets (lock, read, decode, encode or write); none retries.

    // The entries in file order; [] when there is no file (and no lock file is created then).
    std::vector<Entry> entries();
    // Drops every entry of the operation's id and appends a new entry at the end.
    void record(const Operation& operation, const std::string& phase);
    // Drops the entries the saved history settles. Always writes, also when nothing changed.
    void acknowledge(const std::vector<Operation>& history);
    // Keeps only the "finished" entries. Always writes.
    void discardPending();

    // A journalled move: records "moving" (its failure is rethrown and the body does not
    // run), runs the body, which returns the trash path or throws, and records "finished".
    // Never throws otherwise: the result says what happened. journal may be null.
    static Operation move(const Operation& prepared, OperationJournal* journal,
                          const std::function<std::optional<std::string>()>& body);

private:
    std::vector<Entry> readLocked() const;
    void writeLocked(const std::vector<Entry>& entries) const;

    std::string path_;
    std::mutex lock_;
};

// The journal file's JSON: an array of {"operation", "phase"} objects. Throws the store's
// format error for anything else.
std::vector<OperationJournal::Entry> decodeJournal(std::string_view text);
