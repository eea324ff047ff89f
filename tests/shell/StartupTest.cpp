#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "fixtures/ShellSandbox.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"

using namespace hx::shell;
using namespace hx::platform;
using hx::test::TempDir;
using hx::test::WriteFile;
namespace fs = std::filesystem;

namespace {

struct Sandbox : hx::test::ShellSandbox {
    StartupOptions options;
    Sandbox() : ShellSandbox("hx-startup") { options.endStrayProcesses = false; }
    // The start-up steps without the rights notice, which would ask about the drive.
    StepSequence startup() {
        auto steps = EngineStartupSteps(state, ui, options);
        steps.remove("RightsCheck");
        return steps;
    }
};

// A child process running `program` (a copy of sleep under another name).
pid_t spawn(const fs::path& program) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.filename().c_str(), "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the kernel shows the new name.
    for (int i = 0; i < 200; ++i) {
        std::string comm = hx::test::ReadFile("/proc/" + std::to_string(pid) + "/comm");
        if (comm.rfind(program.filename().string().substr(0, 15), 0) == 0) break;
        ::usleep(10000);
    }
    return pid;
}

bool reaped(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        ::usleep(10000);
    }
    return false;
}

}  // namespace

TEST(StepSequence, FailingStepsAreSkippedAndQuitStops) {
    std::vector<std::string> ran;
    StepSequence s;
    s.add("a", [&] { ran.push_back("a"); return StepResult::Done; });
    s.add("b", [&]() -> StepResult { ran.push_back("b"); throw std::runtime_error("broken"); });
    s.add("c", [&] { ran.push_back("c"); return StepResult::Failed; });
    s.add("d", [&] { ran.push_back("d"); return StepResult::Done; });
    ASSERT_TRUE(s.insertBefore("c", "b2", [&] { ran.push_back("b2"); return StepResult::Done; }));
    ASSERT_TRUE(s.insertAfter("d", "e", [&] { ran.push_back("e"); return StepResult::Quit; }));
    s.add("f", [&] { ran.push_back("f"); return StepResult::Done; });
    EXPECT_FALSE(s.insertAfter("nope", "x", {}));
    EXPECT_FALSE(s.run());
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "b2", "c", "d", "e"}));
    ASSERT_EQ(s.outcomes().size(), 6u);
    EXPECT_EQ(s.outcomes()[1].error, "broken");
    EXPECT_EQ(s.outcomes()[3].result, StepResult::Failed);

    ASSERT_TRUE(s.remove("e"));
    ran.clear();
    EXPECT_TRUE(s.run());
    EXPECT_EQ(ran.back(), "f");
}

TEST(Startup, SwitchesLanguageAndCache) {
    Sandbox s;
    const std::string oldCache = s.p("old/QXCache/");
    WriteFile(oldCache + "R#0000.jpg", "x");
    s.store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "TCache", oldCache);
    s.store.setWritable(RegRoot::LocalMachine, false);
    s.store.setWritable(RegRoot::Users, false);
    s.state.commandLine = "1043 language cache=" + s.p("new");
    s.options.systemLanguage = 1036;

    auto steps = s.startup();
    EXPECT_TRUE(steps.run());
    for (const auto& o : steps.outcomes()) EXPECT_EQ(o.result, StepResult::Done) << o.name << " " << o.error;
    EXPECT_EQ(CurrentLanguage(), kLangDutch);
    EXPECT_EQ(GetSetting(s.store, kLangId), "1043");
    EXPECT_EQ(s.state.regRoot, RegRoot::CurrentUser);
    EXPECT_EQ(s.state.cache, s.p("new/QXCache/"));
    EXPECT_EQ(s.state.oCache, oldCache);  // it holds files, so it is remembered
    EXPECT_TRUE(s.ui.messages.empty());
    EXPECT_TRUE(fs::is_directory(s.state.thumbs));

    // Exit writes it all back and tidies up.
    WriteFile(s.state.temp / "scratch.tif", "x");
    WriteFile(s.state.cache / "EDirEnt.dat", "x");
    WriteFile(s.state.cache / "DirEnt.dat.keep", "x");
    WriteFile(s.state.programFolder / "temp0001.bmp", "x");
    WriteFile(s.state.picture / "Lastpict1.bmp", "x");
    WriteFile(s.state.picture / "Lastpict.bmp", "x");
    s.state.resultView = "1";
    EXPECT_TRUE(EngineExitSteps(s.state, s.ui, s.options).run());
    EXPECT_EQ(s.store.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), s.p("new/QXCache/"));
    EXPECT_EQ(s.store.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "OCache"), oldCache);
    EXPECT_EQ(GetSetting(s.store, kResultView), "1");
    EXPECT_EQ(GetSetting(s.store, kLastStage), "0");
    EXPECT_FALSE(fs::exists(s.state.temp / "scratch.tif"));
    EXPECT_FALSE(fs::exists(s.state.cache / "EDirEnt.dat"));
    EXPECT_TRUE(fs::exists(s.state.cache / "DirEnt.dat.keep"));
    EXPECT_FALSE(fs::exists(s.state.programFolder / "temp0001.bmp"));
    EXPECT_FALSE(fs::exists(s.state.picture / "Lastpict1.bmp"));
    EXPECT_TRUE(fs::exists(s.state.picture / "Lastpict.bmp"));
    EXPECT_FALSE(fs::exists(s.state.save));  // empty, so removed
}

TEST(Startup, SwitchParsing) {
    const char* argv[] = {"harvestrix", "1043", "Language", "cache=/media/u/CARD/my photos "};
    const std::string line = CommandLineOf(4, argv);
    EXPECT_EQ(line, "1043 Language cache=/media/u/CARD/my photos ");
    EXPECT_TRUE(HasSwitch(line, "language"));
    EXPECT_FALSE(HasSwitch(line, "uninstall"));
    bool hasCache = false, hasEquals = false;
    EXPECT_EQ(CacheSwitchFolder(line, hasCache, hasEquals), "/media/u/CARD/my photos");
    EXPECT_TRUE(hasCache && hasEquals);
    EXPECT_EQ(CacheSwitchFolder("CACHE", hasCache, hasEquals), "");
    EXPECT_TRUE(hasCache);
    EXPECT_FALSE(hasEquals);
    EXPECT_EQ(CacheSwitchFolder("x=1", hasCache, hasEquals), "");
    EXPECT_FALSE(hasCache);
}

TEST(Startup, CacheSwitchWithoutFolderAsksAndUninstallQuits) {
    Sandbox s;
    s.state.commandLine = "cache";
    s.ui.inputs = {s.p("asked")};
    auto steps = s.startup();
    EXPECT_TRUE(steps.run());
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].text, "Cache:");
    EXPECT_EQ(s.ui.messages[0].title, "Harvestrix Cache");
    EXPECT_EQ(s.state.cache, s.p("asked/QXCache/"));

    WriteFile(s.state.cache / "R#0000.jpg", "x");
    WriteFile(s.state.programFolder / "bin" / "dcraw", "x");
    WriteFile(s.state.programFolder / "Harvestrix.res", "HXRES 1\n");
    s.state.commandLine = "uninstall";
    auto again = EngineStartupSteps(s.state, s.ui, s.options);
    EXPECT_FALSE(again.run());
    EXPECT_EQ(again.outcomes().back().name, "CommandLineSwitches");
    EXPECT_FALSE(fs::exists(s.p("asked/QXCache")));
    EXPECT_TRUE(fs::exists(s.p("asked")));
    EXPECT_FALSE(fs::exists(s.state.programFolder / "bin"));
    EXPECT_TRUE(fs::exists(s.state.programFolder / "Harvestrix.res"));
}

TEST(Startup, ManualOfTheChosenLanguageIsInstalled) {
    Sandbox s;
    const fs::path manual = s.state.programFolder / "Manual";
    WriteFile(manual / "Nederlands" / "Manual.htm", std::string(40000, 'n'));
    WriteFile(manual / "Deutsch" / "Manual.htm", std::string(40000, 'd'));
    s.state.commandLine = "1031 language";
    s.startup().run();
    EXPECT_EQ(hx::test::ReadFile(manual / "Manual.htm")[0], 'd');
    EXPECT_FALSE(InstallManual(s.state.programFolder, kLangEnglish));  // not there

    // Same language and a full manual: left alone.
    WriteFile(manual / "Manual.htm", std::string(36000, 'x'));
    s.startup().run();
    EXPECT_EQ(hx::test::ReadFile(manual / "Manual.htm")[0], 'x');
    s.state.commandLine = "1043 language";
    s.startup().run();
    EXPECT_EQ(hx::test::ReadFile(manual / "Manual.htm")[0], 'n');
}

TEST(Startup, ResourceFileInTheProgramFolderIsUsed) {
    Sandbox s;
    ResetStrings();
    WriteFile(s.state.programFolder / "Harvestrix.res", "HXRES 1\n[1043]\n1812=Eigen cache: %0\n");
    s.state.commandLine = "1043 language";
    s.startup().run();
    EXPECT_EQ(LoadStr(1812, "Cache folder: %0"), "Eigen cache: %0");
    EXPECT_EQ(LoadStr(1406, "Drive %0 not ready."), "Drive %0 not ready.");  // the file has no such text
    ResetStrings();
}

TEST(Startup, LanguageFromTheSystem) {
    for (auto [system, expected] : {std::pair{2055, kLangGerman}, {1036, kLangEnglish}, {2067, kLangDutch}}) {
        Sandbox s;
        s.options.systemLanguage = system;
        s.startup().run();
        EXPECT_EQ(s.state.languageId, expected) << system;
    }
}

TEST(SingleInstance, AskAndEndTheOtherOne) {
    Sandbox s;
    const fs::path sleeper = s.dir / "hx-sleeper";
    fs::copy_file("/bin/sleep", sleeper);
    const fs::path pidFile = s.dir / "harvestrix.pid";

    // Cancel: quit and leave it running.
    pid_t other = spawn(sleeper);
    WriteFile(pidFile, std::to_string(other) + "\n");
    s.ui.answers = {Answer::Cancel};
    EXPECT_EQ(CheckSingleInstance(s.state, s.ui, pidFile, "hx-no-such-program"), StepResult::Quit);
    ASSERT_EQ(s.ui.messages.size(), 1u);
    EXPECT_EQ(s.ui.messages[0].title, "Harvestrix Start");
    EXPECT_EQ(s.ui.messages[0].text,
              "Terminating running previous instances and/or processes.\n\n\nDo you want to continue?");
    EXPECT_EQ(s.ui.messages[0].options.buttons, Buttons::YesNoCancel);
    EXPECT_EQ(GetSetting(s.store, kResultView), "0");
    EXPECT_EQ(::kill(other, 0), 0);

    // Found by its name too; Yes ends it and goes on, and the file names us.
    std::remove(pidFile.c_str());
    s.ui.answers = {Answer::Yes};
    EXPECT_EQ(CheckSingleInstance(s.state, s.ui, pidFile, "hx-sleeper"), StepResult::Done);
    EXPECT_TRUE(reaped(other));
    EXPECT_EQ(std::stol(hx::test::ReadFile(pidFile)), ::getpid());

    // No: ends it and quits.
    other = spawn(sleeper);
    WriteFile(pidFile, std::to_string(other));
    s.ui.answers = {Answer::No};
    EXPECT_EQ(CheckSingleInstance(s.state, s.ui, pidFile, "hx-no-such-program"), StepResult::Quit);
    EXPECT_TRUE(reaped(other));

    // Alone (the file names a dead process): no question; release removes our file.
    s.ui.messages.clear();
    EXPECT_EQ(CheckSingleInstance(s.state, s.ui, pidFile, "hx-no-such-program"), StepResult::Done);
    EXPECT_TRUE(s.ui.messages.empty());
    ReleaseInstance(pidFile);
    EXPECT_FALSE(fs::exists(pidFile));
}

TEST(Processes, LeftoversOfOurUserAreEndedButNeverOurselves) {
    TempDir dir;
    const fs::path fake = dir / "hx-dcraw-left";
    fs::copy_file("/bin/sleep", fake);
    pid_t child = spawn(fake);
    auto found = FindOwnProcesses({"HX-DCRAW-LEFT"});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pid, child);
    EXPECT_TRUE(EndProcess(found[0].pid, 500));
    EXPECT_TRUE(reaped(child));
    // Our own process matches its own name, yet is never listed or ended.
    // (Other copies of this test program may come and go meanwhile: look once.)
    const std::string self = hx::test::ReadFile("/proc/self/comm");
    for (const auto& p : FindOwnProcesses({self.substr(0, self.find('\n'))})) EXPECT_NE(p.pid, ::getpid());
    EXPECT_FALSE(EndProcess(::getpid()));
}

TEST(RightsNotice, AskedOnceAndRemembered) {
    Sandbox s;
    s.ui.answers = {Answer::No};
    EXPECT_FALSE(CheckDriveRights(s.state, s.ui, "/dev/sdz", true));
    ASSERT_EQ(s.ui.messages.size(), 1u);
    const auto& m = s.ui.messages[0];
    EXPECT_EQ(m.options.buttons, Buttons::YesNo);
    EXPECT_NE(m.text.find("/dev/sdz: Drive protected."), std::string::npos);
    EXPECT_NE(m.text.find("group 'disk'"), std::string::npos);
    EXPECT_NE(m.text.find("Do you want to abort operation and close Harvestrix now?"), std::string::npos);
    EXPECT_EQ(GetSetting(s.store, kVShown), "-1");
    // Declined once: not shown again unless forced. A missing drive is no rights matter.
    EXPECT_FALSE(CheckDriveRights(s.state, s.ui, "/dev/sdz", false));
    SaveSetting(s.store, kVShown, "");
    EXPECT_FALSE(CheckDriveRights(s.state, s.ui, s.p("no-such-image.img"), false));
    EXPECT_EQ(s.ui.messages.size(), 1u);
    s.ui.answers = {Answer::Yes};
    EXPECT_TRUE(CheckDriveRights(s.state, s.ui, "", true));
}

TEST(MessageBoxRules, SelfClosingTimesAndFallback) {
    EXPECT_EQ(SelfClosingSeconds(0), 0);
    EXPECT_EQ(SelfClosingSeconds(1), 10);
    EXPECT_EQ(SelfClosingSeconds(64), 4);
    EXPECT_EQ(SelfClosingSeconds(259), 10);
    EXPECT_EQ(SelfClosingSeconds(518), 16);
    EXPECT_EQ(SelfClosingSeconds(259 + 64), 10);
    EXPECT_EQ(SelfClosingCaption(), "SelfClosing");

    SelfClosingGuard guard;
    MessageOptions asked{Buttons::OKCancel, Icon::Information, 1};
    EXPECT_EQ(EffectiveOptions(asked, guard).buttons, Buttons::OK);
    EXPECT_FALSE(guard.returnedAfter(4.2));
    EXPECT_TRUE(guard.selfClosingAllowed());
    EXPECT_TRUE(guard.returnedAfter(0.3));  // show again, plainly
    EXPECT_FALSE(guard.selfClosingAllowed());
    EXPECT_EQ(EffectiveOptions({Buttons::OK, Icon::None, 259}, guard).selfClosingStyle, 0);
}
