#include <gtest/gtest.h>

#include <tuple>

#include "fixtures/TempDir.h"
#include "shell/IniFile.h"
#include "shell/IniSettingsStore.h"
#include "shell/Settings.h"

using namespace hx::shell;
using hx::test::ReadFile;
using hx::test::TempDir;
using hx::test::WriteFile;

namespace {

StoredSettings sample() {
    return {.homePath = "/home/u/.local/share/Harvestrix/", .browseFolder = "/media/u/CARD/DCIM/",
            .saveAsFolder = "/home/u/Pictures/", .saveFolder = "/home/u/Recovered/", .imageFolder = "/home/u/DiskImages/",
            .tCache = "/home/u/.cache/QXCache/", .oCache = "/mnt/usb, 2/QXCache/", .o2Cache = "", .top = 120,
            .left = -30, .width = 12000, .height = 9000, .colourScheme = 2, .thumbWidth = 160, .scanDrive = "/dev/sdb1",
            .scanDriveSerial = "1234-ABCD", .startDrive = "/dev/sdb1", .thumbNumber = 77, .lsb = 5, .showSpecs = true,
            .typeSelection = 3, .maxMB = 2.5, .minMB = 1, .ust = " kept as is ",
            .typeRows = {{"JPG", true}, {"CR2", false}, {"A,B", true}}};
}

// Every field at once, so that a round trip compares (and prints) them all.
auto fields(const StoredSettings& s) {
    std::vector<std::pair<std::string, bool>> rows;
    for (const auto& r : s.typeRows) rows.emplace_back(r.text, r.checked);
    return std::make_tuple(s.homePath, s.browseFolder, s.saveAsFolder, s.saveFolder, s.imageFolder, s.tCache, s.oCache,
                           s.o2Cache, s.top, s.left, s.width, s.height, s.colourScheme, s.thumbWidth, s.scanDrive,
                           s.scanDriveSerial, s.startDrive, s.thumbNumber, s.lsb, s.showSpecs, s.typeSelection, s.maxMB,
                           s.minMB, s.ust, rows);
}

}  // namespace

TEST(Settings, WrittenInOrderAndReadBack) {
    MemorySettingsStore store;
    // Leftovers of an older run: a value no longer written and more type rows.
    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "Obsolete", "x");
    store.WriteRegValue(RegRoot::CurrentUser, std::string(kProgramKey) + "\\LVW", "009", "OLD,True");
    ASSERT_TRUE(CreateRegistryEntries(store, RegRoot::CurrentUser, sample(), "1"));

    const std::vector<std::string> order = {"HomePath", "BRD", "LBR", "LUD", "BUD", "TCache", "OCache", "O2Cache",
                                            "MT", "ML", "MW", "MH", "CL", "TW", "SD", "SDVS", "DRVe", "THnr",
                                            "LSB", "CHKSpec", "TypeSel", "LMaxMB", "LMinMB", "UST"};
    EXPECT_EQ(store.valueNames(RegRoot::CurrentUser, kProgramKey), order);
    const std::string lvw = std::string(kProgramKey) + "\\LVW";
    EXPECT_EQ(store.valueNames(RegRoot::CurrentUser, lvw), (std::vector<std::string>{"LVWC", "001", "002", "003"}));
    EXPECT_EQ(store.ReadRegValue(RegRoot::CurrentUser, lvw, "002"), "CR2,False");
    EXPECT_EQ(store.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "LMaxMB"), "2.5#");
    EXPECT_EQ(GetSetting(store, kResultView), "1");

    EXPECT_EQ(fields(LoadSettings(store, RegRoot::CurrentUser)), fields(sample()));
}

TEST(Settings, FirstStartAndOddValues) {
    MemorySettingsStore store;
    StoredSettings s = LoadSettings(store, RegRoot::CurrentUser);
    EXPECT_EQ(s.width, kDefaultWindowWidth);
    EXPECT_EQ(s.typeSelection, -1);
    EXPECT_TRUE(s.typeRows.empty());

    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "MW", "0");
    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "MH", "not a number");
    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "LMaxMB", "2,5#");
    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "LMinMB", "#");
    store.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "TW", "120px");
    // A row count larger than the rows present reads what is there.
    store.WriteRegValue(RegRoot::CurrentUser, std::string(kProgramKey) + "\\LVW", "LVWC", "5");
    store.WriteRegValue(RegRoot::CurrentUser, std::string(kProgramKey) + "\\LVW", "002", "NEF,-1");
    s = LoadSettings(store, RegRoot::CurrentUser);
    EXPECT_EQ(s.width, kDefaultWindowWidth);
    EXPECT_EQ(s.height, 0);
    EXPECT_DOUBLE_EQ(s.maxMB, 2.5);
    EXPECT_DOUBLE_EQ(s.minMB, 0);
    EXPECT_EQ(s.thumbWidth, 120);
    ASSERT_EQ(s.typeRows.size(), 1u);
    EXPECT_EQ(s.typeRows[0].text, "NEF");
    EXPECT_TRUE(s.typeRows[0].checked);

    EXPECT_EQ(ParseLeadingNumber(" -12.5x").value_or(0), -12.5);
    EXPECT_FALSE(ParseLeadingNumber("x12").has_value());
    EXPECT_FALSE(ParseLeadingNumber("-").has_value());
}

TEST(Settings, RootChoiceSkipsUnwritableMachineKeyAndIsRemembered) {
    MemorySettingsStore store;
    store.setWritable(RegRoot::LocalMachine, false);
    store.setWritable(RegRoot::Users, false);
    RegRoot root = ChooseRegistryRoot(store, false);
    EXPECT_EQ(root, RegRoot::CurrentUser);
    EXPECT_EQ(GetSetting(store, kRegSetting), "HKCU");
    CreateRegistryEntries(store, root, sample(), "0");

    // Next start: the remembered root is used even once the machine key is writable.
    store.setWritable(RegRoot::LocalMachine, true);
    EXPECT_EQ(ChooseRegistryRoot(store, false), RegRoot::CurrentUser);
    EXPECT_EQ(LoadSettings(store, ChooseRegistryRoot(store, false)).tCache, sample().tCache);
    // "clean" chooses again.
    EXPECT_EQ(ChooseRegistryRoot(store, true), RegRoot::LocalMachine);
    EXPECT_EQ(GetSetting(store, kRegSetting), "HKLM");
}

TEST(IniFile, ValuesSurviveTheFile) {
    TempDir dir;
    const auto file = dir / "sub" / "t.conf";
    IniFile ini;
    const std::vector<std::pair<std::string, std::string>> values = {
        {"Top", "plain"},
        {"Software/Morvenick/Harvestrix/LVW/001", "JPG,True"},
        {"Software/Morvenick/Harvestrix/UST", "  blanks ; = \"quoted\" back\\slash "},
        {"Software/Morvenick/Harvestrix/Multi", "line1\nline2\ttab"},
        {"Software/Morvenick/Harvestrix/At", "@home"},
        {"Software/Morvenick/Harvestrix/Empty", ""},
        {"Morvenick/Harvestrix/Reg", "HKCU"},
        {"Morvenick/Harvestrix/Ümlaut key", "äöü €"}};
    for (auto& [k, v] : values) ini.setValue(k, v);
    ASSERT_TRUE(ini.save(file));
    IniFile back;
    ASSERT_TRUE(back.load(file));
    for (auto& [k, v] : values) EXPECT_EQ(back.value(k).value_or("<missing>"), v) << k;

    // The layout QSettings writes: first part as the section, the rest with backslashes.
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("[General]\nTop=plain\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Software]\n"), std::string::npos);
    EXPECT_NE(text.find("Morvenick\\Harvestrix\\LVW\\001=\"JPG,True\"\n"), std::string::npos) << text;

    EXPECT_TRUE(back.remove("Software/Morvenick/Harvestrix/LVW"));
    EXPECT_FALSE(back.value("Software/Morvenick/Harvestrix/LVW/001"));
    EXPECT_TRUE(back.value("Software/Morvenick/Harvestrix/UST"));

    // Files QSettings wrote with sections of their own, comments and CRLF.
    WriteFile(file, "; comment\r\n[General]\r\nA=1\r\n[Software/Morvenick]\r\nX = \"a,b\"  \r\nbroken line\r\n");
    ASSERT_TRUE(back.load(file));
    EXPECT_EQ(back.value("A").value_or(""), "1");
    EXPECT_EQ(back.value("Software/Morvenick/X").value_or(""), "a,b");
}

TEST(IniSettingsStore, FallsBackToUserFileAndFindsItAgain) {
    TempDir dir;
    WriteFile(dir / "not-a-folder", "x");
    IniStorePaths paths;
    paths.localMachine = dir / "not-a-folder" / "Morvenick" / "Harvestrix.conf";  // cannot be made
    paths.currentUser = dir / "home" / "Morvenick" / "Harvestrix.conf";
    paths.appSettings = dir / "home" / "Morvenick" / "AppSettings.conf";
    {
        IniSettingsStore store(paths);
        RegRoot root = ChooseRegistryRoot(store, false);
        EXPECT_EQ(root, RegRoot::CurrentUser);
        ASSERT_TRUE(CreateRegistryEntries(store, root, sample(), "1"));
    }
    IniSettingsStore again(paths);
    RegRoot root = ChooseRegistryRoot(again, false);
    EXPECT_EQ(root, RegRoot::CurrentUser);
    EXPECT_EQ(fields(LoadSettings(again, root)), fields(sample()));
    EXPECT_EQ(GetSetting(again, kResultView), "1");
    EXPECT_FALSE(std::filesystem::exists(paths.localMachine));

    // The machine-wide file gives defaults but is never written, even where
    // it could be (a run as root): the choice stays the user's.
    paths.localMachine = dir / "etc" / "Morvenick" / "Harvestrix.conf";
    WriteFile(paths.localMachine, "[Software]\nMorvenick\\Harvestrix\\Lang=19\n");
    const std::string machineBefore = ReadFile(paths.localMachine);
    IniSettingsStore machine(paths);
    EXPECT_EQ(ChooseRegistryRoot(machine, true), RegRoot::CurrentUser);
    EXPECT_EQ(machine.ReadRegValue(RegRoot::LocalMachine, kProgramKey, "Lang"), "19");
    EXPECT_FALSE(machine.WriteRegValue(RegRoot::LocalMachine, kProgramKey, "Lang", "9"));
    EXPECT_FALSE(machine.DeleteRegKey(RegRoot::LocalMachine, kProgramKey, "Lang"));
    EXPECT_EQ(ReadFile(paths.localMachine), machineBefore);
    EXPECT_TRUE(machine.DeleteRegKey(RegRoot::CurrentUser, kProgramKey, "LVW"));
    EXPECT_EQ(machine.ReadRegValue(RegRoot::CurrentUser, std::string(kProgramKey) + "\\LVW", "001"), "");
    EXPECT_EQ(machine.ReadRegValue(RegRoot::Users, kProgramKey, "TCache"), "");  // no such root here

    // A batch writes the file once, at its end.
    IniSettingsStore batch(paths);
    batch.BeginBatch();
    batch.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "TCache", "/new/QXCache/");
    EXPECT_EQ(batch.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), "/new/QXCache/");
    EXPECT_EQ(IniSettingsStore(paths).ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), sample().tCache);
    EXPECT_TRUE(batch.EndBatch());
    EXPECT_EQ(IniSettingsStore(paths).ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), "/new/QXCache/");

    // A store reads the file once, but sees what another one saved since;
    // a value written as it stands leaves the file as it was.
    IniSettingsStore reader(paths), writer(paths);
    EXPECT_EQ(reader.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), "/new/QXCache/");
    for (const char* value : {"/a/", "/b/"}) {
        ASSERT_TRUE(writer.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "TCache", value));
        EXPECT_EQ(reader.ReadRegValue(RegRoot::CurrentUser, kProgramKey, "TCache"), value);
    }
    const auto saved = hx::platform::EntryOf(paths.currentUser);
    ASSERT_TRUE(writer.WriteRegValue(RegRoot::CurrentUser, kProgramKey, "TCache", "/b/"));
    EXPECT_TRUE(hx::platform::EntryOf(paths.currentUser).sameVersion(saved));
}
