#include "BenchCommand.h"
#include "ModelBench.h"

namespace {

// Builds the model as the program does at start-up and prints what it found.
int runStart(const std::vector<std::string>&)
{
    auto app = ModelBench::application();
    AppModel model;
    ModelBench::printLines("message: ", model.message().value_or("(none)"));
    std::printf("notes: %zu\n", model.recoveryNotes().size());
    for (const std::string& note : model.recoveryNotes()) ModelBench::printLines("note: ", note);
    std::printf("history: %zu\n", model.history().size());
    return 0;
}

BenchCommand command("start", "start", runStart);

} // namespace
