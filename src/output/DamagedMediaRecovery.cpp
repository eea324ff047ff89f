#include "output/DamagedMediaRecovery.h"

#include <cstdlib>

#include "shell/Settings.h"
#include "shell/Strings.h"

namespace hx::output {

using shell::LoadStr;

namespace {

long numberOf(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

class Recovery {
public:
    Recovery(shell::Ui& ui, shell::SettingsStore& store, const DamagedRecoverySteps& steps)
        : ui_(ui), store_(store), steps_(steps), title_(LoadStr(1603, "Automated recovering from physically damaged media.")) {
        tail_ = LoadStr(1604, " ended by the system") + "....\n\n" +
                LoadStr(1605, "An end by the system cannot be prevented anyhow.") + "\n" +
                LoadStr(1606, "Restart the computer and/or Harvestrix if it was ended.") + "\n";
    }

    DamagedRecoveryOutcome run() {
        if (marker() <= 0) return DamagedRecoveryOutcome::NotNeeded;
        drive_ = shell::GetSetting(store_, shell::kLastDrive);
        long stage = numberOf(shell::GetSetting(store_, shell::kLastStage, "0"));
        const std::uint64_t bytes = !drive_.empty() && steps_.mediumBytes ? steps_.mediumBytes(drive_) : 0;
        if (stage <= 0) {
            if (steps_.makeRoom && !steps_.makeRoom(bytes)) return giveUp();
            if (!askToBegin() || !waitForMedium()) return giveUp();
            stage = 1;
            shell::SaveSetting(store_, shell::kLastStage, "1");
            if (bytes < kStageOneLimitBytes) {
                if (!confirm(LoadStr(1614, "Stage 1:  Recovering files from sectors until probably") + tail_))
                    return giveUp();
                if (steps_.scanDamaged) steps_.scanDamaged(drive_);
            }
        }
        if (stage == 1 && marker() > 0) {
            stage = 2;
            shell::SaveSetting(store_, shell::kLastStage, "2");
            if (!confirm(LoadStr(1615, "Stage 2:  Saving remaining sectors until probably again") + tail_))
                return giveUp();
            if (steps_.backupUnattended) steps_.backupUnattended(drive_);
        }
        if (stage == 2 && marker() > 0) {
            if (!confirm(LoadStr(1616, "Final stage:  Recovering files from additional saved sectors.")))
                return giveUp();
            if (steps_.scanImage) steps_.scanImage(steps_.unattendedImage);
            std::error_code ec;
            std::filesystem::remove(steps_.unattendedImage, ec);
        }
        ui_.message(LoadStr(1617, "Finished."), title_, {shell::Buttons::OK, shell::Icon::Information});
        reset();
        return DamagedRecoveryOutcome::Finished;
    }

private:
    long marker() { return numberOf(shell::GetSetting(store_, shell::kLastCluster, "0")); }

    bool askToBegin() {
        const std::string text = LoadStr(1607, "Harvestrix was unexpectedly ended by the system, most likely caused") +
                                 "\n" +
                                 LoadStr(1608, "by trying to read from a physically damaged sector on the card or disk.") +
                                 "\n" +
                                 LoadStr(1609, "Harvestrix is probably able to recover more, using an automated process.") +
                                 "\n" +
                                 LoadStr(1610, "This process has 3 stages with two possible restarts and can take a while.") +
                                 "\n" + LoadStr(1611, "Be sure the same disk or card has not been removed while processing!") +
                                 "\n" + LoadStr(1612, "Please restart the computer first if restarting Harvestrix fails.") +
                                 "\n\n" + LoadStr(1633, "Do you want to continue with automated recovery?");
        return ui_.message(text, title_, {shell::Buttons::YesNo, shell::Icon::Question}) == shell::Answer::Yes;
    }

    bool waitForMedium() {
        // Asked again and again until the medium is there, or Cancel.
        while (drive_.empty() || !steps_.selectDrive || !steps_.selectDrive(drive_)) {
            if (ui_.message(LoadStr(1613, "Please connect the same card or disk before proceeding.") +
                                (drive_.empty() ? std::string() : "\n" + drive_),
                            title_, {shell::Buttons::OKCancel, shell::Icon::Exclamation}) != shell::Answer::OK)
                return false;
        }
        return true;
    }

    bool confirm(const std::string& text) {
        return ui_.message(text, title_, {shell::Buttons::OKCancel, shell::Icon::Information}) == shell::Answer::OK;
    }

    void reset() {
        shell::SaveSetting(store_, shell::kLastCluster, "0");
        shell::SaveSetting(store_, shell::kLastStage, "0");
    }

    DamagedRecoveryOutcome giveUp() {
        reset();
        return DamagedRecoveryOutcome::GivenUp;
    }

    shell::Ui& ui_;
    shell::SettingsStore& store_;
    const DamagedRecoverySteps& steps_;
    std::string title_, tail_, drive_;
};

}  // namespace

DamagedRecoveryOutcome RecoverDamagedMedia(shell::Ui& ui, shell::SettingsStore& store,
                                           const DamagedRecoverySteps& steps) {
    return Recovery(ui, store, steps).run();
}

}  // namespace hx::output
