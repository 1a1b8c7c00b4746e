// A .desktop file under the XDG data folders.
#include "platform/DesktopEntries.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::vector<std::string> locales{"de_DE.UTF-8@euro", "de_DE", "de", "zh_CN", "zh"};
    DesktopEntries::parse(std::string_view(reinterpret_cast<const char*>(data), size), "org.example.App", locales);
    return 0;
}
