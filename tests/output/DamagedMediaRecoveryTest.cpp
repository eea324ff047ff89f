// The stages of the damaged-media recovery across restarts. A stage that
// "ends the program" throws, leaving the settings as a killed process would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/ScriptedUi.h"
#include "fixtures/TempDir.h"
#include "output/DamagedMediaRecovery.h"
#include "shell/Settings.h"

namespace fs = std::filesystem;
using hx::output::DamagedRecoveryOutcome;
using hx::shell::Answer;

namespace {

struct Ended {};  // the process was ended by the system

class DamagedMediaRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        steps_.unattendedImage = dir_.path() / "backuptemp.dat";
        steps_.selectDrive = [this](const std::string& d) {
            calls_.push_back("select " + d);
            return connectedAfter_-- <= 0;
        };
        steps_.mediumBytes = [this](const std::string&) { return mediumBytes_; };
        steps_.makeRoom = [this](std::uint64_t) { return room_; };
        steps_.scanDamaged = [this](const std::string& d) { run("scan " + d); };
        steps_.backupUnattended = [this](const std::string& d) {
            hx::test::WriteFile(steps_.unattendedImage, "sectors");
            run("backup " + d);
        };
        steps_.scanImage = [this](const fs::path& image) { run("scan image " + image.filename().string()); };
    }
    // A step either ends the program (the marker stays) or ends normally (the marker goes).
    void run(const std::string& call) {
        calls_.push_back(call);
        if (crashes_-- > 0) throw Ended{};
        hx::shell::SaveSetting(store_, hx::shell::kLastCluster, "0");
    }
    void crashWhileReading(const std::string& drive) {
        hx::shell::SaveSetting(store_, hx::shell::kLastDrive, drive);
        hx::shell::SaveSetting(store_, hx::shell::kLastCluster, "33");
    }
    // One start of the program: the recovery as its last step.
    DamagedRecoveryOutcome start() { return hx::output::RecoverDamagedMedia(ui_, store_, steps_); }
    std::string setting(const hx::shell::AppSetting& s) { return hx::shell::GetSetting(store_, s, "0"); }

    hx::test::TempDir dir_{"hx-damaged"};
    hx::shell::MemorySettingsStore store_;
    hx::test::ScriptedUi ui_;
    hx::output::DamagedRecoverySteps steps_;
    std::vector<std::string> calls_;
    std::uint64_t mediumBytes_ = 64ull << 20;
    bool room_ = true;
    int crashes_ = 0;
    int connectedAfter_ = 0;
};

}  // namespace

TEST_F(DamagedMediaRecoveryTest, EachStageThatEndsTheProgramIsFollowedByTheNextAtTheNextStart) {
    crashWhileReading("/dev/sdc");
    crashes_ = 2;
    connectedAfter_ = 1;  // the card is put back after the first request
    ui_.answers = {Answer::Yes, Answer::OK, Answer::OK};
    EXPECT_THROW(start(), Ended);
    EXPECT_EQ(calls_, (std::vector<std::string>{"select /dev/sdc", "select /dev/sdc", "scan /dev/sdc"}));
    EXPECT_NE(ui_.messages[1].text.find("Please connect the same card or disk"), std::string::npos);
    EXPECT_EQ(setting(hx::shell::kLastStage), "1");

    calls_.clear();
    ui_.answers = {Answer::OK};
    EXPECT_THROW(start(), Ended);  // stage 2 asks nothing more of the user than its OK
    EXPECT_EQ(calls_, (std::vector<std::string>{"backup /dev/sdc"}));
    EXPECT_EQ(setting(hx::shell::kLastStage), "2");
    EXPECT_TRUE(fs::exists(steps_.unattendedImage));

    calls_.clear();
    ui_.answers = {Answer::OK};
    EXPECT_EQ(start(), DamagedRecoveryOutcome::Finished);
    EXPECT_EQ(calls_, (std::vector<std::string>{"scan image backuptemp.dat"}));
    EXPECT_FALSE(fs::exists(steps_.unattendedImage));
    EXPECT_EQ(ui_.messages.back().text, "Finished.");
    EXPECT_EQ(setting(hx::shell::kLastStage), "0");
    EXPECT_EQ(setting(hx::shell::kLastCluster), "0");

    // Nothing left to do at the start after.
    calls_.clear();
    EXPECT_EQ(start(), DamagedRecoveryOutcome::NotNeeded);
    EXPECT_TRUE(calls_.empty());
}

TEST_F(DamagedMediaRecoveryTest, AStageThatEndsNormallyEndsTheRecovery) {
    crashWhileReading("card.img");
    ui_.answers = {Answer::Yes, Answer::OK};
    EXPECT_EQ(start(), DamagedRecoveryOutcome::Finished);
    EXPECT_EQ(calls_, (std::vector<std::string>{"select card.img", "scan card.img"}));
    EXPECT_EQ(setting(hx::shell::kLastStage), "0");

    // A large medium skips the stage-1 scan and is copied at once.
    calls_.clear();
    crashWhileReading("/dev/sdd");
    mediumBytes_ = hx::output::kStageOneLimitBytes;
    ui_.answers = {Answer::Yes, Answer::OK};
    EXPECT_EQ(start(), DamagedRecoveryOutcome::Finished);
    EXPECT_EQ(calls_, (std::vector<std::string>{"select /dev/sdd", "backup /dev/sdd"}));
}

TEST_F(DamagedMediaRecoveryTest, NoCancelOrNoRoomDropTheRecoveryAndResetTheMarker) {
    // A stage left set without a marker is no reason to recover.
    hx::shell::SaveSetting(store_, hx::shell::kLastStage, "2");
    EXPECT_EQ(start(), DamagedRecoveryOutcome::NotNeeded);
    EXPECT_TRUE(ui_.messages.empty());

    for (const auto& answers : std::vector<std::deque<Answer>>{{Answer::No}, {Answer::Yes, Answer::Cancel}}) {
        crashWhileReading("card.img");
        hx::shell::SaveSetting(store_, hx::shell::kLastStage, "0");
        connectedAfter_ = answers.size() == 2 ? 5 : 0;  // never there: the request is cancelled
        ui_.answers = answers;
        EXPECT_EQ(start(), DamagedRecoveryOutcome::GivenUp);
        EXPECT_EQ(setting(hx::shell::kLastCluster), "0");
        EXPECT_EQ(setting(hx::shell::kLastStage), "0");
    }
    // No room for the image anywhere: dropped without a word.
    crashWhileReading("card.img");
    room_ = false;
    ui_.messages.clear();
    EXPECT_EQ(start(), DamagedRecoveryOutcome::GivenUp);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(setting(hx::shell::kLastCluster), "0");
    EXPECT_TRUE(std::none_of(calls_.begin(), calls_.end(), [](const std::string& c) { return c.rfind("scan", 0) == 0; }));
}
