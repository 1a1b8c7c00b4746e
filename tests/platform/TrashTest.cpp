#include "platform/Trash.h"

#include "TestSupport.h"
#include "platform/Errors.h"
#include "platform/TrashInfo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sched.h>
#include <set>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct stat lstatOf(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat failed: " + path);
    return st;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> namesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string lastComponent(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string infoFileOf(const std::string& trashedPath)
{
    std::string files = trashedPath.substr(0, trashedPath.rfind('/'));
    std::string trash = files.substr(0, files.rfind('/'));
    return trash + "/info/" + lastComponent(trashedPath) + ".trashinfo";
}

std::string pathLineOf(const std::string& trashedPath)
{
    std::string info = readFile(infoFileOf(trashedPath));
    auto start = info.find("\nPath=");
    if (start == std::string::npos) return {};
    start += 6;
    return info.substr(start, info.find('\n', start) - start);
}

int errnoOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::system_error& e) {
        return e.code().value();
    } catch (...) {
        return -1;
    }
    return 0;
}

std::string tessynTextOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TessynError& e) {
        return e.domain() + ":" + e.message();
    } catch (const Trash::RestoreRefusal& e) {
        return std::string("refused:") + e.what();
    } catch (const std::exception& e) {
        return std::string("other:") + e.what();
    }
    return "no error";
}

const std::string kOccupied = std::string("refused:") + Trash::RestoreRefusal(Trash::RestoreRefusal::Reason::Occupied).what();
const std::string kOutside = std::string("refused:") + Trash::RestoreRefusal(Trash::RestoreRefusal::Reason::OutsideTrash).what();

} // namespace

TEST(Trash, MoveRenamesIntoHomeTrashAndWritesEncodedInfo)
{
    TempHome home;
    std::string original = writeFile(home.path("docs/a b%\n名~_-.txt"), "hello");
    ino_t inode = lstatOf(original).st_ino;

    time_t before = time(nullptr);
    std::string trashed = Trash::trashItem(original);
    time_t after = time(nullptr);

    EXPECT_EQ(trashed, home.dataHome() + "/Trash/files/a b%\n名~_-.txt");
    EXPECT_FALSE(exists(original)) << "the item must leave its folder";
    EXPECT_EQ(lstatOf(trashed).st_ino, inode) << "a rename keeps the inode; a copy would not";
    EXPECT_EQ(readFile(trashed), "hello");

    std::string info = readFile(infoFileOf(trashed));
    std::smatch m;
    std::regex layout("^\\[Trash Info\\]\nPath=([^\n]*)\nDeletionDate=(\\d{4})-(\\d\\d)-(\\d\\d)T(\\d\\d):(\\d\\d):(\\d\\d)\n$");
    ASSERT_TRUE(std::regex_match(info, m, layout)) << info;
    EXPECT_EQ(m[1].str(), home.root() + "/docs/a%20b%25%0A%E5%90%8D~_-.txt");
    struct tm local {};
    local.tm_year = std::stoi(m[2]) - 1900;
    local.tm_mon = std::stoi(m[3]) - 1;
    local.tm_mday = std::stoi(m[4]);
    local.tm_hour = std::stoi(m[5]);
    local.tm_min = std::stoi(m[6]);
    local.tm_sec = std::stoi(m[7]);
    local.tm_isdst = -1;
    time_t stamped = mktime(&local);
    EXPECT_GE(stamped, before - 1) << "DeletionDate is local time of the move";
    EXPECT_LE(stamped, after + 1);

    for (const char* dir : {"/Trash", "/Trash/files", "/Trash/info"})
        EXPECT_EQ(lstatOf(home.dataHome() + dir).st_mode & 07777, 0700u) << dir;

    // A folder moves whole; a link moves as itself, even when it dangles.
    writeFile(home.path("docs/folder/inner.txt"), "x");
    std::string folder = Trash::trashItem(home.path("docs/folder"));
    EXPECT_EQ(readFile(folder + "/inner.txt"), "x");
    ASSERT_EQ(symlink("/nonexistent/target", home.path("docs/link").c_str()), 0);
    std::string link = Trash::trashItem(home.path("docs/link"));
    EXPECT_TRUE(S_ISLNK(lstatOf(link).st_mode));
    EXPECT_EQ(pathLineOf(link), home.root() + "/docs/link");

    // A relative path is taken from the working directory; the recorded path is absolute.
    writeFile(home.path("docs/relative.txt"), "r");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(home.path("docs").c_str()), 0);
    std::string relative = Trash::trashItem("relative.txt");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(pathLineOf(relative), home.root() + "/docs/relative.txt");
}

TEST(Trash, CollidingNamesGetDistinctSlots)
{
    TempHome home;
    std::set<std::string> results;
    for (int i = 0; i < 12; ++i) {
        std::string original = writeFile(home.path("dir" + std::to_string(i) + "/a.txt"), std::to_string(i));
        std::string trashed = Trash::trashItem(original);
        EXPECT_TRUE(results.insert(trashed).second) << "slot reused: " << trashed;
        EXPECT_EQ(readFile(trashed), std::to_string(i));
        EXPECT_EQ(pathLineOf(trashed), home.root() + "/dir" + std::to_string(i) + "/a.txt");
    }
    EXPECT_EQ(namesIn(home.dataHome() + "/Trash/files").size(), 12u);
    EXPECT_EQ(namesIn(home.dataHome() + "/Trash/info").size(), 12u);
    EXPECT_NE(results.count(home.dataHome() + "/Trash/files/a.txt"), 0u);

    // An orphan in files/ without its info file is neither overwritten nor reused.
    std::string orphan = writeFile(home.dataHome() + "/Trash/files/b.txt", "orphan");
    std::string moved = Trash::trashItem(writeFile(home.path("x/b.txt"), "mine"));
    EXPECT_NE(moved, orphan);
    EXPECT_EQ(readFile(orphan), "orphan");
    EXPECT_EQ(readFile(moved), "mine");

    // The longest possible name still leaves room for ".trashinfo", cut on a character.
    std::string longName;
    while (longName.size() + 3 <= 251) longName += "名";
    longName += ".txt";
    ASSERT_LE(longName.size(), 255u);
    std::string longTrashed = Trash::trashItem(writeFile(home.path("long/" + longName), "l"));
    std::string slot = lastComponent(longTrashed);
    EXPECT_LE(slot.size() + 10, 255u);
    EXPECT_EQ(slot.substr(slot.size() - 4), ".txt");
    EXPECT_EQ(pathLineOf(longTrashed).size(), (home.root() + "/long/").size() + (longName.size() - 4) * 3 + 4)
        << "the recorded path keeps the full original name";
    EXPECT_EQ(readFile(longTrashed), "l");
}

// A name already in the Trash is numbered before its extension, "name 2.ext" to "name 9.ext",
// then given a random suffix, as file managers show and restore them.
TEST(Trash, CollidingNamesAreNumberedBeforeTheExtension)
{
    struct Case {
        std::string name;
        std::vector<std::string> slots; // in the order of the moves
        std::string next = "";          // the pattern of one more move's slot, if any
    } cases[] = {
        {"a.txt", {"a.txt", "a 2.txt", "a 3.txt", "a 4.txt", "a 5.txt", "a 6.txt", "a 7.txt", "a 8.txt", "a 9.txt"},
         "a [0-9a-f]{16}\\.txt"},
        {"notes", {"notes", "notes 2"}},
        {".hidden", {".hidden", ".hidden 2"}},
        {"archive.tar.gz", {"archive.tar.gz", "archive.tar 2.gz"}},
    };
    TempHome home;
    for (const Case& c : cases) {
        size_t moves = c.slots.size() + (c.next.empty() ? 0 : 1);
        for (size_t i = 0; i < moves; ++i) {
            std::string original = home.path("dir" + std::to_string(i) + "/" + c.name);
            std::string trashed = Trash::trashItem(writeFile(original, "x"));
            std::string slot = lastComponent(trashed);
            if (i < c.slots.size()) {
                EXPECT_EQ(slot, c.slots[i]) << c.name << " #" << i + 1;
            } else {
                EXPECT_TRUE(std::regex_match(slot, std::regex(c.next))) << c.name << ": " << slot;
            }
            EXPECT_EQ(pathLineOf(trashed), original) << "its info file is named alike";
        }
    }
}

TEST(Trash, FailedMovesLeaveNoInfoFile)
{
    TempHome home;
    std::string bad = home.path(std::string("docs/bad\xff name.txt"));
    writeFile(bad, "x");
    std::string text = tessynTextOf([&] { Trash::trashItem(bad); });
    EXPECT_NE(text.find("UTF-8"), std::string::npos) << text;
    EXPECT_TRUE(exists(bad));

    EXPECT_EQ(errnoOf([&] { Trash::trashItem(home.path("docs/missing.txt")); }), ENOENT);
    EXPECT_EQ(errnoOf([&] { Trash::trashItem(home.path("nowhere/missing.txt")); }), ENOENT);
    EXPECT_TRUE(namesIn(home.dataHome() + "/Trash/info").empty());

    // Moving a folder into its own Trash cannot be a rename: refused, nothing left behind.
    EXPECT_EQ(errnoOf([&] { Trash::trashItem(home.dataHome()); }), EINVAL);
    EXPECT_TRUE(namesIn(home.dataHome() + "/Trash/info").empty());
    EXPECT_TRUE(exists(home.dataHome() + "/Trash/files"));
}

TEST(Trash, RestorePutsTheSameItemBackAndRemovesItsInfo)
{
    TempHome home;
    std::string original = writeFile(home.path("docs/report 1.txt"), "content");
    ino_t inode = lstatOf(original).st_ino;
    std::string trashed = Trash::trashItem(original);
    ASSERT_TRUE(exists(infoFileOf(trashed)));

    Trash::restoreItem(trashed, original);
    EXPECT_EQ(lstatOf(original).st_ino, inode);
    EXPECT_EQ(readFile(original), "content");
    EXPECT_FALSE(exists(trashed));
    EXPECT_TRUE(namesIn(home.dataHome() + "/Trash/info").empty());

    writeFile(home.path("docs/tree/a/b.txt"), "b");
    std::string tree = Trash::trashItem(home.path("docs/tree"));
    Trash::restoreItem(tree, home.path("docs/tree"));
    EXPECT_EQ(readFile(home.path("docs/tree/a/b.txt")), "b");
    EXPECT_TRUE(namesIn(home.dataHome() + "/Trash/files").empty());

    // A Trash whose info/ is gone still gives the item back.
    trashed = Trash::trashItem(original);
    std::filesystem::remove_all(home.dataHome() + "/Trash/info");
    Trash::restoreItem(trashed, original);
    EXPECT_EQ(readFile(original), "content");
}

TEST(Trash, RestoreRefusesOccupiedPlacesAndForeignSources)
{
    TempHome home;
    std::string original = writeFile(home.path("docs/a.txt"), "old");
    std::string trashed = Trash::trashItem(original);

    writeFile(original, "new");
    EXPECT_EQ(tessynTextOf([&] { Trash::restoreItem(trashed, original); }), kOccupied);
    EXPECT_EQ(readFile(original), "new") << "nothing may be overwritten";
    EXPECT_EQ(readFile(trashed), "old");
    EXPECT_TRUE(exists(infoFileOf(trashed)));

    ASSERT_EQ(unlink(original.c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", original.c_str()), 0);
    EXPECT_EQ(tessynTextOf([&] { Trash::restoreItem(trashed, original); }), kOccupied)
        << "a dangling link occupies the place too";
    EXPECT_TRUE(S_ISLNK(lstatOf(original).st_mode));
    EXPECT_TRUE(exists(trashed));
    ASSERT_EQ(unlink(original.c_str()), 0);

    // Items outside the Trash, or reached through a link inside it, are not restored.
    std::string stray = writeFile(home.path("elsewhere/a.txt"), "stray");
    EXPECT_EQ(tessynTextOf([&] { Trash::restoreItem(stray, original); }), kOutside);
    ASSERT_EQ(symlink(home.path("elsewhere").c_str(), (home.dataHome() + "/Trash/files/via").c_str()), 0);
    EXPECT_EQ(tessynTextOf([&] { Trash::restoreItem(home.dataHome() + "/Trash/files/via/a.txt", original); }),
              kOutside);
    EXPECT_FALSE(exists(original));
    EXPECT_TRUE(exists(stray));

    // The old folder is gone: the platform's error, item kept in the Trash.
    EXPECT_EQ(errnoOf([&] { Trash::restoreItem(trashed, home.path("gone/a.txt")); }), ENOENT);
    EXPECT_TRUE(exists(trashed));
    Trash::restoreItem(trashed, original);
    EXPECT_EQ(readFile(original), "old");
}

TEST(Trash, FilesDirectoryOfHomeItems)
{
    TempHome home;
    EXPECT_EQ(Trash::homeFilesDirectory(), home.dataHome() + "/Trash/files");
    EXPECT_FALSE(exists(home.dataHome() + "/Trash")) << "the lookup creates nothing";
    EXPECT_EQ(Trash::filesDirectoryFor(home.dataHome() + "/Trash/files/x"), Trash::homeFilesDirectory());
    std::string trashed = Trash::trashItem(writeFile(home.path("d/f"), "f"));
    EXPECT_EQ(Trash::filesDirectoryFor(trashed), Trash::homeFilesDirectory());

    // Without XDG_DATA_HOME the home Trash lies in ~/.local/share.
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Trash::homeFilesDirectory(), home.root() + "/.local/share/Trash/files");
    std::string viaDefault = Trash::trashItem(writeFile(home.path("d/g"), "g"));
    EXPECT_EQ(viaDefault, home.root() + "/.local/share/Trash/files/g");
}

TEST(Trash, TrashCliListsAndRestoresTessynItems)
{
    TempHome home;
    std::string folder = home.path("docs/项目 100%");
    std::string original = writeFile(folder + "/a b.txt", "cli");
    ino_t inode = lstatOf(original).st_ino;
    std::string trashed = Trash::trashItem(original);

    CommandResult list = runCommand("trash-list 2>&1");
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find(" " + original + "\n"), std::string::npos) << list.output;

    CommandResult restore =
        runCommand("cd " + shellQuote(folder) + " && echo 0 | trash-restore " + shellQuote(folder) + " 2>&1");
    EXPECT_EQ(restore.status, 0) << restore.output;
    ASSERT_TRUE(exists(original)) << restore.output;
    EXPECT_EQ(lstatOf(original).st_ino, inode);
    EXPECT_FALSE(exists(trashed));
    EXPECT_FALSE(exists(infoFileOf(trashed)));
    EXPECT_EQ(runCommand("trash-list 2>&1").output.find(original), std::string::npos);
}

TEST(Trash, OtherVolumesUseTheirTopDirectoryTrashAndNeverCopy)
{
    TempHome home;
    std::string volume = home.path("volume");
    makeDirs(volume);
    makeDirs(home.path("bind-source"));
    makeDirs(home.path("bind-target"));
    std::string uid = std::to_string(getuid());

    auto result = inPrivateMounts([&]() -> std::string {
        std::string failures;
        auto check = [&](bool ok, const std::string& what) {
            if (!ok) failures += what + "\n";
        };
        if (mount("tmpfs", volume.c_str(), "tmpfs", 0, "mode=0755") != 0) return "mount tmpfs failed";

        // No .Trash: the private $topdir/.Trash-$uid, created 0700, with a relative Path=.
        std::string file = writeFile(volume + "/dir/f 1.txt", "f");
        std::string trashed = Trash::trashItem(file);
        check(trashed == volume + "/.Trash-" + uid + "/files/f 1.txt", "private volume trash: " + trashed);
        check((lstatOf(volume + "/.Trash-" + uid).st_mode & 07777) == 0700, ".Trash-$uid mode");
        check(pathLineOf(trashed) == "dir/f%201.txt", "relative Path=: " + pathLineOf(trashed));
        check(Trash::filesDirectoryFor(trashed) == volume + "/.Trash-" + uid + "/files", "lookup of private");
        check(Trash::filesDirectoryFor(volume + "/dir/other") == volume + "/.Trash-" + uid + "/files",
              "lookup for a volume item");
        Trash::restoreItem(trashed, file);
        check(readFile(file) == "f" && !exists(infoFileOf(trashed)), "restore on the volume");

        // A sticky, real .Trash gets a per-user folder; the private Trash is still found for its items.
        makeDirs(volume + "/.Trash");
        chmod((volume + "/.Trash").c_str(), 01777);
        std::string shared = Trash::trashItem(writeFile(volume + "/dir/g.txt", "g"));
        check(shared == volume + "/.Trash/" + uid + "/files/g.txt", "shared volume trash: " + shared);
        check(pathLineOf(shared) == "dir/g.txt", "shared Path=");
        check(Trash::filesDirectoryFor(shared) == volume + "/.Trash/" + uid + "/files", "lookup of shared");
        check(Trash::filesDirectoryFor(volume + "/.Trash-" + uid + "/files/x") ==
                  volume + "/.Trash-" + uid + "/files",
              "lookup keeps the Trash that holds the item");

        // Not sticky, or a link: ignored.
        rename((volume + "/.Trash").c_str(), (volume + "/shared-old").c_str());
        makeDirs(volume + "/.Trash");
        chmod((volume + "/.Trash").c_str(), 0777);
        std::string notSticky = Trash::trashItem(writeFile(volume + "/dir/h.txt", "h"));
        check(notSticky == volume + "/.Trash-" + uid + "/files/h.txt", "non-sticky .Trash used: " + notSticky);
        rmdir((volume + "/.Trash").c_str());
        symlink((volume + "/shared-old").c_str(), (volume + "/.Trash").c_str());
        std::string viaLink = Trash::trashItem(writeFile(volume + "/dir/i.txt", "i"));
        check(viaLink == volume + "/.Trash-" + uid + "/files/i.txt", "linked .Trash used: " + viaLink);

        // Same device, other mount: rename fails with EXDEV; nothing is copied or left behind.
        if (mount(home.path("bind-source").c_str(), home.path("bind-target").c_str(), nullptr, MS_BIND, nullptr) != 0)
            return failures + "bind mount failed";
        std::string bound = writeFile(home.path("bind-target/b.txt"), "b");
        std::string text;
        int err = errnoOf([&] {
            try {
                Trash::trashItem(bound);
            } catch (const std::system_error& error) {
                text = errorDescription(error);
                throw;
            }
        });
        check(err == EXDEV, "EXDEV expected, got " + std::to_string(err));
        check(text.starts_with("项目与目标位置不在同一挂载点"), "EXDEV in the interface's words: " + text);
        check(readFile(bound) == "b", "item stays after EXDEV");
        check(namesIn(home.dataHome() + "/Trash/info").empty(), "no info file after EXDEV");
        check(namesIn(home.dataHome() + "/Trash/files").empty(), "no copy after EXDEV");
        return failures;
    });
    if (!result) GTEST_SKIP() << "mount namespaces are not available here";
    EXPECT_EQ(*result, "");
}

// An item swapped in between the last check and the rename is found in files/ by the check
// after it and goes back where it was found; when its place has been taken meanwhile it
// stays in the Trash, described by its .trashinfo.
TEST(Trash, ItemSwappedInAtTheRenameGoesBack)
{
    TempHome home;
    std::string files = home.dataHome() + "/Trash/files", info = home.dataHome() + "/Trash/info";
    for (bool placeTaken : {false, true}) {
        std::string item = writeFile(home.path("doc.txt"), "mine");
        std::string other = writeFile(home.path("elsewhere/new.txt"), "newer");
        ino_t meant = lstatOf(item).st_ino, stranger = lstatOf(other).st_ino;
        int calls = 0;
        auto check = [&](const std::string& path, const struct stat& st, bool moved) {
            ++calls;
            if (!moved) {
                EXPECT_EQ(path, item);
                EXPECT_EQ(st.st_ino, meant);
                // Passed the check, then swapped before the rename.
                renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
                return;
            }
            EXPECT_EQ(path.rfind(files + "/", 0), 0u) << path;
            if (placeTaken) writeFile(item, "taken meanwhile");
            if (st.st_ino != meant) throw TessynError("Tessyn", 1, "swapped");
        };
        std::string text = tessynTextOf([&] { Trash::trashItem(item, check); });
        EXPECT_EQ(calls, 2);
        if (!placeTaken) {
            EXPECT_EQ(text, "Tessyn:swapped");
            EXPECT_EQ(lstatOf(item).st_ino, stranger) << "the stranger is back where it was found";
            EXPECT_TRUE(namesIn(files).empty());
            EXPECT_TRUE(namesIn(info).empty());
        } else {
            EXPECT_EQ(text, "Tessyn:移动时原位置的项目被替换，换入的项目已在废纸篓中且无法放回，请在 Finder 废纸篓中检查。");
            ASSERT_EQ(namesIn(files), std::vector<std::string>{"doc.txt"});
            EXPECT_EQ(lstatOf(files + "/doc.txt").st_ino, stranger);
            EXPECT_EQ(namesIn(info), std::vector<std::string>{"doc.txt.trashinfo"});
            EXPECT_EQ(readFile(item), "taken meanwhile");
        }
        EXPECT_EQ(lstatOf(other).st_ino, meant) << "the meant file is where the swap put it";
    }
}

// The home Trash given as a link (or as anything but a real folder) is never followed: the
// move is refused and the item stays.
TEST(Trash, LinkedHomeTrashIsRefused)
{
    TempHome home;
    std::string elsewhere = home.path("elsewhere");
    makeDirs(elsewhere + "/files");
    makeDirs(elsewhere + "/info");
    std::string trash = home.dataHome() + "/Trash";
    const std::string refusal = "Tessyn:废纸篓文件夹不是真实的文件夹（可能是符号链接），未移入废纸篓。";
    struct Case {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"link to a folder", [&] { ASSERT_EQ(symlink(elsewhere.c_str(), trash.c_str()), 0); }},
        {"dangling link", [&] { ASSERT_EQ(symlink(home.path("nowhere").c_str(), trash.c_str()), 0); }},
        {"a file", [&] { writeFile(trash, "not a folder"); }},
    };
    makeDirs(home.dataHome());
    for (const Case& c : cases) {
        c.make();
        std::string item = writeFile(home.path("doc.txt"), "mine");
        EXPECT_EQ(tessynTextOf([&] { Trash::trashItem(item); }), refusal) << c.name;
        EXPECT_EQ(readFile(item), "mine") << c.name;
        EXPECT_TRUE(namesIn(elsewhere + "/files").empty()) << c.name;
        EXPECT_TRUE(namesIn(elsewhere + "/info").empty()) << c.name;
        EXPECT_FALSE(exists(home.path("nowhere"))) << c.name;
        unlink(trash.c_str());
    }
    // A link above the Trash is fine.
    std::string realData = home.path("real-data");
    makeDirs(realData);
    ASSERT_EQ(rmdir(home.dataHome().c_str()), 0);
    ASSERT_EQ(symlink(realData.c_str(), home.dataHome().c_str()), 0);
    std::string moved = Trash::trashItem(writeFile(home.path("doc.txt"), "mine"));
    EXPECT_EQ(readFile(realData + "/Trash/files/doc.txt"), "mine") << moved;
    // ...also for the start-up clean-up and the restore, which look the Trash up afresh.
    writeFile(realData + "/Trash/info/doc 2.txt.trashinfo", "");
    EXPECT_EQ(Trash::removeOrphanInfo(home.path("doc.txt"), time(nullptr), false), 1);
    Trash::restoreItem(home.dataHome() + "/Trash/files/doc.txt", home.path("doc.txt"));
    EXPECT_EQ(readFile(home.path("doc.txt")), "mine");

    // But files/ itself given as a link is no Trash to restore from.
    moved = Trash::trashItem(home.path("doc.txt"));
    ASSERT_EQ(rename((realData + "/Trash/files").c_str(), (realData + "/files-aside").c_str()), 0);
    ASSERT_EQ(symlink((realData + "/files-aside").c_str(), (realData + "/Trash/files").c_str()), 0);
    EXPECT_EQ(tessynTextOf([&] { Trash::restoreItem(moved, home.path("doc.txt")); }), kOutside);
    EXPECT_FALSE(exists(home.path("doc.txt")));
}

// Only an info file that describes the item, has no item in files/, is not locked by a move
// under way and bears a name the item's move could have claimed is removed.
TEST(Trash, OrphanInfoFilesOfAnItemAreRemoved)
{
    TempHome home;
    std::string item = writeFile(home.path("dir/a b.txt"), "a");
    std::string info = home.dataHome() + "/Trash/info";
    std::string files = home.dataHome() + "/Trash/files";
    makeDirs(files);
    const std::string describes = "[Trash Info]\nPath=" + home.path("dir/a%20b.txt") + "\nDeletionDate=2024-01-01T00:00:00\n";
    writeFile(info + "/a b.txt.trashinfo", describes);
    writeFile(info + "/a b 2.txt.trashinfo", describes);
    writeFile(info + "/a b 3.txt.trashinfo", describes); // held
    writeFile(info + "/other.txt.trashinfo", "[Trash Info]\nPath=" + home.path("dir/other.txt") + "\n");
    writeFile(info + "/a b 4.txt.trashinfo", describes);
    writeFile(files + "/a b 4.txt", "an item that is described");
    writeFile(info + "/a b.copy.txt.trashinfo", describes); // not a name its move takes
    int held = open((info + "/a b 3.txt.trashinfo").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0) << "a move under way";

    const double movedAt = *TrashInfo::deletionTimeOf(describes);
    for (const std::string& name : namesIn(info)) setAge(info + "/" + name, time(nullptr) - movedAt); // written then
    EXPECT_EQ(Trash::removeOrphanInfo(item, movedAt), 2);
    std::vector<std::string> left = namesIn(info);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a b 3.txt.trashinfo", "a b 4.txt.trashinfo", "a b.copy.txt.trashinfo",
                                              "other.txt.trashinfo"}));
    close(held);
    EXPECT_EQ(Trash::removeOrphanInfo(item, movedAt), 1) << "once the mover is gone";
    EXPECT_EQ(readFile(item), "a");
}

// A mover keeps the Trash folders it found, but a folder replaced or removed between two
// moves is noticed: a link in its place is refused, a removed Trash is made again, and
// after a failure everything is looked up afresh.
TEST(Trash, MoverNoticesTrashFoldersChangedBetweenMoves)
{
    TempHome home;
    const std::string trash = home.dataHome() + "/Trash";
    const std::string elsewhere = home.path("elsewhere");
    makeDirs(elsewhere);
    Trash::Mover mover;
    std::string a = writeFile(home.path("docs/a.txt"), "a");
    EXPECT_EQ(mover.move(a), trash + "/files/a.txt");

    // files/ swapped for a link to another folder: nothing goes through it.
    ASSERT_EQ(rename((trash + "/files").c_str(), (trash + "/files-aside").c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (trash + "/files").c_str()), 0);
    std::string b = writeFile(home.path("docs/b.txt"), "b");
    EXPECT_EQ(errnoOf([&] { mover.move(b); }), ENOTDIR);
    EXPECT_TRUE(exists(b));
    EXPECT_TRUE(namesIn(elsewhere).empty());
    EXPECT_EQ(namesIn(trash + "/info"), std::vector<std::string>{"a.txt.trashinfo"}) << "no info file left";

    // The real folder back: the next move looks everything up again and goes on.
    ASSERT_EQ(unlink((trash + "/files").c_str()), 0);
    ASSERT_EQ(rename((trash + "/files-aside").c_str(), (trash + "/files").c_str()), 0);
    EXPECT_EQ(mover.move(b), trash + "/files/b.txt");

    // The whole Trash removed (emptied by hand): made again, with the info file in it.
    std::filesystem::remove_all(trash);
    std::string c = writeFile(home.path("docs/c.txt"), "c");
    EXPECT_EQ(mover.move(c), trash + "/files/c.txt");
    EXPECT_EQ(readFile(trash + "/files/c.txt"), "c");
    EXPECT_EQ(pathLineOf(trash + "/files/c.txt"), home.path("docs/c.txt"));
}

namespace {

// Sets the mover's step hook for one scope.
struct StepHook {
    explicit StepHook(std::function<void(Trash::testing::Step)> hook) { Trash::testing::atStep = std::move(hook); }
    ~StepHook() { Trash::testing::atStep = {}; }
};

void swapNames(const std::string& a, const std::string& b)
{
    ASSERT_EQ(renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE), 0) << a << " " << b;
}

} // namespace

// A folder exchanged with a link to another folder at the last moment before a rename changes
// nothing about which item moves or where it goes: the item checked is the one that moves,
// from and into the folders that were looked up, and nothing of the other folder is touched.
TEST(Trash, FolderSwappedForALinkAtTheRenameRedirectsNothing)
{
    using Step = Trash::testing::Step;
    enum class Run { Move, MoveUnchecked, MoveRefused, Restore };
    struct Case {
        const char* name;
        Run run;
        Step step;          // when the swap happens
        const char* folder; // the folder swapped with `folder`-link, relative to the home
        bool swapBack;      // and swapped back before a move back
        const char* decoy;  // an item of the same name in the link's target, or none
        const char* mineAt; // where the meant item must end up
        const char* error;  // the expected refusal, or none
    } cases[] = {
        {"move: the item's folder", Run::Move, Step::Move, "scan/dir", true, "decoy/a.txt", "data/Trash/files/a.txt", ""},
        {"move: the item's folder, once the info file is named", Run::Move, Step::InfoNamed, "scan/dir", true,
         "decoy/a.txt", "data/Trash/files/a.txt", ""},
        {"move: info/, once the info file is named", Run::Move, Step::InfoNamed, "data/Trash/info", false, nullptr,
         "data/Trash/files/a.txt", ""},
        {"unchecked move: the item's folder", Run::MoveUnchecked, Step::Move, "scan/dir", false, "decoy/a.txt",
         "data/Trash/files/a.txt", ""},
        {"move: files/", Run::Move, Step::Move, "data/Trash/files", false, nullptr, "data/Trash/files-link/a.txt", ""},
        {"move back: the item's folder", Run::MoveRefused, Step::MoveBack, "scan/dir", false, "decoy/a.txt",
         "scan/dir-link/a.txt", "Tessyn:refused after the rename"},
        {"restore: the old folder", Run::Restore, Step::Restore, "scan/dir", false, nullptr, "scan/dir-link/a.txt", ""},
        {"restore: files/", Run::Restore, Step::Restore, "data/Trash/files", false, "elsewhere/a.txt", "scan/dir/a.txt", ""},
        {"restore: info/", Run::Restore, Step::Restore, "data/Trash/info", false, "elsewhere/a.txt.trashinfo",
         "scan/dir/a.txt", ""},
        {"move: the Trash, as the move opens it", Run::Move, Step::OpenTrash, "data/Trash", false, nullptr,
         "scan/dir/a.txt", "Tessyn:废纸篓文件夹不是真实的文件夹（可能是符号链接），未移入废纸篓。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        const std::string item = writeFile(home.path("scan/dir/a.txt"), "mine");
        const ino_t mine = lstatOf(item).st_ino;
        makeDirs(home.path("decoy"));
        makeDirs(home.path("elsewhere"));
        makeDirs(home.dataHome() + "/Trash/files");
        makeDirs(home.dataHome() + "/Trash/info");
        ASSERT_EQ(symlink(home.path("decoy").c_str(), home.path("scan/dir-link").c_str()), 0);
        ASSERT_EQ(symlink(home.path("elsewhere").c_str(), (home.dataHome() + "/Trash/files-link").c_str()), 0);
        ASSERT_EQ(symlink(home.path("elsewhere").c_str(), (home.dataHome() + "/Trash/info-link").c_str()), 0);
        ASSERT_EQ(symlink(home.path("elsewhere").c_str(), (home.dataHome() + "/Trash-link").c_str()), 0);
        std::optional<ino_t> decoy;
        if (c.decoy) decoy = lstatOf(writeFile(home.path(c.decoy), "decoy")).st_ino;

        std::string trashed;
        if (c.run == Run::Restore) trashed = Trash::trashItem(item);
        const std::string swapped = home.path(c.folder), link = swapped + "-link";
        StepHook hook([&](Step step) {
            if (step == c.step || (c.swapBack && step == Step::MoveBack)) swapNames(swapped, link);
        });
        auto check = [&](const std::string&, const struct stat& st, bool moved) {
            if (st.st_ino != mine) throw TessynError("Tessyn", 1, "not the item checked");
            if (moved && c.run == Run::MoveRefused) throw TessynError("Tessyn", 1, "refused after the rename");
        };
        std::string text = tessynTextOf([&] {
            if (c.run == Run::Restore) Trash::restoreItem(trashed, item, check);
            else if (c.run == Run::MoveUnchecked) Trash::trashItem(item);
            else Trash::trashItem(item, check);
        });
        EXPECT_EQ(text, *c.error ? c.error : "no error");

        struct stat st {};
        EXPECT_TRUE(lstat(home.path(c.mineAt).c_str(), &st) == 0 && st.st_ino == mine)
            << "the item checked must be at " << c.mineAt;
        if (decoy) {
            EXPECT_TRUE(lstat(home.path(c.decoy).c_str(), &st) == 0 && st.st_ino == *decoy)
                << "the other folder's item must stay";
        }
        size_t inDecoy = decoy && std::string(c.decoy).starts_with("decoy/") ? 1 : 0;
        size_t inElsewhere = decoy && std::string(c.decoy).starts_with("elsewhere/") ? 1 : 0;
        EXPECT_EQ(namesIn(home.path("decoy")).size(), inDecoy) << "nothing goes into the other folder";
        EXPECT_EQ(namesIn(home.path("elsewhere")).size(), inElsewhere) << "nothing goes into the other folder";
        // The real info/ folder, wherever the swap put it.
        std::string info = home.dataHome() + (std::string(c.folder) == "data/Trash/info" ? "/Trash/info-link" : "/Trash/info");
        std::vector<std::string> infos = namesIn(info);
        if (std::string(c.mineAt).find("/Trash/") != std::string::npos) {
            EXPECT_EQ(infos, std::vector<std::string>{"a.txt.trashinfo"});
            EXPECT_NE(readFile(info + "/a.txt.trashinfo").find("\nPath=" + item + "\n"), std::string::npos);
        } else {
            EXPECT_TRUE(infos.empty());
        }
    }
}

// Info files that name nothing (a kill left them empty, or without Path=) go when they have
// no item in files/, are not locked, bear a name the item's move could have claimed and were
// written while it ran; those that describe the item go only when asked and when their
// DeletionDate= is the move's. Anything else stays: another tool writes its info file first,
// under the same names, and moves its item after.
TEST(Trash, InfoFilesThatNameNothingAreRemovedOnlyUnderTheItemsNames)
{
    TempHome home;
    const std::string item = home.path("dir/a b.txt");
    const std::string info = home.dataHome() + "/Trash/info", files = home.dataHome() + "/Trash/files";
    const std::string describes = "[Trash Info]\nPath=" + home.path("dir/a%20b.txt") + "\nDeletionDate=2024-01-01T00:00:00\n";
    const std::string other = "[Trash Info]\nPath=" + home.path("dir/other.txt") + "\n";
    const std::string later = "[Trash Info]\nPath=" + home.path("dir/a%20b.txt") + "\nDeletionDate=2024-01-01T00:01:00\n";
    const time_t movedAt = *TrashInfo::deletionTimeOf(describes);
    makeDirs(files);
    struct Case {
        const char* name;
        std::string text;
        bool removed;        // without describedToo
        bool removedAsked;   // with describedToo
        bool writtenNow = false; // else modified when the move ran
    } cases[] = {
        {"a b.txt.trashinfo", "", true, true},
        {"a b 3.txt.trashinfo", "[Trash Info]\nDeletionDate=2024-01-01T00:00:00\n", true, true},
        {"a b 0123456789abcdef.txt.trashinfo", "", true, true},
        {"a b 0123456789ABCDEF.txt.trashinfo", "", false, false},
        {"a b.txt 2.trashinfo", "", false, false},
        {"other.txt.trashinfo", "", false, false},
        {"a b 4.txt.trashinfo", "", false, false},     // its item is in files/
        {"a b 5.txt.trashinfo", "", false, false},     // locked by a move under way
        {"a b 6.txt.trashinfo", describes, false, true},
        {"a b 7.txt.trashinfo", other, false, false},
        {".tessyn-info-00000000000000aa", "", true, true},
        {".tessyn-info-00000000000000bb", describes, false, true},
        {".tessyn-info-00000000000000cc", other, false, false},
        {".tessyn-info-cc", "", false, false},
        {"a b 8.txt.trashinfo", later, false, false},        // another tool's, a minute later
        {"a b 9.txt.trashinfo", "", false, false, true},     // another tool's, being written
        {".tessyn-info-00000000000000dd", "", false, false, true},
    };
    for (bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "describedToo" : "names nothing only");
        for (const Case& c : cases) {
            writeFile(info + "/" + c.name, c.text);
            const timespec then[2] = {{movedAt, 0}, {movedAt, 0}};
            if (!c.writtenNow) {
                ASSERT_EQ(utimensat(AT_FDCWD, (info + "/" + c.name).c_str(), then, 0), 0);
            }
        }
        writeFile(files + "/a b 4.txt", "described");
        int held = open((info + "/a b 5.txt.trashinfo").c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX), 0);
        int expected = 0;
        for (const Case& c : cases) expected += (asked ? c.removedAsked : c.removed) ? 1 : 0;
        EXPECT_EQ(Trash::removeOrphanInfo(item, static_cast<double>(movedAt), asked), expected);
        for (const Case& c : cases)
            EXPECT_EQ(exists(info + "/" + c.name), !(asked ? c.removedAsked : c.removed)) << c.name;
        close(held);
    }
}

// An info file is complete the moment it has its name, whether it was written unnamed or as
// a draft (file systems without unnamed files); names taken in info/ or in files/ are
// skipped, and no draft is left behind.
TEST(Trash, InfoFilesAreCompleteWhenTheyGetTheirName)
{
    for (bool drafts : {false, true}) {
        SCOPED_TRACE(drafts ? "named drafts" : "unnamed files");
        TempHome home;
        const std::string info = home.dataHome() + "/Trash/info", files = home.dataHome() + "/Trash/files";
        writeFile(info + "/a.txt.trashinfo", "[Trash Info]\nPath=/elsewhere/a.txt\n");
        writeFile(files + "/b.txt", "an orphan without its info file");
        Trash::testing::namedInfoDrafts = drafts;
        std::vector<std::string> seen;
        StepHook hook([&](Trash::testing::Step step) {
            if (step != Trash::testing::Step::InfoNamed) return;
            for (const std::string& name : namesIn(info))
                if (name != "a.txt.trashinfo") seen.push_back(name + ": " + readFile(info + "/" + name));
        });
        std::string a = Trash::trashItem(writeFile(home.path("docs/a.txt"), "a"));
        std::string b = Trash::trashItem(writeFile(home.path("docs/b.txt"), "b"));
        Trash::testing::namedInfoDrafts = false;

        EXPECT_EQ(a, files + "/a 2.txt");
        EXPECT_EQ(b, files + "/b 2.txt");
        EXPECT_EQ(pathLineOf(a), home.path("docs/a.txt"));
        EXPECT_EQ(pathLineOf(b), home.path("docs/b.txt"));
        ASSERT_EQ(seen.size(), 5u) << "a 2; then a 2 and b; then a 2 and b 2";
        for (const std::string& line : seen) {
            EXPECT_NE(line.find(": [Trash Info]\nPath=" + home.root() + "/docs/"), std::string::npos) << line;
            EXPECT_NE(line.find("\nDeletionDate="), std::string::npos) << line;
        }
        std::vector<std::string> left = namesIn(info);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"a 2.txt.trashinfo", "a.txt.trashinfo", "b 2.txt.trashinfo"}));
        EXPECT_EQ(readFile(files + "/b.txt"), "an orphan without its info file");
    }
}


// Movers in several processes moving items of one name into one Trash each claim a name of
// their own: every item arrives, described by a complete info file naming where it was.
TEST(Trash, ConcurrentMoversClaimDistinctNames)
{
    constexpr int kProcesses = 4, kFiles = 40;
    for (bool drafts : {false, true}) {
        SCOPED_TRACE(drafts ? "named drafts" : "unnamed files");
        TempHome home;
        auto origin = [&](int p, int i) { return home.path(std::to_string(p) + "/" + std::to_string(i) + "/x.txt"); };
        for (int p = 0; p < kProcesses; ++p)
            for (int i = 0; i < kFiles; ++i) writeFile(origin(p, i), std::to_string(p) + "/" + std::to_string(i));
        std::vector<pid_t> movers;
        for (int p = 0; p < kProcesses; ++p) {
            pid_t pid = fork();
            if (pid == 0) {
                Trash::testing::namedInfoDrafts = drafts;
                Trash::Mover mover;
                int failed = 0;
                for (int i = 0; i < kFiles; ++i) failed += errnoOf([&] { mover.move(origin(p, i)); }) != 0;
                _exit(failed);
            }
            ASSERT_GT(pid, 0);
            movers.push_back(pid);
        }
        for (pid_t pid : movers) {
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        }
        const std::string files = home.dataHome() + "/Trash/files";
        std::vector<std::string> names = namesIn(files);
        EXPECT_EQ(names.size(), size_t{kProcesses * kFiles});
        EXPECT_EQ(namesIn(home.dataHome() + "/Trash/info").size(), size_t{kProcesses * kFiles}) << "no draft left";
        for (const std::string& name : names)
            EXPECT_EQ(pathLineOf(files + "/" + name), home.path(readFile(files + "/" + name) + "/x.txt")) << name;
    }
}

// A folder that its owner may write to but not read (mode 0333) is still moved from and
// restored to: it is held by an O_PATH descriptor, which renames work through.
TEST(Trash, WriteOnlyFolderIsMovedFromAndRestoredTo)
{
    TempHome home;
    const std::string dir = home.path("box");
    writeFile(dir + "/f.txt", "f");
    makeDirs(home.dataHome());
    for (const std::string& path : {home.root(), home.dataHome(), dir, dir + "/f.txt"})
        ASSERT_EQ(chown(path.c_str(), nobodyUid(), nobodyUid()), 0) << path;
    ASSERT_EQ(chmod(dir.c_str(), 0333), 0);
    int status = runAsNobody([&] {
        try {
            std::string trashed = Trash::trashItem(dir + "/f.txt");
            if (access((dir + "/f.txt").c_str(), F_OK) == 0) return 2;
            Trash::restoreItem(trashed, dir + "/f.txt");
            return 0;
        } catch (const std::exception& e) {
            fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(readFile(dir + "/f.txt"), "f");
    EXPECT_TRUE(namesIn(home.dataHome() + "/Trash/info").empty());
}

// DeletionDate= is local time as the mover had it: a start-up in another time zone (or after a
// change of daylight saving) still knows the move's own info file, by its modification time.
TEST(Trash, OrphanInfoWrittenInAnotherTimeZoneIsTheMoves)
{
    struct Case {
        const char* name;
        int shift;  // seconds added to the date written
        int age;    // seconds before the move that the file was modified
        bool removed;
    } cases[] = {
        {"written at +05:30, read at -05:00", 0, 0, true},
        {"a date that no time zone gives", 7 * 60, 0, false},
        {"modified long before the move", 0, 3600, false},
    };
    const std::string savedZone = getenv("TZ") ? getenv("TZ") : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempHome home;
        std::string item = writeFile(home.path("dir/a.txt"), "a");
        makeDirs(home.dataHome() + "/Trash/files");
        const std::string left = home.dataHome() + "/Trash/info/a.txt.trashinfo";
        const time_t movedAt = time(nullptr), written = movedAt + c.shift;
        setenv("TZ", "IST-5:30", 1);
        tzset();
        char date[32];
        struct tm local {};
        strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", localtime_r(&written, &local));
        writeFile(left, TrashInfo::contents(item, date));
        setAge(left, c.age);
        setenv("TZ", "EST5", 1);
        tzset();
        EXPECT_EQ(Trash::removeOrphanInfo(item, static_cast<double>(movedAt)), c.removed ? 1 : 0);
        EXPECT_EQ(exists(left), !c.removed);
    }
    if (savedZone.empty()) unsetenv("TZ");
    else setenv("TZ", savedZone.c_str(), 1);
    tzset();
}
