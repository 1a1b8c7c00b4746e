#include "engine/FileEngine.h"
#include "TestSupport.h"
#include "engine/SearchKey.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(FileEntry, NameExtensionCategoryAndParent)
{
    FileEntry photo("/a/b/Photo.JPG", 1, 0, 1, 2, 0, 0.0);
    EXPECT_EQ(photo.name(), "Photo.JPG");
    EXPECT_EQ(photo.extensionLowercase(), "jpg");
    EXPECT_EQ(photo.category(), "图片");
    EXPECT_EQ(photo.parentPath(), std::optional<std::string_view>("/a/b"));

    FileEntry readme("/README", 1, 0, 1, 2, 0, 0.0);
    EXPECT_EQ(readme.extensionLowercase(), "");
    EXPECT_EQ(readme.category(), "其他");
    EXPECT_EQ(readme.parentPath(), std::optional<std::string_view>(""));

    EXPECT_EQ(FileEntry("/x/backup.tar.gz", 1, 0, 1, 2, 0, 0.0).category(), "安装包与压缩包");
    EXPECT_EQ(FileEntry("/x/.profile", 1, 0, 1, 2, 0, 0.0).extensionLowercase(), "profile");
    EXPECT_EQ(FileEntry("/x/ends.", 1, 0, 1, 2, 0, 0.0).extensionLowercase(), "");
    FileEntry bare("relative", 1, 0, 1, 2, 0, 0.0);
    EXPECT_EQ(bare.name(), "relative");
    EXPECT_FALSE(bare.parentPath().has_value());
}

TEST(FileEntry, IdentityStringIsSignedDeviceAndUnsignedInode)
{
    EXPECT_EQ(identityString(-5, 18446744073709551615ull), "-5:18446744073709551615");
    EXPECT_EQ(identityString(2049, 7), "2049:7");
}

TEST(SearchKey, FoldsCaseAndStripsMarks)
{
    EXPECT_EQ(searchKey("/Users/A/Résumé.PDF"), "/users/a/resume.pdf");
    EXPECT_EQ(searchKey("STRASSE"), searchKey("straße"));
    EXPECT_EQ(searchKey("Ünïcödé"), "unicode");
    // Ill-formed bytes must not stop the rest from folding.
    EXPECT_EQ(searchKey(std::string("AB\xff", 3)), "ab\xEF\xBF\xBD");
}
