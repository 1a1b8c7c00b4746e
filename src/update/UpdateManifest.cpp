#include "update/UpdateManifest.h"

#include "engine/AsciiCase.h"
#include "engine/ContentReader.h"
#include "engine/Sha256.h"
#include "platform/Errors.h"
#include "platform/FdCloser.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <stop_token>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t maximumBytes = 100000000;
// A manifest is one flat object; anything nested deeper than this is not one.
constexpr int maximumDepth = 16;

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool isAsciiHex(char c) { return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// RFC 3986: a scheme, a colon, and only characters a URI may hold, with well-formed escapes.
bool isAbsoluteUrl(std::string_view text)
{
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAsciiAlpha(text[0])) return false;
    for (size_t i = 1; i < colon; ++i) {
        char c = text[i];
        if (!isAsciiAlpha(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
    }
    static constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=";
    int fragments = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isAsciiHex(text[i + 1]) || !isAsciiHex(text[i + 2])) return false;
            i += 2;
        } else if (c == '#') {
            if (++fragments > 1) return false;
        } else if (!isAsciiAlpha(c) && !isAsciiDigit(c) && allowed.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// The path of a URL: after the authority, before any query or fragment.
std::string_view urlPath(std::string_view url)
{
    size_t start = url.find(':');
    if (start == std::string_view::npos) return {};
    ++start;
    if (url.substr(start, 2) == "//") {
        start = url.find_first_of("/?#", start + 2);
        if (start == std::string_view::npos) return {};
    }
    size_t end = url.find_first_of("?#", start);
    return url.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// The text after the last dot of the path's last component ("" when there is none).
std::string_view pathExtension(std::string_view url)
{
    std::string_view path = urlPath(url);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    std::string_view name = path.substr(path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
    size_t dot = name.rfind('.');
    // "…/.dmg" names no image.
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

// A hexadecimal digit as the digest rule counts them: ASCII, or the full-width forms
// U+FF10-U+FF19, U+FF21-U+FF26, U+FF41-U+FF46 (three UTF-8 bytes: EF BC 90-99, EF BC A1-A6,
// EF BD 81-86). Returns the digit's length in bytes, 0 when the text does not start with one.
size_t hexDigitLength(std::string_view text)
{
    if (text.empty()) return 0;
    if (isAsciiHex(text[0])) return 1;
    if (text.size() < 3) return 0;
    auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]),
         b2 = static_cast<unsigned char>(text[2]);
    if (b0 != 0xEF) return 0;
    if (b1 == 0xBC && ((b2 >= 0x90 && b2 <= 0x99) || (b2 >= 0xA1 && b2 <= 0xA6))) return 3;
    if (b1 == 0xBD && b2 >= 0x81 && b2 <= 0x86) return 3;
    return 0;
}

// Exactly 64 characters, each a hexadecimal digit. A digit never joins a neighbour into one
// user-perceived character, so counting digits counts characters.
bool isDigestText(std::string_view text)
{
    size_t count = 0;
    while (!text.empty()) {
        size_t length = hexDigitLength(text);
        if (length == 0) return false;
        text.remove_prefix(length);
        if (++count > 64) return false;
    }
    return count == 64;
}

// True when a URL's path holds a "." or ".." segment, also percent-encoded or followed by ";"
// parameters, or an encoded slash or backslash that a server could decode into a separator.
bool hasDotSegment(std::string_view url)
{
    std::string_view path = urlPath(url);
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view segment = path.substr(0, slash);
        std::string decoded;
        for (size_t i = 0; i < segment.size(); ++i) {
            if (segment[i] == '\\') return true;
            if (segment[i] == '%' && i + 2 < segment.size()) {
                std::string_view escape = segment.substr(i + 1, 2);
                if (escape == "2e" || escape == "2E") {
                    decoded += '.';
                    i += 2;
                    continue;
                }
                if (escape == "2f" || escape == "2F" || escape == "5c" || escape == "5C") return true;
            }
            decoded += segment[i];
        }
        // Servers that take ";" parameters off a segment (Tomcat, Jetty) resolve "..;x" as "..".
        const std::string_view name = std::string_view(decoded).substr(0, decoded.find(';'));
        if (name == "." || name == "..") return true;
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return false;
}

int64_t integerField(const nlohmann::json& object, const char* key)
{
    const nlohmann::json& value = object.at(key);
    if (!value.is_number_integer()) throw std::invalid_argument(std::string("not an integer: ") + key);
    if (value.is_number_unsigned() &&
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        throw std::invalid_argument(std::string("out of range: ") + key);
    return value.get<int64_t>();
}

std::string stringField(const nlohmann::json& object, const char* key)
{
    const nlohmann::json& value = object.at(key);
    if (!value.is_string()) throw std::invalid_argument(std::string("not a string: ") + key);
    return value.get<std::string>();
}

void checkDigest(const UpdateManifest& manifest, const Sha256::Digest& digest)
{
    if (Sha256::hex(digest) != asciiLower(manifest.sha256)) throw UpdateError(UpdateFailure::checksum);
}

} // namespace

UpdateError::UpdateError(UpdateFailure failure)
    : std::runtime_error(failure == UpdateFailure::invalidManifest ? "invalid update manifest"
                         : failure == UpdateFailure::unavailable   ? "update unavailable"
                                                                   : "update checksum mismatch"),
      failure_(failure)
{
}

const std::string& UpdateManifest::base()
{
    static const std::string value = "https://updates.tessyn.invalid/tessyn/downloads/";
    return value;
}

std::string UpdateManifest::manifestUrl(std::string_view downloadBase)
{
    std::string url(downloadBase);
    if (url.empty() || url.back() != '/') url += '/';
    return url + "latest-macos-universal.json";
}

UpdateManifest UpdateManifest::decode(std::string_view json)
{
    nlohmann::json::parser_callback_t bounded = [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth > maximumDepth) throw std::invalid_argument("manifest nested too deeply");
        return true;
    };
    nlohmann::json object = nlohmann::json::parse(json.begin(), json.end(), bounded);
    if (!object.is_object()) throw std::invalid_argument("manifest is not an object");
    UpdateManifest manifest;
    manifest.schema = integerField(object, "schema");
    manifest.version = stringField(object, "version");
    manifest.platform = stringField(object, "platform");
    manifest.url = stringField(object, "url");
    if (!isAbsoluteUrl(manifest.url)) throw std::invalid_argument("url is not an absolute URL");
    manifest.sha256 = stringField(object, "sha256");
    manifest.bytes = integerField(object, "bytes");
    return manifest;
}

std::string UpdateManifest::encode() const
{
    nlohmann::json object = {{"schema", schema}, {"version", version}, {"platform", platform},
                             {"url", url},       {"sha256", sha256},   {"bytes", bytes}};
    return object.dump();
}

bool UpdateManifest::liesUnder(std::string_view url, std::string_view downloadBase)
{
    return !hasDotSegment(url) && url.starts_with(downloadBase);
}

void UpdateManifest::validate(std::string_view downloadBase) const
{
    auto require = [](bool holds) {
        if (!holds) throw UpdateError(UpdateFailure::invalidManifest);
    };
    require(schema == 1);
    require(platform == "macos-universal");
    require(components(version).has_value());
    require(liesUnder(url, downloadBase));
    require(pathExtension(url) == "dmg");
    require(isDigestText(sha256));
    require(bytes >= 1 && bytes <= maximumBytes);
}

void UpdateManifest::verify(std::span<const std::byte> data) const
{
    if (static_cast<int64_t>(data.size()) != bytes) throw UpdateError(UpdateFailure::checksum);
    Sha256 hash;
    hash.update(data.data(), data.size());
    checkDigest(*this, hash.finish());
}

void UpdateManifest::verifyFile(const std::string& path) const
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throwErrno();
    FdCloser owner{fd};
    verifyOpenFile(fd);
}

void UpdateManifest::verifyOpenFile(int fd) const
{
    ContentReader reader(fd, 0);
    struct Borrowed {
        ContentReader& reader;
        ~Borrowed() { reader.release(); }
    } borrowed{reader};
    struct stat info {};
    if (::fstat(fd, &info) != 0) throwErrno();
    if (!S_ISREG(info.st_mode) || info.st_size != bytes) throw UpdateError(UpdateFailure::checksum);
    Sha256 hash;
    if (!reader.feed(hash, bytes, std::stop_token{})) throw UpdateError(UpdateFailure::checksum);
    // A file that grew after the size was read is not the image either.
    char extra = 0;
    if (::pread(fd, &extra, 1, bytes) != 0) throw UpdateError(UpdateFailure::checksum);
    checkDigest(*this, hash.finish());
}

std::optional<std::array<int64_t, 3>> UpdateManifest::components(std::string_view version)
{
    std::array<int64_t, 3> numbers{};
    size_t index = 0;
    while (true) {
        size_t dot = version.find('.');
        std::string_view piece = version.substr(0, dot);
        if (index >= 3 || piece.empty() || !std::all_of(piece.begin(), piece.end(), isAsciiDigit)) return std::nullopt;
        auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), numbers[index]);
        if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
        ++index;
        if (dot == std::string_view::npos) break;
        version.remove_prefix(dot + 1);
    }
    if (index != 3) return std::nullopt;
    return numbers;
}

bool UpdateManifest::isOlder(std::string_view older, std::string_view newer)
{
    auto a = components(older);
    auto b = components(newer);
    return a && b && *a < *b;
}
