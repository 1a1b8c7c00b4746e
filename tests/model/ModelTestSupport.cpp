#include "ModelTestSupport.h"

#include "engine/Uuid.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

// One Qt application for the whole test binary.
class QtApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "tessyn_model_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const qtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

} // namespace

RunningApplication runningApp(int32_t pid, std::optional<std::string> name, std::optional<std::string> bundlePath,
                              std::optional<std::string> bundleID, bool regular)
{
    RunningApplication app;
    app.pid = pid;
    app.name = std::move(name);
    app.bundlePath = std::move(bundlePath);
    app.bundleIdentifier = std::move(bundleID);
    app.regular = regular;
    return app;
}

AppModel::Collaborators ModelHome::services(std::optional<std::string> chosen) const
{
    AppModel::Collaborators services;
    services.chooseFolder = [chosen] { return chosen; };
    services.preview = [](const std::string&) { return std::optional<std::string>(); };
    services.runningApplications = apps;
    services.readMemory = [] {
        MemorySnapshot snapshot;
        snapshot.total = 1;
        return std::optional<MemorySnapshot>(snapshot);
    };
    services.readApplicationMemory = [](const std::vector<ApplicationIdentity>&) { return std::vector<ApplicationMemory>{}; };
    services.documentsFolder = [folder = home.path("Documents")] { return std::optional<std::string>(folder); };
    return services;
}

std::unique_ptr<AppModel> ModelHome::model(AppModel::Collaborators services) const
{
    return std::make_unique<AppModel>(std::nullopt, std::vector<std::string>{home.path("Applications")}, std::nullopt,
                                      std::move(services));
}

std::unique_ptr<AppModel> ModelHome::scannedModel(int count, const std::string& prefix) const
{
    makeFiles(tree(), count, prefix);
    auto scanned = model(services(tree()));
    chooseAndScan(*scanned);
    return scanned;
}

HistorySaves::HistorySaves(const std::string& storeFolder) : watch_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK))
{
    EXPECT_GE(watch_, 0);
    EXPECT_GE(inotify_add_watch(watch_, storeFolder.c_str(), IN_MOVED_TO), 0) << storeFolder;
}

HistorySaves::~HistorySaves() { close(watch_); }

int HistorySaves::count()
{
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = read(watch_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + at);
            if (event->len && std::string(event->name) == "operations.json") ++count_;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return count_;
}

Operation movedRecord(const std::string& path, double date, bool success)
{
    Operation op;
    op.id = newUUID();
    op.date = date;
    op.path = path;
    op.size = 10;
    op.success = success;
    op.detail = success ? "已移入废纸篓" : "准备移入废纸篓";
    if (success) op.trashPath = "/nowhere/Trash/files/" + path.substr(path.rfind('/') + 1);
    op.resourceID = "1:2";
    op.modified = date - 100.25;
    return op;
}

std::vector<std::string> makeFiles(const std::string& folder, int count, const std::string& prefix)
{
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%05d.txt", prefix.c_str(), i);
        paths.push_back(writeFile(folder + "/" + name, "content of " + std::string(name)));
    }
    return paths;
}

std::vector<std::string> historyPaths(const std::vector<Operation>& history)
{
    std::vector<std::string> out;
    for (const Operation& op : history) out.push_back(op.path);
    return out;
}

namespace {
std::string threadName(const std::string& task)
{
    std::ifstream in("/proc/self/task/" + task + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Threads other than the main one that still carry the main thread's name.
int unnamedWorkerThreads()
{
    std::string main = std::to_string(getpid());
    std::string mainName = threadName(main);
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::string task = entry.path().filename().string();
        if (task != main && threadName(task) == mainName) ++count;
    }
    return count;
}
} // namespace

bool waitForWorkersEnded(int milliseconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (unnamedWorkerThreads() > 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool settleWorkers(int milliseconds)
{
    if (!waitForWorkersEnded(milliseconds)) return false;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return true;
}

void chooseAndScan(AppModel& model)
{
    model.choose();
    ASSERT_TRUE(model.root().has_value()) << model.message().value_or("");
    model.scan();
    ASSERT_TRUE(waitFor([&] { return !model.scanning(); }));
    ASSERT_TRUE(model.report());
    ASSERT_TRUE(waitFor([&] { return !model.filtering(); }));
}
