#include "ModelTestSupport.h"

#include "engine/FileEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <unistd.h>

namespace {

// A per-application reading that the test releases.
struct HeldReading {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int calls = 0;
    std::vector<ApplicationIdentity> lastIdentities;

    std::vector<ApplicationMemory> read(const std::vector<ApplicationIdentity>& identities)
    {
        std::unique_lock lock(mutex);
        ++calls;
        lastIdentities = identities;
        released.wait(lock, [&] { return open; });
        std::vector<ApplicationMemory> out;
        for (const auto& id : identities) out.push_back({id.pid, id.name, 10, 20, 1, 0, id.bundlePath});
        return out;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        released.notify_all();
    }
    int callCount()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

} // namespace

TEST(AppModelMemory, SamplesAndApplicationReadings)
{
    ModelHome env;
    int sample = 0;
    bool failing = false;
    auto held = std::make_shared<HeldReading>();
    AppModel::Collaborators services = env.services();
    services.readMemory = [&]() -> std::optional<MemorySnapshot> {
        if (failing) return std::nullopt;
        MemorySnapshot snapshot;
        snapshot.date = ++sample;
        return snapshot;
    };
    services.readApplicationMemory = [held](const std::vector<ApplicationIdentity>& ids) { return held->read(ids); };
    env.apps->set({runningApp(100, std::string("Editor"), std::string("/Applications/Editor.app"), std::string("org.editor")),
                   runningApp(101, std::nullopt, std::nullopt),
                   runningApp(102, std::string("Helper"), std::string("/usr/lib/helper"), std::nullopt, false)});
    auto model = env.model(services);
    EXPECT_EQ(sample, 1) << "one sample while the model is built";
    EXPECT_TRUE(model->memorySamples().empty());

    model->sampleMemory();
    model->sampleMemory();
    EXPECT_EQ(model->memorySamples().size(), 2u) << "both calls take a system sample";
    ASSERT_TRUE(waitFor([&] { return held->callCount() == 1; }));
    EXPECT_EQ(held->callCount(), 1) << "one per-application reading at a time";
    EXPECT_EQ(model->runningApplicationIDs(), AppModel::PathSet{"org.editor"});
    EXPECT_EQ(model->runningApplicationPaths(), (AppModel::PathSet{"/Applications/Editor.app", "/usr/lib/helper"}));
    ASSERT_EQ(held->lastIdentities.size(), 2u) << "regular applications only";
    EXPECT_EQ(held->lastIdentities[0], (ApplicationIdentity{100, "Editor", "/Applications/Editor.app"}));
    EXPECT_EQ(held->lastIdentities[1], (ApplicationIdentity{101, "未知应用", ""}));
    held->release();
    ASSERT_TRUE(waitFor([&] { return !model->applications().empty(); }));
    EXPECT_EQ(model->applications().size(), 2u);
    EXPECT_TRUE(model->applicationsDate().has_value());
    model->sampleMemory();
    ASSERT_TRUE(waitFor([&] { return held->callCount() == 2; })) << "the next sample reads again";

    for (int i = 0; i < 127; ++i) model->sampleMemory();
    ASSERT_EQ(model->memorySamples().size(), 120u);
    EXPECT_EQ(model->memorySamples().front().date, sample - 119) << "the newest 120 are kept";
    EXPECT_EQ(model->memorySamples().back().date, sample);

    failing = true;
    auto kept = model->memorySamples();
    model->sampleMemory();
    EXPECT_FALSE(model->memory().has_value()) << "a failed reading publishes nothing as the newest";
    EXPECT_EQ(model->memorySamples(), kept);

    // An unchanged snapshot of running applications publishes nothing.
    QSignalSpy ids(model.get(), &AppModel::runningApplicationIDsChanged);
    QSignalSpy paths(model.get(), &AppModel::runningApplicationPathsChanged);
    model->updateRunningApplicationSnapshot(env.apps->list());
    EXPECT_EQ(ids.count() + paths.count(), 0);
    InstalledApp editor{"/Applications/Editor.app", "Editor", "org.editor", "1:1", 0};
    InstalledApp later{"/Applications/Later.app", "Later", "org.later", "1:2", 0};
    EXPECT_TRUE(model->appAppearsRunning(editor));
    env.apps->set({runningApp(200, std::string("Later"), std::string("/Applications/Later.app"), std::string("org.later"))});
    EXPECT_FALSE(model->appAppearsRunning(later)) << "answers from the last snapshot";
    EXPECT_TRUE(model->appIsRunning(later)) << "asks the live list";
    EXPECT_FALSE(model->appIsRunning(editor));
    model->updateRunningApplicationSnapshot(env.apps->list());
    EXPECT_TRUE(model->appAppearsRunning(later));
    EXPECT_EQ(ids.count(), 1);
}

TEST(AppModelMemory, QuitRequestsAndQuitDecision)
{
    ModelHome env;
    env.apps->set({runningApp(100, std::string("Editor"), std::string("/Applications/Editor.app")),
                   runningApp(101, std::string("Daemon"), std::string("/Applications/Daemon.app"), std::nullopt, false),
                   runningApp(getpid(), std::string("Tessyn"), std::string("/Applications/Tessyn.app"))});
    auto model = env.model();
    const std::string identity = "应用已变化或无法确认身份，请刷新后重试。";
    ApplicationMemory editor{100, "Editor", 1, 1, 1, 0, "/Applications/Editor.app"};
    struct Case {
        const char* what;
        ApplicationMemory row;
    } refused[] = {
        {"this program", {getpid(), "Tessyn", 1, 1, 1, 0, "/Applications/Tessyn.app"}},
        {"no bundle path", {100, "Editor", 1, 1, 1, 0, ""}},
        {"process gone", {999, "Editor", 1, 1, 1, 0, "/Applications/Editor.app"}},
        {"name changed", {100, "Editor 2", 1, 1, 1, 0, "/Applications/Editor.app"}},
        {"bundle moved", {100, "Editor", 1, 1, 1, 0, "/Applications/Other.app"}},
        {"not a regular application", {101, "Daemon", 1, 1, 1, 0, "/Applications/Daemon.app"}},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        model->setMessage(std::nullopt);
        model->requestQuit(c.row);
        EXPECT_EQ(model->message(), identity);
    }
    EXPECT_TRUE(env.apps->quitRequests().empty()) << "no refused row is asked to quit";

    model->requestQuit(editor);
    EXPECT_EQ(model->message(), "已请求正常退出。应用可能正在等待保存确认，请检查它的窗口。");
    env.apps->acceptQuit(false);
    model->requestQuit(editor);
    EXPECT_EQ(model->message(), "应用未接受退出请求，请在应用中保存并退出。");
    EXPECT_EQ(env.apps->quitRequests(), (std::vector<int32_t>{100, 100}));

    // The shell's quit decision.
    auto files = env.scannedModel(200);
    AppModel::PathSet all;
    for (const FileEntry& file : files->report()->files) all.insert(file.path);
    files->setSelection(all);
    files->trashSelected();
    EXPECT_FALSE(files->prepareToQuit()) << "refused while files are processed";
    EXPECT_EQ(files->message(), "文件处理尚未完成，请等待结果保存后再退出。");
    ASSERT_TRUE(waitFor([&] { return !files->processing(); }));
    files->setSelection({});
    files->scan();
    EXPECT_TRUE(files->prepareToQuit());
    ASSERT_TRUE(waitFor([&] { return !files->scanning(); })) << "the cancelled scan's completion still arrives";
    EXPECT_TRUE(files->report()->cancelled || files->report()->files.empty());
}

TEST(AppModelMemory, ReleaseAndPreview)
{
    ModelHome env;
    env.apps->set({runningApp(100, std::string("Editor"), std::string("/Applications/Editor.app")),
                   runningApp(101, std::string("Viewer"), std::string("/Applications/Viewer.app"))});
    std::vector<std::string> previewed;
    AppModel::Collaborators services = env.services();
    services.preview = [&](const std::string& path) -> std::optional<std::string> {
        previewed.push_back(path);
        if (path == "/broken") return std::string("No such file or directory");
        return std::nullopt;
    };
    auto model = env.model(services);

    model->releaseMemory({});
    EXPECT_FALSE(model->memoryReleasing()) << "no candidates: nothing starts";

    std::vector<ApplicationMemory> candidates{{100, "Editor", 10, 10, 1, 0, "/Applications/Editor.app"},
                                              {101, "Viewer renamed", 10, 10, 1, 0, "/Applications/Viewer.app"}};
    env.apps->quitTerminates(true);
    model->releaseMemory(candidates);
    EXPECT_TRUE(model->memoryReleasing());
    EXPECT_TRUE(model->maintenanceBusy());
    model->refreshInstalledApps();
    EXPECT_FALSE(model->maintenanceScanning()) << "one long operation at a time";
    ASSERT_TRUE(waitFor([&] { return !model->memoryReleasing(); }));
    ASSERT_TRUE(model->memoryReleaseOutcome().has_value());
    const MemoryReleaseOutcome& outcome = *model->memoryReleaseOutcome();
    ASSERT_EQ(outcome.exited.size(), 1u);
    EXPECT_EQ(outcome.exited[0].name, "Editor");
    ASSERT_EQ(outcome.rejected.size(), 1u) << "a row whose name changed is not asked";
    EXPECT_EQ(outcome.rejected[0].name, "Viewer renamed");
    EXPECT_TRUE(outcome.waiting.empty());
    EXPECT_EQ(env.apps->quitRequests(), std::vector<int32_t>{100});
    EXPECT_FALSE(model->memorySamples().empty()) << "memory is sampled again after a release";

    model->quickLook("/some/file.txt");
    EXPECT_FALSE(model->message().has_value());
    model->quickLook("/broken");
    EXPECT_EQ(model->message(), "No such file or directory");
    EXPECT_EQ(previewed, (std::vector<std::string>{"/some/file.txt", "/broken"}));
}

TEST(AppModelMemory, InstalledApplications)
{
    ModelHome env;
    std::string bundle = env.home.path("Applications/Sample.app");
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>org.sample</string>"
              "<key>CFBundleExecutable</key><string>sample</string></dict></plist>");
    writeFile(bundle + "/Contents/MacOS/sample", "#!/bin/sh\n");
    env.apps->set({runningApp(300, std::string("Sample"), FileEngine::canonicalURL(bundle), std::string("org.sample"))});
    auto model = env.model();
    model->refreshInstalledApps();
    EXPECT_TRUE(model->maintenanceScanning());
    model->refreshInstalledApps(); // refused: already listing
    ASSERT_TRUE(waitFor([&] { return !model->maintenanceScanning(); }));
    ASSERT_EQ(model->installedApps().size(), 1u);
    EXPECT_EQ(model->installedApps()[0].bundleID, "org.sample");
    EXPECT_TRUE(model->appAppearsRunning(model->installedApps()[0])) << "the listing refreshes the running snapshot";
}
