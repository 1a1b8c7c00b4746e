// The history file as another copy, an old version or a damaged disk may have left it.
#include "engine/HistoryStore.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Operation> history;
    try {
        history = decodeHistory(text);
    } catch (const std::exception&) {
        return 0;
    }
    // What was read is written back and reads the same.
    if (decodeHistory(encodeHistory(history)) != history) std::abort();
    return 0;
}
