#include "BenchCommand.h"
#include "ModelBench.h"

namespace {

// Restores every restorable history record through the model, one after another.
int runRestoreAll(const std::vector<std::string>&)
{
    auto app = ModelBench::application();
    AppModel model;
    std::vector<Operation> records;
    for (const Operation& record : model.history())
        if (record.success && record.trashPath && !record.restoredAt) records.push_back(record);
    double start = monotonicSeconds();
    size_t restored = 0;
    size_t failed = 0;
    for (const Operation& record : records) {
        model.restore(record);
        ModelBench::waitUntil([&] { return !model.processing(); });
        const std::string text = model.message().value_or("");
        if (text.rfind("已恢复到原位置。", 0) == 0 && text.find('\n') == std::string::npos) {
            ++restored;
        } else {
            ++failed;
            ModelBench::printLines("failed: ", record.path + " — " + text);
        }
    }
    std::printf("restorable: %zu restored: %zu failed: %zu elapsed: %.3f\n", records.size(), restored, failed,
                monotonicSeconds() - start);
    return failed == 0 ? 0 : 1;
}

BenchCommand command("restore-all", "restore-all", runRestoreAll);

} // namespace
