#pragma once
// The program's texts, looked up by id in the current language with the
// English text given at every call as the fallback.
#include <filesystem>
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

// The table's own text of (id, language); empty when it has none.
std::string TableText(int id, int languageId);
// Name of the current language (id 1529, trimmed): "English", "Nederlands", ...
std::string GetLanguageName();

// 9, 1043 and 1031, in that order.
const std::vector<int>& SupportedLanguages();
bool IsSupportedLanguage(int languageId);
// A system language id (Windows numbering) to the language we show.
int MapLanguage(int systemLanguageId);
// The language at start-up: with "language" anywhere in the command line
// (any case) the number at its start is asked for, otherwise the mapped
// system language. Anything unsupported gives English.
int ChooseLanguage(const std::string& commandLine, int systemLanguageId);
// "nl_BE.UTF-8", "de-CH", "fr" ... to a Windows language id; 0 when unknown.
int LocaleToLanguageId(const std::string& locale);
// The user's language from LC_ALL, LC_MESSAGES or LANG (first one set).
int SystemLanguageId();

// Where the texts come from. InitStrings runs once: with `useResourceFile`
// it loads Harvestrix.res from the program data folder, and when that fails
// the language becomes English; otherwise the built-in table is used.
void InitStrings(bool useResourceFile, const std::filesystem::path& programDataFolder);
void UseBuiltInStrings();
// Back to the state before InitStrings: built-in table, English, not initialised.
void ResetStrings();
// Replaces the table by a resource file (format in Strings.cpp). False, and
// the table unchanged, when the file is missing or malformed.
bool LoadStringResource(const std::filesystem::path& file);
// The same from the file's text.
bool LoadStringResourceText(const std::string& text);
// Writes the current table in resource-file form (a start for translators).
bool WriteStringResource(const std::filesystem::path& file);
// Every id the current table has for a language, ascending.
std::vector<int> TableIds(int languageId);

constexpr const char* kResourceFileName = "Harvestrix.res";

}  // namespace hx::shell
