#include "engine/OperationJournal.h"

#include "engine/AtomicFile.h"
#include "engine/LocalStoreLock.h"
#include "platform/Errors.h"
#include "platform/TextValidity.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>

using nlohmann::json;

namespace {

const char kMovedDetail[] = "已移入废纸篓";
const char kReceiptFailed[] = "；回执保存失败，请保留废纸篓并检查操作记录：";

OperationJournal::Entry entryFromJson(const json& j)
{
    if (!j.is_object()) throw StoreFormatError("a journal entry is not a JSON object");
    auto operation = j.find("operation");
    if (operation == j.end() || operation->is_null())
        throw StoreFormatError("missing member \"operation\"");
    auto phase = j.find("phase");
    if (phase == j.end() || phase->is_null()) throw StoreFormatError("missing member \"phase\"");
    if (!phase->is_string()) throw StoreFormatError("member \"phase\" has the wrong type");
    return {operation->get<Operation>(), phase->get<std::string>()};
}

} // namespace

OperationJournal::OperationJournal(std::string path) : path_(std::move(path)) {}

std::vector<OperationJournal::Entry> decodeJournal(std::string_view text)
{
    json list = parseStoreJson(text);
    if (!list.is_array()) throw StoreFormatError("the journal is not a JSON array");
    std::vector<OperationJournal::Entry> entries;
    entries.reserve(list.size());
    for (const json& item : list) entries.push_back(entryFromJson(item));
    return entries;
}

namespace {

std::string entryText(const OperationJournal::Entry& entry)
{
    return dumpStoreJson(json{{"operation", entry.operation}, {"phase", entry.phase}});
}

// The entry as a later read of its text gives it (ids in their stored form, say).
OperationJournal::Entry asStored(const std::string& text) { return entryFromJson(parseStoreJson(text)); }

} // namespace

std::vector<OperationJournal::Stored>& OperationJournal::loadLocked()
{
    auto text = AtomicFile::read(path_);
    // Reading the small file is cheap; decoding it is what the comparison spares.
    if (text && written_ && *text == *written_) return stored_;
    written_.reset();
    stored_.clear();
    if (!text) return stored_;
    std::vector<Entry> entries = decodeJournal(*text);
    for (Entry& entry : entries) {
        std::string encoded = entryText(entry);
        stored_.push_back({std::move(entry), std::move(encoded)});
    }
    written_ = std::move(text);
    return stored_;
}

std::vector<OperationJournal::Stored>& OperationJournal::changeLocked()
{
    std::vector<Stored>& entries = loadLocked();
    written_.reset(); // what is held differs from the file until writeLocked stores it
    return entries;
}

void OperationJournal::writeLocked(AtomicFile::Earlier earlier)
{
    std::string out = "[";
    for (size_t i = 0; i < stored_.size(); ++i) {
        if (i) out += ',';
        out += stored_[i].text;
    }
    out += ']';
    AtomicFile::replace(path_, out, earlier);
    written_ = std::move(out);
}

std::vector<OperationJournal::Entry> OperationJournal::entries()
{
    std::lock_guard guard(lock_);
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0 && errno == ENOENT) return {};
    return LocalStoreLock::perform(path_, [&] {
        std::vector<Entry> entries;
        for (const Stored& stored : loadLocked()) entries.push_back(stored.entry);
        return entries;
    });
}

void OperationJournal::record(const Operation& operation, const std::string& phase)
{
    record(std::vector<Entry>{{operation, phase}});
}

void OperationJournal::record(const std::vector<Entry>& changes)
{
    // A record that cannot be stored fails before the lock file is touched.
    for (const Entry& change : changes) {
        checkStorable(change.operation);
        if (!isValidUtf8(change.phase)) throw posixError(EILSEQ);
    }
    // Encoded first: an entry that cannot be written changes nothing.
    std::vector<Stored> added;
    for (const Entry& change : changes) {
        std::string text = entryText(change);
        added.push_back({asStored(text), std::move(text)});
    }
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Stored>& entries = changeLocked();
        std::erase_if(entries, [&](const Stored& e) {
            return std::any_of(changes.begin(), changes.end(),
                               [&](const Entry& c) { return c.operation.id == e.entry.operation.id; });
        });
        entries.insert(entries.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
        writeLocked();
    });
}

void OperationJournal::acknowledge(const std::vector<Operation>& history,
                                   const std::unordered_set<std::string>* forgotten)
{
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::unordered_map<std::string, const Operation*> index;
        for (const Operation& op : history) index.try_emplace(op.id, &op);
        std::vector<Stored>& entries = changeLocked();
        std::erase_if(entries, [&](const Stored& stored) {
            const Entry& e = stored.entry;
            // Merged at the next start, such a receipt would bring its cleared record back.
            if (forgotten && e.phase == kFinished && forgotten->count(e.operation.id)) return true;
            auto it = index.find(e.operation.id);
            if (it == index.end()) return false;
            const Operation& settled = *it->second;
            // A restore's receipt is settled only by a history that knows of the restore: a
            // save by a copy that does not must not erase it.
            if (e.phase == kFinished) return !e.operation.restoredAt || settled.restoredAt.has_value();
            if (e.phase == kMoving) return settled.success && settled.trashPath.has_value();
            if (e.phase == kRestoring) return settled.restoredAt.has_value();
            return false;
        });
        writeLocked(forgotten ? AtomicFile::Earlier::forgotten : AtomicFile::Earlier::spare);
    });
}

void OperationJournal::discardPending()
{
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Stored>& entries = changeLocked();
        std::erase_if(entries, [](const Stored& e) { return e.entry.phase != kFinished; });
        writeLocked();
    });
}

OperationJournal::RestoreMark OperationJournal::beginRestore(const Operation& operation)
{
    checkStorable(operation);
    std::string text = entryText({operation, kRestoring});
    RestoreMark mark;
    mark.entry = asStored(text);
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Stored>& entries = changeLocked();
        auto same = [&](const Stored& e) { return e.entry.operation.id == operation.id; };
        // A receipt stays where it is, and "restoring" goes after it: a kill after the rename
        // then leaves both, and the next start both merges the receipt and reports the
        // interruption. Any other entry of the id is replaced.
        auto replaced = [&](const Stored& e) { return same(e) && e.entry.phase != kFinished; };
        for (size_t i = 0; i < entries.size(); ++i)
            if (replaced(entries[i])) mark.replaced.emplace_back(i, entries[i].entry);
        std::erase_if(entries, replaced);
        entries.push_back({mark.entry, std::move(text)});
        writeLocked();
        mark.written = true;
    });
    return mark;
}

void OperationJournal::abandonRestore(const RestoreMark& mark)
{
    if (!mark.written) return;
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Stored>& entries = loadLocked();
        // Every later write of the id drops this entry, so while it is there nothing of the id
        // was written since.
        auto ours = std::find_if(entries.begin(), entries.end(), [&](const Stored& e) { return e.entry == mark.entry; });
        if (ours == entries.end()) return;
        written_.reset();
        entries.erase(ours);
        for (const auto& [position, entry] : mark.replaced)
            entries.insert(entries.begin() + static_cast<long>(std::min(position, entries.size())),
                           Stored{entry, entryText(entry)});
        writeLocked();
    });
}

void OperationJournal::markOrphanInfoChecked(const std::vector<Operation>& moves)
{
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Stored>& entries = changeLocked();
        bool changed = false;
        for (Stored& stored : entries) {
            // Only the entry as it was read: a copy that settled the move since wrote another.
            if (stored.entry.phase != kMoving || stored.entry.operation.orphanInfoChecked ||
                std::find(moves.begin(), moves.end(), stored.entry.operation) == moves.end())
                continue;
            Entry checked = stored.entry;
            checked.operation.orphanInfoChecked = true;
            std::string text = entryText(checked);
            stored = {asStored(text), std::move(text)};
            changed = true;
        }
        if (changed) writeLocked();
    });
}

void OperationJournal::whenFree(const std::function<void()>& call, bool patient)
{
    constexpr int kAttempts = 200;
    for (int attempt = 1;; ++attempt) {
        try {
            call();
            return;
        } catch (const std::system_error& error) {
            if (error.code() != std::errc::operation_would_block || !patient || attempt == kAttempts) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

namespace {

// The outcome of a move that ran: moved with its trash path, or failed with the error's text.
Operation outcomeOf(const Operation& prepared, const std::function<std::optional<std::string>()>& body)
{
    Operation result = prepared;
    try {
        result.trashPath = body();
        result.success = true;
        result.detail = kMovedDetail;
    } catch (const std::exception& error) {
        result.success = false;
        result.detail = errorDescription(error);
    }
    return result;
}

} // namespace

OperationJournal::MoveSequence::MoveSequence(OperationJournal* journal, std::vector<Operation>& records)
    : journal_(journal), records_(records)
{
}

OperationJournal::MoveSequence::~MoveSequence() { settle(); }

void OperationJournal::MoveSequence::settle()
{
    if (!open_) return;
    Operation& result = records_[*open_];
    open_.reset();
    try {
        write({{result, kFinished}});
    } catch (const std::exception& error) {
        if (result.success) result.detail = std::string(kMovedDetail) + kReceiptFailed + errorDescription(error);
    }
}

void OperationJournal::MoveSequence::move(const Operation& prepared,
                                          const std::function<std::optional<std::string>()>& body)
{
    if (journal_) {
        std::vector<Entry> changes;
        if (open_) changes.push_back({records_[*open_], kFinished});
        changes.push_back({prepared, kMoving});
        try {
            write(changes);
        } catch (const std::exception&) {
            settle();
            throw;
        }
        open_.reset();
    }
    records_.push_back(outcomeOf(prepared, body));
    if (journal_) open_ = records_.size() - 1;
}

void OperationJournal::MoveSequence::write(const std::vector<Entry>& changes)
{
    try {
        whenFree([&] { journal_->record(changes); }, patient_);
        patient_ = true;
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::operation_would_block) patient_ = false;
        throw;
    }
}

Operation OperationJournal::move(const Operation& prepared, OperationJournal* journal,
                                 const std::function<std::optional<std::string>()>& body)
{
    // A sequence of one: "moving" before the body, its outcome as "finished" right after.
    std::vector<Operation> records;
    MoveSequence moves(journal, records);
    moves.move(prepared, body);
    moves.settle();
    return records.front();
}
