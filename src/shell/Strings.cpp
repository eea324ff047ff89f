#include "shell/Strings.h"

namespace hx::shell {

namespace {
int gLanguage = kLangEnglish;
}

std::string LoadStr(int /*id*/, const std::string& defaultText) { return defaultText; }

std::string FormatStr(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string key = "%" + std::to_string(i);
        std::size_t pos = 0;
        while ((pos = text.find(key, pos)) != std::string::npos) {
            text.replace(pos, key.size(), args[i]);
            pos += args[i].size();
        }
    }
    return text;
}

int CurrentLanguage() { return gLanguage; }
void SetCurrentLanguage(int languageId) { gLanguage = languageId; }

}  // namespace hx::shell
