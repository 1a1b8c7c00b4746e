#include "services/RelatedFiles.h"
#include "services/RelatedItem.h"

#include "TestSupport.h"
#include "engine/Dates.h"
#include "platform/Errors.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <algorithm>
#include <dirent.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string sha256Hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

// The line of one entry, written out field by field from lstat.
std::string lineOf(const std::string& folder, const std::string& relative)
{
    struct stat st {};
    if (lstat((folder + relative).c_str(), &st) != 0) throw std::runtime_error("lstat " + relative);
    return relative + "|" + std::to_string(static_cast<int32_t>(st.st_dev)) + ":" + std::to_string(st.st_ino) + "|" +
           std::to_string(st.st_mode & 0xFFFF) + "|" + std::to_string(st.st_size) + "|" +
           std::to_string(st.st_mtim.tv_sec) + ":" + std::to_string(st.st_mtim.tv_nsec) + "|" +
           std::to_string(st.st_ctim.tv_sec) + ":" + std::to_string(st.st_ctim.tv_nsec);
}

std::string refusalOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TessynError& e) {
        return e.domain() + ":" + e.message();
    } catch (const std::system_error& e) {
        return "errno:" + std::to_string(e.code().value());
    }
    return "no error";
}

void touchFiles(const std::string& dir, int from, int to)
{
    for (int i = from; i < to; ++i) {
        int fd = open((dir + "/" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }
}

InstalledApp appWithID(const std::string& id)
{
    InstalledApp app;
    app.path = "/Applications/X.app";
    app.bundleID = id;
    return app;
}

// The lines of every entry below the folder open at `fd`, gathered recursively with one
// descriptor per level (fine without a descriptor limit). Names are ASCII here.
void linesBelow(int fd, const std::string& relative, std::vector<std::string>& lines)
{
    DIR* dir = fdopendir(fd);
    ASSERT_NE(dir, nullptr);
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        ASSERT_EQ(fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0);
        lines.push_back(relative + "/" + name + "|" + std::to_string(static_cast<int32_t>(st.st_dev)) + ":" +
                        std::to_string(st.st_ino) + "|" + std::to_string(st.st_mode & 0xFFFF) + "|" +
                        std::to_string(st.st_size) + "|" + std::to_string(st.st_mtim.tv_sec) + ":" +
                        std::to_string(st.st_mtim.tv_nsec) + "|" + std::to_string(st.st_ctim.tv_sec) + ":" +
                        std::to_string(st.st_ctim.tv_nsec));
        if (S_ISDIR(st.st_mode))
            linesBelow(openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW), relative + "/" + name, lines);
    }
    closedir(dir);
}

std::string expectedSignature(const std::string& folder)
{
    std::vector<std::string> lines;
    linesBelow(open(folder.c_str(), O_RDONLY | O_DIRECTORY), "", lines);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\n" : "") + lines[i];
    return sha256Hex(text);
}

} // namespace

TEST(RelatedItem, SignatureHashesSortedMetadataLines)
{
    TempHome home;
    std::string folder = home.path("tree");
    makeDirs(folder);
    EXPECT_EQ(RelatedItem::treeSignature(folder), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")
        << "an empty folder signs the empty text";

    writeFile(folder + "/b.txt", "hello");
    writeFile(folder + "/A/inner", "x");
    writeFile(folder + "/.hidden", "");
    // Decomposed "é" sorts as its composed form (after "f"), not by its bytes (before "f").
    writeFile(folder + "/e\xCC\x81t\xC3\xA9", "");
    writeFile(folder + "/f", "");
    ASSERT_EQ(symlink("b.txt", (folder + "/link").c_str()), 0);
    // Whole lines are sorted, so "/A/inner|" comes before "/A|".
    std::string expected = lineOf(folder, "/.hidden") + "\n" + lineOf(folder, "/A/inner") + "\n" +
                           lineOf(folder, "/A") + "\n" + lineOf(folder, "/b.txt") + "\n" +
                           lineOf(folder, "/f") + "\n" + lineOf(folder, "/link") + "\n" +
                           lineOf(folder, "/e\xCC\x81t\xC3\xA9");
    std::string signature = RelatedItem::treeSignature(folder);
    EXPECT_EQ(signature, sha256Hex(expected)) << expected;
    EXPECT_EQ(RelatedItem::treeSignature(folder + "/"), signature) << "a trailing slash changes nothing";
}

TEST(RelatedItem, SignatureFollowsMetadataChangesOnly)
{
    TempHome home;
    std::string folder = home.path("cache");
    std::string file = writeFile(folder + "/data/file.bin", "0123456789");
    std::string target = home.path("target");
    writeFile(target + "/outside.txt", "o");
    ASSERT_EQ(symlink(target.c_str(), (folder + "/to-target").c_str()), 0);
    setAge(file, 1000);
    std::string base = RelatedItem::treeSignature(folder);

    auto changes = [&](const std::string& what, const std::function<void()>& change) {
        change();
        std::string now = RelatedItem::treeSignature(folder);
        EXPECT_NE(now, base) << what << " must change the signature";
        base = now;
    };

    EXPECT_EQ(readFile(file), "0123456789");
    writeFile(target + "/new-outside.txt", "n");
    EXPECT_EQ(RelatedItem::treeSignature(folder), base) << "reading, or changing a linked folder, changes nothing";

    changes("touch", [&] { setAge(file, 10); });
    changes("chmod", [&] { ASSERT_EQ(chmod(file.c_str(), 0600), 0); });
    changes("rename", [&] { ASSERT_EQ(rename(file.c_str(), (folder + "/data/renamed.bin").c_str()), 0); });
    changes("size", [&] { ASSERT_EQ(truncate((folder + "/data/renamed.bin").c_str(), 3), 0); });
    changes("new entry", [&] { writeFile(folder + "/data/more", ""); });
    changes("removed entry", [&] { ASSERT_EQ(unlink((folder + "/data/more").c_str()), 0); });
    changes("link target", [&] {
        ASSERT_EQ(unlink((folder + "/to-target").c_str()), 0);
        ASSERT_EQ(symlink((target + "/outside.txt").c_str(), (folder + "/to-target").c_str()), 0);
    });
}

TEST(RelatedItem, SignatureLimitsCancellationAndErrors)
{
    TempHome home;
    // 100000 entries are made on tmpfs when there is one: much faster than a loaded disk.
    char pattern[] = "/dev/shm/tessyn-signature-XXXXXX";
    std::string scratch = mkdtemp(pattern) ? pattern : home.path("scratch");
    struct Cleanup {
        std::string path;
        ~Cleanup() { std::filesystem::remove_all(path); }
    } cleanup{scratch};
    std::string folder = scratch + "/many";
    makeDirs(folder + "/sub");
    touchFiles(folder + "/sub", 0, 99999);
    EXPECT_EQ(RelatedItem::treeSignature(folder).size(), 64u) << "exactly 100000 entries are signed";
    touchFiles(folder, 0, 1);
    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(folder); }),
              "TessynMaintenance:关联目录超过 10 万项，请使用 Finder 手动处理。");

    std::stop_source stop;
    stop.request_stop();
    writeFile(home.path("small/a"), "");
    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(home.path("small"), stop.get_token()); }),
              "errno:" + std::to_string(ECANCELED));
    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(home.path("missing"), stop.get_token()); }),
              "TessynMaintenance:无法遍历关联目录。");
    makeDirs(home.path("empty"));
    EXPECT_EQ(RelatedItem::treeSignature(home.path("empty"), stop.get_token()).size(), 64u)
        << "no entry, no cancellation point";

    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(home.path("small/a")); }),
              "TessynMaintenance:无法遍历关联目录。");
    ASSERT_EQ(symlink(home.path("small").c_str(), home.path("linked").c_str()), 0);
    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(home.path("linked")); }),
              "TessynMaintenance:无法遍历关联目录。");

    // A subfolder the user cannot list stops the walk with the system's error.
    std::string locked = home.path("locked");
    writeFile(locked + "/private/secret", "s");
    ASSERT_EQ(chmod((locked + "/private").c_str(), 0700), 0);
    int status = runAsNobody([&] {
        std::string text = refusalOf([&] { RelatedItem::treeSignature(locked); });
        return text == "errno:" + std::to_string(EACCES) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(RelatedItem, DeepFoldersSignWithFewDescriptors)
{
    // 400 levels, deeper than the descriptor limit below and, as a path, longer than PATH_MAX.
    TempHome home;
    std::string folder = home.path("deep");
    makeDirs(folder);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < 400; ++level) {
        char name[32];
        snprintf(name, sizeof name, "level-%06d", level);
        ASSERT_EQ(mkdirat(fd, name, 0755), 0);
        if (level % 50 == 0) close(openat(fd, "file", O_CREAT | O_WRONLY, 0644));
        int next = openat(fd, name, O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    close(openat(fd, "bottom", O_CREAT | O_WRONLY, 0644));
    close(fd);

    std::string expected = expectedSignature(folder);
    EXPECT_EQ(RelatedItem::treeSignature(folder), expected);
    int status = 0;
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{256, 256};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(10);
        try {
            _exit(RelatedItem::treeSignature(folder) == expected ? 0 : 1);
        } catch (...) {
            _exit(2);
        }
    }
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another signature, 2: the walk failed (descriptors)";
}

TEST(RelatedItem, SignatureOnlyOfTheFolderExamined)
{
    TempHome home;
    std::string folder = home.path("Caches/x");
    writeFile(folder + "/a", "aaaa");
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    std::string identity = std::to_string(static_cast<int32_t>(st.st_dev)) + ":" + std::to_string(st.st_ino);
    std::string signature = RelatedItem::treeSignature(folder);
    EXPECT_EQ(RelatedItem::treeSignature(folder, {}, identity), signature);
    EXPECT_EQ(RelatedItem::snapshot(folder, "").signature, signature);

    // Another folder put in its place since it was examined is not signed in its stead.
    std::filesystem::rename(folder, home.path("Caches/old"));
    writeFile(folder + "/a", "aaaa");
    EXPECT_EQ(refusalOf([&] { RelatedItem::treeSignature(folder, {}, identity); }),
              "TessynMaintenance:无法遍历关联目录。");
    EXPECT_EQ(RelatedItem::treeSignature(home.path("Caches/old"), {}, identity), signature);
}

TEST(RelatedItem, SnapshotOfFilesAndFolders)
{
    TempHome home;
    std::string file = writeFile(home.path("prefs.plist"), "12345");
    RelatedItem item = RelatedItem::snapshot(file, "label");
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    EXPECT_EQ(item.path, file);
    EXPECT_EQ(item.label, "label");
    EXPECT_EQ(item.identity, std::to_string(static_cast<int32_t>(st.st_dev)) + ":" + std::to_string(st.st_ino));
    EXPECT_EQ(item.modified, dateFromTimespec(st.st_mtim));
    EXPECT_EQ(item.changed, dateFromTimespec(st.st_ctim));
    EXPECT_FALSE(item.directory);
    EXPECT_EQ(item.size, 5);
    EXPECT_FALSE(item.signature.has_value());

    std::string folder = home.path("Caches/x");
    writeFile(folder + "/a", "aaaa");
    RelatedItem dir = RelatedItem::snapshot(folder, "cache");
    EXPECT_TRUE(dir.directory);
    EXPECT_EQ(dir.size, 0);
    EXPECT_EQ(dir.signature, RelatedItem::treeSignature(folder));

    const std::string viaLink = "TessynMaintenance:关联路径包含符号链接，停止处理。";
    ASSERT_EQ(symlink(file.c_str(), home.path("link.plist").c_str()), 0);
    EXPECT_EQ(refusalOf([&] { RelatedItem::snapshot(home.path("link.plist"), ""); }), viaLink);
    ASSERT_EQ(symlink(home.path("Caches").c_str(), home.path("CachesLink").c_str()), 0);
    EXPECT_EQ(refusalOf([&] { RelatedItem::snapshot(home.path("CachesLink/x"), ""); }), viaLink);
    EXPECT_EQ(refusalOf([&] { RelatedItem::snapshot(folder + "/.", ""); }), viaLink);
    ASSERT_EQ(mkfifo(home.path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(refusalOf([&] { RelatedItem::snapshot(home.path("pipe"), ""); }),
              "TessynMaintenance:不处理云占位、链接或特殊文件。");
    EXPECT_EQ(refusalOf([&] { RelatedItem::snapshot(home.path("missing"), ""); }), "errno:" + std::to_string(ENOENT));
}

TEST(RelatedFiles, LocationsOfABundleIdentifier)
{
    auto locations = RelatedFiles::paths(appWithID("com.example.app"), "/home/u/");
    ASSERT_EQ(locations.size(), 3u);
    EXPECT_EQ(locations[0].first, "/home/u/Library/Preferences/com.example.app.plist");
    EXPECT_EQ(locations[0].second, "偏好设置 · 删除会重置设置");
    EXPECT_EQ(locations[1].first, "/home/u/Library/Caches/com.example.app");
    EXPECT_EQ(locations[1].second, "缓存目录 · 可能需要重新下载");
    EXPECT_EQ(locations[2].first, "/home/u/Library/Application Support/com.example.app");
    EXPECT_EQ(locations[2].second, "支持数据 · 可能包含个人文稿、数据库与登录状态");
    EXPECT_EQ(RelatedFiles::paths(appWithID("com.example.app"), "/")[1].first, "/Library/Caches/com.example.app");

    // An empty identifier would name the whole Caches and Application Support folders.
    for (const std::string& id : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                  std::string("a\0b", 3)})
        EXPECT_TRUE(RelatedFiles::paths(appWithID(id), "/home/u").empty()) << "identifier '" << id << "'";
}

TEST(RelatedFiles, DiscoverOffersExistingPlainLocationsOfAUniqueApplication)
{
    TempHome home;
    InstalledApp app = appWithID("com.example.app");
    std::string prefs = writeFile(home.path("Library/Preferences/com.example.app.plist"), "p");
    writeFile(home.path("Library/Application Support/com.example.app/db"), "d");

    auto items = RelatedFiles::discover(app, home.root(), {app, appWithID("com.example.other")});
    ASSERT_EQ(items.size(), 2u) << "the missing cache folder is left out";
    EXPECT_EQ(items[0].path, prefs);
    EXPECT_FALSE(items[0].directory);
    EXPECT_EQ(items[1].path, home.path("Library/Application Support/com.example.app"));
    EXPECT_TRUE(items[1].signature.has_value());

    EXPECT_TRUE(RelatedFiles::discover(app, home.root(), {app, app}).empty()) << "shared identifier";
    EXPECT_TRUE(RelatedFiles::discover(app, home.root(), {}).empty()) << "no longer listed";

    ASSERT_EQ(unlink(prefs.c_str()), 0);
    writeFile(home.path("elsewhere.plist"), "p");
    ASSERT_EQ(symlink(home.path("elsewhere.plist").c_str(), prefs.c_str()), 0);
    items = RelatedFiles::discover(app, home.root(), {app});
    ASSERT_EQ(items.size(), 1u) << "a linked preferences file is not offered";
    EXPECT_TRUE(items[0].directory);
}
