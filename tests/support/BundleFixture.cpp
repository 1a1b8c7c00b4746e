#include "BundleFixture.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <cstdint>
#include <vector>

std::string makeAppBundle(const std::string& folder, const std::string& name, const std::string& bundleID,
                          const std::optional<std::string>& executable)
{
    std::string bundle = folder + "/" + name + ".app";
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
              "<key>CFBundleIdentifier</key><string>" + bundleID + "</string>\n"
              "<key>CFBundleExecutable</key><string>Run</string>\n"
              "<key>CFBundleDisplayName</key><string>" + name + "</string>\n</dict>\n</plist>\n");
    if (executable) copyExecutable(*executable, bundle + "/Contents/MacOS/Run");
    else writeFile(bundle + "/Contents/MacOS/Run", "#!/bin/sh\n");
    return bundle;
}

std::string nestedXmlPlist(size_t levels)
{
    std::string data = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    data.reserve(data.size() + levels * 15 + 10);
    for (size_t i = 0; i < levels; ++i) data += "<array>";
    for (size_t i = 0; i < levels; ++i) data += "</array>";
    return data + "</plist>\n";
}

std::string nestedBinaryPlist(size_t levels)
{
    auto bigEndian = [](std::string& out, uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    std::string data = "bplist00";
    std::vector<uint64_t> offsets;
    for (size_t i = 0; i < levels; ++i) {
        offsets.push_back(data.size());
        if (i + 1 < levels) {
            data += static_cast<char>(0xA1);
            bigEndian(data, i + 1, 4);
        } else {
            data += static_cast<char>(0xA0);
        }
    }
    uint64_t table = data.size();
    for (uint64_t offset : offsets) bigEndian(data, offset, 4);
    data += std::string(6, '\0');
    data += static_cast<char>(4); // offset size
    data += static_cast<char>(4); // reference size
    bigEndian(data, levels, 8);
    bigEndian(data, 0, 8);
    bigEndian(data, table, 8);
    return data;
}
