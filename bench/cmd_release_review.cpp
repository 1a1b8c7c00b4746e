#include "BenchCommand.h"
#include "PageBench.h"

#include "model/AppModel.h"
#include "pages/memory/MemoryReleaseReview.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

std::vector<ApplicationMemory> candidates(int count, int64_t step)
{
    std::vector<ApplicationMemory> out;
    for (int i = 0; i < count; ++i) {
        std::string name = "Application " + std::to_string(i);
        out.push_back({1000 + i, name, 0, int64_t(count - i) * step, 3, 0, "/opt/" + name + ".app"});
    }
    return out;
}

// The memory release review with N candidates: how long the window goes unanswered while the
// sheet opens, and while a refresh of the memory readings hands it the candidates again.
int runReleaseReview(const std::vector<std::string>& args)
{
    std::vector<std::string> counts = positional(args);
    int count = counts.empty() ? 200 : std::atoi(counts[0].c_str());
    QTemporaryDir home;
    auto app = PageBench::offscreenApplication(home.path());
    std::string root = home.path().toStdString();
    AppModel model(root + "/data/Tessyn/operations.json", std::vector<std::string>{}, root);
    QWidget window;
    window.resize(1000, 760);
    window.show();
    MemoryReleaseReview* review = nullptr;
    PageBench::StallProbe probe;
    double open = probe.measure(
        [&] {
            review = new MemoryReleaseReview(model, candidates(count, 1 << 20), {}, &window);
            review->open();
        },
        [&] { return review && review->isVisible(); });
    double refresh = probe.measure([&] { review->setCandidates(candidates(count, 1 << 21)); }, [] { return true; });
    std::printf("candidates: %d\nopen-stall-ms: %.1f\nrefresh-stall-ms: %.1f\n", count, open, refresh);
    return 0;
}

BenchCommand command("release-review", "release-review [N]", runReleaseReview);

} // namespace
