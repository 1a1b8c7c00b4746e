#include "services/ProcessMemoryReader.h"
#include "ChildProcess.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {
std::string realPath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    std::string out = resolved ? resolved : "";
    std::free(resolved);
    return out;
}

const ApplicationMemory* find(const std::vector<ApplicationMemory>& rows, int32_t id)
{
    auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.id == id; });
    return it == rows.end() ? nullptr : &*it;
}

// Identities whose own pid runs nothing: they can only claim processes by bundle path.
constexpr int32_t kNoProcess1 = INT32_MAX - 11;
constexpr int32_t kNoProcess2 = INT32_MAX - 12;
constexpr int32_t kNoProcess3 = INT32_MAX - 13;
constexpr int32_t kNoProcess4 = INT32_MAX - 14;

// Starts a copy of the demo program at `bundle`/Contents/MacOS/`name` and waits until it runs.
std::unique_ptr<ChildProcess> startInBundle(const TempHome& home, const std::string& executable)
{
    copyExecutable(fixturePath("demo_app"), executable);
    auto child = std::make_unique<ChildProcess>(executable, std::vector<std::string>{"quits", home.root()});
    if (!waitForFile(home.path("ready-" + std::to_string(child->pid())), 10)) return nullptr;
    return child;
}
} // namespace

TEST(ProcessMemoryReader, ChargesDescendantsToTheApplication)
{
    TempHome home;
    ChildProcess child(fixturePath("demo_app"), {"parent", home.root()});
    std::string readyFile = home.path("ready-" + std::to_string(child.pid()));
    ASSERT_TRUE(waitForFile(readyFile, 10));
    pid_t grandchild = std::atoi(readFile(readyFile).c_str());
    ASSERT_GT(grandchild, 0);

    auto rows = ProcessMemoryReader::read({{getpid(), "tests", ""}});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, getpid());
    EXPECT_EQ(rows[0].name, "tests");
    EXPECT_EQ(rows[0].processCount, 3) << "the test, its child and its grandchild";
    EXPECT_EQ(rows[0].unavailableCount, 0);
    EXPECT_GT(rows[0].resident, 0);
    EXPECT_GT(rows[0].footprint, 0);

    // The child as an application of its own takes the grandchild away from the test.
    rows = ProcessMemoryReader::read({{getpid(), "tests", ""}, {child.pid(), "child", ""}});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(find(rows, getpid())->processCount, 1);
    EXPECT_EQ(find(rows, child.pid())->processCount, 2);
    EXPECT_GE(rows[0].footprint, rows[1].footprint) << "largest footprint first";

    // An application whose processes are all gone is still listed, with nothing in it.
    rows = ProcessMemoryReader::read({{kNoProcess1, "Gone", "/Applications/Gone.app"}});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (ApplicationMemory{kNoProcess1, "Gone", 0, 0, 0, 0, "/Applications/Gone.app"}));
}

TEST(ProcessMemoryReader, ChargesByBundlePath)
{
    TempHome home;
    std::string demo = home.path("Apps/Demo.app");
    std::string outer = home.path("Apps/Outer.app");
    std::string inner = outer + "/Contents/Helpers/Inner.app";
    std::string notes = home.path("Apps/Notes.app");
    auto demoProcess = startInBundle(home, demo + "/Contents/MacOS/demo");
    auto innerProcess = startInBundle(home, inner + "/Contents/MacOS/inner");
    auto outerProcess = startInBundle(home, outer + "/Contents/MacOS/outer");
    auto notesProcess = startInBundle(home, notes + "/Contents/MacOS/notes");
    ASSERT_TRUE(demoProcess && innerProcess && outerProcess && notesProcess);

    std::vector<ApplicationIdentity> identities{
        {kNoProcess1, "Demo", realPath(demo)},
        {kNoProcess2, "Outer", realPath(outer)},  // listed before the inner one on purpose
        {kNoProcess3, "Inner", realPath(inner)},
        {kNoProcess4, "Note", realPath(home.path("Apps")) + "/Note.app"},
        {kNoProcess4 - 1, "No bundle", ""},
    };
    auto rows = ProcessMemoryReader::read(identities);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(find(rows, kNoProcess1)->processCount, 1) << "a process reaching init without an application";
    EXPECT_GT(find(rows, kNoProcess1)->footprint, 0);
    EXPECT_EQ(find(rows, kNoProcess2)->processCount, 1) << "only the outer bundle's own executable";
    EXPECT_EQ(find(rows, kNoProcess3)->processCount, 1) << "the inner bundle wins for its executable";
    EXPECT_EQ(find(rows, kNoProcess4)->processCount, 0) << "Note.app claims nothing in Notes.app";
    EXPECT_EQ(find(rows, kNoProcess4 - 1)->processCount, 0) << "an empty bundle path claims nothing";

    // The same processes descend from this test: as an application it takes them all first.
    identities.push_back({getpid(), "tests", ""});
    rows = ProcessMemoryReader::read(identities);
    EXPECT_EQ(find(rows, getpid())->processCount, 5);
    EXPECT_EQ(find(rows, kNoProcess1)->processCount, 0);
}

TEST(ProcessMemoryReader, RepeatedIdentityKeepsTheLaterOne)
{
    auto rows = ProcessMemoryReader::read({{getpid(), "first", "/a.app"}, {getpid(), "second", "/b.app"}});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "second");
    EXPECT_EQ(rows[0].bundlePath, "/b.app");
    EXPECT_EQ(rows[0].processCount, 1);
    EXPECT_TRUE(ProcessMemoryReader::read({}).empty());
}
