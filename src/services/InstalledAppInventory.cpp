#include "services/InstalledAppInventory.h"
#include "services/MaintenanceEngine.h"
#include "platform/PathText.h"

#include "engine/Dates.h"
#include "engine/FileEngine.h"
#include "platform/FolderNames.h"
#include "platform/PropertyList.h"
#include "platform/RegularFile.h"
#include "platform/TextValidity.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unicode/coll.h>
#include <unicode/locid.h>

namespace {

const char* const kNotAnApp = "应用路径不是指定应用目录中的独立应用，或路径已变化。";
const char* const kNotAFolder = "应用包不是普通目录。";
const char* const kUnrecognised = "不处理系统应用、Tessyn自身或无法识别的应用包。";
const char* const kOwnBundleID = "local.tessyn.preview";

// Rules shared by the identifier and the executable name: a single, real path component.
bool isPlainComponent(const std::string& text)
{
    return !text.empty() && text.find('/') == std::string::npos && text.find('\0') == std::string::npos &&
           text != "." && text != "..";
}

} // namespace

namespace MaintenanceEngine {

std::string readBoundedFile(const std::string& path, const FileEntry& expected, size_t limit)
{
    std::optional<std::string> data = RegularFile::readSame(path, {expected.device, expected.inode}, limit);
    if (!data) throw error(kUnrecognised);
    return std::move(*data);
}

InstalledApp app(const std::string& path, const std::vector<std::string>& roots)
{
    std::string canonical = FileEngine::canonicalURL(path);
    if (canonical != path) throw error(kNotAnApp);

    std::string parent = parentOf(canonical);
    bool inRoot = false;
    for (const auto& root : roots) {
        try {
            if (FileEngine::canonicalURL(root) == parent) {
                inRoot = true;
                break;
            }
        } catch (const std::exception&) {
            // A root that cannot be resolved matches nothing.
        }
    }
    if (!inRoot) throw error(kNotAnApp);

    std::string folderName = canonical.substr(canonical.rfind('/') + 1);
    const std::string extension = ".app";
    if (folderName.size() <= extension.size() ||
        folderName.compare(folderName.size() - extension.size(), extension.size(), extension) != 0)
        throw error(kNotAnApp);

    struct stat bundle {};
    if (lstat(canonical.c_str(), &bundle) != 0 || !S_ISDIR(bundle.st_mode)) throw error(kNotAFolder);

    std::string infoPath = canonical + "/Contents/Info.plist";
    auto info = FileEngine::snapshot(infoPath);
    if (!info || info->path != infoPath || static_cast<uint64_t>(info->size) > kInfoPlistLimit)
        throw error(kUnrecognised);
    std::string data = readBoundedFile(infoPath, *info);

    // Data too deep to parse safely, or that does not parse (the library gives no reason),
    // is an unrecognisable bundle.
    PropertyList::Ptr root = PropertyList::parse(data);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) throw error(kUnrecognised);

    auto bundleID = PropertyList::stringValue(root.get(), "CFBundleIdentifier");
    // The identifier names folders and goes into the history, so it must be clean UTF-8.
    if (!bundleID || !isPlainComponent(*bundleID) || !isValidUtf8(*bundleID) ||
        bundleID->rfind("com.apple.", 0) == 0 || *bundleID == kOwnBundleID)
        throw error(kUnrecognised);

    auto executable = PropertyList::stringValue(root.get(), "CFBundleExecutable");
    if (!executable || !isPlainComponent(*executable)) throw error(kUnrecognised);
    struct stat exe {};
    if (stat((canonical + "/Contents/MacOS/" + *executable).c_str(), &exe) != 0) throw error(kUnrecognised);

    InstalledApp result;
    result.path = canonical;
    auto displayName = PropertyList::stringValue(root.get(), "CFBundleDisplayName");
    result.name = displayName ? *displayName : folderName.substr(0, folderName.size() - extension.size());
    result.bundleID = *bundleID;
    result.identity = identityString(bundle);
    result.modified = dateFromTimespec(bundle.st_mtim);
    return result;
}

std::vector<InstalledApp> discover(const std::vector<std::string>& roots)
{
    std::vector<InstalledApp> apps;
    for (const auto& root : roots) {
        std::string base;
        try {
            base = FileEngine::canonicalURL(root);
        } catch (const std::exception&) {
            base = root;
        }
        for (const auto& name : listFolder(base).names) {
            try {
                apps.push_back(app(joinPath(base, name), {base}));
            } catch (const std::exception&) {
                // Anything that is not an acceptable bundle is simply not listed.
            }
        }
    }

    // Natural order: case-insensitive, digit runs compared by value ("App 2" before "App 10").
    // The POSIX locale's tailoring orders capitals before all small letters, so it gives way
    // to the root collation.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::strcmp(locale.getVariant(), "POSIX") == 0) locale = icu::Locale::getRoot();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_SUCCESS(status) && collator) {
        collator->setStrength(icu::Collator::SECONDARY);
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    }
    if (U_SUCCESS(status) && collator) {
        std::stable_sort(apps.begin(), apps.end(), [&](const InstalledApp& a, const InstalledApp& b) {
            UErrorCode s = U_ZERO_ERROR;
            return collator->compareUTF8(a.name, b.name, s) == UCOL_LESS;
        });
    } else {
        std::stable_sort(apps.begin(), apps.end(),
                         [](const InstalledApp& a, const InstalledApp& b) { return a.name < b.name; });
    }
    return apps;
}

} // namespace MaintenanceEngine
