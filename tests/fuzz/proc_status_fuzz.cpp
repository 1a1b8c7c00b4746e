// Lines of /proc/<pid>/status and /proc/self/mountinfo.
#include "csystem/procstatus.h"
#include "platform/MountTable.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size); // NUL-terminated for the C reader
    uint64_t value = 0;
    for (const char* key : {"VmRSS", "RssAnon", "VmSwap", "Uid", ""}) ts_status_kb(text.c_str(), key, &value);
    MountTable::pointsIn(text);
    return 0;
}
