#include "services/Localization.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const AppLanguage en = AppLanguage::english;
const AppLanguage zh = AppLanguage::simplifiedChinese;

LocalizationCatalog catalog(const std::string& json)
{
    return LocalizationCatalog::fromJson(json);
}

} // namespace

TEST(Localization, LanguageRawValuesAndIdeographTest)
{
    EXPECT_EQ(rawValue(zh), "zh-Hans");
    EXPECT_EQ(rawValue(en), "en");
    EXPECT_EQ(appLanguageFromRaw("zh-Hans"), zh);
    for (const char* other : {"en", "", "zh-hans", "zh", "zh-Hans ", "fr"})
        EXPECT_EQ(appLanguageFromRaw(other), en) << "stored value '" << other << "'";

    EXPECT_TRUE(containsCJKIdeograph("\xE4\xB8\x80"));              // U+4E00
    EXPECT_TRUE(containsCJKIdeograph("abc \xE9\xBF\xBF"));          // U+9FFF
    EXPECT_FALSE(containsCJKIdeograph("\xE3\x90\x80"));             // U+3400, extension A
    EXPECT_FALSE(containsCJKIdeograph("\xEA\x80\x80"));             // U+A000
    EXPECT_FALSE(containsCJKIdeograph("，。：（）"));                 // full-width punctuation only
    EXPECT_FALSE(containsCJKIdeograph("ひらがなカタカナ"));
    EXPECT_FALSE(containsCJKIdeograph("\xE4\xB8"));                 // truncated sequence
    EXPECT_FALSE(containsCJKIdeograph("\xE4\x41\x80"));             // broken continuation
}

TEST(Localization, ExactEntriesAndUnchangedTexts)
{
    auto c = catalog(R"({"文件": "Files", "扫描": "Scan", "{0} 个文件": "{0} files"})");
    EXPECT_FALSE(c.empty());
    EXPECT_EQ(L("文件", en, c), "Files");
    EXPECT_EQ(L("文件", zh, c), "文件") << "Chinese mode returns the text itself";
    EXPECT_EQ(L("{0} 个文件", zh, c), "{0} 个文件");
    EXPECT_EQ(L("", en, c), "");
    EXPECT_EQ(L("Files", en, c), "Files");
    EXPECT_EQ(L("/Users/a/文件x.txt", en, c), "/Users/a/文件x.txt") << "one-line mixed text without a match";
    EXPECT_EQ(L("12.5 MB", en, c), "12.5 MB");
    EXPECT_EQ(L("，", en, c), "，") << "punctuation alone never reaches the catalog";
}

TEST(Localization, PlaceholderPatterns)
{
    auto c = catalog(R"({
        "共 {0} 项": "{0} items",
        "共 {0} 项，已选 {1} 项": "{1} of {0} items selected",
        "已移动 {0} 个文件": "Moved {0} files",
        "已移动 3 个文件": "Moved three files",
        "{0}{1}项": "[{0}|{1}]",
        "位置：{0}": "Location: {0}",
        "两项 {0} 与 {1}": "{5} and {1} and {0}",
        "无零号 {1}": "no zero {1}",
        "大小（{0}）[MB]?": "Size ({0}) [MB]?",
        "甲.乙{0}": "A.B{0}"
    })");
    // The slotted keys become patterns, the one without "{0}" does not.
    EXPECT_EQ(c.patternCount(), 8u);

    EXPECT_EQ(L("已移动 7 个文件", en, c), "Moved 7 files");
    EXPECT_EQ(L("已移动 3 个文件", en, c), "Moved three files") << "an exact entry wins over a pattern";
    EXPECT_EQ(L("共 10 项，已选 2 项", en, c), "2 of 10 items selected")
        << "the longer key is used and slots are filled by number, not position";
    EXPECT_EQ(L("共 10 项", en, c), "10 items");
    EXPECT_EQ(L("两项 甲 与 乙", en, c), "{5} and 乙 and 甲") << "a slot beyond the key's groups stays literal";
    EXPECT_EQ(L("无零号 5", en, c), "无零号 5") << "keys without {0} are not patterns";
    EXPECT_EQ(L("12项", en, c), "[|12]") << "adjacent slots split lazily";
    EXPECT_EQ(L("位置：/a/b\n/c", en, c), "Location: /a/b\n/c") << "a slot also matches line breaks";
    EXPECT_EQ(L("大小（4）[MB]?", en, c), "Size (4) [MB]?") << "regular-expression characters are literal";
    EXPECT_EQ(L("大小（4）MM", en, c), "大小（4）MM");
    EXPECT_EQ(L("甲X乙1", en, c), "甲X乙1") << "a dot in a key is not a wildcard";
    EXPECT_EQ(L("甲.乙1", en, c), "A.B1");
    EXPECT_EQ(L("共 {0} 项", en, c), "{0} items") << "captured text is inserted verbatim";
}

// A fixed text followed by an error's own words: what fills the slot is looked up again, so
// the whole message reads in English; paths, system texts and unknown texts stay as captured.
TEST(Localization, SlotsHoldingInterfaceTextsAreTranslated)
{
    auto c = catalog(R"({
        "操作记录无法读取；下次保存前会保留原文件副本。{0}": "The history can't be read. {0}",
        "数据格式不正确，无法读取。": "The data isn't in the correct format.",
        "恢复失败：{0}": "Restore failed: {0}",
        "已移入废纸篓；回执保存失败：{0}": "Moved; the receipt failed: {0}",
        "{0}；关联文件已保留。": "{0}; related files kept.",
        "卸载 {0}": "Uninstall {0}",
        "{0} · 缓存候选": "{0} · Cache Candidates",
        "文件": "Files"
    })");
    struct Case {
        const char* text;
        const char* shown;
    } cases[] = {
        {"操作记录无法读取；下次保存前会保留原文件副本。数据格式不正确，无法读取。",
         "The history can't be read. The data isn't in the correct format."},
        {"操作记录无法读取；下次保存前会保留原文件副本。Permission denied", "The history can't be read. Permission denied"},
        {"已移入废纸篓；回执保存失败：数据格式不正确，无法读取。；关联文件已保留。",
         "Moved; the receipt failed: The data isn't in the correct format.; related files kept."},
        {"恢复失败：文件\n数据格式不正确，无法读取。", "Restore failed: Files\nThe data isn't in the correct format."},
        {"恢复失败：/home/u/文件", "Restore failed: /home/u/文件"},
        {"恢复失败：未知的原因", "Restore failed: 未知的原因"},
        // A name is shown as it is, even one that reads like an interface text.
        {"卸载 文件", "Uninstall 文件"},
        {"文件 · 缓存候选", "文件 · Cache Candidates"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(L(text, en, c), shown) << text;
    EXPECT_EQ(L("恢复失败：文件", zh, c), "恢复失败：文件") << "Chinese shows the text itself";

    // A key of slots alone can capture the whole text, which is not looked up again.
    auto slotsOnly = catalog(R"({"{0}{1}": "<{0}|{1}>"})");
    EXPECT_EQ(L("乙丙", en, slotsOnly), "<|乙丙>");
}

// Found by fuzzing: filling a slot with a long capture grows the text, and the slots before
// it must still be read from the translation, not from the text that moved.
TEST(Localization, LongCapturesFillEverySlot)
{
    auto c = catalog(R"({"{0}；{1}": "{1}; {0}", "前{0}后{1}": "{1}{1}{1}{0}"})");
    std::string first, second;
    for (int i = 0; i < 200; ++i) {
        first += "甲";
        second += "乙";
    }
    EXPECT_EQ(L(first + "；" + second, en, c), second + "; " + first);
    EXPECT_EQ(L("前" + first + "后" + second, en, c), second + second + second + first);
}

TEST(Localization, LongestKeyFirstAndStableOrder)
{
    // Both keys match "路径 a 大小 b"; the longer one (in characters) decides.
    auto c = catalog(R"({"路径 {0}": "short {0}", "路径 {0} 大小 {1}": "long {0}/{1}"})");
    EXPECT_EQ(L("路径 a 大小 b", en, c), "long a/b");
    auto reversed = catalog(R"({"路径 {0} 大小 {1}": "long {0}/{1}", "路径 {0}": "short {0}"})");
    EXPECT_EQ(L("路径 a 大小 b", en, reversed), "long a/b");
    // Equal lengths: the catalog's own order decides.
    auto tie = catalog(R"({"甲{0}": "first {0}", "{0}乙": "second {0}"})");
    EXPECT_EQ(L("甲乙", en, tie), "first 乙");
    auto swapped = catalog(R"({"{0}乙": "second {0}", "甲{0}": "first {0}"})");
    EXPECT_EQ(L("甲乙", en, swapped), "second 甲");
}

TEST(Localization, LineFallback)
{
    auto c = catalog(R"({"扫描完成": "Scan finished", "已移动 {0} 个文件": "Moved {0} files"})");
    EXPECT_EQ(L("扫描完成\n已移动 2 个文件", en, c), "Scan finished\nMoved 2 files");
    EXPECT_EQ(L("扫描完成\n未知的一行", en, c), "Scan finished\n未知的一行") << "an untranslated line stays Chinese";
    EXPECT_EQ(L("/tmp/x\n扫描完成\n", en, c), "/tmp/x\nScan finished\n") << "empty and Latin lines pass through";
    EXPECT_EQ(L("未知的一行", en, c), "未知的一行");
}

TEST(Localization, BrokenCatalogsAreEmpty)
{
    for (const char* json : {"", "not json", "[\"文件\"]", R"({"文件": 1})", R"({"文件": {"a": "b"}})",
                             R"({"文件": "Files",})", "\"文件\""}) {
        auto c = catalog(json);
        EXPECT_TRUE(c.empty()) << json;
        EXPECT_EQ(L("文件", en, c), "文件") << json;
    }
    // A key whose derived expression would not compile cannot exist, since every literal is quoted;
    // unbalanced brackets and backslashes are matched as themselves.
    auto c = catalog(R"({"([\\{0}": "x {0}"})");
    EXPECT_EQ(c.patternCount(), 1u);
    EXPECT_EQ(L("([\\文", en, c), "x 文");
}

TEST(Localization, CatalogFilesAndPlaces)
{
    TempHome home;
    std::string path = writeFile(home.path("Localization/en.json"), R"({"文件": "Files"})");
    EXPECT_EQ(L("文件", en, LocalizationCatalog::fromFile(path)), "Files");
    EXPECT_TRUE(LocalizationCatalog::fromFile(home.path("missing.json")).empty());
    EXPECT_TRUE(LocalizationCatalog::fromFile(home.root()).empty()) << "a folder is not a catalog";
    // A pipe in the catalog's place would hold start-up forever.
    std::string pipe = home.path("pipe.json");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return LocalizationCatalog::fromFile(pipe).empty(); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "waited on a pipe";
        close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));
    }
    EXPECT_TRUE(read.get());

    auto places = LocalizationCatalog::candidatePaths("/opt/tessyn/bin");
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[0], "/opt/tessyn/bin/Localization/en.json");
    EXPECT_EQ(places[1], "/opt/tessyn/bin/../share/tessyn/Localization/en.json");
}

TEST(Localization, ConcurrentTranslation)
{
    auto c = catalog(R"({"共 {0} 项": "{0} items", "文件": "Files"})");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                std::string n = std::to_string(i);
                if (L("共 " + n + " 项", en, c) != n + " items" || L("文件", en, c) != "Files") ++failures[t];
            }
        });
    for (auto& th : threads) th.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(Localization, InvalidUtf8Input)
{
    auto c = catalog(R"({"名 {0}": "name {0}"})");
    // A file name that is not UTF-8 still goes through; its bad bytes become U+FFFD.
    EXPECT_EQ(L("名 \xFF", en, c), "name \xEF\xBF\xBD");
    EXPECT_EQ(L("\xFF\xFE", en, c), "\xFF\xFE");
}

TEST(Localization, LongValuesFillEverySlot)
{
    // Filling a slot grows the text; every other slot must still be found and filled.
    auto c = catalog(R"({
        "已检查 {0} 个文件，跳过 {1} 项": "Checked {0} files, skipped {1} items",
        "已处理 {0} 项，失败 {1} 项。": "Processed {0} items, {1} failed.",
        "{0}：{1}（{2}）": "{2} / {1} / {0}"
    })");
    const std::string longPath = "/home/user/" + std::string(300, 'x') + "/报告.pdf";
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"已检查 123456 个文件，跳过 6143 项", "Checked 123456 files, skipped 6143 items"},
        {"已处理 1234567 项，失败 7890 项。", "Processed 1234567 items, 7890 failed."},
        {"已检查 " + longPath + " 个文件，跳过 " + longPath + " 项",
         "Checked " + longPath + " files, skipped " + longPath + " items"},
        {"甲" + longPath + "：999999（" + longPath + "）", longPath + " / 999999 / 甲" + longPath},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(L(text, en, c), expected) << text;
}

TEST(Localization, ChineseShowsThisPlatformsWords)
{
    struct Case {
        const char* source;
        const char* shown;
    } cases[] = {
        {"你的 Mac，井然有序。", "你的电脑，井然有序。"},
        {"在 Finder 显示", "在文件管理器中显示"},
        {"打开活动监视器", "打开系统监视器"},
        {"⌘ / ⇧ 多选 · 移入废纸篓后可恢复，清空前仍占用空间。", "Ctrl / Shift 多选 · 移入废纸篓后可恢复，清空前仍占用空间。"},
        {"操作中断：/a/Finder 文件。状态未确认，请检查原位置与 Finder 废纸篓；不会自动重试或覆盖。",
         "操作中断：/a/Finder 文件。状态未确认，请检查原位置与废纸篓；不会自动重试或覆盖。"},
        {"文件", "文件"},
        {"/Users/Mac/Finder", "/Users/Mac/Finder"},
    };
    for (const auto& [source, shown] : cases) EXPECT_EQ(L(source, zh), shown) << source;
}

TEST(Localization, SlotsAreFilledByTheirNumberWhereverTheKeyPlacesThem)
{
    std::string key, translation, text, expected;
    for (int i = 0; i <= 20; ++i) {
        const std::string number = std::to_string(i), mirrored = std::to_string(20 - i);
        key += "{" + number + "}段";
        translation += "<{" + mirrored + "}>";
        text += "v" + number + "{1}段";
        expected += "<v" + mirrored + "{1}>";
    }
    auto c = catalog("{\"" + key + "\": \"" + translation + "\"," + R"(
        "{1} 在 {0} 之后": "{0} before {1}",
        "第 {0} 项，共 {5} 项": "{5} in all, item {0}"
    })");
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"乙 在 甲 之后", "甲 before 乙"},
        {"第 3 项，共 9 项", "9 in all, item 3"},
        {text, expected},
    };
    for (const auto& [source, shown] : cases) EXPECT_EQ(L(source, en, c), shown) << source;
}

// Counts in the shipped English are worded so that one reads as well as many: a count of 1 is
// never followed by a plural noun ("1 items"), whatever the catalog says about larger counts.
TEST(Localization, ShippedCountsReadRightForOne)
{
    LocalizationCatalog shipped =
        LocalizationCatalog::fromFile(std::string(TESSYN_SOURCE_DIR) + "/resources/Localization/en.json");
    ASSERT_FALSE(shipped.empty());
    std::ifstream file(std::string(TESSYN_SOURCE_DIR) + "/resources/Localization/en.json");
    nlohmann::ordered_json entries = nlohmann::ordered_json::parse(file);
    // A slot that a Chinese measure word follows holds a count; the other slots get a name.
    const std::regex slot(R"(\{(\d+)\}(\s*(?:项|个|条|份|组))?)"); // bytes: no character classes
    const std::regex oneThenWords(R"((?:^|[^\w.])1 ([A-Za-z]+)(?: ([A-Za-z]+))?)");
    auto plural = [](const std::string& word) {
        return word.size() >= 4 && word.back() == 's' && word[word.size() - 2] != 's';
    };
    int counted = 0;
    for (const auto& [key, value] : entries.items()) {
        std::string text;
        bool counts = false;
        auto at = key.cbegin();
        for (std::sregex_iterator it(key.begin(), key.end(), slot), end; it != end; ++it) {
            text.append(at, (*it)[0].first);
            counts = counts || (*it)[2].matched;
            const std::string words = (*it)[2].str();
            text += (*it)[2].matched ? "1" + words : std::string("Name");
            at = (*it)[0].second;
        }
        if (!counts) continue;
        text.append(at, key.cend());
        ++counted;
        std::string english = L(text, AppLanguage::english, shipped);
        EXPECT_FALSE(containsCJKIdeograph(english)) << text << " -> " << english;
        for (std::sregex_iterator it(english.begin(), english.end(), oneThenWords), end; it != end; ++it)
            for (int word : {1, 2})
                EXPECT_FALSE(plural((*it)[word].str())) << key << " -> " << english;
    }
    EXPECT_GE(counted, 15) << "the count texts were found";
}
