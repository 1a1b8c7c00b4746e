#include "BenchCommand.h"

#include "engine/AtomicFile.h"
#include "engine/HistoryStore.h"
#include "engine/Operation.h"
#include "engine/OperationJournal.h"
#include "engine/Uuid.h"
#include "platform/Locations.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

// `fill-stores` writes a history and a journal of "finished" entries, as a run whose history
// saves all failed would leave them, so that `start` can time the merge at start-up.
namespace {

Operation movedRecord(size_t n, double date)
{
    Operation op;
    op.id = newUUID();
    op.date = date;
    op.path = "/home/user/tree/d" + std::to_string(n / 500) + "/file" + std::to_string(n) + ".txt";
    op.size = static_cast<int64_t>(1000 + n);
    op.success = true;
    op.detail = "已移入废纸篓";
    op.trashPath = "/home/user/.local/share/Trash/files/file" + std::to_string(n) + ".txt";
    op.resourceID = "2049:" + std::to_string(1000000 + n);
    op.modified = date - 86400;
    return op;
}

long count(const std::vector<std::string>& args, const char* option)
{
    return std::strtol(optionValue(args, option, "0").c_str(), nullptr, 10);
}

int runFillStores(const std::vector<std::string>& args)
{
    long journalCount = count(args, "--journal");
    long historyCount = count(args, "--history");
    long restoredCount = count(args, "--restored");
    if (journalCount < 0 || historyCount < 0 || restoredCount < 0 || restoredCount > historyCount ||
        restoredCount > journalCount) {
        std::fprintf(stderr, "usage: tessyn-bench fill-stores --journal N [--history M] [--restored K<=min(N,M)]\n");
        return 2;
    }
    // The history holds M older moves; the journal ends with N - K receipts of newer moves
    // and K receipts of restores of history records, in the order they were written.
    std::vector<Operation> history;
    double date = 700000000.0;
    size_t n = 0;
    for (long i = 0; i < historyCount; ++i) history.push_back(movedRecord(n++, date += 1));
    std::vector<OperationJournal::Entry> entries;
    for (long i = 0; i < journalCount - restoredCount; ++i)
        entries.push_back({movedRecord(n++, date += 1), OperationJournal::kFinished});
    for (long i = 0; i < restoredCount; ++i) {
        Operation restored = history[static_cast<size_t>(i * historyCount / restoredCount)];
        restored.restoredAt = date += 1;
        entries.push_back({restored, OperationJournal::kFinished});
    }
    std::reverse(history.begin(), history.end()); // newest first, as saved

    std::error_code ignored; // a missing folder shows in the write below
    std::filesystem::create_directories(Locations::dataHome(), ignored);
    std::string folder = Locations::applicationSupport();
    mkdir(folder.c_str(), 0700);
    nlohmann::json journal = nlohmann::json::array();
    for (const auto& entry : entries) journal.push_back({{"operation", entry.operation}, {"phase", entry.phase}});
    AtomicFile::replace(folder + "/pending-actions.json", dumpStoreJson(journal));
    if (historyCount) AtomicFile::replace(folder + "/operations.json", encodeHistory(history));
    std::printf("journal: %ld entries, %lld bytes; history: %ld records, %lld bytes\n", journalCount,
                fileSize(folder + "/pending-actions.json"), historyCount, fileSize(folder + "/operations.json"));
    return 0;
}

BenchCommand command("fill-stores", "fill-stores --journal N [--history M] [--restored K]", runFillStores);

} // namespace
