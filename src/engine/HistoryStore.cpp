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
    try {
        if (auto text = AtomicFile::read(historyPath_)) history_ = decodeHistory(*text);
        // Earlier versions wrote a first run oldest first: list it newest first from the
        // start, not only after the next save.
        sortNewestFirst();
        return std::nullopt;
    } catch (const std::exception& error) {
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

std::optional<std::string> HistoryStore::stillWritten() const
{
    if (!written_ || !writtenDigest_ || AtomicFile::version(historyPath_) != written_) return std::nullopt;
    // Another running copy may have rewritten the file within one timestamp tick and reused
    // the same inode: only the bytes themselves prove it is still ours. Reading is cheap next
    // to decoding.
    auto contents = AtomicFile::read(historyPath_);
    if (!contents || digestOf(*contents) != *writtenDigest_) return std::nullopt;
    std::unordered_map<std::string_view, const Operation*> held;
    for (const Operation& op : history_) held.try_emplace(op.id, &op);
    for (const auto& [id, restoredAt] : writtenRecords_) {
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
    if (!previous || previous->size() < 2 || history_.size() < writtenRecords_.size())
        return encodeHistory(history_);
    size_t fresh = history_.size() - writtenRecords_.size();
    for (size_t i = 0; i < writtenRecords_.size(); ++i) {
        const Operation& op = history_[fresh + i];
        if (op.id != writtenRecords_[i].first || op.restoredAt != writtenRecords_[i].second)
            return encodeHistory(history_);
    }
    if (fresh == 0) return *previous;
    std::string head = encodeRecords(std::span(history_).first(fresh));
    if (writtenRecords_.empty()) return head;
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
            std::optional<std::string> previous = merge ? stillWritten() : std::nullopt;
            if (merge && !previous) {
                if (auto contents = AtomicFile::read(historyPath_)) mergeFromFile(*contents);
            }
            // The first save of all, with no file yet, sorts too: the file is newest first
            // from the start.
            if (merge) sortNewestFirst();
            std::string encoded = encodeAfter(previous);
            previous.reset();
            written_.reset();
            writtenDigest_.reset();
            writtenRecords_.clear();
            AtomicFile::replace(historyPath_, encoded);
            written_ = AtomicFile::version(historyPath_);
            writtenDigest_ = digestOf(encoded);
            writtenRecords_.reserve(history_.size());
            for (const Operation& op : history_) writtenRecords_.emplace_back(op.id, op.restoredAt);
            lastSaveWritten_ = true;
            // Only once the unreadable file has been replaced may later saves merge again;
            // a failed write keeps it aside and replaces it next time.
            needsBackup_ = false;
            if (journal_) journal_->acknowledge(history_);
            return std::nullopt;
        });
    } catch (const std::exception& error) {
        return errorDescription(error);
    }
}
