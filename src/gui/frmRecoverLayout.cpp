// The window's widgets: the sidebar with the drive and the commands, the
// centre with the start page, the type list, the results and the preview,
// the bottom bar, and which handler each control calls.
#include "gui/frmRecover.h"
#include "gui/EventFilters.h"
#include "gui/panes/CommandButton.h"
#include "gui/panes/CommandPane.h"
#include "gui/panes/DrivePane.h"
#include "gui/panes/FoundFilesPane.h"
#include "gui/panes/PicturePane.h"
#include "gui/panes/ResultBar.h"
#include "gui/panes/TypesPane.h"
#include "gui/panes/UndeletePane.h"

#include <algorithm>

#include <QAction>
#include <functional>

#include <QEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/QtSettingsStore.h"
#include "gui/QtText.h"
#include "gui/dialogs/frmSearchDrives.h"
#include "gui/frmRecoverInit.h"
#include "filesystems/DriveInfo.h"
#include "filesystems/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "output/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/Exif.h"
#include "scan/ScanState.h"
#include "formats/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "platform/Processes.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"


namespace hx::gui {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

void frmRecover::buildWidgets() {
    auto* central = new QWidget(this);
    central->setObjectName("centralWidget");
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(10, 10, 10, 8);
    outer->setSpacing(8);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(10);
    auto* sidebar = new QFrame(central);
    sidebar->setObjectName("sidebar");
    // Wide enough for the German captions; sized again once the language is known.
    sidebar->setMinimumWidth(300);
    sidebar->setMaximumWidth(420);
    buildSidebar(sidebar);
    middle->addWidget(sidebar);

    auto* centre = new QWidget(central);
    buildCentre(centre);
    middle->addWidget(centre, 1);
    outer->addLayout(middle, 1);

    auto* bottom = new QFrame(central);
    bottom->setObjectName("bottomBar");
    buildBottom(bottom);
    outer->addWidget(bottom);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(250);
    clipTimer_ = new QTimer(this);
    clipTimer_->setObjectName("clipTimer");
    clipTimer_->setSingleShot(true);
    connect(clipTimer_, &QTimer::timeout, this, [this] { showNextClipPicture(); });
}

void frmRecover::buildSidebar(QWidget* host) {
    auto* v = new QVBoxLayout(host);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);

    DrivePane::Actions driveActions;
    driveActions.chosen = [this] { Drive1_Change(); };
    driveActions.key = [this](int key) { return Drive1_KeyPress(key); };
    drivePane_ = new DrivePane(host, driveActions);
    v->addWidget(drivePane_);

    v->addSpacing(6);
    auto* commands = new CommandPane(host);
    CmdScan = commands->scan();
    CmdQuickUndelete = commands->quickUndelete();
    CmdShowScanTypes = commands->scanTypes();
    ChkDeep = commands->deep();
    ChkDamaged = commands->damaged();
    v->addWidget(commands);

    v->addStretch(1);
    ListColors = new QComboBox(host);
    ListColors->setObjectName("ListColors");
    ListColors->setMinimumHeight(28);
    v->addWidget(ListColors);

    auto* links = new QHBoxLayout;
    // Help and About read as links, as the labels they replace did.
    lblHelp = new QPushButton(host);
    lblHelp->setObjectName("lblHelp");
    lblHelp->setFlat(true);
    lblHelp->setProperty("link", true);
    lblHelp->setCursor(Qt::PointingHandCursor);
    lblAbout = new QPushButton(host);
    lblAbout->setObjectName("lblAbout");
    lblAbout->setFlat(true);
    lblAbout->setProperty("link", true);
    lblAbout->setCursor(Qt::PointingHandCursor);
    // The utilities: the file search window, from a link with its menu.
    auto* toolsLink = new QPushButton(q(LoadStr(0, "Tools")), host);
    toolsLink->setObjectName("lblTools");
    toolsLink->setFlat(true);
    toolsLink->setProperty("link", true);
    toolsLink->setCursor(Qt::PointingHandCursor);
    auto* menu = new QMenu(toolsLink);
    QAction* find = menu->addAction(q(LoadStr(0, "&Find File(s)...")));
    find->setObjectName("mnuFindFiles");
    QAction* info = menu->addAction(q(LoadStr(0, "&Folder Info...")));
    info->setObjectName("mnuFolderInfo");
    toolsLink->setMenu(menu);
    connect(find, &QAction::triggered, this, [this] { searchWindow()->mnuFindFiles_Click(); });
    connect(info, &QAction::triggered, this, [this] { searchWindow()->mnuFolderInfo_Click(); });
    links->addWidget(lblHelp);
    links->addSpacing(12);
    links->addWidget(lblAbout);
    links->addSpacing(12);
    links->addWidget(toolsLink);
    links->addStretch(1);
    CmdEnd = MakeCommandButton("CmdEnd", host);
    CmdEnd->setMinimumWidth(110);
    links->addWidget(CmdEnd);
    v->addLayout(links);
}

void frmRecover::buildCentre(QWidget* host) {
    auto* h = new QHBoxLayout(host);
    h->setContentsMargins(0, 0, 0, 0);
    centreSplit_ = new QSplitter(Qt::Horizontal, host);
    centreSplit_->setObjectName("centreSplit");
    centreSplit_->setChildrenCollapsible(false);
    h->addWidget(centreSplit_);

    pages_ = new QStackedWidget(centreSplit_);
    pages_->setObjectName("pages");

    // Start page.
    pageStart_ = new QWidget(pages_);
    auto* sv = new QVBoxLayout(pageStart_);
    sv->setContentsMargins(0, 0, 0, 0);
    txtStart = new QTextBrowser(pageStart_);
    txtStart->setObjectName("txtStart");
    txtStart->setOpenLinks(false);
    sv->addWidget(txtStart);
    pages_->addWidget(pageStart_);

    // Results: found files (list or thumbnails) and the two undelete lists.
    pageResults_ = new QWidget(pages_);
    auto* rv = new QVBoxLayout(pageResults_);
    rv->setContentsMargins(0, 0, 0, 0);
    auto* resultSplit = new QSplitter(Qt::Vertical, pageResults_);
    FoundFilesPane::Actions foundActions;
    foundActions.chosen = [this](int row) { showFoundFile(row); };
    foundActions.opened = [this] { openFoundFile(true); };
    // The right button on a found file: its properties; on a thumbnail: the picture filters.
    foundActions.properties = [this](int row) {
        if (!busy_.busy) showFileProperties(foundPane_->file(row));
    };
    foundActions.filterList = [this](QWidget* from, QPoint at) { showFilterList(from, at); };
    foundActions.key = [this](bool thumbnails, int key, Qt::KeyboardModifiers modifiers) {
        return FoundList_KeyDown(thumbnails, key, modifiers);
    };
    foundPane_ = new FoundFilesPane(resultSplit, foundActions);
    UndeletePane::Actions undeleteActions;
    undeleteActions.chosen = [this](QListWidget* list, bool deleted) { showEntryInfo(list, deleted); };
    // The right button shows the file's properties, a double click opens it.
    undeleteActions.rightButton = [this](QListWidget* list, bool deleted, QPoint at) {
        UndeleteList_MouseDown(list, deleted, at);
    };
    undeleteActions.opened = [this](QListWidget* list, bool deleted) { UndeleteList_DblClick(list, deleted); };
    undeletePane_ = new UndeletePane(resultSplit, undeleteActions);
    rv->addWidget(resultSplit);
    pages_->addWidget(pageResults_);

    // The type list with its presets.
    TypesPane::Actions typesActions;
    typesActions.presetChosen = [this](int index) { CmbTypeSelect_Click(index); };
    // Delete on the type list removes the learned types selected.
    typesActions.deleteKey = [this] { LvwTypes_KeyDown(); };
    typesPane_ = new TypesPane(pages_, typesActions);
    pages_->addWidget(typesPane_);

    // Preview and its information.
    PicturePane::Actions actions;
    // A click on the mode asks for the whole picture (a raw decoded in full).
    actions.wholePicture = [this] { requestFullFile(); };
    actions.fullScreen = [this] { showFullPicture(); };
    actions.filterList = [this](QWidget* from, QPoint at) { showFilterList(from, at); };
    actions.clip = [this] { toggleClipPicture(); };
    picturePane_ = new PicturePane(centreSplit_, actions);

    centreSplit_->addWidget(pages_);
    centreSplit_->addWidget(picturePane_);
    centreSplit_->setStretchFactor(0, 3);
    centreSplit_->setStretchFactor(1, 2);

    // The picture filters pop up over the preview (right button).
    ListFilters = new QListWidget(this);
    ListFilters->setObjectName("ListFilters");
    ListFilters->setVisible(false);
    connect(ListFilters, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ListFilters_Click(ListFilters->row(item)); });
}

void frmRecover::showFilterList(QWidget* from, const QPoint& at) {
    // At the mouse, kept inside the preview (inside the window when it does not fit there).
    ListFilters->resize(ListFilters->sizeHintForColumn(0) + 24, ListFilters->sizeHintForRow(0) * ListFilters->count() + 6);
    QRect bounds = rect();
    if (picturePane_ && picturePane_->isVisible()) {
        const QRect preview(picturePane_->mapTo(this, QPoint(0, 0)), picturePane_->size());
        if (preview.width() >= ListFilters->width() && preview.height() >= ListFilters->height()) bounds = preview;
    }
    QPoint p = from->mapTo(this, at);
    p.setX(std::min(p.x(), bounds.right() + 1 - ListFilters->width()));
    p.setY(std::min(p.y(), bounds.bottom() + 1 - ListFilters->height()));
    ListFilters->move(std::max(p.x(), bounds.left()), std::max(p.y(), bounds.top()));
    ListFilters->setVisible(true);
    ListFilters->raise();
    ListFilters->setFocus();
}

void frmRecover::buildBottom(QWidget* host) {
    auto* v = new QVBoxLayout(host);
    v->setContentsMargins(0, 0, 0, 0);
    auto* bar = new ResultBar(host);
    CmdShowFolder = bar->showFolder();
    CmdShowThumbs = bar->showThumbs();
    CmdRenderWidth = bar->renderWidth();
    TxtWidth = bar->width();
    lblStatus = bar->status();
    ProgressBar1 = bar->progress();
    v->addWidget(bar);
}

void frmRecover::connectCommands() {
    auto on = [this](const char* name, void (frmRecover::*slot)()) {
        if (auto* b = findChild<QPushButton*>(name)) connect(b, &QPushButton::clicked, this, slot);
    };
    on("CmdScan", &frmRecover::CmdScan_Click);
    on("CmdEnd", &frmRecover::CmdEnd_Click);
    on("CmdShowFolder", &frmRecover::CmdShowFolder_Click);
    on("CmdShowThumbs", &frmRecover::CmdShowThumbs_Click);
    on("CmdShowScanTypes", &frmRecover::CmdShowScanTypes_Click);
    on("CmdOpen", &frmRecover::CmdOpen_Click);
    on("CmdBrowse", &frmRecover::CmdBrowse_Click);
    // Commands whose work lives in other parts of the program and is not wired yet.
    on("CmdMaxSpeed", &frmRecover::CmdMaxSpeed_Click);
    on("CmdQuickUndelete", &frmRecover::CmdQuickUndelete_Click);
    on("CmdSaveAll", &frmRecover::CmdSaveAll_Click);
    on("CmdRecoverAll", &frmRecover::CmdRecoverAll_Click);
    on("CmdSaveAs", &frmRecover::CmdSaveAs_Click);
    on("CmdRenderWidth", &frmRecover::CmdRenderWidth_Click);
    on("CmdLearn", &frmRecover::CmdLearn_Click);
    on("CmdBackup", &frmRecover::CmdBackup_Click);
    on("CmdScanBackup", &frmRecover::CmdScanBackup_Click);
    if (auto* backup = findChild<QPushButton*>("CmdBackup"))
        backup->installEventFilter(new KeyFilter(backup, [this](int key, Qt::KeyboardModifiers modifiers) {
            return !(modifiers & (Qt::ControlModifier | Qt::AltModifier)) && CmdBackup_KeyPress(key);
        }));
    connect(ListColors, qOverload<int>(&QComboBox::activated), this, &frmRecover::ApplyColourScheme);
    connect(Timer1, &QTimer::timeout, this, &frmRecover::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &frmRecover::Timer2_Timer);
    connect(lblHelp, &QPushButton::clicked, this, [this] {
        // The manual of the chosen language, installed at start-up.
        const fs::path manual = state().programFolder / "Manual" / "Manual.htm";
        std::error_code ec;
        if (!fs::is_regular_file(manual, ec)) writeHelpPage(manual);
        if (fs::is_regular_file(manual, ec)) {
            openUrl(QUrl::fromLocalFile(q(manual.string())));
        } else {
            notYetAvailable("lblHelp");
        }
    });
    connect(lblAbout, &QPushButton::clicked, this, [this] {
        message(LoadStr(31, "Harvestrix") + " " + HX_VERSION, LoadStr(55, "About"), {});
    });
}

}  // namespace hx::gui
