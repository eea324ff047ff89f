#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>

#include "fixtures/TempDir.h"
#include "shell/AddedStrings.h"
#include "shell/StringTable.h"
#include "shell/Strings.h"
#include "shell/Text.h"

using namespace hx::shell;
using hx::test::TempDir;

namespace {

std::multiset<std::string> placeholders(const std::string& text) {
    std::multiset<std::string> found;
    static const std::regex re("%[0-9]");
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) found.insert(it->str());
    return found;
}

struct LanguageGuard {
    int saved = CurrentLanguage();
    ~LanguageGuard() {
        SetCurrentLanguage(saved);
        UseBuiltInStrings();
    }
};

}  // namespace

TEST(StringTable, IdsAreSortedUniqueAndInRange) {
    std::size_t n = 0;
    const StringRow* rows = BuiltInStringRows(n);
    ASSERT_GT(n, 300u);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_GT(rows[i].id, 0);
        ASSERT_NE(rows[i].english, nullptr) << rows[i].id;
        EXPECT_STRNE(rows[i].english, "") << rows[i].id;
        if (i > 0) {
            EXPECT_LT(rows[i - 1].id, rows[i].id) << "row after id " << rows[i - 1].id;
        }
    }
    std::size_t swiss = 0;
    BuiltInSwissRows(swiss);
    EXPECT_EQ(swiss, 25u);
}

TEST(StringTable, TranslationsHaveEnglishAndKeepPlaceholders) {
    const auto english = TableIds(kLangEnglish);
    const std::set<int> englishSet(english.begin(), english.end());
    for (int language : {kLangDutch, kLangGerman, kLangSwissGerman}) {
        for (int id : TableIds(language)) {
            ASSERT_TRUE(englishSet.count(id)) << "id " << id << " of language " << language << " lacks English";
            EXPECT_EQ(placeholders(TableText(id, language)), placeholders(TableText(id, kLangEnglish)))
                << "id " << id << " language " << language << ": " << TableText(id, language);
        }
    }
    // Dutch and German are complete in this build.
    EXPECT_EQ(TableIds(kLangDutch).size(), english.size());
    EXPECT_EQ(TableIds(kLangGerman).size(), english.size());
}

// On Linux no text sends the user to Windows, its administrator, its
// recycle bin or its drive letters, in any of the three languages.
TEST(StringTable, NoTextSpeaksOfWindows) {
    const std::regex windows(R"((Windows|[Aa]dministra|[Rr]ecycle bin|\b[C-Z]: [D-Z]:))");
    for (int language : {kLangEnglish, kLangDutch, kLangGerman})
        for (int id : TableIds(language))
            EXPECT_FALSE(std::regex_search(TableText(id, language), windows))
                << "id " << id << " language " << language << ": " << TableText(id, language);
    const std::regex literal(R"re(LoadStr\(0,\s*"((?:[^"\\]|\\.)*)"\))re");
    for (const auto& e : std::filesystem::recursive_directory_iterator(std::filesystem::path(HX_SOURCE_DIR) / "src")) {
        if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
        const std::string code = hx::test::ReadFile(e.path());
        for (std::sregex_iterator m(code.begin(), code.end(), literal), end; m != end; ++m) {
            const std::string english = (*m)[1];
            EXPECT_FALSE(std::regex_search(english, windows)) << english << " (" << e.path().filename() << ")";
            for (int language : {kLangDutch, kLangGerman})
                if (const char* shown = AddedText(english, language))
                    EXPECT_FALSE(std::regex_search(std::string(shown), windows)) << shown;
        }
    }
}

TEST(StringTable, LookupUsesCurrentLanguageAndTableTextWins) {
    LanguageGuard guard;
    SetCurrentLanguage(kLangEnglish);
    // The table's wording beats the caller's default.
    EXPECT_EQ(LoadStr(1707, "Windows Theme"), "System Theme");
    EXPECT_EQ(FormatStr(LoadStr(1406, "Drive %0 not ready."), {"E"}), "Drive E not ready.");
    EXPECT_EQ(LoadStr(1407, ""), "Backup %0\\");
    EXPECT_EQ(LoadStr(99999, "fallback"), "fallback");
    EXPECT_EQ(GetLanguageName(), "English");

    SetCurrentLanguage(kLangDutch);
    EXPECT_EQ(FormatStr(LoadStr(1406, "Drive %0 not ready."), {"/dev/sdz1"}), "Schijf /dev/sdz1 is niet gereed.");
    EXPECT_EQ(GetLanguageName(), "Nederlands");
    SetCurrentLanguage(kLangGerman);
    EXPECT_EQ(FormatStr(LoadStr(1406, "Drive %0 not ready."), {"E:"}), "Laufwerk E: ist nicht bereit.");
    EXPECT_EQ(GetLanguageName(), "Deutsch");
    // Swiss German has a few words; the rest falls back to the default.
    SetCurrentLanguage(kLangSwissGerman);
    EXPECT_EQ(LoadStr(44, "Save All"), "Alles speichern");
    EXPECT_EQ(LoadStr(1406, "Drive %0 not ready."), "Drive %0 not ready.");
}

TEST(StringTable, FormatReplacesEveryOccurrenceInOrder) {
    EXPECT_EQ(FormatStr("%0 and %0, then %1", {"a", "b"}), "a and a, then b");
    EXPECT_EQ(FormatStr("%1 %0", {"%1", "x"}), "x x");  // %0 first, so its text is filled again
    EXPECT_EQ(FormatStr("no args %0", {}), "no args %0");
}

TEST(Language, MapAndChoose) {
    EXPECT_EQ(MapLanguage(1043), kLangDutch);
    EXPECT_EQ(MapLanguage(2067), kLangDutch);
    EXPECT_EQ(MapLanguage(1122), kLangDutch);
    for (int id : {1031, 2055, 3079, 4103, 5127}) EXPECT_EQ(MapLanguage(id), kLangGerman) << id;
    EXPECT_EQ(MapLanguage(1036), kLangEnglish);
    EXPECT_EQ(MapLanguage(0), kLangEnglish);

    EXPECT_EQ(ChooseLanguage("", 2055), kLangGerman);   // Swiss system: German, not the small block
    EXPECT_EQ(ChooseLanguage("", 1036), kLangEnglish);  // French system
    EXPECT_EQ(ChooseLanguage("1043 language", 1036), kLangDutch);
    EXPECT_EQ(ChooseLanguage("  1031 /LANGUAGE", 1043), kLangGerman);
    EXPECT_EQ(ChooseLanguage("language", 1043), kLangEnglish);       // no leading number
    EXPECT_EQ(ChooseLanguage("2055 language", 1043), kLangEnglish);  // asked ids are not mapped
    EXPECT_EQ(ChooseLanguage("1043 cache=/x", 1031), kLangGerman);   // number without the switch is ignored
}

TEST(Language, LocalesGiveWindowsIds) {
    EXPECT_EQ(LocaleToLanguageId("nl_NL.UTF-8"), 1043);
    EXPECT_EQ(LocaleToLanguageId("nl_BE@euro"), 2067);
    EXPECT_EQ(LocaleToLanguageId("de_CH.UTF-8"), 2055);
    EXPECT_EQ(LocaleToLanguageId("de-AT"), 3079);
    EXPECT_EQ(LocaleToLanguageId("de"), 1031);
    EXPECT_EQ(LocaleToLanguageId("fr_FR.UTF-8"), 1036);
    EXPECT_EQ(LocaleToLanguageId("C.UTF-8"), 1033);
    EXPECT_EQ(LocaleToLanguageId(""), 0);
    EXPECT_EQ(LocaleToLanguageId("xx_YY"), 0);

    // LC_ALL beats LC_MESSAGES beats LANG.
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> saved[3];
    for (int i = 0; i < 3; ++i)
        if (const char* v = std::getenv(names[i])) saved[i] = v;
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    ::setenv("LC_MESSAGES", "de_CH.UTF-8", 1);
    ::unsetenv("LC_ALL");
    EXPECT_EQ(SystemLanguageId(), 2055);
    EXPECT_EQ(ChooseLanguage("", SystemLanguageId()), kLangGerman);
    ::setenv("LC_ALL", "nl_NL.UTF-8", 1);
    EXPECT_EQ(SystemLanguageId(), 1043);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(ChooseLanguage("", SystemLanguageId()), kLangEnglish);
    for (int i = 0; i < 3; ++i) saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
}

TEST(StringResource, RoundTripAndReplacement) {
    LanguageGuard guard;
    TempDir dir;
    const auto file = dir / "Harvestrix.res";
    ASSERT_TRUE(WriteStringResource(file));
    const std::string before = TableText(1407, kLangDutch);
    ASSERT_TRUE(LoadStringResource(file));
    for (int language : {kLangEnglish, kLangDutch, kLangGerman, kLangSwissGerman}) {
        UseBuiltInStrings();
        auto ids = TableIds(language);
        std::vector<std::string> texts;
        for (int id : ids) texts.push_back(TableText(id, language));
        ASSERT_TRUE(LoadStringResource(file));
        ASSERT_EQ(TableIds(language), ids) << language;
        for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(TableText(ids[i], language), texts[i]) << ids[i];
    }
    EXPECT_EQ(TableText(1407, kLangDutch), before);

    // A file with only a few texts: what it lacks in Dutch shows the default.
    hx::test::WriteFile(file, "HXRES 1\r\n# test\n[9]\n1406=Drive %0 is gone.\n655=Drive\n[1043]\n655=  Station \\n\n"
                              "1529= Nederlands  \n");
    ASSERT_TRUE(LoadStringResource(file));
    SetCurrentLanguage(kLangDutch);
    EXPECT_EQ(LoadStr(1406, "Drive %0 not ready."), "Drive %0 not ready.");
    EXPECT_EQ(LoadStr(655, "Drive"), "  Station \n");
    EXPECT_EQ(GetLanguageName(), "Nederlands");
    SetCurrentLanguage(kLangEnglish);
    EXPECT_EQ(LoadStr(1406, "Drive %0 not ready."), "Drive %0 is gone.");

    // Malformed files are refused and leave the table alone.
    for (const char* bad : {"", "HXRES 2\n[9]\n1=x\n", "HXRES 1\n1=x\n", "HXRES 1\n[9]\nabc=x\n", "HXRES 1\n[x]\n"}) {
        hx::test::WriteFile(file, bad);
        EXPECT_FALSE(LoadStringResource(file)) << bad;
    }
    EXPECT_EQ(LoadStr(1406, ""), "Drive %0 is gone.");
    EXPECT_FALSE(LoadStringResource(dir / "missing.res"));
}

TEST(StringResource, InitStringsWithoutFileFallsBackToEnglish) {
    LanguageGuard guard;
    TempDir dir;
    ResetStrings();
    SetCurrentLanguage(kLangDutch);
    InitStrings(true, dir.path());
    EXPECT_EQ(CurrentLanguage(), kLangEnglish);
    SetCurrentLanguage(kLangDutch);
    InitStrings(true, dir.path());  // runs once only
    EXPECT_EQ(CurrentLanguage(), kLangDutch);
}

// Every text the program shows beside the numbered table, in every message
// box, caption and status line, reads in Dutch and German too, with the
// same placeholders.
TEST(StringTable, EveryTextOfTheProgramHasDutchAndGerman) {
    const std::regex literal(R"re(LoadStr\(0,\s*"((?:[^"\\]|\\.)*)"\))re");
    const std::regex placeholder("%[0-9]");
    int texts = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(std::filesystem::path(HX_SOURCE_DIR) / "src")) {
        const auto ext = e.path().extension();
        if (ext != ".cpp" && ext != ".h") continue;
        const std::string code = hx::test::ReadFile(e.path());
        for (std::sregex_iterator m(code.begin(), code.end(), literal), end; m != end; ++m) {
            std::string english;
            const std::string quoted = (*m)[1];
            for (std::size_t i = 0; i < quoted.size(); ++i) english += quoted[i] == '\\' && i + 1 < quoted.size() ? quoted[++i] : quoted[i];
            ++texts;
            for (int language : {1043, 1031}) {
                const char* shown = AddedText(english, language);
                ASSERT_NE(shown, nullptr) << language << " lacks \"" << english << "\" (" << e.path().filename() << ")";
                const auto count = [&](const std::string& t) {
                    return std::distance(std::sregex_iterator(t.begin(), t.end(), placeholder), std::sregex_iterator());
                };
                EXPECT_EQ(count(shown), count(english)) << shown;
            }
        }
    }
    EXPECT_GT(texts, 150);
}

TEST(Text, SearchesWithoutCaseToTheLastByte) {
    using hx::shell::ContainsNoCase;
    EXPECT_TRUE(ContainsNoCase("ICC: Adobe RGB (1998)", "adobe rgb"));
    EXPECT_TRUE(ContainsNoCase(std::string_view("x\0ADOBE RGB", 11), "Adobe RGB")) << "binary text, match at its end";
    EXPECT_FALSE(ContainsNoCase("... ADOBE RG", "adobe rgb")) << "cut at the end";
    EXPECT_FALSE(ContainsNoCase("anything", ""));
    EXPECT_FALSE(ContainsNoCase("", "a"));
    EXPECT_EQ(hx::shell::Trim(" \tIMG_0001.JPG\r\n"), "IMG_0001.JPG");
}
