#include "engine/FileEngine.h"
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <stop_token>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Recorded {
    std::vector<ScanProgress> calls;
    ScanReport report;
};

Recorded scanRecording(const std::string& root, std::stop_source* stop = nullptr)
{
    Recorded r;
    std::stop_token token = stop ? stop->get_token() : std::stop_token();
    r.report = FileEngine::scan(root, [&](const ScanProgress& p) { r.calls.push_back(p); }, token);
    return r;
}

std::vector<std::string> names(const ScanReport& report, const std::string& root)
{
    std::vector<std::string> out;
    for (const auto& f : report.files) out.push_back(f.path.substr(root.size() + 1));
    return out;
}

} // namespace

TEST(FolderScan, MissingAndEmptyRoots)
{
    TempHome home;
    auto missing = scanRecording(home.path("nope"));
    EXPECT_EQ(missing.report.warnings, std::vector<std::string>{"扫描目录不存在或无法访问。"});
    EXPECT_EQ(missing.report.skipped, 1);
    EXPECT_TRUE(missing.report.files.empty());
    EXPECT_EQ(missing.report.elapsed, 0);
    EXPECT_TRUE(missing.calls.empty());

    auto notFolder = scanRecording(writeFile(home.path("plain"), "x"));
    EXPECT_EQ(notFolder.report.warnings, std::vector<std::string>{"无法读取所选目录。"});
    EXPECT_EQ(notFolder.report.skipped, 0);

    makeDirs(home.path("empty"));
    auto empty = scanRecording(home.path("empty"));
    EXPECT_TRUE(empty.report.files.empty());
    EXPECT_EQ(empty.report.inspected, 0);
    EXPECT_EQ(empty.report.skipped, 0);
    EXPECT_TRUE(empty.report.warnings.empty());
    EXPECT_TRUE(empty.report.savedCategories.empty());
    EXPECT_FALSE(empty.report.cancelled);
    ASSERT_EQ(empty.calls.size(), 1u) << "only the final report";
    EXPECT_EQ(empty.calls[0], (ScanProgress{0, 0, 0, ""}));
}

TEST(FolderScan, SkipsLinksPackagesAndProtectedFolders)
{
    TempHome home;
    std::string root = home.path("root");
    writeFile(root + "/keep.txt", "12345");
    makeDirs(home.path("big"));
    writeFile(home.path("big/inside.bin"), std::string(1000, 'x'));
    symlink(home.path("big").c_str(), (root + "/link-to-big").c_str());
    symlink("/nonexistent", (root + "/dangling").c_str());
    writeFile(root + "/deep/er/Library/hidden.txt", "x");
    writeFile(root + "/deep/.git/objects/blob", "x");
    writeFile(root + "/deep/library/walked.txt", "abc");
    writeFile(root + "/files/.git", "a file named .git");
    writeFile(root + "/files/Library", "a file named Library");
    writeFile(root + "/Demo.app/Contents/Info.plist", "x");
    writeFile(root + "/Notes.RTFD/TXT.rtf", "x");
    writeFile(root + "/.Trash-1000/files/old.txt", "x");
    writeFile(root + "/.Trash-x/kept.txt", "x");
    mkfifo((root + "/pipe").c_str(), 0644);

    auto report = FileEngine::scan(root);
    auto found = names(report, root);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{".Trash-x/kept.txt", "deep/library/walked.txt", "files/.git",
                                                "files/Library", "keep.txt"}));
    // Two links, Library, .git, two packages, the per-volume Trash, and the pipe.
    EXPECT_EQ(report.skipped, 8);
    EXPECT_EQ(report.inspected, 6) << "five files and the pipe";
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(report.fileSizeTotal, 5 + 3 + 17 + 20 + 1);
}

TEST(FolderScan, NeverEntersTheHomeTrash)
{
    TempHome home;
    writeFile(home.dataHome() + "/Trash/files/trashed.txt", "x");
    writeFile(home.dataHome() + "/Trash/info/trashed.txt.trashinfo", "x");
    writeFile(home.dataHome() + "/notes/Trash/kept.txt", "x");
    auto report = FileEngine::scan(home.root());
    auto found = names(report, home.root());
    EXPECT_EQ(found, std::vector<std::string>{"data/notes/Trash/kept.txt"});
    EXPECT_EQ(report.skipped, 1);
}

// Tessyn's own store folder is skipped like the home Trash, also when the data home is named
// through a link; a folder of the same name elsewhere is walked.
TEST(FolderScan, NeverEntersTheOwnStoreFolder)
{
    for (bool linkedDataHome : {false, true}) {
        SCOPED_TRACE(linkedDataHome ? "data home named through a link" : "plain data home");
        TempHome home;
        writeFile(home.dataHome() + "/Tessyn/operations.json", "[]");
        writeFile(home.dataHome() + "/Tessyn/operations.json.lock", "");
        writeFile(home.dataHome() + "/Tessyn/pending-actions.json", "[]");
        writeFile(home.dataHome() + "/notes/Tessyn/kept.txt", "x");
        if (linkedDataHome) {
            std::filesystem::create_directory_symlink(home.dataHome(), home.path("data-link"));
            setenv("XDG_DATA_HOME", home.path("data-link").c_str(), 1);
        }
        auto report = FileEngine::scan(home.root());
        EXPECT_EQ(names(report, home.root()), std::vector<std::string>{"data/notes/Tessyn/kept.txt"});
        EXPECT_EQ(report.skipped, linkedDataHome ? 2 : 1) << "the store folder (and the link)";
    }
}

TEST(FolderScan, OrderIsBySizeThenDepthFirstNameOrder)
{
    TempHome home;
    std::string root = home.path("root");
    writeFile(root + "/c", "12345");
    writeFile(root + "/b/x", "12345");
    writeFile(root + "/a/z", "12345");
    writeFile(root + "/a/y", "12345");
    writeFile(root + "/a/big", "1234567890");
    writeFile(root + "/d.jpg", "1");
    auto report = FileEngine::scan(root);
    EXPECT_EQ(names(report, root), (std::vector<std::string>{"a/big", "a/y", "a/z", "b/x", "c", "d.jpg"}));
    ASSERT_EQ(report.savedCategories.size(), 2u);
    EXPECT_EQ(report.savedCategories[0], (SpaceCategory{"其他", 5, 30}));
    EXPECT_EQ(report.savedCategories[1], (SpaceCategory{"图片", 1, 1}));

    // Statistics follow the file list after files are taken away.
    report.files.erase(std::remove_if(report.files.begin(), report.files.end(),
                                      [](const FileEntry& f) { return f.category() == "其他"; }),
                       report.files.end());
    report.rebuildStatistics();
    EXPECT_EQ(report.savedCategories, (std::vector<SpaceCategory>{{"图片", 1, 1}}));
    EXPECT_EQ(report.fileSizeTotal, 1);
}

TEST(FolderScan, UnreadableItemsAreCountedButWarningsStopAtTwenty)
{
    TempHome home;
    std::string root = home.path("root");
    for (int i = 0; i < 25; ++i) {
        char name[16];
        snprintf(name, sizeof name, "locked%02d", i);
        writeFile(root + "/" + name + "/secret.txt", "x");
        chmod((root + "/" + name).c_str(), 0);
    }
    writeFile(root + "/open.txt", "x");
    // Root reads everything, so the walk runs as an unprivileged user.
    int status = runAsNobody([&] {
        ScanReport first = FileEngine::scan(root);
        ScanReport second = FileEngine::scan(root);
        if (first.skipped != 25) return 1;
        if (first.warnings.size() != 20) return 2;
        if (first.warnings[0] != "locked00：Permission denied") return 3;
        if (first.warnings[19] != "locked19：Permission denied") return 4;
        if (first.files.size() != 1) return 5;
        if (first.warnings != second.warnings) return 6;
        return 0;
    });
    EXPECT_EQ(status, 0) << "1 skipped, 2 warning count, 3/4 warning order or text, 5 files, 6 determinism";
}

TEST(FolderScan, CancellationReturnsWhatWasFound)
{
    TempHome home;
    std::string root = home.path("root");
    for (int d = 0; d < 40; ++d)
        for (int f = 0; f < 250; ++f) writeFile(root + "/d" + std::to_string(d) + "/f" + std::to_string(f), std::string(f % 7, 'x'));

    auto openDescriptors = [] {
        std::string listing;
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            auto target = std::filesystem::read_symlink(e.path(), ec);
            // The iterator's own descriptor is listed too.
            if (!ec && target.string().rfind("/proc/", 0) != 0) listing += target.string() + "\n";
        }
        return listing;
    };
    std::string descriptorsBefore = openDescriptors();
    std::stop_source before;
    before.request_stop();
    for (int i = 0; i < 20; ++i) {
        auto none = scanRecording(root, &before);
        EXPECT_TRUE(none.report.cancelled);
        EXPECT_TRUE(none.report.files.empty());
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore) << "a cancelled walk closes the folder it opened";

    auto complete = FileEngine::scan(root);
    EXPECT_FALSE(complete.cancelled);
    EXPECT_EQ(complete.files.size(), 10000u);

    // The stop arrives from the progress callback while the workers go on, so on a loaded
    // machine a walk may finish first; such a walk must then be complete and not cancelled.
    bool stoppedMidWalk = false;
    for (int attempt = 0; attempt < 5 && !stoppedMidWalk; ++attempt) {
        std::stop_source stop;
        Recorded r;
        r.report = FileEngine::scan(root, [&](const ScanProgress& p) {
            r.calls.push_back(p);
            stop.request_stop();
        }, stop.get_token());
        if (!r.report.cancelled) {
            EXPECT_EQ(r.report.files.size(), 10000u);
            continue;
        }
        stoppedMidWalk = r.report.files.size() < 10000u;
        EXPECT_TRUE(std::is_sorted(r.report.files.begin(), r.report.files.end(),
                                   [](const FileEntry& a, const FileEntry& b) { return a.size > b.size; }));
        ASSERT_FALSE(r.calls.empty());
        EXPECT_EQ(r.calls.back().current, "");
        int64_t total = 0;
        for (const auto& f : r.report.files) total += f.size;
        EXPECT_EQ(r.report.fileSizeTotal, total);
    }
    EXPECT_TRUE(stoppedMidWalk) << "a stop during the walk returns part of the files";
}

TEST(FolderScan, ProgressIsThrottledAndFinal)
{
    TempHome home;
    std::string root = home.path("root");
    for (int i = 0; i < 300; ++i) writeFile(root + "/f" + std::to_string(i), "abc");
    auto r = scanRecording(root);
    ASSERT_GE(r.calls.size(), 2u) << "the first item always reports, then the final report";
    EXPECT_LE(static_cast<double>(r.calls.size()), 2 + r.report.elapsed / 0.2 + 1);
    EXPECT_FALSE(r.calls.front().current.empty());
    EXPECT_EQ(r.calls.back(), (ScanProgress{300, 0, 900, ""}));
}
