#include "engine/Uuid.h"

#include "platform/Errors.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool isDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

} // namespace

std::string newUUID()
{
    uint8_t bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno();
        }
        filled += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);

    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<std::string> canonicalUUID(std::string_view text)
{
    if (text.size() != 36) return std::nullopt;
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (isDashPosition(i)) {
            if (c != '-') return std::nullopt;
        } else if (c >= 'a' && c <= 'f') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return std::nullopt;
        }
    }
    return out;
}
