#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

// Plain C++ on purpose: the manifest is read from the network, so its decoder stays small,
// testable and fuzzable without Qt.

// Why an update could not go ahead. Never shown as text: the controller turns every
// failure into one state.
enum class UpdateFailure { invalidManifest, unavailable, checksum };

class UpdateError : public std::runtime_error {
public:
    explicit UpdateError(UpdateFailure failure);
    UpdateFailure failure() const { return failure_; }

private:
    UpdateFailure failure_;
};

// The update host's description of the newest installer image.
struct UpdateManifest {
    int64_t schema = 0;
    std::string version;
    std::string platform;
    std::string url;
    std::string sha256;
    int64_t bytes = 0;

    // The download base of the shipped program: https, path "/tessyn/downloads/". No host
    // serves it yet; the name lies under ".invalid", so it can never reach anyone else.
    static const std::string& base();
    // The manifest's place: "latest-macos-universal.json" directly under `downloadBase`.
    static std::string manifestUrl(std::string_view downloadBase);

    // Decodes exactly the six keys (all required, typed; other keys ignored). Throws
    // std::invalid_argument, or nlohmann's exceptions, on anything else.
    static UpdateManifest decode(std::string_view json);
    std::string encode() const;

    // True when `url` begins with the download base's text and its path holds no "." or ".."
    // segment, plain, percent-encoded or with ";" parameters, and no encoded slash or
    // backslash: the prefix alone lets ".../downloads/%2E%2E/x.dmg" through, which a server
    // resolves outside the base.
    // The image's place and every redirect on the way to it are held to this.
    static bool liesUnder(std::string_view url, std::string_view downloadBase);

    // Throws UpdateError(invalidManifest) at the first rule that fails.
    void validate() const { validate(base()); }
    void validate(std::string_view downloadBase) const;

    // Throws UpdateError(checksum) unless the data has exactly `bytes` bytes and the SHA-256
    // digest `sha256`.
    void verify(std::span<const std::byte> data) const;
    // The same for a stored file, read without following a link or blocking on a pipe.
    // A file that cannot be opened or read throws std::system_error.
    void verifyFile(const std::string& path) const;
    // The same for the file open at `fd`, read from its start; the descriptor stays open.
    void verifyOpenFile(int fd) const;

    // The three numbers of an "N.N.N" version text; nothing for any other text.
    static std::optional<std::array<int64_t, 3>> components(std::string_view version);
    // True only when both texts are versions and `older` comes before `newer`.
    static bool isOlder(std::string_view older, std::string_view newer);

    bool operator==(const UpdateManifest&) const = default;
};
