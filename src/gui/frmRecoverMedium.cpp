// The medium's own commands in the window: Backup, and the keys on the drive
// list that wipe (W), repair (R) or format (F) a card.
#include "gui/frmRecover.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>

#include "gui/QtText.h"
#include "filesystems/DriveInfo.h"
#include "output/DamagedMediaRecovery.h"
#include "output/DiskBackup.h"
#include "output/MediumMaintenance.h"
#include "platform/FreeSpace.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"
#include "shell/WorkingState.h"
#include "undelete/QuickUndelete.h"
#include "media/SectorIo.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::LoadStr;

void frmRecover::CmdBackup_Click() {
    if (refuseWhileBusy("CmdBackup")) return;  // its own button stops it
    if (currentDrive_.empty()) return;
    media::DriveRecord& rec = driveSession_.record;
    if (!rec.describes(currentDrive_)) filesystems::GetDriveInfo(currentDrive_, rec);
    const std::string title = LoadStr(0, "Backup") + "  " + LoadStr(31, "Harvestrix");
    fs::path target;
    for (;;) {
        const auto chosen = chooseFolder(LoadStr(0, "Backup. Please select a drive/folder for saving."),
                                         state().image.string());
        if (!chosen) return;
        target = *chosen;
        const std::string t = target.string();
        if (!rec.MountPoint.empty() && t.rfind(rec.MountPoint, 0) == 0) {
            if (message(LoadStr(0, "Cannot use the same disk for saving.") + "\n" +
                            LoadStr(0, "Please select another drive."),
                        title, {shell::Buttons::YesNo, shell::Icon::Exclamation}) != shell::Answer::Yes)
                return;
            continue;
        }
        if (t.size() < 4) {
            message(LoadStr(275, "Please select a folder."), title, {shell::Buttons::OK, shell::Icon::Exclamation});
            continue;
        }
        if (platform::FreeMegabytes(t) - 2000 - 1.2 * rec.TotalMB < 0) {
            message(LoadStr(0, "Not enough disk space. Please select another drive."), title,
                    {shell::Buttons::OK, shell::Icon::Exclamation});
            continue;
        }
        break;
    }
    state().image = target;
    output::BackupRequest req;
    req.drive = currentDrive_;
    req.folder = target;
    req.deep = ChkDeep->isChecked();
    req.damaged = ChkDamaged->isChecked();
    if (undelete_ && undelete_->drive() == currentDrive_) req.entries = undelete_->entries();
    output::BackupResult result;
    {
        shell::BusyGuard busy(*this, busy_, "CmdBackup", caption("CmdBackup"));
        result = output::BackupDisk(*this, req);
    }
    clearStop();
    ProgressBar1->setVisible(false);
    EnableButtons();
    if (result.ok && result.stopped && !result.partialNote.empty())
        status(shell::FormatStr(LoadStr(0, "What was written is kept, marked as partial in %0."),
                                {result.partialNote.string()}));
    if (result.ok && result.unreadableSectors > 0)
        message(shell::FormatStr(LoadStr(0, "%0 sectors could not be read; the image holds zeros there. They are listed in %1."),
                                 {std::to_string(result.unreadableSectors), result.unreadableList.string()}),
                LoadStr(0, "Backup"), {shell::Buttons::OK, shell::Icon::Information});
}

void frmRecover::RecoverDamagedMedia() {
    if (!state().store || busy_.busy) return;
    output::DamagedRecoverySteps steps;
    steps.unattendedImage = output::UnattendedImage(state().programFolder);
    steps.selectDrive = [this](const std::string& drive) {
        selectStartDrive();  // the list as it is now: the card may just have been put back
        selectDrive(drive);
        return currentDrive_ == drive;
    };
    steps.mediumBytes = [](const std::string& drive) { return media::MediumBytes(drive); };
    steps.makeRoom = [this](std::uint64_t bytes) {
        std::error_code ec;
        fs::create_directories(state().programFolder, ec);
        return platform::FreeMegabytes(state().programFolder.string()) > static_cast<double>(bytes) / 1048576.0;
    };
    auto damagedOptions = [this] {
        if (!thumbnailsShown() && cacheHasFiles()) CmdShowThumbs_Click();
        ChkDeep->setChecked(true);
        ChkDamaged->setChecked(true);
        // Nothing checked: every type, rather than a scan that finds nothing.
        if (typeSelection().find('.') == std::string::npos) {
            const auto& presets = shell::TypePresetEntries();
            for (std::size_t i = 0; i < presets.size(); ++i)
                if (presets[i].english == std::string("All types possible")) CmbTypeSelect_Click(static_cast<int>(i));
        }
    };
    steps.scanDamaged = [this, damagedOptions](const std::string& drive) {
        damagedOptions();
        runScan(drive, state().image);
    };
    steps.backupUnattended = [this, damagedOptions, &steps](const std::string& drive) {
        damagedOptions();
        {
            shell::BusyGuard busy(*this, busy_, "CmdBackup", caption("CmdBackup"));
            output::BackupDisk(*this, output::UnattendedBackup(drive, steps.unattendedImage, state().store));
        }
        clearStop();
        ProgressBar1->setVisible(false);
    };
    steps.scanImage = [this, damagedOptions](const fs::path& image) {
        damagedOptions();
        runScan(image.string(), image.parent_path(), true);  // the first stage's finds stay
    };
    output::RecoverDamagedMedia(*this, *state().store, steps);
    EnableButtons();
}

void frmRecover::CmdScanBackup_Click() {
    if (refuseWhileBusy("CmdScanBackup")) return;
    const fs::path images = state().image / "DiskImages";
    output::PruneImageFolder(images);
    fs::path image;
    for (;;) {
        const auto chosen = openFile(LoadStr(0, "Select disk image file for Scan"),
                                     LoadStr(0, "Disk images") + " (*.img.dat *.dat)", images.string());
        if (!chosen) break;
        const fs::path named = output::CompanionImage(*chosen);
        std::error_code ec;
        if (!named.empty() && fs::is_regular_file(named, ec)) {
            image = named;
            break;
        }
        message(LoadStr(0, "Drive for this backup file not available.") + "\n" + LoadStr(0, "Select another file."),
                LoadStr(0, "Scan BackUp"), {shell::Buttons::OK, shell::Icon::Exclamation});
    }
    // Cancelled: the image the damaged-media recovery made, when there is one.
    std::error_code ec;
    if (image.empty() && fs::is_regular_file(output::UnattendedImage(state().programFolder), ec))
        image = output::UnattendedImage(state().programFolder);
    if (image.empty()) return;
    runScan(image.string(), image.parent_path());
    EnableButtons();
}

bool frmRecover::CmdBackup_KeyPress(int key) {
    if (key != Qt::Key_R || currentDrive_.empty()) return false;
    media::DriveRecord& rec = driveSession_.record;
    filesystems::GetDriveInfo(currentDrive_, rec);
    if (!output::MaintenanceRefusal(rec, busy_.busy).empty()) return true;  // nothing happens
    const auto chosen = openFile(LoadStr(0, "Select disk image file for restoring disk ") + currentDrive_,
                                 LoadStr(0, "Disk images") + " (*.img)", (state().image / "DiskImages").string());
    if (!chosen || chosen->find(".img") == std::string::npos) return true;
    {
        shell::BusyGuard busy(*this, busy_, "CmdBackup", caption("CmdBackup"));
        output::RestoreImage(*this, *chosen, rec, false);
    }
    clearStop();
    ProgressBar1->setVisible(false);
    filesystems::GetDriveInfo(currentDrive_, rec);
    EnableButtons();
    return true;
}

bool frmRecover::Drive1_KeyPress(int key) {
    if (currentDrive_.empty() || (key != Qt::Key_W && key != Qt::Key_R && key != Qt::Key_F)) return false;
    media::DriveRecord& rec = driveSession_.record;
    filesystems::GetDriveInfo(currentDrive_, rec);
    if (!output::MaintenanceRefusal(rec, busy_.busy).empty()) return true;  // nothing happens
    {
        shell::BusyGuard busy(*this, busy_, "Drive1", currentDrive_);
        if (key == Qt::Key_F) output::FormatMedium(*this, rec, false);
        else output::WipeMedium(*this, rec, key == Qt::Key_R, false);
    }
    clearStop();
    ProgressBar1->setVisible(false);
    filesystems::GetDriveInfo(currentDrive_, rec);
    RefreshDriveInfo();
    EnableButtons();
    return true;
}

}  // namespace hx::gui
