#include "engine/ByteFormat.h"
#include "engine/Dates.h"
#include "engine/FileQuery.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <random>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace {

using Paths = std::vector<std::string>;
const std::unordered_set<std::string> kNoDuplicates;

FileEntry file(const std::string& path, int64_t size = 1, double modified = 0)
{
    static uint64_t inode = 1;
    return FileEntry(path, size, modified, 1, inode++, size, modified);
}

Paths paths(const std::vector<FileEntry>& files)
{
    Paths out;
    for (const auto& f : files) out.push_back(f.path);
    return out;
}

Paths query(const std::vector<FileEntry>& files, std::string_view filter, std::string_view search = "",
            double threshold = 500, std::string_view sort = "大小",
            const std::unordered_set<std::string>& duplicates = kNoDuplicates)
{
    auto result = FileQuery::apply(files, filter, search, threshold, duplicates, sort);
    auto kept = FileQuery::positions(files, filter, search, threshold, duplicates, sort);
    Paths viaPositions;
    for (uint32_t i : kept) viaPositions.push_back(files[i].path);
    EXPECT_EQ(viaPositions, paths(result)) << "positions and records must agree";
    return paths(result);
}

} // namespace

TEST(FileQuery, FiltersAndThresholds)
{
    const double now = dateNow();
    const double day = 86400;
    std::vector<FileEntry> files = {
        file("/d/big.mov", 2'000'000, now),       file("/d/photo.JPG", 1'500'000, now),
        file("/d/notes.txt", 1'499'999, now),     file("/d/old.zip", 10, now - 31 * day),
        file("/d/old.rar", 10, now - 31 * day),   file("/d/new.zip", 10, now - 29 * day),
        file("/d/old.tar.gz", 10, now - 40 * day), file("/d/README", 0, now - 40 * day),
    };
    EXPECT_EQ(query(files, "全部文件"), paths(files)) << "no search: the input unchanged";
    EXPECT_EQ(query(files, "图片"), Paths{"/d/photo.JPG"});
    EXPECT_EQ(query(files, "安装包与压缩包"), (Paths{"/d/old.zip", "/d/old.rar", "/d/new.zip", "/d/old.tar.gz"}));
    EXPECT_EQ(query(files, "其他"), Paths{"/d/README"});
    EXPECT_EQ(query(files, "旧下载候选"), (Paths{"/d/old.zip", "/d/old.tar.gz"})) << "never rar, never recent";
    EXPECT_EQ(query(files, "重复文件"), Paths{}) << "no duplicate report, nothing";
    EXPECT_EQ(query(files, "重复文件", "", 500, "大小", {"/d/notes.txt", "/d/README", "/elsewhere"}),
              (Paths{"/d/notes.txt", "/d/README"}));
    EXPECT_EQ(query(files, "no such filter"), Paths{});
    EXPECT_EQ(query(files, ""), Paths{});

    EXPECT_EQ(query(files, "大文件", "", 1.5), (Paths{"/d/big.mov", "/d/photo.JPG"}));
    EXPECT_EQ(query(files, "大文件", "", 0).size(), files.size()) << "threshold 0 keeps everything";
    EXPECT_EQ(query(files, "大文件", "", -3).size(), files.size());
    EXPECT_EQ(query(files, "大文件", "", 2), Paths{"/d/big.mov"});

    EXPECT_EQ(FileQuery::thresholdBytes(1.5), 1'500'000);
    EXPECT_EQ(FileQuery::thresholdBytes(0), 0);
    EXPECT_EQ(FileQuery::thresholdBytes(-1), 0);
    EXPECT_EQ(FileQuery::thresholdBytes(std::numeric_limits<double>::infinity()), 500'000'000);
    EXPECT_EQ(FileQuery::thresholdBytes(-std::numeric_limits<double>::infinity()), 500'000'000);
    EXPECT_EQ(FileQuery::thresholdBytes(std::nan("")), 500'000'000);
    EXPECT_EQ(FileQuery::thresholdBytes(2'000'000'000), 1'000'000'000'000'000);
    EXPECT_EQ(FileQuery::thresholdBytes(0.0000015), 1) << "truncated toward zero";
    std::vector<FileEntry> huge = {file("/h/a", 600'000'000), file("/h/b", 400'000'000)};
    EXPECT_EQ(query(huge, "大文件", "", std::nan("")), Paths{"/h/a"});
}

TEST(FileQuery, SearchFoldsBothSides)
{
    std::vector<FileEntry> files = {file("/docs/Résumé.PDF"), file("/docs/resume.txt"), file("/docs/RESUMÉ draft"),
                                    file("/docs/other.txt"), file("/docs/Straße.md")};
    EXPECT_EQ(query(files, "全部文件", "résumé"),
              (Paths{"/docs/Résumé.PDF", "/docs/resume.txt", "/docs/RESUMÉ draft"}));
    EXPECT_EQ(query(files, "全部文件", "RESUME"), query(files, "全部文件", "resume"));
    EXPECT_EQ(query(files, "全部文件", "STRASSE"), Paths{"/docs/Straße.md"});
    EXPECT_EQ(query(files, "全部文件", " "), Paths{"/docs/RESUMÉ draft"}) << "a blank is searched, not trimmed";
    EXPECT_EQ(query(files, "文档", "Resume"), (Paths{"/docs/Résumé.PDF", "/docs/resume.txt"}));
    EXPECT_EQ(query(files, "全部文件", "nothing like it"), Paths{});

    // A search holding NUL matches nothing, whatever the filter.
    const std::string withNul("res\0ume", 7);
    for (const char* filter : {"全部文件", "文档", "大文件", "其他"})
        EXPECT_EQ(query(files, filter, withNul, 0), Paths{}) << filter;
    EXPECT_EQ(query(files, "全部文件", std::string(1, '\0')), Paths{});
}

TEST(FileQuery, SortsAreStableAndNatural)
{
    std::vector<FileEntry> files = {
        file("/a/file10.txt", 1, 300), file("/b/File9.txt", 1, 100), file("/c/file9.txt", 1, 300),
        file("/d/apple", 1, 200),      file("/e/Banana", 1, 100),    file("/f/cherry", 1, 400),
        file("/g/file1.txt", 1, 200),
    };
    EXPECT_EQ(query(files, "全部文件", "", 500, "名称"),
              (Paths{"/d/apple", "/e/Banana", "/f/cherry", "/g/file1.txt", "/b/File9.txt", "/c/file9.txt",
                     "/a/file10.txt"}))
        << "file9 before file10, case ignored, equal names in input order";
    EXPECT_EQ(query(files, "全部文件", "", 500, "最近修改"),
              (Paths{"/f/cherry", "/a/file10.txt", "/c/file9.txt", "/d/apple", "/g/file1.txt", "/b/File9.txt",
                     "/e/Banana"}))
        << "newest first, equal times in input order";
    EXPECT_EQ(query(files, "全部文件", "", 500, "大小"), paths(files));
    EXPECT_EQ(query(files, "全部文件", "", 500, "whatever"), paths(files));
    EXPECT_EQ(query(files, "全部文件", "file", 500, "名称"),
              (Paths{"/g/file1.txt", "/b/File9.txt", "/c/file9.txt", "/a/file10.txt"}));
}

// Past a few ten thousand records the work is split over threads; the outcome must be that
// of one sequential pass and one stable sort.
TEST(FileQuery, LargeListsMatchSequentialOrder)
{
    std::mt19937 rng(3);
    std::vector<FileEntry> files;
    const char* stems[] = {"Report", "report", "photo", "Photo", "IMG_", "notes", "Ärger", "arger", "zeta"};
    const char* exts[] = {".jpg", ".txt", ".zip", ".MOV", "", ".JPEG", ".tar.gz", ".Png", ".x", ".pdf", ".heic.bak",
                          ".AVeryVeryLongExtensionIndeed", ".mp3", ".7z", ".rar", ".docx"};
    for (int i = 0; i < 150000; ++i) {
        std::string name = std::string(stems[rng() % 9]) + std::to_string(rng() % 500) + exts[rng() % 16];
        files.push_back(file("/tree/d" + std::to_string(i % 97) + "/" + name, static_cast<int64_t>(rng() % 1000),
                             static_cast<double>(rng() % 1000)));
    }

    // Sequential reference of the name order with the same collator settings.
    UErrorCode status = U_ZERO_ERROR;
    std::string locale = uloc_getDefault();
    if (locale == "en_US_POSIX") locale = ""; // C/POSIX environments sort by the root order
    std::unique_ptr<UCollator, decltype(&ucol_close)> collator(ucol_open(locale.c_str(), &status), &ucol_close);
    ASSERT_TRUE(U_SUCCESS(status));
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_SECONDARY, &status);
    auto utf16 = [](std::string_view s) {
        std::u16string out(s.size() + 1, u'\0');
        int32_t length = 0;
        UErrorCode st = U_ZERO_ERROR;
        u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, s.data(),
                      static_cast<int32_t>(s.size()), &st);
        out.resize(static_cast<size_t>(length));
        return out;
    };
    std::vector<std::u16string> names;
    for (const auto& f : files) names.push_back(utf16(f.name()));
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return ucol_strcoll(collator.get(), reinterpret_cast<const UChar*>(names[a].data()),
                            static_cast<int32_t>(names[a].size()), reinterpret_cast<const UChar*>(names[b].data()),
                            static_cast<int32_t>(names[b].size())) == UCOL_LESS;
    });
    Paths expectedByName;
    for (size_t i : order) expectedByName.push_back(files[i].path);
    EXPECT_EQ(query(files, "全部文件", "", 500, "名称"), expectedByName);

    Paths expectedByDate = paths(files);
    std::vector<FileEntry> byDate = files;
    std::stable_sort(byDate.begin(), byDate.end(),
                     [](const FileEntry& a, const FileEntry& b) { return a.modified > b.modified; });
    EXPECT_EQ(query(files, "全部文件", "", 500, "最近修改"), paths(byDate));

    for (const char* category : {"图片", "视频", "音频", "安装包与压缩包", "文档", "其他"}) {
        Paths expected;
        for (const auto& f : files)
            if (f.category() == category) expected.push_back(f.path);
        EXPECT_EQ(query(files, category), expected) << category;
    }

    Paths expectedSearch;
    for (const auto& f : files)
        if (f.category() == "图片" && f.searchKey().find("report") != std::string_view::npos)
            expectedSearch.push_back(f.path);
    EXPECT_EQ(query(files, "图片", "REPORT"), expectedSearch);
}

TEST(FileQuery, StopRequestGivesNothing)
{
    std::vector<FileEntry> files;
    for (int i = 0; i < 2000; ++i) files.push_back(file("/s/f" + std::to_string(i) + ".txt", i, i));
    std::stop_source stop;
    stop.request_stop();
    for (const char* sort : {"大小", "名称", "最近修改"}) {
        EXPECT_TRUE(FileQuery::apply(files, "文档", "f", 500, kNoDuplicates, sort, stop.get_token()).empty()) << sort;
        EXPECT_TRUE(FileQuery::apply(files, "全部文件", "", 500, kNoDuplicates, sort, stop.get_token()).empty()) << sort;
    }
    EXPECT_TRUE(FileQuery::presentation(files, stop.get_token()).empty());
}

TEST(FileQuery, PresentationStrings)
{
    // 2001-01-01 plus about 25 years, at noon UTC so no time zone moves the day by much.
    const double when = 788'961'600;
    std::vector<FileEntry> files = {file("/a/b/c.txt", 1'234'567, when), file("/c.txt", 0, when),
                                    file("/a/b/c.txt", 5, when)};
    auto rows = FileQuery::presentation(files);
    ASSERT_EQ(rows.size(), 2u) << "one entry per path";
    EXPECT_EQ(rows["/a/b/c.txt"].size, formatFileSize(5)) << "the later record of a path wins";
    EXPECT_EQ(rows["/a/b/c.txt"].parent, "/a/b");
    EXPECT_EQ(rows["/c.txt"].parent, "");
    EXPECT_EQ(rows["/c.txt"].size, formatFileSize(0));
    const std::string& date = rows["/c.txt"].date;
    EXPECT_FALSE(date.empty());
    EXPECT_EQ(date.find(':'), std::string::npos) << "a short date without time: " << date;
    EXPECT_NE(date.find("26"), std::string::npos) << "the year 2026 appears: " << date;
    EXPECT_EQ(rows["/a/b/c.txt"].date, date);
}
