#include "services/InstalledAppInventory.h"

#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "BundleFixture.h"
#include "TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kE1 = "应用路径不是指定应用目录中的独立应用，或路径已变化。";
const std::string kE2 = "应用包不是普通目录。";
const std::string kE3 = "不处理系统应用、Tessyn自身或无法识别的应用包。";

plist_t info(const std::string& id, const std::string& executable = "Run")
{
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string(id.c_str()));
    plist_dict_set_item(dict, "CFBundleExecutable", plist_new_string(executable.c_str()));
    return dict;
}

std::string serialise(plist_t node, bool binary)
{
    char* data = nullptr;
    uint32_t length = 0;
    if (binary) plist_to_bin(node, &data, &length);
    else plist_to_xml(node, &data, &length);
    std::string out(data, length);
    std::free(data);
    plist_free(node);
    return out;
}

// Writes <dir>/<folder> with Contents/Info.plist and, when named, Contents/MacOS/<executable>.
std::string makeBundle(const std::string& dir, const std::string& folder, plist_t dict, bool binary = false,
                       const std::string& executable = "Run")
{
    std::string bundle = dir + "/" + folder;
    writeFile(bundle + "/Contents/Info.plist", serialise(dict, binary));
    if (!executable.empty()) writeFile(bundle + "/Contents/MacOS/" + executable, "#!/bin/sh\n");
    return bundle;
}

// "ok:<name>", the refusal text, or "errno:<n>".
std::string outcome(const std::string& path, const std::vector<std::string>& roots)
{
    try {
        return "ok:" + MaintenanceEngine::app(path, roots).name;
    } catch (const TessynError& e) {
        EXPECT_EQ(e.domain(), "TessynMaintenance");
        EXPECT_EQ(e.code(), 1);
        return e.message();
    } catch (const std::system_error& e) {
        return "errno:" + std::to_string(e.code().value());
    }
}

// An XML Info.plist padded with whitespace to exactly `size` bytes.
std::string paddedPlist(size_t size)
{
    std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    std::string tail =
        "<key>CFBundleIdentifier</key><string>com.example.big</string>\n"
        "<key>CFBundleExecutable</key><string>Run</string>\n</dict>\n</plist>\n";
    return head + std::string(size - head.size() - tail.size(), ' ') + tail;
}

} // namespace

TEST(MaintenanceEngine, BundleGateAcceptsOnlyPlainBundlesDirectlyInARoot)
{
    TempHome home;
    std::string apps = home.path("Applications");
    std::string other = home.path("Elsewhere");
    makeDirs(apps);
    std::vector<std::string> roots = {home.path("missing-root"), apps};

    std::string good = makeBundle(apps, "Good.app", info("com.example.good"));
    InstalledApp app = MaintenanceEngine::app(good, roots);
    struct stat st {};
    ASSERT_EQ(lstat(good.c_str(), &st), 0);
    EXPECT_EQ(app.path, good);
    EXPECT_EQ(app.name, "Good");
    EXPECT_EQ(app.bundleID, "com.example.good");
    EXPECT_EQ(app.identity, std::to_string(static_cast<int32_t>(st.st_dev)) + ":" + std::to_string(st.st_ino));
    EXPECT_EQ(app.modified, dateFromTimespec(st.st_mtim));

    plist_t binary = info("com.example.binary");
    plist_dict_set_item(binary, "CFBundleDisplayName", plist_new_string("二进制"));
    EXPECT_EQ(outcome(makeBundle(apps, "Binary.app", binary, true), roots), "ok:二进制") << "binary plist";

    // Paths: links, capitals, nesting, other roots, non-canonical spellings.
    std::string outside = makeBundle(other, "Outside.app", info("com.example.outside"));
    ASSERT_EQ(symlink(outside.c_str(), (apps + "/Linked.app").c_str()), 0);
    ASSERT_EQ(symlink(good.c_str(), (apps + "/Alias.app").c_str()), 0);
    EXPECT_EQ(outcome(apps + "/Linked.app", roots), kE1);
    EXPECT_EQ(outcome(apps + "/Alias.app", roots), kE1);
    EXPECT_EQ(outcome(makeBundle(apps, "Capital.APP", info("com.example.capital")), roots), kE1);
    EXPECT_EQ(outcome(makeBundle(apps + "/Utilities", "Nested.app", info("com.example.nested")), roots), kE1);
    EXPECT_EQ(outcome(outside, roots), kE1);
    EXPECT_EQ(outcome(outside, {other}), "ok:Outside");
    EXPECT_EQ(outcome(apps + "/./Good.app", roots), kE1);
    EXPECT_EQ(outcome(good + "/", roots), kE1);
    EXPECT_EQ(outcome(makeBundle(apps, ".app", info("com.example.bare")), roots), kE1);
    EXPECT_EQ(outcome(writeFile(apps + "/File.app", "x"), roots), kE2);
    EXPECT_EQ(outcome(apps + "/Missing.app", roots), "errno:" + std::to_string(ENOENT));

    // Info.plist: missing, linked, too large, unparsable, not a dictionary.
    makeDirs(apps + "/NoInfo.app/Contents");
    EXPECT_EQ(outcome(apps + "/NoInfo.app", roots), "errno:" + std::to_string(ENOENT));
    makeDirs(apps + "/LinkedInfo.app/Contents/MacOS");
    ASSERT_EQ(symlink((good + "/Contents/Info.plist").c_str(), (apps + "/LinkedInfo.app/Contents/Info.plist").c_str()), 0);
    EXPECT_EQ(outcome(apps + "/LinkedInfo.app", roots), kE3);
    std::string exact = makeBundle(apps, "Exact.app", info("x"));
    writeFile(exact + "/Contents/Info.plist", paddedPlist(MaintenanceEngine::kInfoPlistLimit));
    EXPECT_EQ(outcome(exact, roots), "ok:Exact") << "exactly 4 MiB is read";
    std::string over = makeBundle(apps, "Over.app", info("x"));
    writeFile(over + "/Contents/Info.plist", paddedPlist(MaintenanceEngine::kInfoPlistLimit + 1));
    EXPECT_EQ(outcome(over, roots), kE3);
    std::string garbage = makeBundle(apps, "Garbage.app", info("x"));
    writeFile(garbage + "/Contents/Info.plist", "not a property list");
    EXPECT_EQ(outcome(garbage, roots), kE3);
    plist_t array = plist_new_array();
    plist_array_append_item(array, plist_new_string("com.example.array"));
    EXPECT_EQ(outcome(makeBundle(apps, "Array.app", array), roots), kE3);

    // Identifiers.
    struct Case {
        std::string id;
        bool accepted;
    };
    int n = 0;
    for (const Case& c : std::vector<Case>{{"com.apple.Safari", false},
                                           {"com.apple.", false},
                                           {"com.applex.Tool", true},
                                           {"com.apple", true},
                                           {"local.tessyn.preview", false},
                                           {"local.tessyn.preview.helper", true},
                                           {"", false},
                                           {".", false},
                                           {"..", false},
                                           {"com/example", false},
                                           {"bad\xff", false}}) {
        std::string folder = "Id" + std::to_string(n++) + ".app";
        EXPECT_EQ(outcome(makeBundle(apps, folder, info(c.id)), roots),
                  c.accepted ? "ok:" + folder.substr(0, folder.size() - 4) : kE3)
            << "identifier '" << c.id << "'";
    }
    plist_t noID = plist_new_dict();
    plist_dict_set_item(noID, "CFBundleExecutable", plist_new_string("Run"));
    EXPECT_EQ(outcome(makeBundle(apps, "NoID.app", noID), roots), kE3);
    plist_t numberID = info("x");
    plist_dict_set_item(numberID, "CFBundleIdentifier", plist_new_uint(7));
    EXPECT_EQ(outcome(makeBundle(apps, "NumberID.app", numberID), roots), kE3);

    // Executables.
    EXPECT_EQ(outcome(makeBundle(apps, "Slash.app", info("com.example.slash", "bin/Run"), false, ""), roots), kE3);
    EXPECT_EQ(outcome(makeBundle(apps, "NoExe.app", info("com.example.noexe", "Run"), false, ""), roots), kE3);
    EXPECT_EQ(outcome(makeBundle(apps, "DotExe.app", info("com.example.dot", ".."), false, ""), roots), kE3);
    EXPECT_EQ(outcome(makeBundle(apps, "EmptyExe.app", info("com.example.empty", ""), false, ""), roots), kE3);
    plist_t noExe = plist_new_dict();
    plist_dict_set_item(noExe, "CFBundleIdentifier", plist_new_string("com.example.nokey"));
    EXPECT_EQ(outcome(makeBundle(apps, "NoExeKey.app", noExe, false, ""), roots), kE3);
    std::string linkedExe = makeBundle(apps, "LinkedExe.app", info("com.example.linkedexe", "Run"), false, "");
    makeDirs(linkedExe + "/Contents/MacOS");
    ASSERT_EQ(symlink("/bin/sh", (linkedExe + "/Contents/MacOS/Run").c_str()), 0);
    EXPECT_EQ(outcome(linkedExe, roots), "ok:LinkedExe") << "the executable test follows links";
    std::string danglingExe = makeBundle(apps, "DanglingExe.app", info("com.example.dangling", "Run"), false, "");
    makeDirs(danglingExe + "/Contents/MacOS");
    ASSERT_EQ(symlink("/nonexistent", (danglingExe + "/Contents/MacOS/Run").c_str()), 0);
    EXPECT_EQ(outcome(danglingExe, roots), kE3);

    // Display names: a string is taken unchanged, even empty; anything else falls back.
    plist_t numberName = info("com.example.numbername");
    plist_dict_set_item(numberName, "CFBundleDisplayName", plist_new_uint(42));
    EXPECT_EQ(outcome(makeBundle(apps, "Number Name.app", numberName), roots), "ok:Number Name");
    plist_t emptyName = info("com.example.emptyname");
    plist_dict_set_item(emptyName, "CFBundleDisplayName", plist_new_string(""));
    EXPECT_EQ(outcome(makeBundle(apps, "Empty Name.app", emptyName), roots), "ok:");
}

TEST(MaintenanceEngine, InfoPlistReadIsBoundedEvenWhenTheFileChangesAfterItsSnapshot)
{
    TempHome home;
    const size_t limit = 1024;
    std::string path = writeFile(home.path("Info.plist"), std::string(limit, 'a'));
    auto snapshot = FileEngine::snapshot(path);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(MaintenanceEngine::readBoundedFile(path, *snapshot, limit).size(), limit);

    // Grown in place after it was measured: refused instead of read without bound.
    writeFile(path, std::string(limit + 1, 'b'));
    try {
        MaintenanceEngine::readBoundedFile(path, *snapshot, limit);
        ADD_FAILURE() << "a file grown past the limit was read";
    } catch (const TessynError& e) {
        EXPECT_EQ(e.message(), kE3);
    }

    // Swapped for another file: refused even though it is small.
    writeFile(home.path("small"), "small");
    ASSERT_EQ(rename(home.path("small").c_str(), path.c_str()), 0);
    try {
        MaintenanceEngine::readBoundedFile(path, *snapshot, limit);
        ADD_FAILURE() << "a swapped file was read";
    } catch (const TessynError& e) {
        EXPECT_EQ(e.message(), kE3);
    }

    // A link or a pipe put in its place is never opened for reading.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_THROW(MaintenanceEngine::readBoundedFile(path, *snapshot, limit), TessynError);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink(home.path("small-target").c_str(), path.c_str()), 0);
    writeFile(home.path("small-target"), "x");
    EXPECT_THROW(MaintenanceEngine::readBoundedFile(path, *snapshot, limit), std::system_error);
}

TEST(MaintenanceEngine, DiscoverListsValidBundlesInNaturalOrder)
{
    TempHome home;
    std::string first = home.path("Applications");
    std::string second = home.path("User Applications");
    auto named = [](const std::string& id, const std::string& name) {
        plist_t dict = info(id);
        plist_dict_set_item(dict, "CFBundleDisplayName", plist_new_string(name.c_str()));
        return dict;
    };
    makeBundle(first, "ten.app", named("com.example.ten", "App 10"));
    makeBundle(first, "two.app", named("com.example.two", "App 2"));
    makeBundle(first, "banana.app", named("com.example.banana", "banana"));
    makeBundle(first, "Cherry.app", info("com.example.cherry"));
    makeBundle(first, ".Hidden.app", info("com.example.hidden"));
    makeBundle(first, "System.app", info("com.apple.system"));
    makeBundle(first + "/Utilities", "Nested.app", info("com.example.nested"));
    makeBundle(second, "two-again.app", named("com.example.two.user", "app 2"));
    makeBundle(second, "apple.app", named("com.example.apple", "Apple"));
    // A root given through a link is listed under its canonical path.
    ASSERT_EQ(symlink(second.c_str(), home.path("linked-root").c_str()), 0);

    auto apps = MaintenanceEngine::discover({first, home.path("linked-root"), home.path("missing")});
    std::vector<std::string> names, ids;
    for (const auto& a : apps) {
        names.push_back(a.name);
        ids.push_back(a.bundleID);
    }
    EXPECT_EQ(names, (std::vector<std::string>{".Hidden", "App 2", "app 2", "App 10", "Apple", "banana", "Cherry"}));
    // Equal names keep root order.
    EXPECT_EQ(ids[1], "com.example.two");
    EXPECT_EQ(ids[2], "com.example.two.user");
    EXPECT_EQ(apps[2].path, second + "/two-again.app");

    // Swapping the roots swaps the equal names and nothing else.
    auto swapped = MaintenanceEngine::discover({second, first});
    ASSERT_EQ(swapped.size(), apps.size());
    EXPECT_EQ(swapped[1].bundleID, "com.example.two.user");
    EXPECT_EQ(swapped[2].bundleID, "com.example.two");

    EXPECT_TRUE(MaintenanceEngine::discover({home.path("missing")}).empty());
    EXPECT_TRUE(MaintenanceEngine::discover({}).empty());
}

// A bundle whose Info.plist nests far too deep is not listed, however it is written, and
// the listing goes on with the others.
TEST(MaintenanceEngine, DeeplyNestedInfoPlistsAreRefusedWithoutParsing)
{
    TempHome home;
    std::string apps = home.path("Applications");
    makeBundle(apps, "Plain.app", info("com.example.plain"));
    makeBundle(apps, "Binary.app", info("com.example.binary"), true);
    std::string deepXml = makeBundle(apps, "DeepXml.app", info("com.example.deepxml"));
    writeFile(deepXml + "/Contents/Info.plist", nestedXmlPlist(175000));
    std::string deepBinary = makeBundle(apps, "DeepBinary.app", info("com.example.deepbinary"));
    writeFile(deepBinary + "/Contents/Info.plist", nestedBinaryPlist(110000));

    auto listed = MaintenanceEngine::discover({apps});
    std::vector<std::string> ids;
    for (const auto& app : listed) ids.push_back(app.bundleID);
    EXPECT_EQ(ids, (std::vector<std::string>{"com.example.binary", "com.example.plain"}));
    EXPECT_EQ(outcome(deepXml, {apps}), kE3);
    EXPECT_EQ(outcome(deepBinary, {apps}), kE3);
}
