#include "engine/FileQuery.h"

#include "csystem/csystem.h"
#include "engine/AsciiCase.h"
#include "engine/ByteFormat.h"
#include "engine/Dates.h"
#include "engine/SearchKey.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <unicode/ucol.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/ustring.h>

namespace FileQuery {

namespace {

constexpr std::string_view kAllFiles = "全部文件";
constexpr std::string_view kLargeFiles = "大文件";
constexpr std::string_view kOldDownloads = "旧下载候选";
constexpr std::string_view kDuplicates = "重复文件";
constexpr std::string_view kByModified = "最近修改";
constexpr std::string_view kByName = "名称";
constexpr double kOldDownloadAge = 2592000; // 30 days
constexpr size_t kCancelStride = 512;
constexpr unsigned kMaxThreads = 8;
// Below this many records a second thread costs more than it saves.
constexpr size_t kMinPart = 32768;
constexpr size_t kPrefetchDistance = 8;

struct Cancelled {};

size_t partsFor(size_t count)
{
    unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp<size_t>(count / kMinPart, 1, std::min(hardware, kMaxThreads));
}

// Runs body(part, begin, end) over [0, count) cut into partsFor(count) contiguous parts, one
// per thread. The first exception of any part is rethrown once every part has finished.
template <class Body>
size_t forEachPart(size_t count, Body&& body)
{
    const size_t parts = partsFor(count);
    if (parts == 1) {
        body(size_t{0}, size_t{0}, count);
        return 1;
    }
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto run = [&](size_t part) {
        try {
            body(part, part * count / parts, (part + 1) * count / parts);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        threads.reserve(parts - 1);
        for (size_t part = 1; part < parts; ++part) {
            try {
                threads.emplace_back(run, part);
            } catch (const std::system_error&) {
                run(part); // no thread to spare: this part on the calling thread
            }
        }
        run(0);
    }
    if (failure) std::rethrow_exception(failure);
    return parts;
}

// A stable sort that splits the work over a few threads: the parts are sorted stably and
// then merged pairwise, the earlier part winning ties, so the outcome is that of one stable
// sort. `less` may throw Cancelled, which leaves the range in an unspecified order.
template <class T, class Less>
void parallelStableSort(std::vector<T>& items, Less less)
{
    const size_t count = items.size();
    std::vector<size_t> bounds;
    const size_t parts = partsFor(count);
    for (size_t part = 0; part <= parts; ++part) bounds.push_back(part * count / parts);
    forEachPart(count, [&](size_t, size_t begin, size_t end) {
        std::stable_sort(items.begin() + begin, items.begin() + end, less);
    });
    if (parts == 1) return;
    std::vector<T> scratch(count);
    while (bounds.size() > 2) {
        std::vector<size_t> merged;
        std::vector<std::pair<size_t, size_t>> jobs; // (first bound index, last bound index)
        for (size_t i = 0; i + 1 < bounds.size(); i += 2) {
            size_t last = std::min(i + 2, bounds.size() - 1);
            jobs.emplace_back(i, last);
            merged.push_back(bounds[i]);
        }
        merged.push_back(bounds.back());
        std::exception_ptr failure;
        std::mutex failureMutex;
        {
            std::vector<std::jthread> threads;
            for (auto [first, last] : jobs) {
                auto merge = [&, first = first, last = last] {
                    try {
                        auto begin = items.begin() + bounds[first];
                        auto end = items.begin() + bounds[last];
                        if (last == first + 1) {
                            std::move(begin, end, scratch.begin() + bounds[first]);
                        } else {
                            auto middle = items.begin() + bounds[first + 1];
                            std::merge(std::make_move_iterator(begin), std::make_move_iterator(middle),
                                       std::make_move_iterator(middle), std::make_move_iterator(end),
                                       scratch.begin() + bounds[first], less);
                        }
                    } catch (...) {
                        std::lock_guard lock(failureMutex);
                        if (!failure) failure = std::current_exception();
                    }
                };
                try {
                    threads.emplace_back(merge);
                } catch (const std::system_error&) {
                    merge();
                }
            }
        }
        if (failure) std::rethrow_exception(failure);
        items.swap(scratch);
        bounds = std::move(merged);
    }
}

// A quick necessary condition for `needle` occurring in `haystack`: some position holds the
// needle's first byte with its last byte at the right distance, checked 16 positions at a
// time. Most records fail it, and only the rest go through the full substring test.
class NeedleFilter {
public:
    explicit NeedleFilter(std::string_view needle) : needle_(needle) {}

    bool mayContain(std::string_view haystack) const
    {
        const size_t m = needle_.size();
        if (m < 2) return true;
        if (haystack.size() < m) return false;
        const char first = needle_.front();
        const char last = needle_.back();
        const char* h = haystack.data();
        const size_t positions = haystack.size() - m + 1;
        size_t i = 0;
#if defined(__SSE2__)
        const __m128i firsts = _mm_set1_epi8(first);
        const __m128i lasts = _mm_set1_epi8(last);
        for (; i + 16 <= positions; i += 16) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + m - 1));
            if (_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, firsts), _mm_cmpeq_epi8(b, lasts))) != 0)
                return true;
        }
#endif
        for (; i < positions; ++i)
            if (h[i] == first && h[i + m - 1] == last) return true;
        return false;
    }

private:
    std::string_view needle_;
};

// The record's lower-case extension without allocating, for the usual short extensions;
// `spill` holds longer ones.
std::string_view extensionOf(const FileEntry& file, char (&buffer)[16], std::string& spill)
{
    std::string_view name = file.name();
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string_view extension = name.substr(dot + 1);
    if (extension.size() >= sizeof buffer) {
        spill = file.extensionLowercase();
        return spill;
    }
    asciiLowerInto(extension, buffer);
    return std::string_view(buffer, extension.size());
}

// Remembers, per lower-case extension, whether it belongs to one category. A scan holds
// few distinct extensions, so nearly every record is answered without the category table.
class CategoryVerdicts {
public:
    explicit CategoryVerdicts(std::string_view category) : category_(category) {}

    bool matches(std::string_view extension)
    {
        if (extension.size() > 15) return categoryForExtension(extension) == category_;
        Slot key{};
        if (!extension.empty()) std::memcpy(key.bytes, extension.data(), extension.size());
        key.length = static_cast<uint8_t>(extension.size()) + 1;
        uint64_t words[2];
        std::memcpy(words, key.bytes, sizeof words);
        Slot& slot = slots_[(words[0] * 0x9E3779B97F4A7C15ull ^ words[1]) >> 58];
        if (slot.length != key.length || std::memcmp(slot.bytes, key.bytes, sizeof key.bytes) != 0) {
            key.verdict = categoryForExtension(extension) == category_;
            slot = key;
        }
        return slot.verdict;
    }

private:
    struct Slot {
        char bytes[16];
        uint8_t length; // extension length + 1; 0 marks an empty slot
        bool verdict;
    };
    std::string_view category_;
    Slot slots_[64]{};
};

bool isOldDownloadExtension(std::string_view extension)
{
    static constexpr std::string_view extensions[] = {"dmg", "pkg", "zip", "tar", "gz", "7z"};
    return std::find(std::begin(extensions), std::end(extensions), extension) != std::end(extensions);
}

// A record's name as UTF-16 for ICU; ill-formed bytes become U+FFFD.
void toUtf16(std::string_view text, std::vector<UChar>& out)
{
    if (out.size() < text.size() + 1) out.resize(text.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) length = 0;
    out.resize(static_cast<size_t>(length));
}

// The collator of "名称": the user's locale, digit runs by numeric value, case ignored
// (secondary strength keeps accents apart, as a file browser does).
UCollator* openNameCollator()
{
    UErrorCode status = U_ZERO_ERROR;
    // A C or POSIX environment maps to en_US_POSIX, whose collation is plain code point
    // order with capitals first; the common root order is what such a user expects.
    const char* locale = uloc_getDefault();
    if (std::strcmp(locale, "en_US_POSIX") == 0) locale = "";
    UCollator* collator = ucol_open(locale, &status);
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator = ucol_open("", &status);
        if (U_FAILURE(status)) return nullptr;
    }
    ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setAttribute(collator, UCOL_STRENGTH, UCOL_SECONDARY, &status);
    return collator;
}

// One record in a name sort: the first eight bytes of its collation key, big-endian, and
// its position. Sort keys hold no zero byte before their terminator, so a zero in the
// last prefix byte means the whole key is in the prefix.
struct NameItem {
    uint64_t prefix;
    uint32_t position;
};

// Sorts `kept` (positions into files) by name. Keys are computed once per record, in
// parallel, and compared as bytes; a comparison never calls into ICU.
void sortByName(std::vector<uint32_t>& kept, const std::vector<FileEntry>& files, const std::stop_token& stop)
{
    const size_t count = kept.size();
    std::vector<const uint8_t*> keys(count);
    std::vector<NameItem> items(count);
    std::vector<std::vector<uint8_t>> arenas(kMaxThreads);
    std::vector<std::vector<size_t>> offsets(kMaxThreads);
    forEachPart(count, [&](size_t part, size_t begin, size_t end) {
        std::unique_ptr<UCollator, decltype(&ucol_close)> collator(openNameCollator(), &ucol_close);
        std::vector<UChar> name;
        std::vector<uint8_t> key(256);
        auto& arena = arenas[part];
        auto& offset = offsets[part];
        arena.reserve((end - begin) * 24);
        offset.reserve(end - begin);
        for (size_t i = begin; i < end; ++i) {
            if ((i - begin) % kCancelStride == 0 && stop.stop_requested()) throw Cancelled{};
            std::string_view text = files[kept[i]].name();
            int32_t length = 0;
            if (collator) {
                toUtf16(text, name);
                length = ucol_getSortKey(collator.get(), name.data(), static_cast<int32_t>(name.size()), key.data(),
                                         static_cast<int32_t>(key.size()));
                if (length > static_cast<int32_t>(key.size())) {
                    key.resize(static_cast<size_t>(length));
                    length = ucol_getSortKey(collator.get(), name.data(), static_cast<int32_t>(name.size()),
                                             key.data(), static_cast<int32_t>(key.size()));
                }
            }
            if (length <= 0) {
                // Without a collator the bytes themselves order the names.
                key.assign(text.begin(), text.end());
                std::replace(key.begin(), key.end(), uint8_t{0}, uint8_t{1});
                key.push_back(0);
                length = static_cast<int32_t>(key.size());
            }
            offset.push_back(arena.size());
            arena.insert(arena.end(), key.begin(), key.begin() + length);
            uint64_t prefix = 0;
            for (int32_t b = 0; b < 8; ++b) prefix = (prefix << 8) | (b < length ? key[static_cast<size_t>(b)] : 0);
            items[i] = NameItem{prefix, static_cast<uint32_t>(i)};
        }
    });
    for (size_t part = 0, i = 0; part < kMaxThreads; ++part)
        for (size_t offset : offsets[part]) keys[i++] = arenas[part].data() + offset;

    parallelStableSort(items, [&](const NameItem& a, const NameItem& b) {
        if (stop.stop_requested()) throw Cancelled{};
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if ((a.prefix & 0xff) == 0) return false;
        return std::strcmp(reinterpret_cast<const char*>(keys[a.position] + 8),
                           reinterpret_cast<const char*>(keys[b.position] + 8)) < 0;
    });
    std::vector<uint32_t> sorted(count);
    for (size_t i = 0; i < count; ++i) sorted[i] = kept[items[i].position];
    kept.swap(sorted);
}

std::string toUtf8(const UChar* text, int32_t length)
{
    std::string out(static_cast<size_t>(length) * 3 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, text, length, 0xFFFD, nullptr,
                       &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<size_t>(written));
    return out;
}

} // namespace

int64_t thresholdBytes(double megabytes)
{
    if (!std::isfinite(megabytes)) return 500'000'000;
    if (megabytes <= 0) return 0;
    return static_cast<int64_t>(std::min(megabytes, 1'000'000'000.0) * 1'000'000.0);
}

std::vector<uint32_t> positions(const std::vector<FileEntry>& files, std::string_view category, std::string_view search,
                                double threshold, const std::unordered_set<std::string>& duplicateIDs,
                                std::string_view sort, std::stop_token stop)
{
    const int64_t bytes = thresholdBytes(threshold);
    if (search.find('\0') != std::string_view::npos) return {};
    const std::string needle = searchKey(search);
    const bool searching = !needle.empty();
    const bool allFiles = category == kAllFiles;

    std::vector<uint32_t> kept;
    try {
        if (allFiles && !searching) {
            kept.resize(files.size());
            for (uint32_t i = 0; i < kept.size(); ++i) kept[i] = i;
        } else {
            enum class Special { None, Duplicates, Large, Old } special = Special::None;
            if (category == kDuplicates) special = Special::Duplicates;
            else if (category == kLargeFiles) special = Special::Large;
            else if (category == kOldDownloads) special = Special::Old;
            auto passes = [&](const FileEntry& file, CategoryVerdicts& verdicts) {
                if (allFiles) return true;
                char buffer[16];
                std::string spill;
                // The special views are never category names, so only category filters
                // need the category.
                if (special == Special::None) return verdicts.matches(extensionOf(file, buffer, spill));
                switch (special) {
                case Special::Duplicates:
                    return !duplicateIDs.empty() && duplicateIDs.count(file.path) > 0;
                case Special::Large:
                    return file.size >= bytes;
                case Special::Old:
                    return isOldDownloadExtension(extensionOf(file, buffer, spill)) &&
                           file.modified < dateNow() - kOldDownloadAge;
                case Special::None:
                    break;
                }
                return false;
            };
            const NeedleFilter filter(needle);
            const bool needsName = special == Special::None || special == Special::Old;
            std::vector<std::vector<uint32_t>> parts(kMaxThreads);
            size_t used = forEachPart(files.size(), [&](size_t part, size_t begin, size_t end) {
                auto& out = parts[part];
                CategoryVerdicts verdicts(category);
                out.reserve(std::min<size_t>(end - begin, 4096));
                for (size_t i = begin; i < end; ++i) {
                    if (i % kCancelStride == 0 && stop.stop_requested()) throw Cancelled{};
                    // The records' strings lie scattered over the heap; asking for the ones a
                    // few records ahead overlaps their cache misses with the work at hand.
                    if (i + kPrefetchDistance < end) {
                        const FileEntry& ahead = files[i + kPrefetchDistance];
                        if (needsName) __builtin_prefetch(ahead.path.data() + ahead.path.size() - 1);
                        if (searching) {
                            __builtin_prefetch(ahead.searchKey().data());
                            __builtin_prefetch(ahead.searchKey().data() + 64);
                        }
                    }
                    const FileEntry& file = files[i];
                    // Search keys are whole std::string buffers, so they end in NUL.
                    if (passes(file, verdicts) && (!searching || (filter.mayContain(file.searchKey()) &&
                                                        ts_contains_utf8(file.searchKey().data(), needle.c_str()))))
                        out.push_back(static_cast<uint32_t>(i));
                }
            });
            size_t total = 0;
            for (size_t part = 0; part < used; ++part) total += parts[part].size();
            kept.reserve(total);
            for (size_t part = 0; part < used; ++part) kept.insert(kept.end(), parts[part].begin(), parts[part].end());
        }
        if (stop.stop_requested()) return {};

        if (sort == kByModified) {
            parallelStableSort(kept, [&](uint32_t a, uint32_t b) {
                if (stop.stop_requested()) throw Cancelled{};
                return files[a].modified > files[b].modified;
            });
        } else if (sort == kByName) {
            sortByName(kept, files, stop);
        }
    } catch (const Cancelled&) {
        return {};
    }
    return kept;
}

std::vector<FileEntry> apply(const std::vector<FileEntry>& files, std::string_view category, std::string_view search,
                             double threshold, const std::unordered_set<std::string>& duplicateIDs,
                             std::string_view sort, std::stop_token stop)
{
    std::vector<uint32_t> kept = positions(files, category, search, threshold, duplicateIDs, sort, stop);
    std::vector<FileEntry> result(kept.size());
    forEachPart(kept.size(), [&](size_t, size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) result[i] = files[kept[i]];
    });
    return result;
}

std::unordered_map<std::string, FilePresentation> presentation(std::span<const FileEntry> slice, std::stop_token stop)
{
    std::unordered_map<std::string, FilePresentation> out;
    out.reserve(slice.size());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UDateFormat, decltype(&udat_close)> format(
        udat_open(UDAT_NONE, UDAT_SHORT, uloc_getDefault(), nullptr, 0, nullptr, 0, &status), &udat_close);
    if (U_FAILURE(status)) format.reset();
    UChar buffer[128];
    for (const auto& file : slice) {
        if (stop.stop_requested()) break;
        FilePresentation row;
        row.size = formatFileSize(file.size);
        if (format) {
            UErrorCode formatStatus = U_ZERO_ERROR;
            UDate when = unixTimeFromDate(file.modified) * 1000.0;
            int32_t length = udat_format(format.get(), when, buffer, 128, nullptr, &formatStatus);
            if (U_SUCCESS(formatStatus) && length <= 128) row.date = toUtf8(buffer, length);
        }
        if (auto parent = file.parentPath()) row.parent = std::string(*parent);
        out.insert_or_assign(file.path, std::move(row));
    }
    return out;
}

} // namespace FileQuery
