#include "engine/CancellationError.h"
#include "TestSupport.h"
#include "engine/DuplicateEngine.h"
#include "engine/FileEngine.h"
#include "engine/Sha256.h"
#include "platform/Errors.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kChanged = "文件已变化、已移动或超出扫描范围，请重新扫描。";

FileEntry record(const std::string& path)
{
    auto entry = FileEngine::snapshot(path);
    if (!entry) throw std::runtime_error("not a regular file: " + path);
    return *entry;
}

std::string sha256sum(const std::string& path)
{
    auto result = runCommand("sha256sum " + shellQuote(path));
    return result.output.substr(0, 64);
}

struct Run {
    DuplicateReport report;
    std::vector<DuplicateProgress> calls;
};

Run findRecording(const std::vector<FileEntry>& files, const std::string& root, std::stop_token stop = {},
                  const std::function<void(const DuplicateProgress&)>& also = {})
{
    Run run;
    run.report = DuplicateEngine::find(
        files, root,
        [&](const DuplicateProgress& p) {
            run.calls.push_back(p);
            if (also) also(p);
        },
        stop);
    return run;
}

std::vector<std::vector<std::string>> groupNames(const DuplicateReport& report, const std::string& root)
{
    std::vector<std::vector<std::string>> out;
    for (const auto& group : report.groups) {
        std::vector<std::string> names;
        for (const auto& file : group.files) names.push_back(file.path.substr(root.size() + 1));
        out.push_back(names);
    }
    return out;
}

} // namespace

TEST(DuplicateEngine, EmptyListReportsTwice)
{
    TempHome home;
    auto run = findRecording({}, home.root());
    EXPECT_TRUE(run.report.groups.empty());
    EXPECT_TRUE(run.report.warnings.empty());
    EXPECT_FALSE(run.report.cancelled);
    ASSERT_EQ(run.calls.size(), 2u);
    EXPECT_EQ(run.calls[0], (DuplicateProgress{0, 0, ""}));
    EXPECT_EQ(run.calls[1], (DuplicateProgress{0, 0, ""}));
}

TEST(DuplicateEngine, HardLinksOnceEmptyFilesNeverSameSizeApart)
{
    TempHome home;
    const std::string root = home.path("tree");
    writeFile(root + "/b/copy.txt", "hello");
    writeFile(root + "/a/original.txt", "hello");
    writeFile(root + "/c/other.txt", "hellx"); // same size, other content
    ASSERT_EQ(link((root + "/a/original.txt").c_str(), (root + "/z-link.txt").c_str()), 0);
    for (int i = 0; i < 5; ++i) writeFile(root + "/empty" + std::to_string(i), "");
    writeFile(root + "/alone.bin", "a size nobody else has");
    // A lone file and its hard link: one identity, so nothing to compare it with.
    writeFile(root + "/solo.dat", "0123456789abcdef0123");
    ASSERT_EQ(link((root + "/solo.dat").c_str(), (root + "/solo-link.dat").c_str()), 0);

    // The link comes first, so it stands for the file and original.txt is dropped.
    std::vector<FileEntry> files = {record(root + "/z-link.txt"),  record(root + "/a/original.txt"),
                                    record(root + "/b/copy.txt"),  record(root + "/c/other.txt"),
                                    record(root + "/alone.bin"),   record(root + "/solo.dat"),
                                    record(root + "/solo-link.dat")};
    for (int i = 0; i < 5; ++i) files.push_back(record(root + "/empty" + std::to_string(i)));

    auto run = findRecording(files, root);
    EXPECT_EQ(groupNames(run.report, root), (std::vector<std::vector<std::string>>{{"b/copy.txt", "z-link.txt"}}));
    ASSERT_EQ(run.report.groups.size(), 1u);
    EXPECT_EQ(run.report.groups[0].id, sha256sum(root + "/b/copy.txt"));
    EXPECT_TRUE(run.report.warnings.empty());
    EXPECT_FALSE(run.report.cancelled);
    // Candidates sharing a size: the link, copy.txt and other.txt; empty files take no part.
    ASSERT_GE(run.calls.size(), 2u);
    EXPECT_EQ(run.calls.front(), (DuplicateProgress{0, 3, ""}));
    EXPECT_EQ(run.calls.back(), (DuplicateProgress{3, 3, ""}));

    // Empty files alone, however many, never form a group.
    std::vector<FileEntry> empties;
    for (int i = 0; i < 5; ++i) empties.push_back(record(root + "/empty" + std::to_string(i)));
    auto emptyRun = findRecording(empties, root);
    EXPECT_TRUE(emptyRun.report.groups.empty());
    EXPECT_EQ(emptyRun.calls.back(), (DuplicateProgress{0, 0, ""}));
}

// Files of one size are read in stages and given up once unique; the groups must still be
// exactly those of a full hash of every file, whatever byte the files differ in.
TEST(DuplicateEngine, GroupsEqualFullHashesAcrossReadingStages)
{
    TempHome home;
    const std::string root = home.path("tree");
    std::mt19937 rng(7);
    auto bytes = [&](size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng());
        return s;
    };
    const size_t sizes[] = {1, 4095, 4096, 4097, 8191, 8192, 12000, (1u << 20) + 3, (2u << 20) + 5, 3u << 20};
    std::vector<FileEntry> files;
    int counter = 0;
    for (size_t size : sizes) {
        std::string base = bytes(size);
        // Variants differing at the first byte, at stage boundaries, and at the last byte.
        std::vector<size_t> flips = {0, size - 1};
        for (size_t at : {size_t{4095}, size_t{4096}, size_t{(1u << 20)}, size_t{(1u << 20) + 1}})
            if (at < size) flips.push_back(at);
        std::vector<std::string> variants = {base};
        for (size_t at : flips) {
            std::string v = base;
            v[at] = static_cast<char>(v[at] ^ 0x5a);
            variants.push_back(v);
        }
        for (size_t v = 0; v < variants.size(); ++v) {
            int copies = 1 + static_cast<int>(rng() % 3); // some variants have no twin
            for (int c = 0; c < copies; ++c) {
                std::string path = root + "/d" + std::to_string(counter % 7) + "/f" + std::to_string(counter);
                ++counter;
                writeFile(path, variants[v]);
                files.push_back(record(path));
            }
        }
    }
    std::shuffle(files.begin(), files.end(), rng);

    // Reference: one full digest per file, grouped.
    std::map<std::string, std::vector<std::string>> byHash;
    for (const auto& file : files) byHash[DuplicateEngine::digest(file, root)].push_back(file.path);
    std::set<std::pair<std::string, std::vector<std::string>>> expected;
    for (auto& [hash, paths] : byHash) {
        std::sort(paths.begin(), paths.end());
        if (paths.size() >= 2) expected.insert({hash, paths});
    }

    auto run = findRecording(files, root);
    std::set<std::pair<std::string, std::vector<std::string>>> actual;
    for (const auto& group : run.report.groups) {
        std::vector<std::string> paths;
        for (const auto& file : group.files) paths.push_back(file.path);
        EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end())) << "files of a group in path order";
        actual.insert({group.id, paths});
    }
    EXPECT_EQ(actual, expected);
    EXPECT_TRUE(run.report.warnings.empty());
    for (size_t i = 1; i < run.report.groups.size(); ++i) {
        const auto& a = run.report.groups[i - 1].files.front();
        const auto& b = run.report.groups[i].files.front();
        EXPECT_TRUE(a.size > b.size || (a.size == b.size && a.path < b.path)) << "groups largest first";
    }
    for (size_t i = 1; i < run.calls.size(); ++i)
        EXPECT_LE(run.calls[i - 1].completed, run.calls[i].completed) << "progress never goes back";
    EXPECT_EQ(run.calls.back().completed, run.calls.back().total);
    EXPECT_EQ(run.calls.back().current, "");
}

TEST(DuplicateEngine, ChangedAndUnreadableFilesBecomeWarnings)
{
    TempHome home;
    const std::string root = home.path("tree");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) writeFile(root + "/" + name, "same content");
    auto files = std::vector<FileEntry>{record(root + "/a.txt"), record(root + "/b.txt"), record(root + "/c.txt")};
    setAge(root + "/b.txt", 100); // touched after the scan
    auto run = findRecording(files, root);
    EXPECT_EQ(groupNames(run.report, root), (std::vector<std::vector<std::string>>{{"a.txt", "c.txt"}}));
    EXPECT_EQ(run.report.warnings, std::vector<std::string>{"b.txt：" + kChanged});
    EXPECT_EQ(run.calls.back(), (DuplicateProgress{3, 3, ""})) << "a failed file still counts as handled";

    // At most 20 warnings, in path order whatever thread met them first.
    std::vector<FileEntry> many;
    for (int i = 0; i < 30; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/many/f%02d", i);
        many.push_back(record(writeFile(root + name, "twelve bytes")));
    }
    std::reverse(many.begin(), many.end());
    for (int i = 0; i < 30; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/many/f%02d", i);
        setAge(root + name, 50);
    }
    auto capped = findRecording(many, root);
    ASSERT_EQ(capped.report.warnings.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "f%02d：", i);
        EXPECT_EQ(capped.report.warnings[static_cast<size_t>(i)], line + kChanged);
    }
    EXPECT_TRUE(capped.report.groups.empty());

    // A file root cannot read: its open error, for the unprivileged user too.
    writeFile(root + "/locked/x1", "locked data");
    writeFile(root + "/locked/x2", "locked data");
    writeFile(root + "/locked/x3", "locked data");
    chmod((root + "/locked/x2").c_str(), 0);
    auto locked = std::vector<FileEntry>{record(root + "/locked/x1"), record(root + "/locked/x2"),
                                         record(root + "/locked/x3")};
    int status = runAsNobody([&] {
        auto report = DuplicateEngine::find(locked, root);
        if (report.warnings != std::vector<std::string>{"x2：Permission denied"}) return 1;
        if (report.groups.size() != 1 || report.groups[0].files.size() != 2) return 2;
        if (report.groups[0].files[0].path != root + "/locked/x1") return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(DuplicateEngine, LinksAndMovesAreRefused)
{
    TempHome home;
    const std::string root = home.path("tree");
    writeFile(root + "/a", "content");
    writeFile(root + "/b", "content");
    writeFile(root + "/elsewhere", "content");
    auto a = record(root + "/a");
    auto b = record(root + "/b");
    // b is replaced by a link to an identical file: the path no longer leads to b itself.
    ASSERT_EQ(rename((root + "/b").c_str(), (root + "/b-moved").c_str()), 0);
    ASSERT_EQ(symlink((root + "/elsewhere").c_str(), (root + "/b").c_str()), 0);
    auto run = findRecording({a, b}, root);
    EXPECT_TRUE(run.report.groups.empty());
    EXPECT_EQ(run.report.warnings, std::vector<std::string>{"b：" + kChanged});

    // A root the files are not below refuses them all.
    auto outside = findRecording({a, record(root + "/elsewhere")}, home.path("other"));
    EXPECT_TRUE(outside.report.groups.empty());
    EXPECT_EQ(outside.report.warnings.size(), 2u);
}

TEST(DuplicateEngine, CancellationKeepsWhatWasHashed)
{
    TempHome home;
    const std::string root = home.path("tree");
    writeFile(root + "/s1", "small twin");
    writeFile(root + "/s2", "small twin");
    std::vector<FileEntry> files = {record(root + "/s1"), record(root + "/s2")};

    // Stopped before any file: nothing handled.
    std::stop_source early;
    auto none = findRecording(files, root, early.get_token(), [&](const DuplicateProgress&) { early.request_stop(); });
    EXPECT_TRUE(none.report.cancelled);
    EXPECT_TRUE(none.report.groups.empty());
    ASSERT_EQ(none.calls.size(), 2u);
    EXPECT_EQ(none.calls.back(), (DuplicateProgress{0, 2, ""}));

    // Stopped while two huge identical files are read: the search ends within a chunk or
    // so, long before the files could have been read through (sparse, so nothing is stored).
    const off_t huge = off_t{8} << 30;
    for (const char* name : {"/big1", "/big2"}) {
        int fd = open((root + name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, huge), 0);
        close(fd);
        files.push_back(record(root + name));
    }
    std::stop_source stop;
    auto started = std::chrono::steady_clock::now();
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the stop lands mid-read, on purpose
        stop.request_stop();
    });
    auto run = findRecording(files, root, stop.get_token());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(run.report.cancelled);
    EXPECT_LT(seconds, 2.5) << "a stop request must not wait for 16 GiB to be read";
    const auto& last = run.calls.back();
    EXPECT_EQ(last.total, 4);
    EXPECT_EQ(last.current, "");
    // The small pair may or may not have been hashed by then; the huge files never were.
    EXPECT_LE(last.completed, 2);
    EXPECT_EQ(run.report.groups.size() == 1, last.completed == 2);
    for (const auto& group : run.report.groups) EXPECT_EQ(group.files.front().size, 10);
    EXPECT_TRUE(run.report.warnings.empty());
}

TEST(DuplicateEngine, DigestHashesBetweenValidations)
{
    TempHome home;
    const std::string root = home.path("tree");
    std::string content(3 * 1024 * 1024 + 17, 'q');
    writeFile(root + "/big", content);
    auto big = record(root + "/big");
    EXPECT_EQ(DuplicateEngine::digest(big, root), sha256sum(root + "/big"));
    EXPECT_EQ(DuplicateEngine::digest(record(writeFile(root + "/empty", "")), root),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(DuplicateEngine::digest(big, root, stop.get_token()), CancellationError);

    setAge(root + "/big", 10);
    try {
        DuplicateEngine::digest(big, root);
        ADD_FAILURE() << "a touched file must be refused";
    } catch (const TessynError& error) {
        EXPECT_EQ(error.domain(), "Tessyn");
        EXPECT_EQ(error.code(), 1);
    }
    unlink((root + "/big").c_str());
    try {
        DuplicateEngine::digest(big, root);
        ADD_FAILURE() << "a missing file must be refused";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST(DuplicateEngine, DeletionErrorChecksKeptAndSelectedCopies)
{
    TempHome home;
    const std::string root = home.path("tree");
    for (const char* name : {"a", "b", "c"}) writeFile(root + "/" + name, "duplicate!");
    auto report = DuplicateEngine::find({record(root + "/a"), record(root + "/b"), record(root + "/c")}, root);
    ASSERT_EQ(report.groups.size(), 1u);
    const DuplicateGroup group = report.groups[0];
    using Selection = std::unordered_set<std::string>;
    auto p = [&](const char* name) { return root + "/" + name; };

    EXPECT_EQ(DuplicateEngine::deletionError(group, Selection{}, root), std::nullopt);
    EXPECT_EQ(DuplicateEngine::deletionError(group, Selection{p("other")}, root), std::nullopt);
    EXPECT_EQ(DuplicateEngine::deletionError(group, Selection{p("a"), p("b"), p("c")}, root),
              "同一重复组至少保留一份文件。");
    EXPECT_EQ(DuplicateEngine::deletionError(group, Selection{p("b"), p("c")}, root), std::nullopt);

    // The kept file is the first unselected one (a), even though c is intact.
    setAge(p("a"), 30);
    EXPECT_EQ(DuplicateEngine::deletionError(group, Selection{p("b")}, root), "重复文件复核失败：" + kChanged);

    // Content changed while the record still matches the file's status: the hash decides.
    writeFile(p("a"), "different!");
    DuplicateGroup fresh = group;
    fresh.files[0] = record(p("a"));
    EXPECT_EQ(DuplicateEngine::deletionError(fresh, Selection{p("b")}, root), "保留文件的内容已变化，请重新检测。");
    EXPECT_EQ(DuplicateEngine::deletionError(fresh, Selection{p("a")}, root), "所选文件内容已变化，请重新检测。");

    // A selected copy that has gone: the failure's own description.
    DuplicateGroup intact = group;
    intact.files.erase(intact.files.begin()); // b and c, both untouched
    unlink(p("c").c_str());
    EXPECT_EQ(DuplicateEngine::deletionError(intact, Selection{p("c")}, root),
              "重复文件复核失败：No such file or directory");
}

TEST(DuplicateEngine, SuggestedKeepIsShortestThenSmallestPath)
{
    DuplicateGroup group;
    group.files = {FileEntry("/x/abcdefghijklmn.t", 1, 0, 1, 1, 0, 0.0),  // 18 bytes
                   FileEntry("/x/abcdefghijklmnopqr", 1, 0, 1, 2, 0, 0.0), // 21 bytes
                   FileEntry("/x/abcdefghijklmm.t", 1, 0, 1, 3, 0, 0.0)};  // 18 bytes, smaller
    EXPECT_EQ(group.suggestedKeep().inode, 3u);
    // Equal paths: the earliest in the group.
    group.files = {FileEntry("/same", 1, 0, 1, 7, 0, 0.0), FileEntry("/same", 1, 0, 1, 8, 0, 0.0)};
    EXPECT_EQ(group.suggestedKeep().inode, 7u);
    // UTF-8 bytes, not characters, are counted: "/é" is as long as "/zz", and "z" < 0xC3.
    group.files = {FileEntry("/é", 1, 0, 1, 1, 0, 0.0), FileEntry("/zz", 1, 0, 1, 2, 0, 0.0)};
    EXPECT_EQ(group.suggestedKeep().inode, 2u);
}
