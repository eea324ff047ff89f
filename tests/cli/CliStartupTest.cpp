// harvestrix-cli as a user runs it: language and cache are settled before
// the command, from the INI settings in a private home folder.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "fixtures/TempDir.h"
#include "shell/IniFile.h"

using hx::test::ReadFile;
using hx::test::RunCommand;
using hx::test::TempDir;
using hx::test::WriteFile;
namespace fs = std::filesystem;

namespace {

struct Home {
    TempDir dir{"hx-cli-home"};
    std::string home() const { return dir.path().string() + "/home"; }
    std::string userConf() const { return home() + "/.config/Morvenick/Harvestrix.conf"; }
    // Runs the CLI with nothing of the real user's environment. stdout only in `out`.
    // `configDirs` stands for the machine's settings folders; empty means
    // the system's own (/etc/xdg).
    int run(const std::string& args, std::string& out, std::string& err, const std::string& lang = "C",
            std::optional<std::string> configDirs = std::nullopt) const {
        const std::string errFile = dir.path().string() + "/stderr.txt";
        const std::string machine = configDirs.value_or(dir.path().string() + "/etc-unwritable/x");
        const std::string cmd = "( env -i PATH=/usr/bin:/bin HOME=" + home() +
                                (machine.empty() ? "" : " XDG_CONFIG_DIRS=" + machine) + " LANG=" + lang + " " +
                                HX_CLI_PATH " " + args + " </dev/null 2>" + errFile + " )";
        // RunCommand adds 2>&1 after ours; ours already sent stderr to the file.
        int rc = RunCommand(cmd, &out);
        err = ReadFile(errFile);
        return rc;
    }
    Home() {
        fs::create_directories(home());
        // The machine scope cannot be written here, so the user file is used.
        WriteFile(dir.path() / "etc-unwritable", "not a folder");
    }
};

std::string iniValue(const std::string& file, const std::string& key) {
    hx::shell::IniFile ini;
    ini.load(file);
    return ini.value(key).value_or("<none>");
}

}  // namespace

TEST(CliStartup, LanguageComesBeforeTheCommand) {
    Home h;
    std::string out, err;
    const std::string cache = h.home() + "/.cache/QXCache/";
    ASSERT_EQ(h.run("cache", out, err), 0) << err;
    EXPECT_EQ(out, "Cache folder: " + cache + "\n");
    // --lang beats the locale; asked ids are not mapped (2055 is not German), locales are.
    for (auto [args, lang, caption] : {std::tuple{"--lang 1043 cache", "de_DE.UTF-8", "Cachemap"},
                                       {"cache --lang de", "C", "Cache-Ordner"}, {"cache", "nl_BE.UTF-8", "Cachemap"},
                                       {"cache", "de_CH.UTF-8", "Cache-Ordner"}, {"cache", "fr_FR.UTF-8", "Cache folder"},
                                       {"--lang 2055 cache", "nl_NL.UTF-8", "Cache folder"}}) {
        h.run(args, out, err, lang);
        EXPECT_EQ(out, std::string(caption) + ": " + cache + "\n") << args << " " << lang;
    }
    EXPECT_EQ(iniValue(h.userConf(), "Software/Morvenick/Harvestrix/TCache"), cache);
    // Nothing is left in the home folder beyond the settings and the cache.
    EXPECT_FALSE(fs::exists(h.home() + "/Recovered"));
}

namespace {
// Every file below `folder` with its bytes, to compare before and after.
std::string snapshot(const fs::path& folder) {
    std::string all;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file(ec)) all += it->path().string() + "\n" + ReadFile(it->path()) + "\n";
    return all;
}
}  // namespace

TEST(CliStartup, TheMachineSettingsAreReadButNeverWrittenEvenByRoot) {
    Home h;
    std::string out, err;
    // A machine folder the run could write to (as root can /etc/xdg), with a default in it.
    const fs::path etc = h.dir.path() / "etc-xdg";
    const std::string shared = h.dir.path().string() + "/shared/QXCache/";
    fs::create_directories(shared);
    WriteFile(etc / "Morvenick" / "Harvestrix.conf", "[Software]\nMorvenick\\Harvestrix\\TCache=" + shared + "\n");
    const std::string before = snapshot(etc);
    // A first run takes the machine's default cache.
    ASSERT_EQ(h.run("cache", out, err, "C", etc.string()), 0) << err;
    EXPECT_EQ(out, "Cache folder: " + shared + "\n");
    // A cache of the user's own goes to the user's file only.
    const std::string other = h.dir.path().string() + "/disk2";
    ASSERT_EQ(h.run("cache --cache " + other, out, err, "C", etc.string()), 0) << err;
    EXPECT_EQ(snapshot(etc), before);
    EXPECT_EQ(iniValue(h.userConf(), "Software/Morvenick/Harvestrix/TCache"), other + "/QXCache/");

    // The real one: a run with the system's folders leaves /etc/xdg as it was.
    const std::string system = snapshot("/etc/xdg");
    ASSERT_EQ(h.run("cache --cache " + other, out, err, "C", ""), 0) << err;
    EXPECT_EQ(snapshot("/etc/xdg"), system);
}

TEST(CliStartup, CacheOptionAndRememberedCaches) {
    Home h;
    std::string out, err;
    const std::string first = h.home() + "/.cache/QXCache/";
    ASSERT_EQ(h.run("cache", out, err), 0);
    WriteFile(first + "R#0000.jpg", "found");

    // --cache DIR: DIR/QXCache/ becomes the cache, the old one (with files) the previous.
    const std::string other = h.dir.path().string() + "/disk2";
    ASSERT_EQ(h.run("cache --json --cache " + other, out, err), 0) << err;
    EXPECT_NE(out.find("\"cache\":\"" + other + "/QXCache/\""), std::string::npos) << out;
    EXPECT_EQ(iniValue(h.userConf(), "Software/Morvenick/Harvestrix/TCache"), other + "/QXCache/");
    EXPECT_EQ(iniValue(h.userConf(), "Software/Morvenick/Harvestrix/OCache"), first);
    // Which remembered cache wins is the start-up's rule, tested with it;
    // here only that the next run reads what this one wrote.
    h.run("cache", out, err);
    EXPECT_EQ(out, "Cache folder: " + first + "\n") << "an empty cache gives way to the previous one";
    EXPECT_EQ(err, "");
}

TEST(CliStartup, CleanAndUninstall) {
    Home h;
    std::string out, err;
    const std::string cache = h.home() + "/.cache/QXCache/";
    const std::string data = h.home() + "/.local/share/Harvestrix/";
    ASSERT_EQ(h.run("cache", out, err), 0);
    WriteFile(cache + "R#0000.jpg", "x");
    WriteFile(cache + "Thumbs/R0000jpg.jpg", "x");
    WriteFile(data + "QXRecdt/Lastpict.bmp", "x");
    WriteFile(data + "notes.txt", "mine");

    // Without --yes and without a terminal nothing is deleted.
    EXPECT_EQ(h.run("clean", out, err), 1);
    EXPECT_TRUE(fs::exists(cache + "R#0000.jpg"));
    ASSERT_EQ(h.run("clean --yes", out, err), 0) << err;
    EXPECT_EQ(out, "2 files removed from the cache.\n");
    EXPECT_FALSE(fs::exists(cache + "R#0000.jpg"));

    WriteFile(cache + "R#0001.jpg", "x");
    ASSERT_EQ(h.run("uninstall --yes", out, err), 0) << err;
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_FALSE(fs::exists(data + "QXRecdt"));
    EXPECT_EQ(ReadFile(data + "notes.txt"), "mine");
    EXPECT_TRUE(fs::exists(h.home() + "/.cache"));
}
