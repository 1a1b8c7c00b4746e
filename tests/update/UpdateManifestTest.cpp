#include "TestSupport.h"
#include "engine/Sha256.h"
#include "update/UpdateManifest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string base = "https://updates.example.test/tessyn/downloads/";

std::string digestOf(const std::string& data)
{
    Sha256 hash;
    hash.update(data.data(), data.size());
    return Sha256::hex(hash.finish());
}

UpdateManifest valid(const std::string& image = "image")
{
    return {1, "1.4.0", "macos-universal", base + "Tessyn-1.4.0.dmg", digestOf(image),
            static_cast<int64_t>(image.size())};
}

std::span<const std::byte> bytesOf(const std::string& text) { return std::as_bytes(std::span(text)); }

std::optional<UpdateFailure> failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const UpdateError& error) {
        return error.failure();
    }
    return std::nullopt;
}

std::string fullWidth(const std::string& hex)
{
    std::string out;
    for (char c : hex) {
        // U+FF10.. for digits, U+FF41.. for a-f, as UTF-8.
        unsigned code = (c >= '0' && c <= '9') ? 0xFF10 + (c - '0') : 0xFF41 + (c - 'a');
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

} // namespace

TEST(UpdateManifest, ComponentsReadOnlyThreeAsciiNumbers)
{
    using C = std::array<int64_t, 3>;
    const std::vector<std::pair<std::string, std::optional<C>>> cases = {
        {"1.2.3", C{1, 2, 3}},
        {"01.002.3", C{1, 2, 3}},
        {"0.0.0", C{0, 0, 0}},
        {"9223372036854775807.0.1", C{9223372036854775807LL, 0, 1}},
        {"1.2", std::nullopt},
        {"1.2.3.4", std::nullopt},
        {"1..3", std::nullopt},
        {"1.2.", std::nullopt},
        {".1.2", std::nullopt},
        {"", std::nullopt},
        {"v1.2.3", std::nullopt},
        {"1.2.3-beta", std::nullopt},
        {"1. 2.3", std::nullopt},
        {"+1.2.3", std::nullopt},
        {"-1.2.3", std::nullopt},
        {"99999999999999999999.0.0", std::nullopt},
        {"\xEF\xBC\x91.2.3", std::nullopt},  // a full-width 1
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(UpdateManifest::components(text), expected) << text;
}

TEST(UpdateManifest, VersionOrderIsNumericAndNeedsTwoVersions)
{
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"1.2.3", "1.2.3", false},   {"1.2.9", "1.2.10", true},  {"1.2.10", "1.2.9", false},
        {"1.9.9", "1.10.0", true},   {"01.002.3", "1.2.3", false}, {"0.6.12", "1.0.0", true},
        {"dev", "9.9.9", false},     {"1.0.0", "2.0", false},
    };
    for (const auto& [older, newer, expected] : cases)
        EXPECT_EQ(UpdateManifest::isOlder(older, newer), expected) << older << " < " << newer;
}

TEST(UpdateManifest, ValidateAppliesEveryRule)
{
    const std::string hex = digestOf("image");
    std::string upper = hex;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    const std::vector<std::pair<std::function<void(UpdateManifest&)>, bool>> cases = {
        {[](UpdateManifest&) {}, true},
        {[](UpdateManifest& m) { m.schema = 2; }, false},
        {[](UpdateManifest& m) { m.schema = 0; }, false},
        {[](UpdateManifest& m) { m.platform = "macOS-universal"; }, false},
        {[](UpdateManifest& m) { m.platform = "linux-x86_64"; }, false},
        {[](UpdateManifest& m) { m.version = "1.4"; }, false},
        {[](UpdateManifest& m) { m.version = "1.4.0-beta"; }, false},
        {[](UpdateManifest& m) { m.url = "https://elsewhere.test/tessyn/downloads/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = "http://updates.example.test/tessyn/downloads/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = "https://updates.example.test/tessyn/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "../T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "sub/../../T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "%2e%2E/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + ".%2e/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "./T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "..%2FT.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "..;/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "sub/.;v=1/%2e%2e;x/%2E%2E;/T.dmg"; }, false},
        {[](UpdateManifest& m) { m.url = base + "sub/T.dmg"; }, true},
        {[](UpdateManifest& m) { m.url = base + "sub;v=1/T.dmg"; }, true},
        {[](UpdateManifest& m) { m.url = base + "..T.dmg"; }, true},
        {[](UpdateManifest& m) { m.url = base + "T.dmg?channel=stable#top"; }, true},
        {[](UpdateManifest& m) { m.url = base + "T.DMG"; }, false},
        {[](UpdateManifest& m) { m.url = base + "T.dmg.zip"; }, false},
        {[](UpdateManifest& m) { m.url = base + ".dmg"; }, false},
        {[&](UpdateManifest& m) { m.sha256 = hex.substr(1); }, false},
        {[&](UpdateManifest& m) { m.sha256 = hex + "0"; }, false},
        {[&](UpdateManifest& m) { m.sha256 = hex.substr(1) + "g"; }, false},
        {[&](UpdateManifest& m) { m.sha256 = upper; }, true},
        {[&](UpdateManifest& m) { m.sha256 = fullWidth(hex); }, true},
        {[&](UpdateManifest& m) { m.sha256 = fullWidth(hex.substr(1)); }, false},
        {[&](UpdateManifest& m) { m.sha256 = hex.substr(1) + "a\xCC\x81"; }, false},  // "a" with a combining accent
        {[](UpdateManifest& m) { m.bytes = 0; }, false},
        {[](UpdateManifest& m) { m.bytes = 1; }, true},
        {[](UpdateManifest& m) { m.bytes = 100000000; }, true},
        {[](UpdateManifest& m) { m.bytes = 100000001; }, false},
        {[](UpdateManifest& m) { m.bytes = -5; }, false},
    };
    int index = 0;
    for (const auto& [change, passes] : cases) {
        UpdateManifest manifest = valid();
        change(manifest);
        auto failure = failureOf([&] { manifest.validate(base); });
        EXPECT_EQ(failure, passes ? std::nullopt : std::optional(UpdateFailure::invalidManifest))
            << "case " << index << ": " << manifest.encode();
        ++index;
    }
}

TEST(UpdateManifest, DecodeTakesExactlyTheSixTypedKeys)
{
    const UpdateManifest expected = valid();
    nlohmann::json good = nlohmann::json::parse(expected.encode());
    EXPECT_EQ(UpdateManifest::decode(good.dump()), expected);
    nlohmann::json extra = good;
    extra["notes"] = {{"nested", {1, 2, 3}}};
    extra["channel"] = "stable";
    EXPECT_EQ(UpdateManifest::decode(extra.dump()), expected) << "other keys are ignored";

    const std::vector<std::pair<std::string, std::function<void(nlohmann::json&)>>> broken = {
        {"missing bytes", [](nlohmann::json& j) { j.erase("bytes"); }},
        {"missing url", [](nlohmann::json& j) { j.erase("url"); }},
        {"null version", [](nlohmann::json& j) { j["version"] = nullptr; }},
        {"bytes as text", [](nlohmann::json& j) { j["bytes"] = "5"; }},
        {"schema as fraction", [](nlohmann::json& j) { j["schema"] = 1.5; }},
        {"bytes beyond 64 bits", [](nlohmann::json& j) { j["bytes"] = 18446744073709551615ULL; }},
        {"version as number", [](nlohmann::json& j) { j["version"] = 140; }},
        {"url with a space", [](nlohmann::json& j) { j["url"] = base + "T 1.dmg"; }},
        {"url without scheme", [](nlohmann::json& j) { j["url"] = "/tessyn/downloads/T.dmg"; }},
        {"url with a bad escape", [](nlohmann::json& j) { j["url"] = base + "T%zz.dmg"; }},
        {"an array", [](nlohmann::json& j) { j = nlohmann::json::array({j}); }},
    };
    for (const auto& [name, change] : broken) {
        nlohmann::json document = good;
        change(document);
        EXPECT_ANY_THROW(UpdateManifest::decode(document.dump())) << name;
    }
    EXPECT_ANY_THROW(UpdateManifest::decode("{\"schema\": 1,"));
    EXPECT_ANY_THROW(UpdateManifest::decode(""));
    EXPECT_ANY_THROW(UpdateManifest::decode(std::string(5000, '[') + std::string(5000, ']')));
}

TEST(UpdateManifest, VerifyChecksLengthThenDigest)
{
    const std::string image = "the installer image";
    UpdateManifest manifest = valid(image);
    EXPECT_EQ(failureOf([&] { manifest.verify(bytesOf(image)); }), std::nullopt);
    for (char& c : manifest.sha256) c = static_cast<char>(toupper(c));
    EXPECT_EQ(failureOf([&] { manifest.verify(bytesOf(image)); }), std::nullopt) << "either case matches";

    std::string changed = image;
    changed[3] ^= 1;
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"empty", ""}, {"one byte short", image.substr(1)}, {"one byte changed", changed}, {"one byte more", image + "x"}};
    for (const auto& [name, data] : wrong)
        EXPECT_EQ(failureOf([&] { manifest.verify(bytesOf(data)); }), UpdateFailure::checksum) << name;

    UpdateManifest wide = valid(image);
    wide.sha256 = fullWidth(digestOf(image));
    EXPECT_EQ(failureOf([&] { wide.validate(base); }), std::nullopt);
    EXPECT_EQ(failureOf([&] { wide.verify(bytesOf(image)); }), UpdateFailure::checksum) << "never matches a digest";
}

TEST(UpdateManifest, VerifyFileRefusesLinksAndPipes)
{
    TempHome home;
    const std::string image = "stored image";
    const UpdateManifest manifest = valid(image);
    const std::string file = writeFile(home.path("Tessyn-1.4.0.dmg"), image);
    EXPECT_EQ(failureOf([&] { manifest.verifyFile(file); }), std::nullopt);

    const std::string link = home.path("link.dmg");
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    EXPECT_THROW(manifest.verifyFile(link), std::system_error) << "a link in the image's place is not followed";

    const std::string fifo = home.path("fifo.dmg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failureOf([&] { manifest.verifyFile(fifo); }), UpdateFailure::checksum) << "returns without blocking";

    writeFile(file, image + "!");
    EXPECT_EQ(failureOf([&] { manifest.verifyFile(file); }), UpdateFailure::checksum);
    EXPECT_THROW(manifest.verifyFile(home.path("missing.dmg")), std::system_error);
}
