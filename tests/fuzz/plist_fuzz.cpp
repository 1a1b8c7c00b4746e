// An application bundle's Info.plist, XML or binary.
#include "platform/PropertyList.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PropertyList::Ptr root = PropertyList::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (root && plist_get_node_type(root.get()) == PLIST_DICT) {
        for (const char* key : {"CFBundleIdentifier", "CFBundleExecutable", "CFBundleDisplayName", "CFBundleIconFile"})
            PropertyList::stringValue(root.get(), key);
    }
    return 0;
}
