// An English catalog found beside the program, and the texts L() is asked to translate.
#include "services/Localization.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The catalog first, then after a NUL the text to translate.
    size_t split = input.find('\0');
    std::string_view json = input.substr(0, split);
    std::string_view text = split == std::string_view::npos ? input : input.substr(split + 1);
    LocalizationCatalog catalog = LocalizationCatalog::fromJson(json);
    L(text, AppLanguage::english, catalog);
    L(text, AppLanguage::simplifiedChinese, catalog);
    L(json, AppLanguage::english, catalog);
    return 0;
}
