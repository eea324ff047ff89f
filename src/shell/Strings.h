#pragma once
// The program's texts, looked up by id in the current language with the
// English text given at every call as the fallback.
#include <string>
#include <vector>

namespace hx::shell {

constexpr int kLangEnglish = 9;
constexpr int kLangDutch = 1043;
constexpr int kLangGerman = 1031;
constexpr int kLangSwissGerman = 2055;

// Text of `id` in the current language; `defaultText` when that is empty.
std::string LoadStr(int id, const std::string& defaultText);
// Replaces "%0", "%1", ... by the arguments.
std::string FormatStr(std::string text, const std::vector<std::string>& args);

int CurrentLanguage();
void SetCurrentLanguage(int languageId);

}  // namespace hx::shell
