#include "platform/DesktopEntries.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {
// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* v = std::getenv(name)) saved_ = v;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

std::string entry(const std::string& name, const std::string& wmClass, const std::string& chinese = "")
{
    return "[Desktop Entry]\nType=Application\nName=" + name + "\n" +
           (chinese.empty() ? "" : "Name[zh_CN]=" + chinese + "\n") + "StartupWMClass=" + wmClass + "\nExec=x\n";
}

std::string nameOf(DesktopEntries& entries, const std::string& wmClass)
{
    auto found = entries.match("", wmClass);
    return found ? found->name : "(none)";
}
} // namespace

TEST(DesktopEntries, CacheFollowsSubfoldersAndLocale)
{
    TempHome home;
    ScopedEnv dirs("XDG_DATA_DIRS", home.path("system"));
    ScopedEnv locale("LC_ALL", "C");
    std::string apps = home.dataHome() + "/applications";
    writeFile(apps + "/vendor/deeper/alpha.desktop", entry("Alpha", "AlphaClass", "阿尔法"));
    writeFile(home.path("system/applications/gamma.desktop"), entry("Gamma", "GammaClass"));
    // Folder times well in the past, read once: the cache then trusts what it read, and only
    // the change that follows moves a folder's time.
    DesktopEntries entries;
    auto settle = [&] {
        for (const auto& folder : {apps, apps + "/vendor", apps + "/vendor/deeper", home.path("system/applications")})
            setAge(folder, 100);
        entries.match("", "settle");
    };
    settle();
    EXPECT_EQ(nameOf(entries, "AlphaClass"), "Alpha");
    EXPECT_EQ(entries.match("", "AlphaClass")->id, "vendor-deeper-alpha");
    EXPECT_EQ(nameOf(entries, "GammaClass"), "Gamma");
    EXPECT_EQ(nameOf(entries, "BetaClass"), "(none)");

    // An entry added to an existing subfolder leaves the top folder's time alone.
    writeFile(apps + "/vendor/deeper/beta.desktop", entry("Beta", "BetaClass"));
    EXPECT_EQ(nameOf(entries, "BetaClass"), "Beta") << "an addition two levels down";
    settle();
    std::filesystem::remove(apps + "/vendor/deeper/alpha.desktop");
    EXPECT_EQ(nameOf(entries, "AlphaClass"), "(none)") << "a removal two levels down";
    settle();
    writeFile(home.path("system/applications/delta.desktop"), entry("Delta", "DeltaClass"));
    EXPECT_EQ(nameOf(entries, "DeltaClass"), "Delta") << "an addition in a system folder";

    // The names depend on the locale: switching it reads them again.
    writeFile(apps + "/vendor/deeper/alpha.desktop", entry("Alpha", "AlphaClass", "阿尔法"));
    settle();
    EXPECT_EQ(nameOf(entries, "AlphaClass"), "Alpha");
    {
        ScopedEnv chinese("LC_ALL", "zh_CN.UTF-8");
        EXPECT_EQ(nameOf(entries, "AlphaClass"), "阿尔法");
    }
    EXPECT_EQ(nameOf(entries, "AlphaClass"), "Alpha");
}
