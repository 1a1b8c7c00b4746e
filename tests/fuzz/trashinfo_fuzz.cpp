// A .trashinfo file in a Trash's info/ folder, written by any file manager.
#include "platform/TrashInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    TrashInfo::pathOf(text);
    // Any path without a NUL survives its encoding, as file managers must read it back.
    if (text.find('\0') == std::string_view::npos) {
        auto decoded = TrashInfo::decodePath(TrashInfo::encodePath(text));
        if (!decoded || *decoded != text) std::abort();
        if (TrashInfo::pathOf(TrashInfo::contents(text, "2024-01-01T00:00:00")) != text) std::abort();
    }
    return 0;
}
