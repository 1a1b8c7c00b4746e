#include "engine/HistoryStore.h"

#include "engine/AtomicFile.h"
#include "engine/LocalStoreLock.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/PathText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <nlohmann/json.hpp>
#include <span>
#include <unordered_map>
#include <unordered_set>

using nlohmann::json;

namespace {

std::string encodeRecords(std::span<const Operation> records)
{
    json list = json::array();
    for (const Operation& op : records) list.push_back(op);
    return dumpStoreJson(list);
}

} // namespace

std::string encodeHistory(const std::vector<Operation>& history)
{
    return encodeRecords(history);
}

std::vector<Operation> decodeHistory(std::string_view text)
{
    json list = parseStoreJson(text);
    if (!list.is_array()) throw StoreFormatError("the history is not a JSON array");
    std::vector<Operation> history;
    history.reserve(list.size());
    for (const json& item : list) history.push_back(item.get<Operation>());
    return history;
}

HistoryStore::HistoryStore(std::string historyPath, std::shared_ptr<OperationJournal> journal)
    : historyPath_(std::move(historyPath)), journal_(std::move(journal))
{
}

std::optional<std::string> HistoryStore::load()
{
    history_.clear();
    needsBackup_ = false;
    remember(std::nullopt, {}, {}, false);
    try {
        // Taken before the read: a file replaced meanwhile then differs at the next save.
        auto version = AtomicFile::version(historyPath_);
        if (auto text = AtomicFile::read(historyPath_)) {
            history_ = decodeHistory(*text);
            remember(version, *text, history_, false);
        }
        // Earlier versions wrote a first run oldest first: list it newest first from the
        // start, not only after the next save.
        sortNewestFirst();
        return std::nullopt;
    } catch (const std::exception& error) {
        remember(std::nullopt, {}, {}, false);
        history_.clear();
        needsBackup_ = true;
        return "操作记录无法读取；下次保存前会保留原文件副本。" + errorDescription(error);
    }
}

bool HistoryStore::copyUnreadableAside()
{
    auto contents = AtomicFile::read(historyPath_);
    if (!contents) return false;
    std::string backup = parentOf(historyPath_) + "/operations-unreadable-" + newUUID() + ".json";
    AtomicFile::replace(backup, *contents);
    return true;
}

void HistoryStore::mergeFromFile(const std::string& contents)
{
    std::vector<Operation> disk = decodeHistory(contents);
    // Position of the first record of each id, kept up to date as records are appended.
    std::unordered_map<std::string, size_t> first;
    for (size_t i = 0; i < history_.size(); ++i) first.try_emplace(history_[i].id, i);
    for (Operation& d : disk) {
        auto found = first.find(d.id);
        if (found == first.end()) {
            first.emplace(d.id, history_.size());
            history_.push_back(std::move(d));
            continue;
        }
        // Only a later restore date is taken over; equal dates keep ours.
        Operation& m = history_[found->second];
        if (d.restoredAt && (!m.restoredAt || *d.restoredAt > *m.restoredAt)) m.restoredAt = d.restoredAt;
    }
}

void HistoryStore::keepUnseen(const std::unordered_set<std::string>& forgotten)
{
    std::vector<Operation> disk;
    try {
        if (auto contents = AtomicFile::read(historyPath_)) disk = decodeHistory(*contents);
    } catch (const std::exception&) {
        return; // an unreadable file is replaced, as before
    }
    std::unordered_set<std::string> held;
    for (const Operation& op : history_) held.insert(op.id);
    size_t before = history_.size();
    for (Operation& d : disk)
        if (!forgotten.count(d.id) && held.insert(d.id).second) history_.push_back(std::move(d));
    if (history_.size() != before) sortNewestFirst();
}

void HistoryStore::sortNewestFirst()
{
    auto newer = [](const Operation& a, const Operation& b) { return a.date > b.date; };
    // Usually sorted already: the check is one pass, the stable sort copies every record.
    if (!std::is_sorted(history_.begin(), history_.end(), newer))
        std::stable_sort(history_.begin(), history_.end(), newer);
}

namespace {

Sha256::Digest digestOf(std::string_view text)
{
    Sha256 hash;
    hash.update(text.data(), text.size());
    return hash.finish();
}

} // namespace

void HistoryStore::remember(std::optional<AtomicFile::Version> version, std::string_view text,
                            const std::vector<Operation>& records, bool written)
{
    seenRecords_.clear();
    seenWritten_ = written;
    seen_ = version;
    if (!seen_) return;
    seenDigest_ = digestOf(text);
    seenRecords_.reserve(records.size());
    for (const Operation& op : records) seenRecords_.emplace_back(op.id, op.restoredAt);
}

std::optional<std::string> HistoryStore::stillSeen() const
{
    if (!seen_ || AtomicFile::version(historyPath_) != seen_) return std::nullopt;
    // Another running copy may have rewritten the file within one timestamp tick and reused
    // the same inode: only the bytes themselves prove it is still the one seen. Reading is
    // cheap next to decoding.
    auto contents = AtomicFile::read(historyPath_);
    if (!contents || digestOf(*contents) != seenDigest_) return std::nullopt;
    std::unordered_map<std::string_view, const Operation*> held;
    for (const Operation& op : history_) held.try_emplace(op.id, &op);
    for (const auto& [id, restoredAt] : seenRecords_) {
        auto it = held.find(id);
        if (it == held.end()) return std::nullopt;
        const auto& ours = it->second->restoredAt;
        if (restoredAt && (!ours || *ours < *restoredAt)) return std::nullopt;
    }
    return contents;
}

std::string HistoryStore::encodeAfter(const std::optional<std::string>& previous) const
{
    // Records are only ever added in front or stamped with a restore date, so when the list
    // ends with exactly the records last written, unchanged, their text is reused and only
    // the new ones are encoded: a long run's checkpoints stay cheap however long the history.
    if (!previous || !seenWritten_ || previous->size() < 2 || history_.size() < seenRecords_.size())
        return encodeHistory(history_);
    size_t fresh = history_.size() - seenRecords_.size();
    for (size_t i = 0; i < seenRecords_.size(); ++i) {
        const Operation& op = history_[fresh + i];
        if (op.id != seenRecords_[i].first || op.restoredAt != seenRecords_[i].second)
            return encodeHistory(history_);
    }
    if (fresh == 0) return *previous;
    std::string head = encodeRecords(std::span(history_).first(fresh));
    if (seenRecords_.empty()) return head;
    head.back() = ',';
    head.append(*previous, 1);
    return head;
}

int64_t HistoryStore::checkpointInterval(size_t records)
{
    return std::max<int64_t>(64, std::llround(std::sqrt(static_cast<double>(records))));
}

std::optional<std::string> HistoryStore::saveHistory(bool replacing)
{
    return save(replacing, nullptr);
}

std::optional<std::string> HistoryStore::clear(std::vector<Operation> kept)
{
    // What the list held, and what the file held when last seen; a record another copy added
    // since has its receipts in that copy's care.
    std::unordered_set<std::string> forgotten;
    for (const Operation& op : history_) forgotten.insert(op.id);
    for (const auto& record : seenRecords_) forgotten.insert(record.first);
    for (const Operation& op : kept) forgotten.erase(op.id);
    history_ = std::move(kept);
    return save(true, &forgotten);
}

std::optional<std::string> HistoryStore::save(bool replacing, const std::unordered_set<std::string>* forgotten)
{
    lastSaveWritten_ = false;
    // A merging save sorts; doing it before the lock means a save refused by another copy's
    // lock still leaves the list newest first.
    if (!replacing && !needsBackup_) sortNewestFirst();
    try {
        return LocalStoreLock::perform(historyPath_, [&]() -> std::optional<std::string> {
            bool merge = !replacing;
            if (needsBackup_) {
                // When the unreadable file is gone there is nothing left to keep: save as
                // usual rather than fail every later save. Any other failure stops the save.
                if (copyUnreadableAside()) merge = false; // what we hold replaces it
                else needsBackup_ = false;
            }
            std::optional<std::string> previous = merge ? stillSeen() : std::nullopt;
            if (merge && !previous) {
                if (auto contents = AtomicFile::read(historyPath_)) mergeFromFile(*contents);
            }
            // A clear forgets what this copy held or saw; what another copy saved since stays.
            if (forgotten && !needsBackup_ && !stillSeen()) keepUnseen(*forgotten);
            // The first save of all, with no file yet, sorts too: the file is newest first
            // from the start.
            if (merge) sortNewestFirst();
            std::string encoded = encodeAfter(previous);
            previous.reset();
            // A clear drops the receipts first: killed or refused after the history write, it
            // would leave receipts that the next start merges back as records.
            if (forgotten && journal_) OperationJournal::whenFree([&] { journal_->acknowledge({}, forgotten); });
            // Only the file's identity goes: the ids stay for a clear after a failed write.
            seen_.reset();
            AtomicFile::replace(historyPath_, encoded,
                                forgotten ? AtomicFile::Earlier::forgotten : AtomicFile::Earlier::spare);
            remember(AtomicFile::version(historyPath_), encoded, history_, true);
            lastSaveWritten_ = true;
            // Only once the unreadable file has been replaced may later saves merge again;
            // a failed write keeps it aside and replaces it next time.
            needsBackup_ = false;
            // Another copy holds the journal's lock only for one write of its own.
            if (journal_) OperationJournal::whenFree([&] { journal_->acknowledge(history_, forgotten); });
            return std::nullopt;
        });
    } catch (const std::exception& error) {
        return errorDescription(error);
    }
}
