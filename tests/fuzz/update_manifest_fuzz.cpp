// The update manifest as it arrives from the network: decoding and validation must end in a
// value or an exception for any body the controller would accept, and a decoded manifest must
// encode back to itself.
#include "update/UpdateManifest.h"

#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The controller refuses bodies of 16384 bytes or more before decoding.
    if (size >= 16384) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)UpdateManifest::components(text);
    try {
        const UpdateManifest manifest = UpdateManifest::decode(text);
        if (!(UpdateManifest::decode(manifest.encode()) == manifest)) __builtin_trap();
        try {
            manifest.validate();
            manifest.verify(std::as_bytes(std::span(data, size)));
        } catch (const UpdateError&) {
        }
    } catch (const std::exception&) {
    }
    return 0;
}
