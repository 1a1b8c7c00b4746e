#include "services/Localization.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <unicode/regex.h>
#include <unicode/unistr.h>

struct LocalizationCatalog::Pattern {
    std::unique_ptr<icu::RegexPattern> regex;
    std::string translation;
    // The slot number of each group, in the order the slots stand in the key.
    std::vector<std::optional<long long>> groupSlots;
    // Per group: whether the slot holds a message of Tessyn's own, to be translated in turn.
    std::vector<bool> groupMessages;
};

LocalizationCatalog::~LocalizationCatalog() = default;
LocalizationCatalog::LocalizationCatalog(LocalizationCatalog&&) noexcept = default;
LocalizationCatalog& LocalizationCatalog::operator=(LocalizationCatalog&&) noexcept = default;

std::string_view rawValue(AppLanguage language)
{
    return language == AppLanguage::simplifiedChinese ? "zh-Hans" : "en";
}

AppLanguage appLanguageFromRaw(std::string_view raw)
{
    return raw == "zh-Hans" ? AppLanguage::simplifiedChinese : AppLanguage::english;
}

bool containsCJKIdeograph(std::string_view text)
{
    // U+4E00...U+9FFF are exactly the three-byte sequences E4 B8 80 ... E9 BF BF.
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i + 2 < n; ++i) {
        unsigned char lead = s[i];
        if (lead < 0xE4 || lead > 0xE9) continue;
        unsigned char b1 = s[i + 1], b2 = s[i + 2];
        if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) continue;
        char32_t cp = (char32_t(lead & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | char32_t(b2 & 0x3F);
        if (cp >= 0x4E00 && cp <= 0x9FFF) return true;
    }
    return false;
}

namespace {

// Far above the shipped catalog; a file larger than this is not a catalog.
constexpr size_t kCatalogLimit = 16 * 1024 * 1024;

// How deep texts filled into slots are looked up again: a message, the error inside it and
// the text inside that error.
constexpr int kNestedLookups = 3;

size_t codePointCount(std::string_view text)
{
    size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

std::optional<long long> parseDecimal(std::string_view digits)
{
    if (digits.empty()) return std::nullopt;
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    // Numbers beyond 18 digits cannot name a group anyway.
    if (digits.size() > 18) return std::nullopt;
    long long value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

// One "{digits}" slot: its byte range and its number, parsed at once so that nothing points
// into the text while it is being filled.
struct Slot {
    size_t begin;
    size_t end;
    std::optional<long long> number;
};

// A slot set off by full-width punctuation ("失败：{0}", "{0}；已保留") holds a message or an
// error; one set off by spaces or a dot holds a name ("卸载 {0}"), which is shown as it is even
// when it happens to read like one of our texts.
bool holdsMessage(std::string_view key, const Slot& slot)
{
    static constexpr std::string_view marks[] = {"：", "；", "。", "，"};
    for (std::string_view mark : marks)
        if ((slot.begin >= mark.size() && key.substr(slot.begin - mark.size(), mark.size()) == mark) ||
            key.substr(slot.end, mark.size()) == mark)
            return true;
    return false;
}

std::vector<Slot> findSlots(std::string_view text)
{
    std::vector<Slot> slots;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '{') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j > i + 1 && j < text.size() && text[j] == '}') {
            slots.push_back({i, j + 1, parseDecimal(text.substr(i + 1, j - i - 1))});
            i = j + 1;
        } else {
            ++i;
        }
    }
    return slots;
}

// The regular expression of a slotted key: the literal parts quoted, every slot a lazy group.
std::string patternSource(std::string_view key)
{
    std::string out = "^";
    size_t at = 0;
    auto literal = [&out](std::string_view part) {
        for (char c : part) {
            auto u = static_cast<unsigned char>(c);
            bool plain = u >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == ' ' || c == '\n' || c == '\t' || c == '\r';
            if (!plain && u >= 0x20) out += '\\';
            out += c;
        }
    };
    for (const Slot& slot : findSlots(key)) {
        literal(key.substr(at, slot.begin - at));
        out += "(.*?)";
        at = slot.end;
    }
    literal(key.substr(at));
    out += "$";
    return out;
}

// Chinese texts written for another desktop name its facilities; on this one they are shown
// with the words of this platform. Keys stay the source texts, so stored texts never change.
constexpr const char* kChinesePlatformTexts = R"json({
    "你的 Mac，井然有序。": "你的电脑，井然有序。",
    "保持窗口在前台等待新采样，或打开活动监视器。": "保持窗口在前台等待新采样，或打开系统监视器。",
    "关联目录已变化，请在 Finder 中检查。": "关联目录已变化，请在文件管理器中检查。",
    "关联目录超过 10 万项，请使用 Finder 手动处理。": "关联目录超过 10 万项，请使用文件管理器手动处理。",
    "内存压力综合反映系统状态。以上计数不会相加为完整占用，也不用于推算健康评分。完整应用占用与系统压力请在活动监视器查看。": "内存压力综合反映系统状态。以上计数不会相加为完整占用，也不用于推算健康评分。完整应用占用与系统压力请在系统监视器查看。",
    "占用数值不是保证可释放量。macOS 会管理缓存，退出应用后空闲内存也可能波动。": "占用数值不是保证可释放量。系统会管理缓存，退出应用后空闲内存也可能波动。",
    "原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。": "原位置已有文件，恢复不会覆盖它。请在文件管理器中选择其他位置。",
    "原目录已移动、删除或变化，请在 Finder 中手动恢复。": "原目录已移动、删除或变化，请在文件管理器中手动恢复。",
    "可以继续使用。若仍卡顿，在活动监视器检查 CPU 和磁盘活动。": "可以继续使用。若仍卡顿，在系统监视器检查 CPU 和磁盘活动。",
    "在 Finder 中显示": "在文件管理器中显示",
    "在 Finder 中显示 {0}": "在文件管理器中显示 {0}",
    "在 Finder 显示": "在文件管理器中显示",
    "如同时感到卡顿，观察高占用应用和活动监视器；无需为了提高空闲内存而清空缓存。": "如同时感到卡顿，观察高占用应用和系统监视器；无需为了提高空闲内存而清空缓存。",
    "废纸篓中的文件已变化或不再存在，请在 Finder 中检查。": "废纸篓中的文件已变化或不再存在，请在文件管理器中检查。",
    "废纸篓应用已变化，请在 Finder 中检查。": "废纸篓应用已变化，请在文件管理器中检查。",
    "打开活动监视器": "打开系统监视器",
    "活动监视器": "系统监视器",
    "打开活动监视器查看内存压力；下方原始指标仍可作为参考。": "打开系统监视器查看内存压力；下方原始指标仍可作为参考。",
    "此记录无法自动恢复，请在 Finder 废纸篓检查。": "此记录无法自动恢复，请在文件管理器的废纸篓中检查。",
    "稍后重试或打开活动监视器。": "稍后重试或打开系统监视器。",
    "系统压力为兼容性读数；不可获取时明确显示未知，不复刻活动监视器的压力曲线。": "系统压力为兼容性读数；不可获取时明确显示未知，不复刻系统监视器的压力曲线。",
    "请确认这些文件不再需要。移入废纸篓后仍可能占用空间，清空废纸篓后才可能释放。可在 Finder 废纸篓中检查和恢复。": "请确认这些文件不再需要。移入废纸篓后仍可能占用空间，清空废纸篓后才可能释放。可在文件管理器的废纸篓中检查和恢复。",
    "⌘ / ⇧ 多选 · 移入废纸篓后可恢复，清空前仍占用空间。": "Ctrl / Shift 多选 · 移入废纸篓后可恢复，清空前仍占用空间。",
    "操作中断：{0}。状态未确认，请检查原位置与 Finder 废纸篓；不会自动重试或覆盖。": "操作中断：{0}。状态未确认，请检查原位置与废纸篓；不会自动重试或覆盖。",
    "恢复失败：此记录无法自动恢复，请在 Finder 废纸篓检查。": "恢复失败：此记录无法自动恢复，请在文件管理器的废纸篓中检查。",
    "恢复失败：废纸篓中的文件已变化或不再存在，请在 Finder 中检查。": "恢复失败：废纸篓中的文件已变化或不再存在，请在文件管理器中检查。",
    "恢复失败：废纸篓应用已变化，请在 Finder 中检查。": "恢复失败：废纸篓应用已变化，请在文件管理器中检查。",
    "恢复失败：关联目录已变化，请在 Finder 中检查。": "恢复失败：关联目录已变化，请在文件管理器中检查。",
    "恢复失败：原位置已有文件，恢复不会覆盖它。请在 Finder 中选择其他位置。": "恢复失败：原位置已有文件，恢复不会覆盖它。请在文件管理器中选择其他位置。",
    "恢复失败：原目录已移动、删除或变化，请在 Finder 中手动恢复。": "恢复失败：原目录已移动、删除或变化，请在文件管理器中手动恢复。"
})json";

std::mutex& builtinMutex()
{
    static std::mutex m;
    return m;
}

std::function<std::optional<std::string>()>& builtinSource()
{
    static std::function<std::optional<std::string>()> source;
    return source;
}

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string executableDirectory()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

LocalizationCatalog LocalizationCatalog::fromJson(std::string_view json)
{
    LocalizationCatalog catalog;
    nlohmann::ordered_json root;
    try {
        root = nlohmann::ordered_json::parse(json.begin(), json.end());
    } catch (const std::exception&) {
        return catalog;
    }
    if (!root.is_object()) return catalog;
    std::vector<std::string> order;
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (!it.value().is_string()) return LocalizationCatalog();
        catalog.entries_[it.key()] = it.value().get<std::string>();
        order.push_back(it.key());
    }

    std::vector<std::string> slotted;
    for (const auto& key : order)
        if (key.find("{0}") != std::string::npos) slotted.push_back(key);
    std::stable_sort(slotted.begin(), slotted.end(), [](const std::string& a, const std::string& b) {
        return codePointCount(a) > codePointCount(b);
    });
    for (const auto& key : slotted) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError{};
        std::unique_ptr<icu::RegexPattern> regex(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8(patternSource(key)), UREGEX_DOTALL, parseError, status));
        if (U_FAILURE(status) || !regex) continue;
        auto pattern = std::make_unique<Pattern>();
        pattern->regex = std::move(regex);
        pattern->translation = catalog.entries_[key];
        for (const Slot& slot : findSlots(key)) {
            pattern->groupSlots.push_back(slot.number);
            pattern->groupMessages.push_back(holdsMessage(key, slot));
        }
        catalog.patterns_.push_back(std::move(pattern));
    }
    return catalog;
}

LocalizationCatalog LocalizationCatalog::fromFile(const std::string& path)
{
    std::optional<std::string> text;
    try {
        text = RegularFile::read(path, kCatalogLimit, true);
    } catch (const std::exception&) {
        return LocalizationCatalog();
    }
    return text ? fromJson(*text) : LocalizationCatalog();
}

size_t LocalizationCatalog::patternCount() const { return patterns_.size(); }

std::optional<std::string> LocalizationCatalog::fillPattern(std::string_view text, int depth) const
{
    if (patterns_.empty()) return std::nullopt;
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    for (const auto& pattern : patterns_) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->regex->matcher(input, status));
        if (U_FAILURE(status) || !matcher) continue;
        if (!matcher->find(status) || U_FAILURE(status)) continue;

        std::string result = pattern->translation;
        const auto& keySlots = pattern->groupSlots;
        auto slots = findSlots(result);
        for (auto it = slots.rbegin(); it != slots.rend(); ++it) {
            if (!it->number) continue;
            // A slot is filled from where the same number stands in the key, whatever its order there.
            auto at = std::find(keySlots.begin(), keySlots.end(), it->number);
            if (at == keySlots.end()) continue;
            auto g = static_cast<int32_t>(at - keySlots.begin()) + 1;
            UErrorCode groupStatus = U_ZERO_ERROR;
            int32_t start = matcher->start(g, groupStatus);
            int32_t end = matcher->end(g, groupStatus);
            if (U_FAILURE(groupStatus) || start < 0 || end < start) continue;
            std::string captured;
            input.tempSubStringBetween(start, end).toUTF8String(captured);
            // A key made of slots alone can capture the whole text: only a shorter part is
            // looked up again, and only a few levels deep. A path is never a text of ours.
            if (pattern->groupMessages[static_cast<size_t>(g - 1)] && depth < kNestedLookups &&
                captured.size() < text.size() && !captured.starts_with('/'))
                captured = translate(captured, depth + 1);
            result.replace(it->begin, it->end - it->begin, captured);
        }
        return result;
    }
    return std::nullopt;
}

std::string LocalizationCatalog::translate(std::string_view text) const { return translate(text, 0); }

std::string LocalizationCatalog::translate(std::string_view text, int depth) const
{
    if (text.empty() || !containsCJKIdeograph(text)) return std::string(text);
    if (!entries_.empty()) {
        auto found = entries_.find(std::string(text));
        if (found != entries_.end()) return found->second;
    }
    if (auto filled = fillPattern(text, depth)) return *filled;

    if (text.find('\n') == std::string_view::npos) return std::string(text);
    std::string out;
    size_t at = 0;
    while (true) {
        size_t nl = text.find('\n', at);
        std::string_view line = text.substr(at, nl == std::string_view::npos ? std::string_view::npos : nl - at);
        out += translate(line, depth);
        if (nl == std::string_view::npos) break;
        out += '\n';
        at = nl + 1;
    }
    return out;
}

void LocalizationCatalog::setBuiltinSource(std::function<std::optional<std::string>()> source)
{
    std::lock_guard<std::mutex> lock(builtinMutex());
    builtinSource() = std::move(source);
}

std::vector<std::string> LocalizationCatalog::candidatePaths(const std::string& executableDir)
{
    if (executableDir.empty()) return {};
    return {executableDir + "/Localization/en.json", executableDir + "/../share/tessyn/Localization/en.json"};
}

const LocalizationCatalog& LocalizationCatalog::shared()
{
    static const LocalizationCatalog catalog = [] {
        for (const auto& path : candidatePaths(executableDirectory()))
            if (isRegularFile(path)) return fromFile(path);
        std::function<std::optional<std::string>()> source;
        {
            std::lock_guard<std::mutex> lock(builtinMutex());
            source = builtinSource();
        }
        if (source)
            if (auto text = source()) return fromJson(*text);
        return LocalizationCatalog();
    }();
    return catalog;
}

const LocalizationCatalog& LocalizationCatalog::chinesePlatformTexts()
{
    static const LocalizationCatalog catalog = fromJson(kChinesePlatformTexts);
    return catalog;
}

std::string L(std::string_view text, AppLanguage language, const LocalizationCatalog& catalog)
{
    if (language != AppLanguage::english) return std::string(text);
    return catalog.translate(text);
}

std::string L(std::string_view text, AppLanguage language)
{
    if (text.empty() || !containsCJKIdeograph(text)) return std::string(text);
    if (language != AppLanguage::english) return LocalizationCatalog::chinesePlatformTexts().translate(text);
    return L(text, language, LocalizationCatalog::shared());
}
