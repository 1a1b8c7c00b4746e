#include "BundleFixture.h"

#include "ChildProcess.h"
#include "TestSupport.h"

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
