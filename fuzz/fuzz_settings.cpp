// Settings and string-resource text as they come from files a user (or a
// broken disk) may have changed: parsing must hold, and every value must come
// back from its encoded form unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shell/IniFile.h"
#include "shell/Settings.h"
#include "shell/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    hx::shell::IniFile ini;
    ini.parse(text);
    for (const auto& key : ini.keys()) (void)ini.value(key);

    // Any byte string survives encoding.
    if (hx::shell::IniFile::DecodeValue(hx::shell::IniFile::EncodeValue(text)) != text) std::abort();

    (void)hx::shell::ParseSizeLimit(text);
    (void)hx::shell::ParseLeadingNumber(text);
    (void)hx::shell::ChooseLanguage(text, 1043);
    (void)hx::shell::LocaleToLanguageId(text);

    if (hx::shell::LoadStringResourceText(text)) {
        (void)hx::shell::LoadStr(1406, "Drive %0 not ready.");
        hx::shell::UseBuiltInStrings();
    }
    return 0;
}
