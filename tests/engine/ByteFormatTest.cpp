#include "engine/ByteFormat.h"

#include "TestSupport.h"

#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unicode/uloc.h>

TEST(ByteFormat, DecimalSeparatorIsTheUsers)
{
    struct Case {
        int64_t bytes;
        const char* point;
        const char* text;
    } cases[] = {
        {1000000, ".", "1 MB"},       {1000000, ",", "1 MB"},       {1500000, ",", "1,5 MB"},
        {2500000000, ".", "2.5 GB"},  {2500000000, ",", "2,5 GB"},  {2505000000, ",", "2,5 GB"},
        {2510000000, ",", "2,51 GB"}, {1000, ",", "1 KB"},          {999, ",", "999 bytes"},
        {-1500000, ",", "-1,5 MB"},   {999950000, ",", "1 GB"},     {1230000, "\xD9\xAB", "1\xD9\xAB" "2 MB"},
        {0, ".", "Zero KB"},          {1, ".", "1 byte"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatFileSize(c.bytes, c.point), c.text) << c.bytes << " with " << c.point;
}

// Under a real decimal-comma locale (made here when the system has none installed).
TEST(ByteFormat, FollowsTheNumericLocale)
{
    const char* name = "de_DE.UTF-8";
    TempHome home;
    const char* savedPath = std::getenv("LOCPATH");
    std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, name)) {
        CommandResult made = runCommand("localedef -i de_DE -f UTF-8 " + shellQuote(home.path(name)) + " 2>&1");
        ASSERT_EQ(made.status, 0) << "the locales package provides the definitions: " << made.output;
        setenv("LOCPATH", home.root().c_str(), 1);
        ASSERT_TRUE(std::setlocale(LC_NUMERIC, name));
    }
    EXPECT_EQ(formatFileSize(1000000), "1 MB");
    EXPECT_EQ(formatFileSize(2500000000), "2,5 GB");
    std::setlocale(LC_NUMERIC, previous.c_str());
    if (savedPath) setenv("LOCPATH", savedPath, 1);
    else unsetenv("LOCPATH");
    EXPECT_EQ(formatFileSize(2500000000), "2.5 GB");
}

// Under a Chinese system locale, the locale dates follow, the counts carry no English word;
// the unit symbols are the same in both.
TEST(ByteFormat, ChineseLocaleHasNoEnglishWords)
{
    std::string previous = uloc_getDefault();
    UErrorCode status = U_ZERO_ERROR;
    uloc_setDefault("zh_CN", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    struct Case {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "零 KB"}, {1, "1 字节"}, {999, "999 字节"}, {-12, "-12 字节"}, {1000, "1 KB"}, {1500000, "1.5 MB"}, {2510000000, "2.51 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatFileSize(bytes), text) << bytes;
    uloc_setDefault(previous.c_str(), &status);
    EXPECT_EQ(formatFileSize(0), "Zero KB") << "back under " << previous;
}
