#include "platform/Errors.h"
#include "engine/FileEngine.h"
#include "TestSupport.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

int errorCode(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

// Waits until the clock files are stamped with has passed the file's status-change time, so
// that the next change of its status gets a later one.
void waitPastStatusChange(const std::string& path)
{
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    auto passed = [&] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        return now.tv_sec > info.st_ctim.tv_sec ||
               (now.tv_sec == info.st_ctim.tv_sec && now.tv_nsec > info.st_ctim.tv_nsec);
    };
    while (!passed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool isValidationError(const std::function<void()>& body)
{
    try {
        body();
    } catch (const TessynError& e) {
        return e.domain() == "Tessyn" && e.code() == 1 &&
               e.message() == "文件已变化、已移动或超出扫描范围，请重新扫描。";
    }
    return false;
}

} // namespace

TEST(FileEngine, EntryAndSnapshotOnlyTakeRegularFiles)
{
    TempHome home;
    std::string empty = writeFile(home.path("root/empty.txt"), "");
    auto record = FileEngine::snapshot(empty);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size, 0);
    EXPECT_EQ(record->path, FileEngine::canonicalURL(empty));
    ASSERT_TRUE(record->changed.has_value());

    struct stat info {};
    ASSERT_EQ(lstat(empty.c_str(), &info), 0);
    EXPECT_EQ(record->resourceID(), std::to_string(static_cast<int32_t>(info.st_dev)) + ":" + std::to_string(info.st_ino));
    EXPECT_EQ(record->allocated, static_cast<int64_t>(info.st_blocks) * 512);

    EXPECT_FALSE(FileEngine::snapshot(home.path("root")));
    symlink(empty.c_str(), home.path("root/link").c_str());
    EXPECT_FALSE(FileEngine::snapshot(home.path("root/link"))) << "a link to a regular file is not a record";
    mkfifo(home.path("root/pipe").c_str(), 0644);
    EXPECT_FALSE(FileEngine::snapshot(home.path("root/pipe")));
    EXPECT_EQ(errorCode([&] { FileEngine::snapshot(home.path("root/missing")); }), ENOENT);
    EXPECT_EQ(errorCode([&] { FileEngine::canonicalURL(home.path("root/missing/x")); }), ENOENT);
}

TEST(FileEngine, ValidateRefusesEveryKindOfChange)
{
    TempHome home;
    std::string root = home.path("root");
    std::string file = writeFile(root + "/a/doc.txt", "contents");
    auto record = *FileEngine::snapshot(file);

    EXPECT_NO_THROW(FileEngine::validate(record, root));
    EXPECT_NO_THROW(FileEngine::validate(record, "/")) << "every file lies below /";
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(record, root + "/a/doc.txt"); }))
        << "the root itself never passes";
    makeDirs(root + "/a/do");
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(record, root + "/a/do"); }))
        << "a name prefix is not a folder prefix";

    // Touched: same identity, new dates.
    setAge(file, 100);
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(record, root); }));

    // Only the status changed (permissions): the status-change date tells.
    record = *FileEngine::snapshot(file);
    waitPastStatusChange(file);
    chmod(file.c_str(), 0600);
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(record, root); }));

    // Replaced by a copy with the same name, size and times: a new identity.
    record = *FileEngine::snapshot(file);
    std::string copy = root + "/copy";
    std::filesystem::copy_file(file, copy);
    struct stat info {};
    lstat(file.c_str(), &info);
    timespec times[2] = {info.st_atim, info.st_mtim};
    utimensat(AT_FDCWD, copy.c_str(), times, 0);
    std::filesystem::rename(copy, file);
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(record, root); }));

    // Taken through a link: the resolved path differs from the record's.
    record = *FileEngine::snapshot(file);
    symlink((root + "/a").c_str(), (root + "/via").c_str());
    FileEntry throughLink(root + "/via/doc.txt", record.size, record.modified, record.device, record.inode,
                          record.allocated, record.changed);
    EXPECT_TRUE(isValidationError([&] { FileEngine::validate(throughLink, root); }));

    // Gone: the platform's own error.
    unlink(file.c_str());
    EXPECT_EQ(errorCode([&] { FileEngine::validate(record, root); }), ENOENT);
}
