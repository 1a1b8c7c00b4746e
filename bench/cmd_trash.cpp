#include "BenchCommand.h"

#include "engine/AtomicFile.h"
#include "engine/Dates.h"
#include "engine/FileActionEngine.h"
#include "engine/FileEngine.h"
#include "engine/HistoryStore.h"
#include "engine/OperationJournal.h"
#include "engine/RunCheckpoints.h"
#include "platform/Locations.h"
#include "platform/TextValidity.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>

// `trash` moves files of one scan to the real Trash with the real journal, exactly as the
// model does (history checkpoints during the run, then records into the history, history
// saved, journal settled); `restore-last`
// puts back what earlier `trash` runs moved. The ids of moved records are kept in
// <application support>/bench-trash.json so that only the bench's own moves are restored.
namespace {

std::string storeFolder() { return Locations::applicationSupport(); }
std::string journalPath() { return storeFolder() + "/pending-actions.json"; }
std::string historyPath() { return storeFolder() + "/operations.json"; }
std::string benchRecordsPath() { return storeFolder() + "/bench-trash.json"; }

std::string infoFileOf(const std::string& trashPath)
{
    std::string files = trashPath.substr(0, trashPath.rfind('/'));
    return files.substr(0, files.rfind('/')) + "/info/" + trashPath.substr(trashPath.rfind('/') + 1) + ".trashinfo";
}

std::vector<std::string> readBenchIds()
{
    auto text = AtomicFile::read(benchRecordsPath());
    if (!text) return {};
    return nlohmann::json::parse(*text).get<std::vector<std::string>>();
}

void writeBenchIds(const std::vector<std::string>& ids)
{
    AtomicFile::replace(benchRecordsPath(), nlohmann::json(ids).dump());
}

std::string parentOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path as the scan writes it: the folder resolved, the name kept.
std::string scannedForm(const std::string& path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    std::string folder = FileEngine::canonicalURL(parentOf(path));
    return folder == "/" ? "/" + name : folder + "/" + name;
}

int runTrash(const std::vector<std::string>& args)
{
    auto rest = positional(args, {"--batch"});
    if (rest.size() < 2) {
        std::fprintf(stderr, "usage: tessyn-bench trash ROOT PATH... [--batch N] [--quiet]\n");
        return 2;
    }
    const bool quiet = hasFlag(args, "--quiet");
    std::string root = FileEngine::canonicalURL(rest[0]);
    double scanStart = monotonicSeconds();
    ScanReport scan = FileEngine::scan(root);
    double scanTime = monotonicSeconds() - scanStart;

    std::unordered_map<std::string, const FileEntry*> byPath;
    for (const auto& file : scan.files) byPath.emplace(file.path, &file);
    std::vector<FileEntry> selected;
    std::unordered_set<std::string> selection;
    int missing = 0;
    for (size_t i = 1; i < rest.size(); ++i) {
        std::string path;
        try {
            path = scannedForm(rest[i]);
        } catch (const std::exception&) {
            path = rest[i];
        }
        auto it = byPath.find(path);
        if (it == byPath.end() || !selection.insert(path).second) {
            if (it == byPath.end()) {
                std::printf("not-scanned\t%s\n", displayUtf8(rest[i]).c_str());
                ++missing;
            }
            continue;
        }
        selected.push_back(*it->second);
    }

    std::error_code made;
    std::filesystem::create_directories(storeFolder(), made);
    if (made) {
        std::fprintf(stderr, "store folder %s: %s\n", storeFolder().c_str(), made.message().c_str());
        return 1;
    }
    auto journal = std::make_shared<OperationJournal>(journalPath());
    HistoryStore history(historyPath(), journal);
    if (auto problem = history.load()) std::fprintf(stderr, "%s\n", problem->c_str());

    // --batch N: one run per N files with a history save after each, which keeps the
    // journal short; without it one run over everything, as the model does.
    long batch = std::strtol(optionValue(args, "--batch", "0").c_str(), nullptr, 10);
    if (batch <= 0) batch = static_cast<long>(std::max<size_t>(selected.size(), 1));
    std::vector<Operation> records;
    double elapsed = 0, saveTime = 0, checkpointTime = 0;
    long long written = 0, journalAfterRun = 0, checkpointHistoryBytes = 0;
    int checkpointCount = 0;
    std::optional<std::string> saveError;
    size_t from = 0;
    do {
        size_t to = std::min(selected.size(), from + static_cast<size_t>(batch));
        std::vector<FileEntry> part(selected.begin() + static_cast<long>(from), selected.begin() + static_cast<long>(to));
        from = to;
        std::unordered_set<std::string> targets;
        for (const FileEntry& file : part) targets.insert(file.path);
        RunCheckpoints checkpoints(std::move(targets), dateNow());
        CheckpointPace pace{history.history().size()};
        // The model checkpoints on its main thread while the run goes on; here in between
        // two files. The history's bytes are counted apart from the journal's.
        auto counted = [&](int64_t completed) {
            if (!pace.due(completed)) return;
            double checkpointStart = monotonicSeconds();
            auto before = AtomicFile::version(historyPath());
            checkpoints.save(history);
            if (AtomicFile::version(historyPath()) != before) checkpointHistoryBytes += fileSize(historyPath());
            checkpointTime += monotonicSeconds() - checkpointStart;
            ++checkpointCount;
        };
        long long writtenBefore = writtenBytes();
        double start = monotonicSeconds();
        std::vector<Operation> made =
            FileActionEngine::execute(part, root, {}, selection, {}, {}, journal.get(), {}, counted);
        elapsed += monotonicSeconds() - start;
        written += writtenBytes() - writtenBefore;
        journalAfterRun = std::max(journalAfterRun, fileSize(journalPath()));

        // As the model does after a run: newest records first, then one history save, which
        // lets the journal drop what the history now holds.
        double saveStart = monotonicSeconds();
        history.history().insert(history.history().begin(), made.rbegin(), made.rend());
        if (auto error = history.saveHistory(false)) saveError = error;
        saveTime += monotonicSeconds() - saveStart;
        records.insert(records.end(), made.begin(), made.end());
    } while (from < selected.size());

    long long infoBytes = 0;
    size_t moved = 0;
    std::vector<std::string> ids = readBenchIds();
    for (const auto& r : records) {
        if (r.success && r.trashPath) {
            ++moved;
            infoBytes += fileSize(infoFileOf(*r.trashPath));
            ids.push_back(r.id);
        }
        if (quiet) continue;
        if (r.success) std::printf("moved\t%s\t%s\n", r.path.c_str(), r.trashPath.value_or("").c_str());
        else std::printf("failed\t%s\t%s\n", r.path.c_str(), r.detail.c_str());
    }

    if (saveError) std::fprintf(stderr, "history save failed: %s\n", saveError->c_str());
    writeBenchIds(ids);

    size_t n = records.size();
    long long journalBytes = written - infoBytes - checkpointHistoryBytes;
    std::printf("files=%zu moved=%zu failed=%zu not_scanned=%d scan=%.3f execute=%.3f per_file_ms=%.3f "
                "written_bytes=%lld trashinfo_bytes=%lld journal_bytes=%lld journal_bytes_per_file=%.0f "
                "journal_size_max=%lld checkpoints=%d checkpoint_time=%.3f checkpoint_history_bytes=%lld "
                "history_save=%.3f\n",
                n, moved, n - moved, missing, scanTime, elapsed, n ? elapsed * 1000.0 / static_cast<double>(n) : 0.0,
                written, infoBytes, journalBytes, n ? static_cast<double>(journalBytes) / static_cast<double>(n) : 0.0,
                journalAfterRun, checkpointCount, checkpointTime, checkpointHistoryBytes, saveTime);
    return saveError ? 1 : 0;
}

int runRestoreLast(const std::vector<std::string>& args)
{
    auto rest = positional(args);
    long count = rest.size() == 1 ? std::strtol(rest[0].c_str(), nullptr, 10) : -1;
    if (count < 0) {
        std::fprintf(stderr, "usage: tessyn-bench restore-last N [--quiet]\n");
        return 2;
    }
    const bool quiet = hasFlag(args, "--quiet");
    auto journal = std::make_shared<OperationJournal>(journalPath());
    HistoryStore history(historyPath(), journal);
    if (auto problem = history.load()) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return 1;
    }
    std::vector<std::string> ids = readBenchIds();
    size_t take = std::min(ids.size(), static_cast<size_t>(count));
    std::vector<std::string> chosen(ids.end() - static_cast<long>(take), ids.end());
    ids.resize(ids.size() - take);

    size_t restored = 0, failed = 0;
    std::optional<std::string> saveError;
    double start = monotonicSeconds();
    // Newest first, the reverse of the order they were moved in.
    for (auto id = chosen.rbegin(); id != chosen.rend(); ++id) {
        auto record = std::find_if(history.history().begin(), history.history().end(),
                                   [&](const Operation& op) { return op.id == *id; });
        if (record == history.history().end()) {
            ++failed;
            if (!quiet) std::printf("unknown\t%s\n", id->c_str());
            continue;
        }
        std::optional<std::string> error = FileActionEngine::restoreTask(*record, *journal);
        if (error) {
            ++failed;
            if (!quiet) std::printf("failed\t%s\t%s\n", record->path.c_str(), error->c_str());
            continue;
        }
        // The model saves the history after each restore; here every 100 restores, which
        // keeps the journal just as short without rewriting a long history each time.
        record->restoredAt = dateNow();
        ++restored;
        if (!quiet) std::printf("restored\t%s\n", record->path.c_str());
        if (restored % 100 == 0)
            if (auto error = history.saveHistory(false)) saveError = error;
    }
    if (auto error = history.saveHistory(false)) saveError = error;
    double elapsed = monotonicSeconds() - start;
    if (saveError) std::fprintf(stderr, "history save failed: %s\n", saveError->c_str());
    writeBenchIds(ids);
    size_t n = restored + failed;
    std::printf("restored=%zu failed=%zu elapsed=%.3f per_file_ms=%.3f\n", restored, failed, elapsed,
                n ? elapsed * 1000.0 / static_cast<double>(n) : 0.0);
    return failed || saveError ? 1 : 0;
}

BenchCommand trashCommand("trash", "trash ROOT PATH... [--batch N] [--quiet]", runTrash);
BenchCommand restoreCommand("restore-last", "restore-last N [--quiet]", runRestoreLast);

} // namespace
