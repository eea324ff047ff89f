#include "shell/WindowCommands.h"

#include <gtest/gtest.h>

#include "fixtures/ScriptedUi.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"

using namespace hx::shell;
using hx::platform::DriveEntry;
using hx::test::ScriptedUi;

namespace {

DriveEntry drive(const std::string& id, const std::string& type, bool ready = true) {
    DriveEntry d;
    d.id = id;
    d.typeName = type;
    d.ready = ready;
    d.removable = type == "Removable";
    return d;
}

}  // namespace

TEST(BusyState, RunningCommandReadsStopAndOthersAreRefused) {
    ScriptedUi ui;
    BusyState busy;
    EnterBusy(ui, busy, "CmdScan");
    EXPECT_TRUE(busy.busy);
    EXPECT_EQ(ui.captions["CmdScan"], "Stop");
    EXPECT_TRUE(ui.enabled["CmdScan"]);
    EXPECT_FALSE(ui.enabled["CmdQuickUndelete"]);
    EXPECT_FALSE(ui.enabled["Drive1"]);
    EXPECT_EQ(ui.enabled.count("CmdEnd"), 0u) << "the close command stays usable";

    LeaveBusy(ui, busy, "Scan");
    EXPECT_FALSE(busy.busy);
    EXPECT_EQ(ui.captions["CmdScan"], "Scan");
    EXPECT_TRUE(ui.enabled["CmdQuickUndelete"]);
}

TEST(SelectRemovableDrive, FirstReadyRemovableElseCurrentElseFirst) {
    std::vector<DriveEntry> drives = {drive("/dev/sda1", "Fixed"), drive("/dev/sr0", "CDRom"),
                                      drive("/dev/sdb1", "Removable", false), drive("/dev/sdc1", "Removable")};
    EXPECT_EQ(SelectRemovableDrive(drives, "/dev/sda1"), "/dev/sdc1");
    drives.pop_back();
    EXPECT_EQ(SelectRemovableDrive(drives, "/dev/sr0"), "/dev/sr0");
    EXPECT_EQ(SelectRemovableDrive(drives, ""), "/dev/sda1");
    EXPECT_EQ(SelectRemovableDrive({}, ""), "");
}

// A tick's answer in one line: the next interval, then what it asks for.
std::string said(const DriveWatcher::Tick& t) {
    return std::to_string(t.intervalMs) + (t.refreshVisible ? " refresh" : "") +
           (t.select ? " select " + *t.select : "") + (t.applyPendingSelection ? " pending" : "");
}

TEST(DriveWatcher, NewMediumIsSelectedAfterSettling) {
    DriveWatcher w;
    std::vector<DriveEntry> one = {drive("/dev/sda1", "Fixed")};
    EXPECT_EQ(said(w.tick(false, false, true, 1, one)), "2000");

    auto two = one;
    two.push_back(drive("/tmp/card.img", "Removable"));
    EXPECT_EQ(said(w.tick(false, false, true, 1, two)), "3000");  // noticed: wait for it to settle
    EXPECT_EQ(said(w.tick(false, false, true, 1, two)), "2000 refresh select /tmp/card.img");

    // A fixed disk that appears is listed but not selected.
    auto fixed = one;
    fixed.push_back(drive("/dev/sdd", "Fixed"));
    w.tick(false, false, true, 1, fixed);
    EXPECT_EQ(said(w.tick(false, false, true, 1, fixed)), "2000 refresh");

    // A medium that goes away refreshes the list at once.
    EXPECT_EQ(said(w.tick(false, false, true, 2, one)), "2000 refresh");
}

TEST(DriveWatcher, BacksOffWhileBusyAndAppliesPendingSelectionFirst) {
    DriveWatcher w;
    std::vector<DriveEntry> two = {drive("a", "Fixed"), drive("b", "Removable")};
    EXPECT_EQ(said(w.tick(false, true, true, 1, two)), "10000");
    const auto pending = w.tick(true, false, true, 1, two);
    EXPECT_TRUE(pending.applyPendingSelection);
    EXPECT_FALSE(pending.refreshVisible);
    // A disabled drive list is left alone.
    EXPECT_EQ(said(w.tick(false, false, false, 1, two)), "2000");
}

TEST(ColourScheme, ChosenByTheWordsInTheEntry) {
    EXPECT_EQ(SchemeFromEntry("Hide Me"), ColourScheme::Hide);
    EXPECT_EQ(SchemeFromEntry("Layout Dark"), ColourScheme::Dark);
    EXPECT_EQ(SchemeFromEntry("Layout Light"), ColourScheme::Light);
    EXPECT_EQ(SchemeFromEntry("System Theme"), ColourScheme::System);
    // Every language's entries, whatever case their words take.
    for (int lang : {kLangEnglish, kLangDutch, kLangGerman}) {
        SetCurrentLanguage(lang);
        const auto& e = ColourEntries();
        EXPECT_EQ(SchemeFromEntry(LoadStr(e[1].id, e[1].english)), ColourScheme::Dark) << lang;
        EXPECT_EQ(SchemeFromEntry(LoadStr(e[2].id, e[2].english)), ColourScheme::Light) << lang;
        EXPECT_EQ(SchemeFromEntry(LoadStr(e[3].id, e[3].english)), ColourScheme::System) << lang;
    }
    SetCurrentLanguage(kLangEnglish);
    EXPECT_TRUE(ColoursOf(ColourScheme::Dark) && ColoursOf(ColourScheme::Light));
    EXPECT_FALSE(ColoursOf(ColourScheme::System));
}

TEST(CloseCommand, IdleExitsAndBusyScanIsAskedToStop) {
    ScriptedUi ui;
    BusyState idle;
    EXPECT_EQ(CloseCommand(ui, idle), CloseStep::Exit);
    EXPECT_EQ(ui.captions["CmdEnd"], "Closing...");

    BusyState scan;
    EnterBusy(ui, scan, "CmdScan");
    EXPECT_EQ(CloseCommand(ui, scan), CloseStep::WaitForStop);
    EXPECT_TRUE(scan.stopping);
    EXPECT_EQ(ui.captions["CmdEnd"], "Still busy. Finishing");

    // An operation that must not be cut short is waited for, not stopped.
    BusyState boot;
    EnterBusy(ui, boot, "CmdScan");
    boot.uninterruptible = true;
    EXPECT_EQ(CloseCommand(ui, boot), CloseStep::WaitForStop);
    EXPECT_FALSE(boot.stopping);

    BusyState wipe;
    wipe.busy = true;
    wipe.operation = "wipe";
    ui.captions["CmdScan"] = "Scan";
    EXPECT_EQ(CloseCommand(ui, wipe), CloseStep::WaitForStop);
    EXPECT_TRUE(wipe.stopping);
}

TEST(WindowOptions, AttachCacheAndOldSwitches) {
    auto o = ParseWindowOptions({"--attach", "/tmp/a.img,removable,label=CARD", "--attach=/tmp/b.img", "--cache",
                                 "/tmp/c", "--lang", "1031"});
    ASSERT_EQ(o.attaches.size(), 2u);
    EXPECT_EQ(o.attaches[0], "/tmp/a.img,removable,label=CARD");
    EXPECT_EQ(o.attaches[1], "/tmp/b.img");
    EXPECT_EQ(o.cacheDir.value_or(""), "/tmp/c");
    EXPECT_EQ(o.language.value_or(0), 1031);

    // The old switches stay in the line for the start-up steps; an image path
    // that contains a switch word is only an image.
    o = ParseWindowOptions({"1043", "language", "--attach", "/tmp/cache-language-uninstall.img", "cache=/e"});
    EXPECT_EQ(o.commandLine, "1043 language cache=/e");
    EXPECT_FALSE(o.language);
    EXPECT_FALSE(o.cacheDir);
    EXPECT_EQ(o.attaches.size(), 1u);
    EXPECT_FALSE(o.singleInstance);
}

TEST(WindowText, TheTypeTooltipNamesTheSizeLimits) {
    EXPECT_EQ(TypeSelectTooltip(0, 0), "Select File Types");
    EXPECT_EQ(TypeSelectTooltip(1.5, 25), "Limited file size: 1.5-25 MB");
}

TEST(SizeLimits, TypedLimitsAreReadAsTheBoxAsks) {
    using hx::shell::SizeLimitAnswer;
    double low = 3, high = 7;
    EXPECT_EQ(hx::shell::ParseSizeLimits(" 1,5-25 ", low, high), SizeLimitAnswer::Set);
    EXPECT_DOUBLE_EQ(low, 1.5);
    EXPECT_DOUBLE_EQ(high, 25);
    EXPECT_EQ(hx::shell::ParseSizeLimits("0", low, high), SizeLimitAnswer::Set);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 0);
    low = 3, high = 7;
    // Nothing typed, or numbers that do not read: the limits stay.
    for (const char* kept : {"", "   ", "a-b", "1..5-2", "-"}) {
        EXPECT_EQ(hx::shell::ParseSizeLimits(kept, low, high), SizeLimitAnswer::Unchanged) << kept;
        EXPECT_EQ(low, 3);
        EXPECT_EQ(high, 7);
    }
    EXPECT_EQ(hx::shell::ParseSizeLimits("12", low, high), SizeLimitAnswer::AskAgain);

    // The box is asked again until the answer holds a "-".
    hx::test::ScriptedUi ui;
    ui.inputs = {std::string("12"), std::string("0,5-2")};
    EXPECT_TRUE(hx::shell::AskSizeLimits(ui, low, high));
    EXPECT_DOUBLE_EQ(low, 0.5);
    EXPECT_DOUBLE_EQ(high, 2);
    EXPECT_EQ(hx::shell::SizeLimitStatus(low, high), "Limited: file size 0.5-2 MB");
    EXPECT_EQ(hx::shell::SizeLimitStatus(0, 0), "File sizes: unlimited");
    EXPECT_NE(hx::shell::SizeLimitEntry(0, 0).find("file size"), std::string::npos);
    EXPECT_NE(hx::shell::SizeLimitEntry(0.5, 2).find("file size"), std::string::npos);
}
