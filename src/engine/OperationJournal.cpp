#include "engine/OperationJournal.h"

#include "engine/AtomicFile.h"
#include "engine/Errors.h"
#include "engine/LocalStoreLock.h"
#include "engine/SearchKey.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
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

std::vector<OperationJournal::Entry> OperationJournal::readLocked() const
{
    auto text = AtomicFile::read(path_);
    if (!text) return {};
    return decodeJournal(*text);
}

void OperationJournal::writeLocked(const std::vector<Entry>& entries) const
{
    json list = json::array();
    for (const Entry& entry : entries)
        list.push_back(json{{"operation", entry.operation}, {"phase", entry.phase}});
    AtomicFile::replace(path_, dumpStoreJson(list));
}

std::vector<OperationJournal::Entry> OperationJournal::entries()
{
    std::lock_guard guard(lock_);
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0 && errno == ENOENT) return {};
    return LocalStoreLock::perform(path_, [&] { return readLocked(); });
}

void OperationJournal::record(const Operation& operation, const std::string& phase)
{
    // A record that cannot be stored fails before the lock file is touched.
    checkStorable(operation);
    if (!isValidUtf8(phase)) throw posixError(EILSEQ);
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Entry> entries = readLocked();
        std::erase_if(entries, [&](const Entry& e) { return e.operation.id == operation.id; });
        entries.push_back({operation, phase});
        writeLocked(entries);
    });
}

void OperationJournal::acknowledge(const std::vector<Operation>& history)
{
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::unordered_map<std::string, const Operation*> index;
        for (const Operation& op : history) index.try_emplace(op.id, &op);
        std::vector<Entry> entries = readLocked();
        std::erase_if(entries, [&](const Entry& e) {
            auto it = index.find(e.operation.id);
            if (it == index.end()) return false;
            const Operation& settled = *it->second;
            if (e.phase == kFinished) return true;
            if (e.phase == kMoving) return settled.success && settled.trashPath.has_value();
            if (e.phase == kRestoring) return settled.restoredAt.has_value();
            return false;
        });
        writeLocked(entries);
    });
}

void OperationJournal::discardPending()
{
    std::lock_guard guard(lock_);
    LocalStoreLock::perform(path_, [&] {
        std::vector<Entry> entries = readLocked();
        std::erase_if(entries, [](const Entry& e) { return e.phase != kFinished; });
        writeLocked(entries);
    });
}

Operation OperationJournal::move(const Operation& prepared, OperationJournal* journal,
                                 const std::function<std::optional<std::string>()>& body)
{
    if (journal) journal->record(prepared, kMoving);
    Operation result = prepared;
    try {
        std::optional<std::string> trashPath = body();
        result.trashPath = std::move(trashPath);
        result.success = true;
        result.detail = kMovedDetail;
        if (journal) {
            try {
                journal->record(result, kFinished);
            } catch (const std::exception& error) {
                result.detail = std::string(kMovedDetail) + kReceiptFailed + errorDescription(error);
            }
        }
    } catch (const std::exception& error) {
        result.success = false;
        result.detail = errorDescription(error);
        if (journal) {
            try {
                journal->record(result, kFinished);
            } catch (const std::exception&) {
            }
        }
    }
    return result;
}
