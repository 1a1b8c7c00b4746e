#pragma once
#include "engine/AtomicFile.h"
#include "engine/Operation.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
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
    // first error it meets (lock, read, decode, encode or write). None waits for a lock file
    // another copy holds: every write goes through whenFree, which does.

    // The entries in file order; [] when there is no file (and no lock file is created then).
    std::vector<Entry> entries();
    // Drops every entry of the operation's id and appends a new entry at the end.
    void record(const Operation& operation, const std::string& phase);
    // The same for several operations in one write, appended in the order given.
    void record(const std::vector<Entry>& changes);
    // Drops the entries the saved history settles. Always writes, also when nothing changed.
    // After a clear, `forgotten` holds the ids of the cleared records: their receipts go
    // too, and no earlier version of the file is kept (AtomicFile::Earlier::forgotten).
    void acknowledge(const std::vector<Operation>& history,
                     const std::unordered_set<std::string>* forgotten = nullptr);
    // Keeps only the "finished" entries. Always writes.
    void discardPending();

    // What a restore wrote before it began, and what it replaced.
    struct RestoreMark {
        bool written = false;                         // whether "restoring" was written
        Entry entry;                                  // that entry, as stored
        std::vector<std::pair<size_t, Entry>> replaced; // the entries of its id, with their places
    };
    // Records "restoring" for the operation, replacing any entry of its id but a "finished"
    // one: a receipt the history may not hold yet (a move's outcome, a restore's date) is kept
    // where it is rather than replaced by an entry that says less, and "restoring" goes after
    // it. Throws as record does.
    RestoreMark beginRestore(const Operation& operation);
    // After a refused restore: removes the "restoring" entry beginRestore wrote and puts back
    // what it replaced, where it stood, while that entry is still there; anything written
    // since stays.
    void abandonRestore(const RestoreMark& mark);

    // Marks the "moving" entries of these interrupted moves, each in its place and only while
    // it is still the entry given, as dealt with by the start-up clean-up
    // (Operation::orphanInfoChecked). Writes only when it marked one.
    void markOrphanInfoChecked(const std::vector<Operation>& moves);

    // Runs one write (or read) of the journal. Another running copy holds the lock file for
    // one write of its own at a time, so while it does, and `patient`, the call is tried again
    // every 10 ms for up to two seconds, holding nothing else; then, or at once when not
    // patient, EWOULDBLOCK is thrown. Other errors are thrown at once.
    static void whenFree(const std::function<void()>& call, bool patient = true);

    // A journalled move: records "moving" (its failure is rethrown and the body does not
    // run), runs the body, which returns the trash path or throws, and records "finished".
    // Never throws otherwise: the result says what happened. journal may be null.
    static Operation move(const Operation& prepared, OperationJournal* journal,
                          const std::function<std::optional<std::string>()>& body);

    // A run of journalled moves in which one write both settles a move ("finished") and
    // announces the next ("moving"), so each move costs one journal write, and at any moment
    // at most the last move is left "moving" without its outcome.
    class MoveSequence {
    public:
        // Results go to the end of `records`; journal may be null.
        MoveSequence(OperationJournal* journal, std::vector<Operation>& records);
        MoveSequence(const MoveSequence&) = delete;
        MoveSequence& operator=(const MoveSequence&) = delete;
        // Settles what is still open; a failure there is left in the record's detail.
        ~MoveSequence();

        // As move() below, but the outcome of the previous move is written together with
        // "moving" of this one, and this outcome only with the next move or settle(). A
        // failed write refuses this move (rethrown, body not run) after settling the
        // previous one on its own. The result is appended to the records.
        void move(const Operation& prepared, const std::function<std::optional<std::string>()>& body);
        // Writes the outcome of the last move, if not written yet. Never throws.
        void settle();
        // How many records, from the first, have their outcome written (or never had a
        // journal entry): these are final.
        size_t settled() const { return open_ ? *open_ : records_.size(); }

    private:
        OperationJournal* journal_;
        std::vector<Operation>& records_;
        std::optional<size_t> open_; // the record whose outcome is not yet in the journal
        // Whether writes wait for a lock another copy holds: not after a wait that ran out
        // (a stopped copy may hold it for good), until a write goes through again.
        bool patient_ = true;
        void write(const std::vector<Entry>& changes);
    };

private:
    // An entry with its JSON text, so a write encodes only what it adds.
    struct Stored {
        Entry entry;
        std::string text;
    };
    // The entries on disk: those this instance last read or wrote while the file still
    // holds that very text, else decoded afresh.
    std::vector<Stored>& loadLocked();
    // The same, for a caller that changes them and then stores them with writeLocked.
    std::vector<Stored>& changeLocked();
    void writeLocked(AtomicFile::Earlier earlier = AtomicFile::Earlier::spare);

    std::string path_;
    std::mutex lock_;
    std::vector<Stored> stored_;
    std::optional<std::string> written_; // the text stored_ was read from or written as
};

// The journal file's JSON: an array of {"operation", "phase"} objects. Throws the store's
// format error for anything else.
std::vector<OperationJournal::Entry> decodeJournal(std::string_view text);
