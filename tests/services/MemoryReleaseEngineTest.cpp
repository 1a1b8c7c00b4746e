#include "services/MemoryReleaseEngine.h"
#include "platform/LinuxRunningApplications.h"
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <map>
#include <thread>
#include <unistd.h>

namespace {
ApplicationMemory candidate(int32_t id, const std::string& name, const std::string& bundle, int64_t footprint = 1000)
{
    return ApplicationMemory{id, name, footprint, footprint, 1, 0, bundle};
}

std::vector<std::string> names(const std::vector<ApplicationMemory>& rows)
{
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.name);
    return out;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

MemorySnapshot snapshotAt(double date)
{
    MemorySnapshot s;
    s.date = date;
    return s;
}

std::string realPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    std::string out = resolved ? resolved : "";
    std::free(resolved);
    return out;
}

// The model's side of a release: the candidate must still be the same regular application
// (same bundle, same name) before it is asked to quit; only pinned processes are polled.
struct ModelCallbacks {
    RunningApplications& apps;
    std::map<int32_t, RunningApplication> table;

    bool request(const ApplicationMemory& c)
    {
        auto app = apps.lookup(c.id);
        if (!app || !app->regular || app->bundlePath != c.bundlePath || app->name != c.name) return false;
        table[c.id] = *app;
        return apps.requestQuit(*app);
    }
    bool running(const ApplicationMemory& c)
    {
        auto it = table.find(c.id);
        return it != table.end() && !apps.hasTerminated(it->second);
    }
};

void writeInfoPlist(const std::string& bundle, const std::string& name)
{
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>test.tessyn." + name + "</string>"
              "<key>CFBundleName</key><string>" + name + "</string></dict></plist>\n");
}
} // namespace

TEST(MemoryReleaseEngine, SkipsIneligibleCandidatesAndKeepsOrder)
{
    std::vector<int32_t> asked;
    int samples = 0;
    auto request = [&](const ApplicationMemory& c) {
        asked.push_back(c.id);
        return c.name != "Refuses";
    };
    auto running = [](const ApplicationMemory&) { return false; };
    auto sample = [&]() -> std::optional<MemorySnapshot> { return snapshotAt(++samples); };
    std::vector<ApplicationMemory> candidates{
        candidate(10, "Zero", "/Applications/Zero.app", 0),
        candidate(11, "Negative", "/Applications/Neg.app", -5),
        candidate(12, "System", "/System/Applications/S.app"),
        candidate(13, "Usr", "/usr/lib/thing"),
        candidate(14, "Relative", "Applications/R.app"),
        candidate(15, "Empty", ""),
        candidate(static_cast<int32_t>(getpid()), "Tessyn", "/Applications/Tessyn.app"),
        candidate(20, "B", "/Applications/B.app"),
        candidate(30, "Refuses", "/Applications/R.app"),
        candidate(20, "B again", "/Applications/B.app"),
        candidate(40, "Skipped first", "/usr/x"),
        candidate(40, "C", "/Applications/C.app"),
        candidate(50, "A", "/opt/A.app"),
    };
    auto outcome = MemoryReleaseEngine::run(candidates, request, running, sample, 5);
    EXPECT_EQ(asked, (std::vector<int32_t>{20, 30, 40, 50})) << "each id asked once, after its checks pass";
    EXPECT_EQ(names(outcome.exited), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_TRUE(outcome.waiting.empty());
    EXPECT_EQ(names(outcome.rejected), (std::vector<std::string>{"Refuses"}));
    ASSERT_TRUE(outcome.before && outcome.after);
    EXPECT_EQ(outcome.before->date, 1);
    EXPECT_EQ(outcome.after->date, 2) << "one sample before the requests, one after the wait";

    auto failed = MemoryReleaseEngine::run({}, request, running, [] { return std::optional<MemorySnapshot>(); }, 1);
    EXPECT_FALSE(failed.before.has_value());
    EXPECT_FALSE(failed.after.has_value());
    EXPECT_TRUE(failed.exited.empty() && failed.waiting.empty() && failed.rejected.empty());

    // Without a sampling callback the system is read.
    auto live = MemoryReleaseEngine::run({}, request, running, nullptr, 0);
    EXPECT_TRUE(live.before.has_value());
}

TEST(MemoryReleaseEngine, CandidatesForTheReleaseReview)
{
    const int32_t self = 77;
    std::vector<ApplicationMemory> applications{
        candidate(self, "Self", "/Applications/Self.app", 9000),
        candidate(10, "Zero", "/Applications/Zero.app", 0),
        candidate(11, "Negative", "/Applications/Neg.app", -5),
        candidate(12, "System", "/System/Applications/S.app"),
        candidate(13, "Usr", "/usr/lib/thing"),
        candidate(14, "Relative", "Applications/R.app"),
        candidate(15, "Empty", ""),
        candidate(16, "Tie first", "/Applications/T1.app", 500),
        candidate(17, "Systemx", "/Systemx/S.app", 200),
        candidate(18, "Largest", "/opt/L.app", 800),
        candidate(19, "Tie second", "/Applications/T2.app", 500),
        candidate(20, "One byte", "/usr", 1),
    };
    EXPECT_EQ(names(MemoryReleaseEngine::candidates(applications, self)),
              (std::vector<std::string>{"Largest", "Tie first", "Tie second", "Systemx", "One byte"}))
        << "prefix tests on the path text; largest footprint first, ties in their listed order";
    EXPECT_TRUE(MemoryReleaseEngine::candidates({applications.begin(), applications.begin() + 7}, self).empty());
}

TEST(MemoryReleaseEngine, WaitsUntilGoneTimeoutOrStop)
{
    auto request = [](const ApplicationMemory&) { return true; };
    auto sample = []() -> std::optional<MemorySnapshot> { return std::nullopt; };
    std::vector<ApplicationMemory> candidates{candidate(20, "Slow", "/Applications/Slow.app"),
                                              candidate(21, "Stays", "/Applications/Stays.app")};

    // Leaves after 0.5 s; the other never does: the wait lasts the timeout.
    auto start = std::chrono::steady_clock::now();
    auto running = [&](const ApplicationMemory& c) { return c.id == 21 || secondsSince(start) < 0.5; };
    auto outcome = MemoryReleaseEngine::run(candidates, request, running, sample, 1.0);
    double elapsed = secondsSince(start);
    EXPECT_EQ(names(outcome.exited), (std::vector<std::string>{"Slow"}));
    EXPECT_EQ(names(outcome.waiting), (std::vector<std::string>{"Stays"}));
    EXPECT_GE(elapsed, 1.0);
    EXPECT_LT(elapsed, 1.6);

    // All gone after 0.5 s: the wait ends at the next poll, long before the timeout.
    start = std::chrono::steady_clock::now();
    auto leaves = [&](const ApplicationMemory&) { return secondsSince(start) < 0.5; };
    outcome = MemoryReleaseEngine::run(candidates, request, leaves, sample, 8.0);
    elapsed = secondsSince(start);
    EXPECT_EQ(outcome.exited.size(), 2u);
    EXPECT_GE(elapsed, 0.5);
    EXPECT_LT(elapsed, 1.2);

    // A negative timeout does not wait at all.
    start = std::chrono::steady_clock::now();
    auto always = [](const ApplicationMemory&) { return true; };
    outcome = MemoryReleaseEngine::run(candidates, request, always, sample, -3);
    EXPECT_LT(secondsSince(start), 0.15);
    EXPECT_EQ(outcome.waiting.size(), 2u);

    // A stop request ends the wait at once; the outcome is still produced.
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the stop lands mid-wait, on purpose
        stop.request_stop();
    });
    start = std::chrono::steady_clock::now();
    outcome = MemoryReleaseEngine::run(candidates, request, always, sample, 8.0, stop.get_token());
    elapsed = secondsSince(start);
    stopper.join();
    EXPECT_GE(elapsed, 0.25);
    EXPECT_LT(elapsed, 0.6) << "the sleep between polls is cut short";
    EXPECT_EQ(outcome.waiting.size(), 2u);
}

TEST(MemoryReleaseEngine, QuitsRealApplicationsNormally)
{
    TempHome home;
    std::string apps = home.path("Apps");
    struct Fixture {
        std::string name, mode;
        std::unique_ptr<ChildProcess> process;
        std::string bundle;
    };
    Fixture fixtures[3] = {{"Quits", "quits", nullptr, ""}, {"Stubborn", "stubborn", nullptr, ""},
                           {"Changed", "quits", nullptr, ""}};
    for (auto& f : fixtures) {
        f.bundle = apps + "/" + f.name + ".app";
        writeInfoPlist(f.bundle, f.name);
        std::string exe = copyExecutable(fixturePath("demo_app"), f.bundle + "/Contents/MacOS/" + f.name);
        f.process = std::make_unique<ChildProcess>(exe, std::vector<std::string>{f.mode, home.root()});
        ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(f.process->pid())), 10)) << f.name;
        f.bundle = realPath(f.bundle);
    }
    auto termMarker = [&](const Fixture& f) { return home.path("term-" + std::to_string(f.process->pid())); };

    LinuxRunningApplications running;
    ModelCallbacks model{running, {}};
    std::vector<ApplicationMemory> candidates;
    for (auto& f : fixtures) candidates.push_back(candidate(f.process->pid(), f.name, f.bundle));
    candidates[2].name = "Renamed since the list was read";

    auto start = std::chrono::steady_clock::now();
    auto outcome = MemoryReleaseEngine::run(
        candidates, [&](const ApplicationMemory& c) { return model.request(c); },
        [&](const ApplicationMemory& c) { return model.running(c); }, nullptr, 1.0);
    double elapsed = secondsSince(start);
    EXPECT_EQ(names(outcome.exited), (std::vector<std::string>{"Quits"}));
    EXPECT_EQ(names(outcome.waiting), (std::vector<std::string>{"Stubborn"}));
    EXPECT_EQ(names(outcome.rejected), (std::vector<std::string>{"Renamed since the list was read"}));
    EXPECT_GE(elapsed, 1.0);
    EXPECT_LT(elapsed, 2.0);
    EXPECT_TRUE(outcome.before && outcome.after);

    EXPECT_TRUE(waitForFile(termMarker(fixtures[0]), 1)) << "asked through SIGTERM";
    EXPECT_TRUE(waitForFile(termMarker(fixtures[1]), 1)) << "asked, and declined";
    EXPECT_NE(access(termMarker(fixtures[2]).c_str(), F_OK), 0) << "a changed identity is never signalled";
    EXPECT_EQ(fixtures[1].process->wait(0.2), -1) << "the stubborn one still runs";
    EXPECT_EQ(fixtures[2].process->wait(0.2), -1) << "the changed one still runs";
    int status = fixtures[0].process->wait(5);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // A relaunched application (same name and bundle, new pid) is rejected too.
    ApplicationMemory stale = candidate(fixtures[0].process->pid(), "Quits", fixtures[0].bundle);
    ModelCallbacks again{running, {}};
    outcome = MemoryReleaseEngine::run({stale}, [&](const ApplicationMemory& c) { return again.request(c); },
                                       [&](const ApplicationMemory& c) { return again.running(c); }, nullptr, 1.0);
    EXPECT_EQ(names(outcome.rejected), (std::vector<std::string>{"Quits"}));
}

TEST(MemoryReleaseEngine, WaitEndsWhenAllRealApplicationsHaveGone)
{
    TempHome home;
    std::vector<std::unique_ptr<ChildProcess>> processes;
    std::vector<ApplicationMemory> candidates;
    for (std::string name : {"One", "Two"}) {
        std::string bundle = home.path("Apps/" + name + ".app");
        writeInfoPlist(bundle, name);
        std::string exe = copyExecutable(fixturePath("demo_app"), bundle + "/Contents/MacOS/run");
        processes.push_back(std::make_unique<ChildProcess>(exe, std::vector<std::string>{"quits", home.root()}));
        ASSERT_TRUE(waitForFile(home.path("ready-" + std::to_string(processes.back()->pid())), 10));
        candidates.push_back(candidate(processes.back()->pid(), name, realPath(bundle)));
    }
    LinuxRunningApplications running;
    ModelCallbacks model{running, {}};
    auto start = std::chrono::steady_clock::now();
    auto outcome = MemoryReleaseEngine::run(
        candidates, [&](const ApplicationMemory& c) { return model.request(c); },
        [&](const ApplicationMemory& c) { return model.running(c); }, nullptr, 8.0);
    EXPECT_LT(secondsSince(start), 1.0) << "no waiting for the timeout once all have gone";
    EXPECT_EQ(names(outcome.exited), (std::vector<std::string>{"One", "Two"}));
    EXPECT_TRUE(outcome.waiting.empty());
}
