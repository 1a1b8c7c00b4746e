#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Interface texts are written in Simplified Chinese; English comes from a catalog of
// Chinese -> English entries whose keys may hold numbered slots ("{0}", "{1}", ...).

enum class AppLanguage { simplifiedChinese, english };

// "zh-Hans" or "en".
std::string_view rawValue(AppLanguage language);
// The rule of the stored setting "tessyn.language": exactly "zh-Hans" is Simplified Chinese,
// anything else (or no value) is English.
AppLanguage appLanguageFromRaw(std::string_view raw);

// True when some character of the UTF-8 text lies in U+4E00...U+9FFF.
bool containsCJKIdeograph(std::string_view text);

class LocalizationCatalog {
public:
    LocalizationCatalog() = default;
    ~LocalizationCatalog();
    LocalizationCatalog(LocalizationCatalog&&) noexcept;
    LocalizationCatalog& operator=(LocalizationCatalog&&) noexcept;

    // Parses a flat JSON object of strings; anything else gives an empty catalog.
    static LocalizationCatalog fromJson(std::string_view json);
    // Reads the catalog file; a missing or unreadable file gives an empty catalog.
    static LocalizationCatalog fromFile(const std::string& path);

    // English display text of `text` (exact entry, then slot patterns longest first, then
    // line by line). Texts without a CJK ideograph come back unchanged. What fills a slot is
    // itself looked up, so an interface text inside another (an error's own words after a
    // fixed prefix) is shown translated; paths, names and system texts stay as they are.
    std::string translate(std::string_view text) const;

    bool empty() const { return entries_.empty(); }
    size_t patternCount() const;

    // The catalog every call of L uses, found once per process: Localization/en.json beside
    // the executable, else ../share/tessyn/Localization/en.json, else the built-in source.
    static const LocalizationCatalog& shared();
    // The Chinese display of source texts that name another desktop's facilities; every other
    // text comes back unchanged.
    static const LocalizationCatalog& chinesePlatformTexts();
    // Supplies the built-in catalog text (the interface compiles one in). Must be set before
    // the first translation to take effect.
    static void setBuiltinSource(std::function<std::optional<std::string>()> source);
    // The files looked at, in order, for an executable in `executableDir`.
    static std::vector<std::string> candidatePaths(const std::string& executableDir);

private:
    struct Pattern;
    std::unordered_map<std::string, std::string> entries_;
    std::vector<std::unique_ptr<Pattern>> patterns_;

    std::string translate(std::string_view text, int depth) const;
    std::optional<std::string> fillPattern(std::string_view text, int depth) const;
};

// The display text of `text` in `language`, through the shared catalog (Chinese: the source text
// with this platform's words). Safe from any thread.
std::string L(std::string_view text, AppLanguage language);
// The same through a given catalog; Chinese gives the text itself.
std::string L(std::string_view text, AppLanguage language, const LocalizationCatalog& catalog);
