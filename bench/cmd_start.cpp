#include "BenchCommand.h"
#include "ModelBench.h"

namespace {

// Builds the model as the program does at start-up and prints what it found.
int runStart(const std::vector<std::string>&)
{
    auto app = ModelBench::application();
    double begin = monotonicSeconds();
    AppModel model;
    double built = monotonicSeconds() - begin;
    ModelBench::printLines("message: ", model.message().value_or("(none)"));
    std::printf("notes: %zu\n", model.recoveryNotes().size());
    for (const std::string& note : model.recoveryNotes()) ModelBench::printLines("note: ", note);
    std::printf("history: %zu\n", model.history().size());
    // History load, journal merge and the save after it, as the window waits for them.
    std::printf("model built in: %.3f s\n", built);
    return 0;
}

BenchCommand command("start", "start", runStart);

} // namespace
