#include "gui/frmRecover.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QScrollBar>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/QtSettingsStore.h"
#include "gui/frmDirChoose.h"
#include "gui/frmSearchDrives.h"
#include "gui/frmRecoverInit.h"
#include "media/DriveInfo.h"
#include "media/DriveInfoPanel.h"
#include "media/DriveRecord.h"
#include "scan/ScanCommand.h"
#include "scan/ScanDisk.h"
#include "undelete/QuickUndelete.h"
#include "undelete/UndeleteLists.h"
#include "viewing/Exif.h"
#include "scan/ScanState.h"
#include "scan/SignatureTable.h"
#include "shell/MessageBoxRules.h"
#include "shell/ProcessControl.h"
#include "shell/Startup.h"
#include "shell/WorkingFolders.h"
#include "shell/Strings.h"
#include "shell/WindowCommandsText.h"

namespace hx::gui {

namespace fs = std::filesystem;
using shell::FormatStr;
using shell::LoadStr;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& q) { return q.toStdString(); }

// Screen-independent size unit of the old settings: 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;

QMessageBox::StandardButtons buttonsOf(shell::Buttons b) {
    switch (b) {
        case shell::Buttons::OK: return QMessageBox::Ok;
        case shell::Buttons::OKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case shell::Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case shell::Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case shell::Buttons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case shell::Buttons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon iconOf(shell::Icon i) {
    switch (i) {
        case shell::Icon::Information: return QMessageBox::Information;
        case shell::Icon::Question: return QMessageBox::Question;
        case shell::Icon::Exclamation: return QMessageBox::Warning;
        case shell::Icon::Critical: return QMessageBox::Critical;
        case shell::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

shell::Answer answerOf(int button, shell::Buttons set) {
    switch (button) {
        case QMessageBox::Ok: return shell::Answer::OK;
        case QMessageBox::Yes: return shell::Answer::Yes;
        case QMessageBox::No: return shell::Answer::No;
        case QMessageBox::Retry: return shell::Answer::Retry;
        case QMessageBox::Abort: return shell::Answer::Abort;
        case QMessageBox::Ignore: return shell::Answer::Ignore;
        case QMessageBox::Cancel: return shell::Answer::Cancel;
        default: break;
    }
    // Closed with Escape or the title bar: the safe answer of the set.
    switch (set) {
        case shell::Buttons::OK: return shell::Answer::OK;
        case shell::Buttons::YesNo: return shell::Answer::No;
        case shell::Buttons::AbortRetryIgnore: return shell::Answer::Abort;
        default: return shell::Answer::Cancel;
    }
}

QColor colourOf(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

QString sizeText(std::uint64_t bytes) {
    return QLocale().toString(static_cast<double>(bytes) / 1048576.0, 'f', bytes < 10 * 1048576ULL ? 1 : 0) + " MB";
}

bool isBookkeeping(const QString& name) { return name.endsWith(".dat", Qt::CaseInsensitive); }

// A button whose caption may be long (a drive path): it shrinks with the
// layout and elides the middle of its caption instead of pushing others away.
class ElidingButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    QSize minimumSizeHint() const override {
        QSize s = QPushButton::minimumSizeHint();
        s.setWidth(std::min(s.width(), 80));
        return s;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const int full = QPushButton::sizeHint().width();
        if (width() < full) {
            // Padding and border stay; only the text gives way.
            const int room = width() - (full - fontMetrics().horizontalAdvance(text()));
            opt.text = fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(room, 0));
        }
        p.drawControl(QStyle::CE_PushButton, opt);
    }
};


}  // namespace

frmRecover::frmRecover(shell::WindowOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
    setObjectName("frmRecover");
    buildWidgets();
    connectCommands();
    resize(1280, 800);
    // Nothing may be squeezed below its own minimum.
    setMinimumSize(QSize(1000, 640).expandedTo(minimumSizeHint()));
}

frmRecover::~frmRecover() = default;

// ---------------------------------------------------------------- widgets

QPushButton* frmRecover::makeButton(const char* name, QWidget* parent, bool primary) {
    auto* b = new ElidingButton(parent);
    b->setObjectName(name);
    b->setToolTipDuration(-1);
    b->setMinimumHeight(30);
    if (primary) b->setProperty("primary", true);
    return b;
}

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
    sidebar->setFixedWidth(300);
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
}

void frmRecover::buildSidebar(QWidget* host) {
    auto* v = new QVBoxLayout(host);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);

    lblDrive = new QLabel(host);
    lblDrive->setObjectName("lblDrive");
    lblDrive->setProperty("heading", true);
    v->addWidget(lblDrive);
    Drive1 = new QComboBox(host);
    Drive1->setObjectName("Drive1");
    Drive1->setMinimumHeight(30);
    Drive1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Drive1->setMinimumContentsLength(16);
    v->addWidget(Drive1);
    // The watcher's own list: never shown.
    Drive2 = new QComboBox(host);
    Drive2->setObjectName("Drive2");
    Drive2->setVisible(false);

    // The drive information panel under its heading; the box shows or hides it.
    auto* specsHead = new QHBoxLayout;
    specsHead->setSpacing(4);
    CheckSpecs = new QCheckBox(host);
    CheckSpecs->setObjectName("CheckSpecs");
    CheckSpecs->setChecked(true);
    specsHead->addWidget(CheckSpecs);
    txtSpecs = new QLineEdit(host);
    txtSpecs->setObjectName("txtSpecs");
    txtSpecs->setReadOnly(true);
    txtSpecs->setFrame(false);
    txtSpecs->setFocusPolicy(Qt::NoFocus);
    specsHead->addWidget(txtSpecs, 1);
    v->addLayout(specsHead);
    lblSpecs = new QLabel(host);
    lblSpecs->setObjectName("lblSpecs");
    lblSpecs->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSpecs->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the panel's eleven lines.
    lblSpecs->setFixedHeight(lblSpecs->fontMetrics().lineSpacing() * 11 + 6);
    lblSpecs->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    v->addWidget(lblSpecs);

    v->addSpacing(6);
    auto* recover = new QGridLayout;
    recover->setHorizontalSpacing(6);
    recover->setVerticalSpacing(6);
    CmdScan = makeButton("CmdScan", host, true);
    CmdScan->setMinimumHeight(38);
    recover->addWidget(CmdScan, 0, 0, 1, 2);
    CmdQuickUndelete = makeButton("CmdQuickUndelete", host);
    recover->addWidget(CmdQuickUndelete, 1, 0);
    auto* includePresent = new QCheckBox(host);
    includePresent->setObjectName("ChkIncludePresent");
    ChkDeep = new QCheckBox(host);
    ChkDeep->setObjectName("ChkDeep");
    ChkDamaged = new QCheckBox(host);
    ChkDamaged->setObjectName("ChkDamaged");
    recover->addWidget(ChkDeep, 2, 0);
    recover->addWidget(ChkDamaged, 2, 1);
    CmdShowScanTypes = makeButton("CmdShowScanTypes", host);
    CmdShowScanTypes->setCheckable(true);
    recover->addWidget(CmdShowScanTypes, 1, 1);
    recover->addWidget(makeButton("CmdRecoverAll", host), 3, 0);
    recover->addWidget(includePresent, 3, 1);
    recover->setColumnStretch(0, 3);
    recover->setColumnStretch(1, 2);
    v->addLayout(recover);

    v->addSpacing(6);
    auto* tools = new QGridLayout;
    tools->setHorizontalSpacing(6);
    tools->setVerticalSpacing(6);
    tools->addWidget(makeButton("CmdMaxSpeed", host), 0, 0);
    tools->addWidget(makeButton("CmdLearn", host), 0, 1);
    // Its caption names the drive: give it the whole row.
    tools->addWidget(makeButton("CmdBackup", host), 1, 0, 1, 2);
    tools->addWidget(makeButton("CmdScanBackup", host), 2, 0);
    tools->addWidget(makeButton("CmdBrowse", host), 2, 1);
    v->addLayout(tools);

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
    CmdEnd = makeButton("CmdEnd", host);
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
    resultViews_ = new QStackedWidget(resultSplit);
    List3 = new QListWidget(resultViews_);
    List3->setObjectName("List3");
    List3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    LvwFiles = new QListWidget(resultViews_);
    LvwFiles->setObjectName("LvwFiles");
    LvwFiles->setViewMode(QListView::IconMode);
    LvwFiles->setResizeMode(QListView::Adjust);
    LvwFiles->setIconSize(QSize(128, 96));
    LvwFiles->setMovement(QListView::Static);
    LvwFiles->setFlow(QListView::LeftToRight);
    LvwFiles->setWrapping(true);
    LvwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    resultViews_->addWidget(List3);
    resultViews_->addWidget(LvwFiles);
    auto* undelete = new QSplitter(Qt::Horizontal, resultSplit);
    undelete->setObjectName("undeleteLists");
    List1 = new QListWidget(undelete);
    List1->setObjectName("List1");
    List2 = new QListWidget(undelete);
    List2->setObjectName("List2");
    List2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    undelete->setVisible(false);
    rv->addWidget(resultSplit);
    pages_->addWidget(pageResults_);

    // The type list with its presets.
    pageTypes_ = new QWidget(pages_);
    auto* tv = new QVBoxLayout(pageTypes_);
    tv->setContentsMargins(0, 0, 0, 0);
    CmbTypeSelect = new QComboBox(pageTypes_);
    CmbTypeSelect->setObjectName("CmbTypeSelect");
    CmbTypeSelect->setMinimumHeight(30);
    CmbTypeSelect->setMinimumWidth(260);
    auto* th = new QHBoxLayout;
    th->addWidget(CmbTypeSelect);
    th->addStretch(1);
    tv->addLayout(th);
    LvwTypes = new QTreeWidget(pageTypes_);
    LvwTypes->setObjectName("LvwTypes");
    LvwTypes->setRootIsDecorated(false);
    LvwTypes->setAlternatingRowColors(true);
    LvwTypes->setUniformRowHeights(true);
    tv->addWidget(LvwTypes);
    pages_->addWidget(pageTypes_);

    // Preview and its information.
    previewPane_ = new QWidget(centreSplit_);
    previewPane_->setObjectName("previewPane");
    auto* pv = new QVBoxLayout(previewPane_);
    pv->setContentsMargins(0, 0, 0, 0);
    pv->setSpacing(4);
    Picture1 = new QLabel(previewPane_);
    Picture1->setObjectName("Picture1");
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setMinimumSize(240, 180);
    Picture1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    pv->addWidget(Picture1, 3);
    lblPictureMode = new QLabel(previewPane_);
    lblPictureMode->setObjectName("lblPictureMode");
    lblPictureMode->setAlignment(Qt::AlignCenter);
    pv->addWidget(lblPictureMode);
    lblInfo = new QLabel(previewPane_);
    lblInfo->setObjectName("lblInfo");
    lblInfo->setWordWrap(true);
    pv->addWidget(lblInfo);
    txtExif = new QPlainTextEdit(previewPane_);
    txtExif->setObjectName("txtExif");
    txtExif->setReadOnly(true);
    pv->addWidget(txtExif, 2);
    Picture2 = new QLabel(previewPane_);
    Picture2->setObjectName("Picture2");
    Picture2->setVisible(false);

    centreSplit_->addWidget(pages_);
    centreSplit_->addWidget(previewPane_);
    centreSplit_->setStretchFactor(0, 3);
    centreSplit_->setStretchFactor(1, 2);

    // The picture filters pop up over the preview (right button).
    ListFilters = new QListWidget(this);
    ListFilters->setObjectName("ListFilters");
    ListFilters->setVisible(false);
}

void frmRecover::buildBottom(QWidget* host) {
    auto* v = new QVBoxLayout(host);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);
    auto* h = new QHBoxLayout;
    h->setSpacing(6);
    h->addWidget(makeButton("CmdSaveAll", host, true));
    h->addWidget(makeButton("CmdSaveAs", host));
    h->addWidget(makeButton("CmdOpen", host));
    CmdShowFolder = makeButton("CmdShowFolder", host);
    h->addWidget(CmdShowFolder);
    h->addStretch(1);
    CmdShowThumbs = makeButton("CmdShowThumbs", host);
    h->addWidget(CmdShowThumbs);
    TxtWidth = new QLineEdit(host);
    TxtWidth->setObjectName("TxtWidth");
    TxtWidth->setFixedWidth(60);
    TxtWidth->setMinimumHeight(30);
    TxtWidth->setAlignment(Qt::AlignRight);
    TxtWidth->setText("160");
    h->addWidget(TxtWidth);
    CmdRenderWidth = makeButton("CmdRenderWidth", host);
    h->addWidget(CmdRenderWidth);
    v->addLayout(h);

    auto* st = new QHBoxLayout;
    lblStatus = new QLabel(host);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setMinimumHeight(22);
    lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    st->addWidget(lblStatus, 1);
    ProgressBar1 = new QProgressBar(host);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setFixedWidth(260);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setVisible(false);
    st->addWidget(ProgressBar1);
    v->addLayout(st);
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
    for (const char* name : {"CmdLearn", "CmdBackup",
                             "CmdScanBackup", "CmdRenderWidth"}) {
        if (auto* b = findChild<QPushButton*>(name))
            connect(b, &QPushButton::clicked, this, [this, name] { notYetAvailable(name); });
    }
    connect(Drive1, qOverload<int>(&QComboBox::activated), this, [this](int) { Drive1_Change(); });
    connect(CmbTypeSelect, qOverload<int>(&QComboBox::activated), this, &frmRecover::CmbTypeSelect_Click);
    connect(ListColors, qOverload<int>(&QComboBox::activated), this, &frmRecover::ApplyColourScheme);
    connect(CheckSpecs, &QCheckBox::toggled, lblSpecs, &QWidget::setVisible);
    connect(Timer1, &QTimer::timeout, this, &frmRecover::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &frmRecover::Timer2_Timer);
    connect(lblHelp, &QPushButton::clicked, this, [this] {
        // The manual of the chosen language, installed at start-up.
        const fs::path manual = state().programFolder / "Manual" / "Manual.htm";
        std::error_code ec;
        if (fs::is_regular_file(manual, ec)) QDesktopServices::openUrl(QUrl::fromLocalFile(q(manual.string())));
        else notYetAvailable("lblHelp");
    });
    connect(lblAbout, &QPushButton::clicked, this, [this] {
        message(LoadStr(31, "Harvestrix") + " " + HX_VERSION, LoadStr(55, "About"), {});
    });
    connect(List3, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < LvwFiles->count()) LvwFiles->setCurrentRow(row);
        showFoundFile(row);
    });
    connect(List1, &QListWidget::currentRowChanged, this, [this] { showEntryInfo(List1, false); });
    connect(List2, &QListWidget::currentRowChanged, this, [this] { showEntryInfo(List2, true); });
    connect(LvwFiles, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < List3->count()) List3->setCurrentRow(row);
    });
}

QWidget* frmRecover::control(const std::string& name) const {
    if (name == "frmRecover") return const_cast<frmRecover*>(this);
    return findChild<QWidget*>(q(name));
}

// ---------------------------------------------------------------- Ui service

shell::Answer frmRecover::message(const std::string& text, const std::string& title,
                                  const shell::MessageOptions& asked) {
    auto& guard = shell::RunSelfClosingGuard();
    const shell::MessageOptions options = shell::EffectiveOptions(asked, guard);
    const bool selfClosing = options.selfClosingStyle != 0;
    QMessageBox box(iconOf(options.icon), q(title), q(text),
                    selfClosing ? QMessageBox::Ok : buttonsOf(options.buttons), isVisible() ? this : nullptr);
    box.setObjectName("MessageBox");
    if (selfClosing) {
        box.button(QMessageBox::Ok)->setText(q(shell::SelfClosingCaption()));
        QTimer::singleShot(shell::SelfClosingSeconds(options.selfClosingStyle) * 1000, &box, &QMessageBox::accept);
    }
    // Centred on the window, never off the top or left of the screen.
    box.adjustSize();
    QRect area = screen() ? screen()->availableGeometry() : QRect();
    QPoint pos = geometry().center() - QPoint(box.width() / 2, box.height() / 2);
    pos.setX(std::max(pos.x(), area.left()));
    pos.setY(std::max(pos.y(), area.top()));
    box.move(pos);
    QElapsedTimer shown;
    shown.start();
    const int button = box.exec();
    if (selfClosing) {
        if (guard.returnedAfter(static_cast<double>(shown.elapsed()) / 1000.0))
            return message(text, title, {asked.buttons, asked.icon, 0});
        return shell::Answer::OK;
    }
    return answerOf(button, options.buttons);
}

std::optional<std::string> frmRecover::input(const std::string& prompt, const std::string& title,
                                             const std::string& defaultText) {
    QInputDialog dlg(this);
    dlg.setObjectName("InputBox");
    dlg.setWindowTitle(q(title));
    dlg.setLabelText(q(prompt));
    dlg.setTextValue(q(defaultText));
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return s(dlg.textValue());
}

std::optional<std::string> frmRecover::chooseFolder(const std::string& title, const std::string& start) {
    const std::string chosen = frmDirChoose::Choose(*this, title, start, state().homeFolder.string(), this);
    if (chosen == utilities::FolderChooser::cancelled()) return std::nullopt;
    return chosen;
}

std::optional<std::string> frmRecover::openFile(const std::string& title, const std::string& filter,
                                                const std::string& start) {
    QString f = QFileDialog::getOpenFileName(this, q(title), q(start), q(filter));
    if (f.isEmpty()) return std::nullopt;
    return s(f);
}

std::optional<std::string> frmRecover::saveFile(const std::string& title, const std::string& filter,
                                                const std::string& start) {
    // A name that exists is asked about by the command itself, with its own choices.
    QString f = QFileDialog::getSaveFileName(this, q(title), q(start), q(filter), nullptr,
                                             QFileDialog::DontConfirmOverwrite);
    if (f.isEmpty()) return std::nullopt;
    return s(f);
}

void frmRecover::setCaption(const std::string& name, const std::string& text) {
    QWidget* w = control(name);
    if (!w) return;
    if (w == this) setWindowTitle(q(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(q(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(q(text).remove('\r'));
    else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(q(text).remove('\r'));
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
        // A list's caption is its chosen entry: the drive id or the entry's text.
        int i = c->findData(q(text));
        if (i < 0) i = c->findText(q(text));
        if (i >= 0) {
            QSignalBlocker block(c);
            c->setCurrentIndex(i);
        }
    }
    else if (auto* t = qobject_cast<QLineEdit*>(w)) t->setText(q(text));
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(q(text));
}

std::string frmRecover::caption(const std::string& name) const {
    QWidget* w = control(name);
    if (!w) return {};
    if (w == this) return s(windowTitle());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return s(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return s(l->text());
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return s(e->toPlainText());
    if (auto* t = qobject_cast<QLineEdit*>(w)) return s(t->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) return s(g->title());
    if (auto* c = qobject_cast<QComboBox*>(w))
        return s(c->currentData().isValid() ? c->currentData().toString() : c->currentText());
    return {};
}

void frmRecover::setEnabled(const std::string& name, bool enabled) {
    if (auto* t = findChild<QTimer*>(q(name))) {
        enabled ? t->start() : t->stop();
        return;
    }
    if (QWidget* w = control(name)) w->setEnabled(enabled);
}

void frmRecover::setVisible(const std::string& name, bool visible) {
    if (QWidget* w = control(name); w && w != this) w->setVisible(visible);
}

void frmRecover::status(const std::string& text) { lblStatus->setText(q(text)); }

void frmRecover::progress(double fraction, const std::string& text) {
    if (fraction < 0) {
        ProgressBar1->setRange(0, 0);
    } else {
        ProgressBar1->setRange(0, 1000);
        ProgressBar1->setValue(static_cast<int>(std::min(1.0, fraction) * 1000));
    }
    ProgressBar1->setVisible(busy_.busy || fraction >= 0);
    if (!text.empty()) lblStatus->setText(q(text));
}

void frmRecover::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); }

bool frmRecover::stopRequested() const { return stopFlag_ || busy_.stopping; }

void frmRecover::clearStop() {
    stopFlag_ = false;
    busy_.stopping = false;
}

// ---------------------------------------------------------------- captions and states

void frmRecover::SetCaptions() {
    for (const auto& c : shell::WindowCaptions()) setCaption(c.control, LoadStr(c.id, c.english));
    for (const auto& t : shell::WindowTooltips())
        if (QWidget* w = control(t.control)) w->setToolTip(q(LoadStr(t.id, t.english)));
    Drive1->setToolTip(q(shell::Drive1Tooltip()));
    CmbTypeSelect->setToolTip(q(shell::TypeSelectTooltip(minMB_, maxMB_)));
    CmbTypeSelect->setPlaceholderText(q(LoadStr(434, "Select File Types")));
    lblDrive->setText(q(LoadStr(655, "Drive")));

    const int preset = CmbTypeSelect->currentIndex();
    CmbTypeSelect->clear();
    for (const auto& e : shell::TypePresetEntries()) CmbTypeSelect->addItem(q(LoadStr(e.id, e.english)));
    for (const char* brand : {"Canon", "Nikon", "Minolta", "Sony", "Panasonic", "Pentax", "Sigma", "Olympus", "Fuji",
                              "Kodak", "Rollei", "Samsung", "Leica", "Hasselblad", "Mamiya"})
        CmbTypeSelect->addItem(brand);
    CmbTypeSelect->setCurrentIndex(preset);

    const int colour = ListColors->currentIndex();
    ListColors->clear();
    for (const auto& e : shell::ColourEntries()) ListColors->addItem(q(LoadStr(e.id, e.english)));
    ListColors->setCurrentIndex(colour < 0 ? ListColors->count() - 1 : colour);

    ListFilters->clear();
    for (const auto& e : shell::FilterEntries()) ListFilters->addItem(q(LoadStr(e.id, e.english)));

    QStringList headers;
    for (const auto& e : shell::TypeListHeaders()) headers << q(LoadStr(e.id, e.english));
    LvwTypes->setHeaderLabels(headers);
}

bool frmRecover::cacheHasFiles() const { return !foundNames_.isEmpty(); }

void frmRecover::EnableButtons() {
    std::error_code ec;
    shell::EnableButtons(*this, cacheHasFiles(), !saveFolder_.empty() && fs::is_directory(saveFolder_, ec));
}

void frmRecover::ShowStartPage() {
    QString html = "<h2>" + q(shell::StartPageTitle()).toHtmlEscaped() + "</h2><p>";
    for (const auto& line : shell::StartPageLines()) html += q(line).toHtmlEscaped() + "<br>";
    html += "</p>";
    txtStart->clear();
    txtStart->setHtml(html);
    lblHelp->setToolTip(q(shell::StartPageHelp()));
    pages_->setCurrentWidget(pageStart_);
    previewPane_->setVisible(false);
    CmdShowScanTypes->setChecked(false);
    RefreshDriveInfo();
}

void frmRecover::ShowResults() {
    pages_->setCurrentWidget(pageResults_);
    previewPane_->setVisible(true);
    CmdShowScanTypes->setChecked(false);
}

void frmRecover::ApplyColourScheme(int index) {
    if (index < 0 || index >= ListColors->count()) return;
    const auto scheme = shell::SchemeFromEntry(s(ListColors->itemText(index)));
    if (scheme == shell::ColourScheme::Hide) {
        // The scheme in use stays, and so does its index for the next start.
        ListColors->setVisible(false);
        ListColors->setCurrentIndex(colourScheme_);
        return;
    }
    colourScheme_ = index;
    ListColors->setCurrentIndex(index);
    const auto colours = shell::ColoursOf(scheme);
    if (!colours) {
        setStyleSheet({});
        return;
    }
    const QString window = colourOf(colours->window).name(), text = colourOf(colours->text).name(),
                  infoBack = colourOf(colours->infoBack).name(), infoText = colourOf(colours->infoText).name();
    setStyleSheet(QString("QWidget#centralWidget { background: %1; }"
                          "QWidget#centralWidget QLabel, QWidget#centralWidget QCheckBox { color: %2; }"
                          "QFrame#sidebar { background: %1; border-color: %5; }"
                          "QLineEdit#txtSpecs { background: transparent; color: %2; }"
                          "QPushButton[link=\"true\"] { color: %2; }"
                          "QPlainTextEdit, QTextBrowser, QListWidget, QTreeWidget { background: %3; color: %4; }"
                          "QProgressBar { background: %5; } QProgressBar::chunk { background: %6; }")
                      .arg(window, text, infoBack, infoText, colourOf(colours->progressBack).name(),
                           colourOf(colours->progressBar).name()));
}

void frmRecover::RefreshDriveInfo() {
    if (currentDrive_.empty()) {
        lblSpecs->setText(q(LoadStr(407, "Please insert disk or suitable medium.")));
        return;
    }
    media::RefreshDriveInfo(*this, currentDrive_);
}

// ---------------------------------------------------------------- drives

void frmRecover::fillDriveList(QComboBox* list, const std::vector<platform::DriveEntry>& drives) {
    const QString keep = list->currentData().toString();
    QSignalBlocker block(list);
    list->clear();
    for (const auto& d : drives) {
        // Images by their file name: their folders would crowd out the rest.
        QString text = d.isImage ? QFileInfo(q(d.id)).fileName() : q(platform::DriveDisplayName(d));
        if (d.isImage && !d.label.empty()) text = q(d.label) + "  (" + text + ")";
        if (d.sizeBytes) text += "  \u00b7  " + sizeText(d.sizeBytes);
        list->addItem(text, q(d.id));
        list->setItemData(list->count() - 1, q(d.id), Qt::ToolTipRole);
    }
    const int i = list->findData(keep);
    if (i >= 0) list->setCurrentIndex(i);
}

void frmRecover::selectDrive(const std::string& id) {
    const int i = Drive1->findData(q(id));
    if (i < 0) return;
    {
        QSignalBlocker block(Drive1);
        Drive1->setCurrentIndex(i);
    }
    Drive1_Change();
}

void frmRecover::Drive1_Change() {
    const std::string choice = s(Drive1->currentData().toString());
    if (choice.empty() || busy_.busy) return;
    const bool thumbs = resultViews_->currentWidget() == LvwFiles;
    currentDrive_ = media::Drive1_Change(*this, choice, currentDrive_, thumbs);
    if (currentDrive_ == choice) {
        // The command catalogues the drive only when the panel changes.
        if (media::CurrentDrive().Drive != choice) media::GetDriveInfo(choice);
    }
    const int i = Drive1->findData(q(currentDrive_));
    if (i >= 0 && i != Drive1->currentIndex()) {
        QSignalBlocker block(Drive1);
        Drive1->setCurrentIndex(i);
    }
}

void frmRecover::Timer1_Timer() {
    std::vector<platform::DriveEntry> hidden;
    if (!selectionPending_ && !busy_.busy) {
        hidden = platform::EnumerateDrives();
        fillDriveList(Drive2, hidden);
    }
    auto t = watcher_.tick(selectionPending_, busy_.busy, Drive1->isEnabled(),
                           static_cast<std::size_t>(Drive1->count()), hidden);
    if (t.applyPendingSelection) {
        selectionPending_ = false;
        emit List3->currentRowChanged(List3->currentRow());
    }
    if (t.refreshVisible || t.select) {
        fillDriveList(Drive1, hidden);
        if (t.select) {
            selectDrive(*t.select);
        } else if (Drive1->findData(q(currentDrive_)) < 0) {
            // The selected medium went away.
            selectDrive(shell::SelectRemovableDrive(hidden, {}));
        }
    }
    Timer1->start(t.intervalMs);
}

// ---------------------------------------------------------------- start-up

void frmRecover::FillCacheBrowser() { listFolder(cacheFolder_); }

void frmRecover::listFolder(const fs::path& folder) {
    foundNames_.clear();
    foundSizes_.clear();
    List3->clear();
    LvwFiles->clear();
    activeFolder_ = folder;
    if (folder.empty()) return;
    QDir dir(q(folder.string()));
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (isBookkeeping(fi.fileName())) continue;
        foundNames_ << fi.fileName();
        foundSizes_.push_back(static_cast<std::uint64_t>(fi.size()));
        List3->addItem(fi.fileName());
        LvwFiles->addItem(new QListWidgetItem(QString(fi.fileName()).replace("R#", "File "), LvwFiles));
    }
}

void frmRecover::applySettings() {
    const shell::StoredSettings& st = state().settings;
    if (st.height > 0) {
        const long width = st.width == 0 ? shell::kDefaultWindowWidth : st.width;
        resize(std::max<int>(static_cast<int>(width / kTwipsPerPixel), minimumWidth()),
               std::max<int>(static_cast<int>(st.height / kTwipsPerPixel), minimumHeight()));
        move(static_cast<int>(st.left / kTwipsPerPixel), static_cast<int>(st.top / kTwipsPerPixel));
    }
    // A first start has no scheme stored: the system's colours.
    const int scheme = storeHasWindow() ? st.colourScheme : ListColors->count() - 1;
    if (scheme >= 0 && scheme < ListColors->count()) ListColors->setCurrentIndex(scheme);
    if (st.thumbWidth > 0) TxtWidth->setText(QString::number(st.thumbWidth));
    CmbTypeSelect->setCurrentIndex(st.typeSelection < CmbTypeSelect->count() ? st.typeSelection : -1);
    minMB_ = st.minMB;
    maxMB_ = st.maxMB;
    CmbTypeSelect->setToolTip(q(shell::TypeSelectTooltip(minMB_, maxMB_)));
    resultViews_->setCurrentWidget(state().resultView == "1" ? static_cast<QWidget*>(LvwFiles)
                                                              : static_cast<QWidget*>(List3));
}

void frmRecover::collectSettings() {
    shell::StoredSettings& st = state().settings;
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    st.top = g.y() * kTwipsPerPixel;
    st.left = g.x() * kTwipsPerPixel;
    st.width = g.width() * kTwipsPerPixel;
    st.height = g.height() * kTwipsPerPixel;
    st.colourScheme = ListColors->currentIndex();
    st.thumbWidth = TxtWidth->text().toInt();
    st.startDrive = currentDrive_;
    st.showSpecs = CheckSpecs->isChecked();
    st.typeSelection = CmbTypeSelect->currentIndex();
    st.minMB = minMB_;
    st.maxMB = maxMB_;
    st.typeRows.clear();
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        st.typeRows.push_back({s(item->text(0)), item->checkState(0) == Qt::Checked});
    }
    state().resultView = resultViews_->currentWidget() == LvwFiles ? "1" : "0";
}

void frmRecover::showLastPicture() {
    // The picture folder is known before the cache is settled.
    const QString path = lastPicturePathFor(state());
    if (!path.isEmpty() && lastPicture_.load(path)) {
        Picture1->setPixmap(lastPicture_.scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        lblPictureMode->setText(QFileInfo(path).fileName());
    }
}

void frmRecover::selectStartDrive() {
    const auto drives = platform::EnumerateDrives();
    fillDriveList(Drive1, drives);
    fillDriveList(Drive2, drives);
    std::string start;
    platform::DriveEntry stored;
    const std::string drve = state().settings.startDrive;
    if (!drve.empty() && Drive1->findData(q(drve)) >= 0 && platform::FindDrive(drve, stored) && stored.ready)
        start = drve;
    if (start.empty() || !cacheHasFiles()) start = shell::SelectRemovableDrive(drives, start);
    selectDrive(start);
}

shell::WorkingState& frmRecover::state() const { return shell::SharedState(); }

void frmRecover::Form_Load() {
    using shell::StepResult;
    // Nothing of the window shows before it is complete.
    setWindowOpacity(0.0);
    shell::WorkingState& st = state();
    st = shell::WorkingState{};
    shell::InitWorkingState(st);
    st.commandLine = options_.commandLine;
    store_ = std::make_unique<QtSettingsStore>();
    st.store = store_.get();
    shell::RunSelfClosingGuard().reset();

    shell::StartupOptions so;
    so.programName = "harvestrix";
    if (options_.singleInstance) so.instanceFile = shell::DefaultInstanceFile();
    so.endStrayProcesses = options_.singleInstance;
    so.systemLanguage = shell::SystemLanguageId();
    if (options_.language) {
        shell::SetCurrentLanguage(shell::IsSupportedLanguage(*options_.language) ? *options_.language
                                                                                 : shell::kLangEnglish);
        so.languageGiven = true;
    }
    if (options_.cacheDir) so.cacheFolder = *options_.cacheDir;

    std::unique_ptr<frmRecoverInit> splash;
    auto steps = shell::EngineStartupSteps(st, *this, so);
    steps.insertAfter("ChooseLanguage", "Splash", [&] {
        splash = std::make_unique<frmRecoverInit>(lastPicturePathFor(st));
        splash->show();
        QCoreApplication::processEvents();
        return StepResult::Done;
    });
    steps.insertAfter("StoreLanguage", "SetCaptions", [&] {
        SetCaptions();
        return StepResult::Done;
    });
    steps.insertBefore("CommandLineSwitches", "AttachImages", [&] {
        for (const auto& spec : options_.attaches)
            if (!platform::AttachImage(spec))
                message("Cannot attach '" + spec + "': the image file does not exist.", LoadStr(31, "Harvestrix"),
                        {shell::Buttons::OK, shell::Icon::Exclamation, 0});
        return StepResult::Done;
    });
    steps.insertAfter("ReadSettings", "ApplySettings", [&] {
        applySettings();
        return StepResult::Done;
    });
    steps.insertBefore("SettleCache", "ShowLastPicture", [&] {
        showLastPicture();
        fillTypeList();
        return StepResult::Done;
    });
    steps.add("FillCacheBrowser", [&] {
        cacheFolder_ = st.cache;
        saveFolder_ = st.save;
        browseFolder_ = st.browse;
        pictureFolder_ = st.picture;
        FillCacheBrowser();
        return StepResult::Done;
    });
    steps.add("SelectStartDrive", [&] {
        selectStartDrive();
        return StepResult::Done;
    });
    steps.add("ShowStart", [&] {
        ApplyColourScheme(ListColors->currentIndex());
        if (cacheHasFiles()) ShowResults();
        else ShowStartPage();
        CheckSpecs->setChecked(st.settings.showSpecs || !storeHasWindow());
        return StepResult::Done;
    });
    steps.add("CommandStates", [&] {
        EnableButtons();
        status(LoadStr(51, "Status"));
        return StepResult::Done;
    });
    steps.add("StartTimer", [&] {
        Timer1->start(shell::DriveWatcher::kIdleMs);
        return StepResult::Done;
    });
    const bool go = steps.run();
    if (splash) splash->close();
    loaded_ = true;
    if (!go) {
        // The user chose to quit (another instance, uninstall, rights notice).
        exited_ = true;
        return;
    }
    setWindowOpacity(1.0);
}

bool frmRecover::usesPlainBoxes() const { return !shell::RunSelfClosingGuard().selfClosingAllowed(); }

bool frmRecover::storeHasWindow() const { return state().settings.height > 0; }

QString frmRecover::lastPicturePathFor(const shell::WorkingState& st) {
    QDir dir(q((st.programFolder / "QXRecdt").string()));
    if (QFileInfo::exists(dir.filePath("Lastpict.bmp"))) return dir.filePath("Lastpict.bmp");
    const auto backs = dir.entryList({"back.*"}, QDir::Files);
    return backs.isEmpty() ? QString() : dir.filePath(backs.first());
}

// ---------------------------------------------------------------- commands

frmSearchDrives* frmRecover::searchWindow() {
    if (!search_) search_ = new frmSearchDrives(*this, this);
    search_->show();
    search_->raise();
    return search_;
}

void frmRecover::notYetAvailable(const std::string& command) {
    const std::string what = caption(command).empty() ? command : caption(command);
    message("'" + what + "' is not yet available in this version.", LoadStr(31, "Harvestrix"),
            {shell::Buttons::OK, shell::Icon::Information, 0});
}

void frmRecover::CmdScan_Click() {
    if (busy_.busy) {
        if (busy_.operation == "CmdScan") {
            busy_.stopping = true;
            yield();
        }
        return;
    }
    runScan();
}

std::string frmRecover::typeSelection() const {
    // Learned types first, then the built-in ones; each pass ends with "|".
    const QString program = q(LoadStr(364, "Program"));
    std::string selection;
    for (bool builtIn : {false, true}) {
        for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
            if (item->checkState(0) != Qt::Checked || (item->text(2) == program) != builtIn) continue;
            selection += "." + s(item->text(0).toLower()) + s(item->data(1, Qt::UserRole).toString());
        }
        selection += "|";
    }
    return selection;
}

void frmRecover::runScan() {
    scan::ScanRequest request;
    request.source = currentDrive_;
    request.cacheFolder = cacheFolder_;
    request.imageFolder = state().image;
    request.selection = typeSelection();
    request.settings = state().store;
    request.state = &state();
    request.options.deepScan = ChkDeep->isChecked();
    request.options.damaged = ChkDamaged->isChecked();
    request.options.minMB = minMB_;
    request.options.maxMB = maxMB_;
    request.beforeScan = [this] {
        FillCacheBrowser();  // the cache may just have been emptied
        shell::EnterBusy(*this, busy_, "CmdScan");
        CmbTypeSelect->setVisible(false);
        ShowResults();
        resultViews_->setCurrentWidget(List3);
    };
    scan::ScanCommand command(*this, std::move(request));
    const std::optional<scan::ScanOutcome> outcome = command.run();
    if (!outcome) return;
    shell::LeaveBusy(*this, busy_, LoadStr(38, "Scan"));
    CmbTypeSelect->setVisible(true);
    ProgressBar1->setVisible(false);
    lastScanOutcome_ = static_cast<int>(*outcome);
    FillCacheBrowser();
    EnableButtons();
    if (cacheHasFiles()) List3->setCurrentRow(0);
    else ShowStartPage();
}

void frmRecover::fillTypeList() {
    LvwTypes->clear();
    const QString program = q(LoadStr(364, "Program"));
    QSet<QString> seen;
    for (const scan::SignatureRow& row : scan::EveryRow()) {
        if (row.Extension.size() < 2 || seen.contains(q(row.key()))) continue;
        seen.insert(q(row.key()));
        auto* item = new QTreeWidgetItem(LvwTypes);
        item->setText(0, q(row.Extension.substr(1)).toUpper());
        item->setText(1, q(row.DisplayName).trimmed());
        item->setData(1, Qt::UserRole, q(row.DisplayName));
        item->setText(2, program);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    // The check marks of the last run, row for row.
    const auto& rows = state().settings.typeRows;
    for (int i = 0; i < LvwTypes->topLevelItemCount() && i < static_cast<int>(rows.size()); ++i) {
        QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        if (item->text(0) == q(rows[i].text)) item->setCheckState(0, rows[i].checked ? Qt::Checked : Qt::Unchecked);
    }
    for (int c = 0; c < LvwTypes->columnCount(); ++c) LvwTypes->resizeColumnToContents(c);
}

void frmRecover::showFoundFile(int row) {
    if (busy_.busy) {
        // Shown by the watcher once the operation is over.
        selectionPending_ = true;
        return;
    }
    if (row < 0 || row >= foundNames_.size()) return;
    const QString path = q((activeFolder_ / s(foundNames_[row])).string());
    const QFileInfo info(path);
    const QString shown = QString(foundNames_[row]).replace("R#", "File ");
    if (info.size() == 0) {
        status(LoadStr(0, "File has no file length."));
        return;
    }
    lblInfo->setText(QLocale().toString(static_cast<double>(info.size()) / 1024.0, 'f', 0) + " kB " + shown);
    QImage picture;
    if (picture.load(path)) {
        lastPicture_ = QPixmap::fromImage(picture);
        Picture1->setPixmap(lastPicture_.scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        lblPictureMode->setText(q(LoadStr(0, "Display Full File")));
        // The camera's facts, one "key value" line each.
        viewing::ExifValues exif;
        QStringList lines;
        lines << q(LoadStr(1416, "File:")) + " " + shown;
        if (viewing::ReadExifFile(s(path), exif)) {
            if (!exif.make.empty()) lines << "Make  " + q(exif.make);
            if (!exif.model.empty()) lines << "Model  " + q(exif.model);
            if (!exif.date.empty()) lines << "DTOrigin  " + q(exif.date);
        }
        lines << QString("ImageWidth  %1").arg(picture.width()) << QString("ImageHeight  %1").arg(picture.height());
        txtExif->setPlainText(lines.join('\n'));
    } else {
        Picture1->clear();
        lblPictureMode->clear();
        txtExif->clear();
    }
}

void frmRecover::CmdShowScanTypes_Click() {
    if (pages_->currentWidget() == pageTypes_) {
        if (cacheHasFiles()) ShowResults();
        else ShowStartPage();
    } else {
        pages_->setCurrentWidget(pageTypes_);
        previewPane_->setVisible(false);
        CmdShowScanTypes->setChecked(true);
        // Choosing a drive hides the presets; with the list they are back.
        CmbTypeSelect->setVisible(true);
        LvwTypes->scrollToTop();
    }
}

void frmRecover::CmdShowThumbs_Click() {
    ShowResults();
    const bool toThumbs = resultViews_->currentWidget() == List3;
    resultViews_->setCurrentWidget(toThumbs ? static_cast<QWidget*>(LvwFiles) : static_cast<QWidget*>(List3));
    if (toThumbs) loadThumbnails();
}

void frmRecover::loadThumbnails() {
    const int width = std::clamp(TxtWidth->text().toInt(), 48, 400);
    LvwFiles->setIconSize(QSize(width, width * 3 / 4));
    LvwFiles->setGridSize(QSize(width + 24, width * 3 / 4 + 36));
    LvwFiles->doItemsLayout();
    for (int i = 0; i < LvwFiles->count() && i < foundNames_.size(); ++i) {
        QListWidgetItem* item = LvwFiles->item(i);
        if (!item->icon().isNull()) continue;
        // JPEG decoders scale while decoding: cheap small pictures.
        QImageReader reader(q((activeFolder_ / s(foundNames_[i])).string()));
        const QSize full = reader.size();
        if (full.isValid()) reader.setScaledSize(full.scaled(LvwFiles->iconSize(), Qt::KeepAspectRatio));
        const QImage thumb = reader.read();
        if (!thumb.isNull()) item->setIcon(QIcon(QPixmap::fromImage(thumb)));
        yield();
    }
    LvwFiles->doItemsLayout();
    LvwFiles->horizontalScrollBar()->setValue(0);
}

void frmRecover::CmdShowFolder_Click() {
    const bool cache = caption("CmdShowFolder") == shell::LocalCaption("CmdShowFolder");
    const fs::path folder = cache ? activeFolder_ : browseFolder_;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        message("Folders are empty.", "Explore  " + LoadStr(31, "Harvestrix"), {});
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(q(folder.string())));
}

void frmRecover::CmdOpen_Click() {
    const int row = List3->currentRow();
    if (row < 0 || row >= foundNames_.size()) return;
    const QString path = q((activeFolder_ / s(foundNames_[row])).string());
    // Never start a program found on a medium.
    if (path.contains(".exe", Qt::CaseInsensitive)) return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void frmRecover::CmdMaxSpeed_Click() {
    if (busy_.busy) return;
    // Not stoppable, but other long commands wait for it.
    busy_.busy = true;
    busy_.operation = "CmdMaxSpeed";
    for (const auto& name : shell::LongCommands())
        if (name != "CmdMaxSpeed") setEnabled(name, false);
    media::CmdMaxSpeed_Click(*this, currentDrive_, false);
    busy_ = {};
    for (const auto& name : shell::LongCommands()) setEnabled(name, true);
    EnableButtons();
}

void frmRecover::CmdQuickUndelete_Click() {
    if (busy_.busy || currentDrive_.empty()) return;
    undelete::QuickUndeleteOptions o;
    o.drive = currentDrive_;
    std::vector<std::string> extensions;
    bool every = true;
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) extensions.push_back(s(item->text(0).toLower()));
        else every = false;
    }
    o.typeFilter = undelete::UndeleteTypeFilter(extensions, every, media::CurrentDrive().DriveType == "Removable");
    o.minMB = minMB_;
    o.maxMB = maxMB_;
    o.workFolder = cacheFolder_;
    // Listing is quick but may read a whole MFT: other long commands wait.
    busy_.busy = true;
    busy_.operation = "CmdQuickUndelete";
    for (const auto& name : shell::LongCommands())
        if (name != "CmdQuickUndelete") setEnabled(name, false);
    undelete_ = std::make_unique<undelete::QuickUndelete>(*this);
    const bool listed = undelete_->run(o);
    busy_ = {};
    for (const auto& name : shell::LongCommands()) setEnabled(name, true);
    EnableButtons();
    List1->clear();
    List2->clear();
    if (!listed) return;
    for (const auto& row : undelete_->lists().list1) List1->addItem(q(row));
    for (const auto& row : undelete_->lists().list2) List2->addItem(q(row));
    findChild<QWidget*>("undeleteLists")->setVisible(true);
    ShowResults();
}

void frmRecover::showEntryInfo(QListWidget* list, bool deleted) {
    if (!undelete_ || busy_.busy) return;
    const int row = list->currentRow();
    if (row < 0) return;
    const long index = undelete::RowEntryIndex(s(list->item(row)->text()));
    if (index < 0) {
        // Header and spacer stand for the first entry.
        if (row < 2 && list->count() > 2) list->setCurrentRow(2);
        return;
    }
    QStringList lines;
    for (const auto& line :
         undelete::EntryInfoLines(undelete_->drive(), undelete_->entries(), static_cast<std::size_t>(index), deleted))
        lines << q(line);
    txtExif->setPlainText(lines.join('\n'));
}

void frmRecover::CmdBrowse_Click() {
    if (busy_.busy) return;
    auto chosen = chooseFolder(LoadStr(1531, "Browse"), browseFolder_.string());
    if (!chosen) return;
    std::string path = *chosen;
    for (std::size_t at; (at = path.find("//")) != std::string::npos;) path.erase(at, 1);
    const fs::path folder(path);
    listFolder(folder);
    if (foundNames_.isEmpty()) {
        message(FormatStr(LoadStr(0, "Folder %0 is empty."), {path}), LoadStr(1531, "Browse"), {});
        FillCacheBrowser();
        return;
    }
    browseFolder_ = folder;
    state().browse = folder;
    // Outside the cache the thumbnails come from the file list, not from a scan.
    if (path.find("QXCache") == std::string::npos) setCaption("CmdShowThumbs", LoadStr(371, "FileList Scan"));
    EnableButtons();
    ShowResults();
    List3->setCurrentRow(0);
}

void frmRecover::CmbTypeSelect_Click(int index) {
    if (index < 0 || busy_.busy) return;
    if (CmbTypeSelect->currentIndex() != index) CmbTypeSelect->setCurrentIndex(index);
    // Presets are known by their English names; the camera brands have no other.
    const auto& localised = shell::TypePresetEntries();
    const std::string name = index < static_cast<int>(localised.size()) ? localised[index].english
                                                                        : s(CmbTypeSelect->itemText(index));
    const bool all = name == "All types possible";
    QSet<QString> wanted;
    for (const auto& t : scan::PresetTypes(name)) wanted.insert(q(t).toUpper());
    for (int i = 0; i < LvwTypes->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = LvwTypes->topLevelItem(i);
        item->setCheckState(0, all || wanted.contains(item->text(0).toUpper()) ? Qt::Checked : Qt::Unchecked);
    }
}

// ---------------------------------------------------------------- close

void frmRecover::CmdEnd_Click() {
    if (closeCommand()) close();
}

bool frmRecover::closeCommand() {
    if (exited_) return true;
    if (shell::CloseCommand(*this, busy_) == shell::CloseStep::WaitForStop) {
        Timer2->start();
        return false;
    }
    Timer2->stop();
    ExitSequence();
    exited_ = true;
    return true;
}

void frmRecover::Timer2_Timer() {
    yield();
    if (!busy_.busy) {
        Timer2->stop();
        CmdEnd_Click();
    }
}

void frmRecover::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The layout settles first; then the picture is drawn to the new size.
    QTimer::singleShot(0, this, [this] {
        if (!lastPicture_.isNull())
            Picture1->setPixmap(
                lastPicture_.scaled(Picture1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    });
}

void frmRecover::closeEvent(QCloseEvent* event) {
    if (closeCommand()) event->accept();
    else event->ignore();
}

void frmRecover::ExitSequence() {
    using shell::StepResult;
    shell::WorkingState& st = state();
    if (!st.store) return;  // never loaded
    shell::StartupOptions so;
    if (options_.singleInstance) so.instanceFile = shell::DefaultInstanceFile();
    auto steps = shell::EngineExitSteps(st, *this, so);
    steps.insertBefore("EndDamagedRecovery", "SaveLastPicture", [&] {
        std::error_code ec;
        fs::create_directories(st.picture, ec);
        if (lastPicture_.isNull()) return StepResult::Done;
        return shell::Ok(lastPicture_.save(q((st.picture / "Lastpict.bmp").string()), "BMP"));
    });
    steps.insertBefore("SaveSettings", "Closing", [&] {
        setCaption("CmdEnd", LoadStr(756, "Closing..."));
        collectSettings();
        return StepResult::Done;
    });
    steps.insertAfter("ClearTemporaryFiles", "ClearLists", [&] {
        List1->clear();
        List2->clear();
        return StepResult::Done;
    });
    steps.insertBefore("RemoveEmptySaveFolder", "StopTimers", [&] {
        Timer1->stop();
        Timer2->stop();
        return StepResult::Done;
    });
    steps.run();
}

}  // namespace hx::gui
