#include "ui/window/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

#include "base/BuildInfo.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "desktop/Process.h"
#include "desktop/ProgramVersion.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "settings/ProgramLocations.h"
#include "ui/dialogs/QtText.h"
#include "ui/window/QtMainThreadQueue.h"
#include "ui/window/WindowDialogs.h"
#include "ui/window/WindowGeometry.h"
#include "ui/window/WindowWidgets.h"
#include "watchdog/Watchdog.h"

// The icons are compiled into this static library; naming the resource
// here keeps the linker from dropping it.
static void InitWindowResources() { Q_INIT_RESOURCE(window); }

namespace dz::ui {

namespace {

// The client area as designed at 96 dots per inch; Qt's device-independent
// pixels scale it with the screen.
constexpr int DesignedWidth = 736;
constexpr int DesignedHeight = 590;
constexpr int TopPanelHeight = 226;
constexpr int MiddlePanelHeight = 81;

QIcon Icon(const char* Name) { return QIcon(QStringLiteral(":/dz/%1.svg").arg(QLatin1String(Name))); }

QIcon TrayIconFor(TTaskBarStatus Status) {
  switch (Status) {
    case tbsWait: return Icon("tray-wait");
    case tbsRun: return Icon("tray-run");
    default: return Icon("tray-off");
  }
}

QPushButton* GlyphButton(QWidget* Parent, const char* Name, const char* IconName, const QString& Text,
                         const QString& Hint = {}) {
  auto* Button = Named(new QPushButton(Icon(IconName), Text, Parent), Name);
  if (!Hint.isEmpty()) Button->setToolTip(Hint);
  return Button;
}

}  // namespace

TMainWindow::TMainWindow(TQtMainThreadQueue& Queue, TWindowSetup Setup, std::unique_ptr<TWindowDialogs> Dialogs)
    : FQueue(Queue), FSetup(std::move(Setup)), FDialogs(std::move(Dialogs)) {
  ::InitWindowResources();
  setObjectName(QStringLiteral("TMainForm"));
  setWindowTitle(Q(Tr("File change monitoring with direct backup") + " (" + BuildInternalName + BitnessText() + " " +
                   VersionText(3) + ")"));
  setWindowIcon(Icon("program"));

  auto* Central = new QWidget(this);
  auto* Layout = new QVBoxLayout(Central);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  auto* Top = Named(new QWidget(Central), "pnTop");
  Top->setFixedHeight(TopPanelHeight);
  auto* Middle = Named(new QWidget(Central), "pnMiddle");
  Middle->setFixedHeight(MiddlePanelHeight);
  FLogPanel = Named(new QWidget(Central), "pnLog");
  Layout->addWidget(Top);
  Layout->addWidget(Middle);
  Layout->addWidget(FLogPanel, 1);
  setCentralWidget(Central);
  BuildTopPanel(Top);
  BuildMiddlePanel(Middle);
  BuildLogPanel(FLogPanel);
  BuildMenus();
  pmiStartup->setChecked(FDialogs->StartsOnLogon());
  pmiStartup->setIcon(Icon(pmiStartup->isChecked() ? "ball-red" : "empty"));

  tmBackup = Named(new QTimer(this), "tmBackup");
  tmBackup->setInterval(1000);
  connect(tmBackup, &QTimer::timeout, this, &TMainWindow::tmBackupTimer);

  FTray = Named(new QSystemTrayIcon(TrayIconFor(tbsOff), this), "trayIcon");
  FTray->setContextMenu(FTaskbarMenu);
  connect(FTray, &QSystemTrayIcon::activated, this, &TMainWindow::TrayActivated);

  resize(DesignedWidth, DesignedHeight);
}

TMainWindow::~TMainWindow() {
  if (FInfoDialog) delete FInfoDialog.data();
}

void TMainWindow::SetWatchdog(TWatchdog* Watchdog) {
  FWatchdog = Watchdog;
  if (FWatchdog != nullptr) StateChanged(FWatchdog->State());
  else tmBackup->stop();
}

template <class F> bool TMainWindow::Call(F&& Operation) {
  // A tray menu or a timer can still reach the window while an operation
  // turns an event loop of its own: a message or a question, and the wait
  // for the last backup at a stop or a quit (the only wait left in the
  // controller). The operation must end first.
  if (FWatchdog == nullptr || Busy()) return false;
  ++FBusy;
  struct TLeave {
    int& Busy;
    ~TLeave() { --Busy; }
  } Leave{FBusy};
  Operation(*FWatchdog);
  return true;
}

bool TMainWindow::Busy() const { return FBusy > 0 || FQueue.Waiting(); }

// --- building -----------------------------------------------------------------

void TMainWindow::BuildTopPanel(QWidget* Panel) {
  auto* Grid = new QGridLayout(Panel);
  Grid->setContentsMargins(8, 6, 8, 4);
  Grid->addWidget(Named(new QLabel(Q(Tr("Directories to be monitored")), Panel), "laDirs"), 0, 0);
  lbDirs = Named(new QListWidget(Panel), "lbDirs");
  lbDirs->setItemDelegate(new TDirListDelegate(lbDirs));
  lbDirs->setUniformItemSizes(false);
  Grid->addWidget(lbDirs, 1, 0, 7, 1);

  auto* Details = new QGridLayout;
  Details->addWidget(Named(new QLabel(Q(Tr("Associated backup task")), Panel), "laTask"), 0, 0, 1, 3);
  edTask = Named(new QLineEdit(Panel), "edTask");
  edTask->setReadOnly(true);
  edTask->setToolTip(Q(Tr("Backup task with the settings to be used")));
  Details->addWidget(edTask, 1, 0, 1, 2);
  bbEdit = GlyphButton(Panel, "bbEdit", "app-edit", Q(Tr("Edit backup task")));
  Details->addWidget(bbEdit, 1, 2);
  Details->addWidget(Named(new QLabel(Q(Tr("Destination:")), Panel), "laDest"), 2, 0);
  edBuDest = Named(new QLineEdit(Panel), "edBuDest");
  edBuDest->setReadOnly(true);
  edBuDest->setToolTip(Q(Tr("Destination directory")));
  Details->addWidget(edBuDest, 2, 1, 1, 2);
  laBuMethod = Named(new QLabel(Panel), "laBuMethod");
  laCompress = Named(new QLabel(Panel), "laCompress");
  Details->addWidget(laBuMethod, 3, 0, 1, 3);
  Details->addWidget(laCompress, 4, 0, 1, 2);
  bbFilter = GlyphButton(Panel, "bbFilter", "filter-blue", Q(Tr("Show filter settings")));
  Details->addWidget(bbFilter, 4, 2);
  auto* Retain = new QHBoxLayout;
  laBakCount = Named(new QLabel(Q(Tr("Retain previous file versions:")), Panel), "laBakCount");
  edBakCount = Named(new QSpinBox(Panel), "edBakCount");
  edBakCount->setRange(0, 3);
  edBakCount->setToolTip(Q(Tr("Number of legacy copies to be kept")));
  Retain->addWidget(laBakCount);
  Retain->addWidget(edBakCount);
  Retain->addStretch(1);
  Details->addLayout(Retain, 5, 0, 1, 3);
  auto* AddRemove = new QHBoxLayout;
  btnAdd = GlyphButton(Panel, "btnAdd", "folder-add", Q(Tr("Add directory")));
  btnRemove = GlyphButton(Panel, "btnRemove", "folder-sub", Q(Tr("Remove directory")));
  AddRemove->addWidget(btnAdd);
  AddRemove->addWidget(btnRemove);
  Details->addLayout(AddRemove, 6, 0, 1, 3);
  Details->setColumnStretch(1, 1);
  Grid->addLayout(Details, 0, 1, 8, 1);
  Grid->setColumnStretch(0, 3);
  Grid->setColumnStretch(1, 2);

  connect(lbDirs, &QListWidget::currentRowChanged, this, [this](int Row) {
    if (!FRendering && Row >= 0) Call([&](TWatchdog& W) { W.SelectDirItem(static_cast<std::size_t>(Row)); });
  });
  connect(lbDirs, &QListWidget::itemChanged, this, [this](QListWidgetItem* Item) {
    if (FRendering) return;
    const int Row = lbDirs->row(Item);
    const bool Checked = Item->checkState() == Qt::Checked;
    // Rendering the state afterwards puts the mark back where the
    // controller undid the click (monitoring runs).
    Call([&](TWatchdog& W) { W.DirItemChecked(static_cast<std::size_t>(Row), Checked); });
  });
  connect(lbDirs, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* Item) { lbDirsDblClick(lbDirs->row(Item)); });
  connect(bbEdit, &QPushButton::clicked, this, &TMainWindow::bbEditClick);
  connect(bbFilter, &QPushButton::clicked, this, [this] {
    if (FWatchdog == nullptr || FState.Selected < 0) return;
    if (const auto Display = FWatchdog->FilterDisplayOf(static_cast<std::size_t>(FState.Selected)))
      FDialogs->ShowFilterSettings(this, *Display);
  });
  connect(edBakCount, &QSpinBox::valueChanged, this, [this](int Value) {
    if (!FRendering) Call([&](TWatchdog& W) { W.RetainBakChanged(Value); });
  });
  connect(btnAdd, &QPushButton::clicked, this, &TMainWindow::btnAddClick);
  connect(btnRemove, &QPushButton::clicked, this, &TMainWindow::btnRemoveClick);
}

void TMainWindow::BuildMiddlePanel(QWidget* Panel) {
  auto* Row = new QHBoxLayout(Panel);
  Row->setContentsMargins(8, 0, 8, 0);
  auto* Settings = Named(new QGroupBox(Q(Tr("Backup settings")), Panel), "gbSettings");
  auto* SettingsGrid = new QGridLayout(Settings);
  cbPeriodic = Named(new QCheckBox(Q(Tr("Check for backup every")), Settings), "cbPeriodic");
  cbPeriodic->setToolTip(Q(Tr("Enable periodic backups")));
  reInterval = Named(new QSpinBox(Settings), "reInterval");
  cbIntUnit = Named(new QComboBox(Settings), "cbIntUnit");
  // Each unit after one blank, as the box has always shown them.
  for (const TIntervalUnit Unit : {iuSeconds, iuMinutes, iuHours})
    cbIntUnit->addItem(QStringLiteral(" ") + Q(IntervalUnitText(Unit)));
  cbSysTray = Named(new QCheckBox(Q(Tr("Keep running in background")), Settings), "cbSysTray");
  SettingsGrid->addWidget(cbPeriodic, 0, 0);
  SettingsGrid->addWidget(reInterval, 0, 1);
  SettingsGrid->addWidget(cbIntUnit, 0, 2);
  SettingsGrid->addWidget(cbSysTray, 1, 0, 1, 3);
  Row->addWidget(Settings);

  auto* Next = Named(new QGroupBox(Q(Tr("Next backup")), Panel), "gbNext");
  auto* NextGrid = new QGridLayout(Next);
  laCount = Named(new QLabel(Next), "laCount");
  laFiles = Named(new QLabel(Next), "laFiles");
  laFiles->setToolTip(Q(Tr("Number of files detected as modified")));
  laNoSched = Named(new QLabel(Q(Tr("Not scheduled")), Next), "laNoSched");
  sbViewFiles = Named(new QToolButton(Next), "sbViewFiles");
  sbViewFiles->setIcon(Icon("magnifier"));
  sbViewFiles->setToolTip(Q(Tr("Show files")));
  sbViewFiles->hide();
  cpWait = new TClockProgressWidget(Next);
  cpWait->setFixedSize(40, 40);
  cpWait->hide();
  NextGrid->addWidget(laCount, 0, 0);
  NextGrid->addWidget(laNoSched, 0, 0);
  NextGrid->addWidget(laFiles, 1, 0);
  NextGrid->addWidget(sbViewFiles, 1, 1);
  NextGrid->addWidget(cpWait, 0, 2, 2, 1);
  NextGrid->setColumnStretch(0, 1);
  Row->addWidget(Next, 1);

  const auto BigButton = [Panel](const char* Name, const char* IconName, const QString& Hint) {
    auto* Button = Named(new QPushButton(Icon(IconName), QString(), Panel), Name);
    Button->setIconSize(QSize(32, 32));
    Button->setFixedSize(44, 44);
    Button->setToolTip(Hint);
    return Button;
  };
  bbStart = BigButton("bbStart", "run", Q(Tr("Start monitoring the selected directories")));
  bbStop = BigButton("bbStop", "stop", Q(Tr("Stop monitoring")));
  bbStop->setEnabled(false);
  bbMenu = BigButton("bbMenu", "menu-green", Q(Tr("Open menu")));
  bbQuit = BigButton("bbQuit", "switchoff", Q(Tr("Quit program and save settings")));
  for (QPushButton* Button : {bbStart, bbStop, bbMenu, bbQuit}) Row->addWidget(Button);

  connect(cbPeriodic, &QCheckBox::toggled, this, [this](bool On) {
    if (!FRendering) Call([&](TWatchdog& W) { W.PeriodicClicked(On); });
  });
  connect(reInterval, &QSpinBox::valueChanged, this, [this](int Value) {
    if (!FRendering) Call([&](TWatchdog& W) { W.IntervalValueChanged(Value); });
  });
  connect(cbIntUnit, &QComboBox::activated, this, [this](int Index) {
    Call([&](TWatchdog& W) { W.IntervalUnitChosen(static_cast<TIntervalUnit>(Index)); });
  });
  connect(cbSysTray, &QCheckBox::toggled, this, [this](bool On) {
    if (!FRendering) Call([&](TWatchdog& W) { W.SysTrayClicked(On); });
  });
  connect(sbViewFiles, &QToolButton::clicked, this, [this] { Call([](TWatchdog& W) { W.sbViewFilesClick(); }); });
  connect(bbStart, &QPushButton::clicked, this, &TMainWindow::bbStartClick);
  connect(bbStop, &QPushButton::clicked, this, &TMainWindow::bbStopClick);
  connect(bbMenu, &QPushButton::clicked, this, [this] { FSettingsMenu->popup(QCursor::pos()); });
  connect(bbQuit, &QPushButton::clicked, this, &TMainWindow::bbQuitClick);
}

void TMainWindow::BuildLogPanel(QWidget* Panel) {
  auto* Layout = new QVBoxLayout(Panel);
  Layout->setContentsMargins(8, 4, 8, 8);
  Layout->addWidget(Named(new QLabel(Q(Tr("Backup log:")), Panel), "laLog"));
  meLog = Named(new QPlainTextEdit(Panel), "meLog");
  meLog->setReadOnly(true);
  meLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  meLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  meLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  meLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Layout->addWidget(meLog, 1);
  auto* Buttons = new QHBoxLayout;
  auto* ShowLog = GlyphButton(Panel, "bbShowLog", "doc-view", QString(), Q(Tr("Show log file")));
  auto* Copy = GlyphButton(Panel, "bbCopy", "clip-copy-l", QString(), Q(Tr("Copy log to clipboard")));
  auto* Clear = GlyphButton(Panel, "bbClear", "doc-delete", QString(), Q(Tr("Clear log")));
  cbWriteLog = Named(new QCheckBox(Q(Tr("Write log to file")), Panel), "cbWriteLog");
  Buttons->addWidget(ShowLog);
  Buttons->addWidget(Copy);
  Buttons->addWidget(Clear);
  // The check box keeps to the panel's right edge whatever the window's size.
  Buttons->addStretch(1);
  Buttons->addWidget(cbWriteLog);
  Layout->addLayout(Buttons);

  connect(ShowLog, &QPushButton::clicked, this, [this] {
    if (FWatchdog != nullptr) FDialogs->ShowLogFile(this, FWatchdog->LogDir());
  });
  connect(Copy, &QPushButton::clicked, this, [this] {
    QTextCursor Cursor = meLog->textCursor();
    const QString Text = Cursor.hasSelection() ? Cursor.selection().toPlainText() : meLog->toPlainText();
    QGuiApplication::clipboard()->setText(Text);
    Cursor.clearSelection();
    meLog->setTextCursor(Cursor);
  });
  connect(Clear, &QPushButton::clicked, this, [this] { Call([](TWatchdog& W) { W.ClearLog(); }); });
  connect(cbWriteLog, &QCheckBox::toggled, this, [this](bool On) {
    if (!FRendering) Call([&](TWatchdog& W) { W.WriteLogClicked(On); });
  });
}

void TMainWindow::BuildMenus() {
  FSettingsMenu = Named(new QMenu(this), "pmSettings");
  pmiStartup = Named(FSettingsMenu->addAction(Icon("empty"), Q(Tr("Start on logon"))), "pmiStartup");
  pmiStartup->setCheckable(true);
  FSettingsMenu->addSeparator();
  Named(FSettingsMenu->addAction(Q(Tr("Reset window to default size")), this, &TMainWindow::pmiDefaultSizeClick),
        "pmiDefaultSize");
  FSettingsMenu->addSeparator();
  QAction* Help = Named(FSettingsMenu->addAction(Q(Tr("Help")), this, [this] { FDialogs->OpenHelp(this); }), "pmiHelp");
  Help->setShortcut(QKeySequence(Qt::Key_F1));
  Help->setShortcutContext(Qt::ApplicationShortcut);
  addAction(Help);
  Named(FSettingsMenu->addAction(Q(Tr("Version info")), this, &TMainWindow::pmiInfoClick), "pmiInfo");
  FSettingsMenu->addSeparator();
  FSettingsMenu->addAction(Q(Tr("Cancel")));
  connect(pmiStartup, &QAction::triggered, this, [this](bool On) {
    if (!isVisible()) return;
    if (!FDialogs->SetStartOnLogon(this, On)) pmiStartup->setChecked(!On);
    pmiStartup->setIcon(Icon(pmiStartup->isChecked() ? "ball-red" : "empty"));
  });

  FTaskbarMenu = Named(new QMenu(this), "pmTaskbar");
  QAction* Zentivo = Named(FTaskbarMenu->addAction(Icon("zvlogo"), QStringLiteral("Zentivo")), "pmiZentivoCore");
  QFont Bold = Zentivo->font();
  Bold.setBold(true);
  Zentivo->setFont(Bold);
  connect(Zentivo, &QAction::triggered, this, [this] { FDialogs->OpenMainApplication(this); });
  FTaskbarMenu->addSeparator();
  pmiStartImm = Named(FTaskbarMenu->addAction(Q(Tr("Start immediate backup"))), "pmiStartImm");
  pmiStartImm->setEnabled(false);
  connect(pmiStartImm, &QAction::triggered, this, [this] { Call([](TWatchdog& W) { W.RequestInstantBackup(); }); });
  FTaskbarMenu->addSeparator();
  pmiStartStop = Named(FTaskbarMenu->addAction(Q(Tr("Start monitoring")), this, &TMainWindow::pmiStartStopClick),
                       "pmiStartStop");
  Named(FTaskbarMenu->addAction(Q(Tr("Edit monitoring")), this, &TMainWindow::pmiProgClick), "pmiProg");
  Named(FTaskbarMenu->addAction(Q(Tr("Quit monitoring")), this, &TMainWindow::pmiQuitClick), "pmiQuit");
  FTaskbarMenu->addSeparator();
  FTaskbarMenu->addAction(Q(Tr("Cancel")));
}

// --- rendering the state -----------------------------------------------------------

void TMainWindow::StateChanged(const TWatchdogState& State) {
  FState = State;
  FRendering = true;
  RenderDirList(State);
  RenderTaskInfo(State);
  btnRemove->setEnabled(State.RemoveEnabled && !FEditRunning);
  {
    const QSignalBlocker B1(cbSysTray), B2(cbWriteLog), B3(cbPeriodic), B4(reInterval), B5(cbIntUnit);
    cbSysTray->setChecked(State.SysTrayChecked);
    cbWriteLog->setChecked(State.WriteLogChecked);
    const TIntervalDisplay& I = State.Interval;
    cbPeriodic->setChecked(I.Periodic);
    cbPeriodic->setEnabled(State.PeriodicEnabled);
    reInterval->setRange(I.MinValue, I.MaxValue);
    reInterval->setSingleStep(I.Step);
    reInterval->setValue(I.Value);
    reInterval->setToolTip(Q(I.Hint));
    cbIntUnit->setCurrentIndex(static_cast<int>(I.Unit));
    reInterval->setEnabled(I.Periodic);
    cbIntUnit->setEnabled(I.Periodic);
  }
  laCount->setText(Q(State.CountdownText));
  laFiles->setText(Q(State.FileCountText));
  laNoSched->setVisible(State.NotScheduledVisible);
  laCount->setVisible(!State.NotScheduledVisible);
  sbViewFiles->setVisible(State.ShowFilesVisible);
  cpWait->SetProgress(State.ClockProgress);
  bbStart->setEnabled(State.StartEnabled);
  bbStart->setToolTip(Q(State.StartHint));
  bbStop->setEnabled(State.StopEnabled);
  bbQuit->setIcon(Icon(State.QuitToBackground ? "standby" : "switchoff"));
  bbQuit->setToolTip(Q(State.QuitHint));
  if (State.BackupTimerEnabled && !tmBackup->isActive()) tmBackup->start();
  if (!State.BackupTimerEnabled) tmBackup->stop();
  UpdateTray();
  if (FInfoDialog) {
    FInfoDialog->SetStatus(Q(State.StatusLine), Q(State.StatusFileLine));
    FInfoDialog->SetInfo(Q(State.ActiveDirsText));
  }
  FRendering = false;
}

void TMainWindow::RenderDirList(const TWatchdogState& State) {
  const QSignalBlocker Block(lbDirs);
  const int Count = static_cast<int>(State.DirItems.size());
  while (lbDirs->count() > Count) delete lbDirs->takeItem(lbDirs->count() - 1);
  while (lbDirs->count() < Count) {
    auto* Item = new QListWidgetItem(lbDirs);
    Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  }
  for (int I = 0; I < Count; ++I) {
    const TDirItem& D = State.DirItems[static_cast<std::size_t>(I)];
    QListWidgetItem* Item = lbDirs->item(I);
    const TDirItemNotes Notes = DirItemNotes(D);
    Item->setText(Q(D.Text) + Notes.Mark);
    Item->setToolTip(Notes.Hint);
    Item->setCheckState(D.Checked ? Qt::Checked : Qt::Unchecked);
    Item->setData(RunStatusRole, static_cast<int>(D.RunStatus));
    Item->setData(Qt::DecorationRole, RunStatusIconName(D.RunStatus, D.Invalid));
  }
  lbDirs->setCurrentRow(State.Selected);
  lbDirs->viewport()->update();
}

void TMainWindow::RenderTaskInfo(const TWatchdogState& State) {
  const QSignalBlocker Block(edBakCount);
  if (State.TaskInfo) {
    const TTaskInfo& T = *State.TaskInfo;
    edTask->setText(QString::fromStdString(T.Task));
    edBuDest->setText(QString::fromStdString(T.Destination));
    laBuMethod->setText(Q(T.MethodText));
    laCompress->setText(Q(T.CompressionText));
    edBakCount->setValue(T.RetainBak);
    bbEdit->setEnabled(T.EditEnabled && !FEditRunning);
  } else {
    edTask->clear();
    edBuDest->clear();
    laBuMethod->clear();
    laCompress->clear();
    edBakCount->setValue(0);
    bbEdit->setEnabled(false);
  }
  bbFilter->setEnabled(!State.DirItems.empty());
}

void TMainWindow::UpdateTray() {
  FTray->setIcon(TrayIconFor(FState.TrayStatus));
  FTray->setToolTip(Q(FState.TrayTip));
  pmiStartStop->setText(Q(FState.TrayStartStopCaption));
  pmiStartImm->setEnabled(FState.ImmediateBackupEnabled);
}

void TMainWindow::LogLineAdded(const std::string& Line) { meLog->appendPlainText(Q(Line)); }

void TMainWindow::LogCleared() { meLog->clear(); }

void TMainWindow::ShowMessage(const std::string& Text) { FDialogs->Message(this, Q(Text)); }

bool TMainWindow::AskQuestion(const std::string& Text) { return FDialogs->Question(this, Q(Text)); }

void TMainWindow::ShowDestinationWarning(const std::string& Text) {
  // Not modal: the program goes on backing up the other directories. A
  // destination that stays missing warns at every failing start; one window
  // with the latest text is raised instead of piling up new ones.
  if (!FDestinationWarning) {
    auto* Box = new QMessageBox(QMessageBox::Critical, windowTitle(), QString(), QMessageBox::Ok, this);
    Box->setObjectName(QStringLiteral("TfrmShowHint"));
    Box->setModal(false);
    Box->setAttribute(Qt::WA_DeleteOnClose);
    FDestinationWarning = Box;
  }
  FDestinationWarning->setText(Q(Text));
  FDestinationWarning->show();
  FDestinationWarning->raise();
  FDestinationWarning->activateWindow();
}

void TMainWindow::ShowChangedFiles(const std::vector<std::string>& Lines) {
  if (FChangedFiles) FChangedFiles->close();
  auto* List = new QListWidget(this);
  List->setObjectName(QStringLiteral("ChangedFiles"));
  List->setWindowFlags(Qt::Popup);
  List->setAttribute(Qt::WA_DeleteOnClose);
  QPalette Pal = List->palette();
  Pal.setColor(QPalette::Base, Pal.color(QPalette::ToolTipBase));
  Pal.setColor(QPalette::Text, Pal.color(QPalette::ToolTipText));
  List->setPalette(Pal);
  for (const std::string& Line : Lines) List->addItem(QString::fromStdString(Line));
  List->resize(std::max(300, List->sizeHintForColumn(0) + 24), std::min(400, 24 + 18 * static_cast<int>(Lines.size())));
  List->move(sbViewFiles->mapToGlobal(QPoint(0, sbViewFiles->height())));
  FChangedFiles = List;
  List->show();
}

// --- the settings file's placement ----------------------------------------------------

TClientSize TMainWindow::DesignedClientSize() const { return {DesignedHeight, DesignedWidth}; }

TWindowPlacement TMainWindow::GetWindowPlacement() const {
  const QRect Frame = frameGeometry();
  return {Frame.top(), Frame.left(), height(), width()};
}

void TMainWindow::SetWindowPlacement(const TWindowPlacement& Placement) {
  const int Width = Placement.ClientWidth > 0 ? Placement.ClientWidth : DesignedWidth;
  const int Height = Placement.ClientHeight > 0 ? Placement.ClientHeight : DesignedHeight;
  QList<QRect> Areas;
  for (const QScreen* Screen : QGuiApplication::screens()) Areas << Screen->availableGeometry();
  const QScreen* Primary = QGuiApplication::primaryScreen();
  const QRect Fitted = Primary == nullptr ? QRect(Placement.Left, Placement.Top, Width, Height)
                                          : FitOntoScreens(QRect(Placement.Left, Placement.Top, Width, Height), Areas,
                                                           Primary->availableGeometry());
  resize(Fitted.size());
  move(Fitted.topLeft());
}

// --- showing, closing, the background ------------------------------------------------

void TMainWindow::CheckForce(bool Force) {
  if (!Force || FWatchdog == nullptr) {
    show();
    return;
  }
  bool Started = false;
  Call([&](TWatchdog& W) { Started = W.StartMonitoring(); });
  // A start that failed leaves the window to the user: its close box must
  // end the program, not hide it with nothing monitored.
  if (!Started) {
    show();
    return;
  }
  FGoStandby = FState.SysTrayChecked;
  if (!FGoStandby) {
    show();
    return;
  }
  auto* Screen = new TStartScreen(Q(VersionText(3)));
  Screen->show();
  QTimer::singleShot(3000, Screen, &QWidget::close);
  QCoreApplication::processEvents();
  close();
}

void TMainWindow::showEvent(QShowEvent* Event) {
  QMainWindow::showEvent(Event);
  // Every showing, also back from the notification area, checks the
  // entries again; a window coming back from the minimised state is the
  // same showing.
  if (!Event->spontaneous()) FormShow();
}

void TMainWindow::FormShow() {
  Call([](TWatchdog& W) {
    W.ValidateMonTasks();
    if (!W.State().DirItems.empty()) W.SelectDirItem(0);
  });
  meLog->verticalScrollBar()->setValue(meLog->verticalScrollBar()->maximum());
}

void TMainWindow::closeEvent(QCloseEvent* Event) {
  if (Busy()) {
    // An operation waits (the last backup): it must end first.
    Event->ignore();
    return;
  }
  Call([](TWatchdog& W) { W.SaveSettings(); });
  if (FGoStandby) {
    Event->ignore();
    GoToBackground();
    return;
  }
  FTray->hide();
  if (FInfoDialog) FInfoDialog->close();
  FEnded = true;
  Event->accept();
  QCoreApplication::quit();
}

bool TMainWindow::TrayAvailable() const {
  return FSetup.TrayAvailable ? FSetup.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainWindow::GoToBackground() {
  if (!TrayAvailable()) {
    // Without a notification area a hidden window could not be reached
    // again: it is minimised instead.
    if (!FNoTrayToldOnce) {
      FNoTrayToldOnce = true;
      Call([](TWatchdog& W) {
        W.AddLogLine(Tr("The desktop shows no notification area: the window is minimised instead of hidden."));
      });
    }
    showMinimized();
    WatchForTrayHost();
    return;
  }
  if (FTrayWatch != nullptr) FTrayWatch->stop();
  FTray->hide();
  FTray->show();
  FTray->showMessage(Q(ProgVersName()), Q(Tr("monitors selected directories and backs up changed files automatically!")),
                     FTray->icon(), 10000);
  hide();
}

void TMainWindow::WatchForTrayHost() {
  if (FTrayWatch == nullptr) {
    // At logon the panel with the notification area often comes up after
    // the program. Qt tells of no tray host coming (its platforms know
    // either the X server's tray or the session bus's, or both): a look
    // every second, only while the window waits for one, finds either.
    FTrayWatch = Named(new QTimer(this), "tmTrayWatch");
    FTrayWatch->setInterval(1000);
    connect(FTrayWatch, &QTimer::timeout, this, &TMainWindow::TrayHostMayHaveChanged);
  }
  FTrayWatch->start();
}

void TMainWindow::TrayHostMayHaveChanged() {
  if (FTrayWatch == nullptr || !FTrayWatch->isActive() || !TrayAvailable()) return;
  FTrayWatch->stop();
  // Still waiting in the task bar: the icon takes its place. A window the
  // user has brought back stays; its next move to the background finds
  // the notification area.
  if (isMinimized() && FGoStandby && !FEnded) GoToBackground();
}

void TMainWindow::resizeEvent(QResizeEvent* Event) { QMainWindow::resizeEvent(Event); }

// --- handlers --------------------------------------------------------------------------

void TMainWindow::tmBackupTimer() {
  // A tick never runs inside an operation of the controller that waits or
  // shows a message (Call refuses it); the next second catches up.
  Call([](TWatchdog& W) { W.Tick(); });
}

void TMainWindow::bbStartClick() {
  if (FState.Monitoring) {
    Call([](TWatchdog& W) { W.RequestInstantBackup(); });
    return;
  }
  if (!Call([](TWatchdog& W) { W.StartMonitoring(); })) return;
  // Whatever the start gave: a failed start has told the user why, and
  // the program still goes where the user asked it to.
  FGoStandby = FState.SysTrayChecked;
  if (FGoStandby) close();
}

void TMainWindow::bbStopClick() {
  Call([](TWatchdog& W) { W.StopMonitoring(); });
}

void TMainWindow::bbQuitClick() {
  if (Busy()) return;
  FGoStandby = FState.SysTrayChecked;
  if (!FGoStandby) Call([](TWatchdog& W) { W.StopMonitoring(); });
  close();
}

void TMainWindow::pmiQuitClick() {
  if (!Call([](TWatchdog& W) { W.StopMonitoring(); })) return;
  FGoStandby = false;
  close();
}

void TMainWindow::pmiStartStopClick() {
  const bool Stop = FState.StopEnabled;
  Call([Stop](TWatchdog& W) {
    if (Stop)
      W.StopMonitoring();
    else
      W.StartMonitoring();
  });
}

void TMainWindow::pmiProgClick() {
  if (isVisible() && !isMinimized()) {
    raise();
    activateWindow();
    return;
  }
  showNormal();
  raise();
  activateWindow();
}

void TMainWindow::pmiDefaultSizeClick() {
  if (FWatchdog != nullptr) resize(FWatchdog->DWidth(), FWatchdog->DHeight());
}

void TMainWindow::pmiInfoClick() {
  std::string Text = std::string(BuildInternalName) + BitnessText() + " (" + Tr("Version") + " " +
                     BuildFileVersion + ") - " + FSetup.ProgVersDate + "\r\n" +
                     Tr("Backs up every changed file of the watched directories as soon as it is found.");
  if (!FSetup.ZvPath.empty()) {
    if (const std::optional<TProgramVersion> Package = ReadProgramVersion(FSetup.ZvPath))
      Text += "\r\n" + Tr("Part of program package:") + "\r\n" + ProgramVersionLine(*Package);
  }
  FDialogs->Information(this, bbMenu->mapToGlobal(QPoint(30, 0)), Q(ProgVersName()), Q(Text));
}

void TMainWindow::lbDirsDblClick(int Row) {
  if (Row < 0 || static_cast<std::size_t>(Row) >= FState.DirItems.size()) return;
  Call([Row](TWatchdog& W) { W.SelectDirItem(static_cast<std::size_t>(Row)); });
  if (FState.DirItems[static_cast<std::size_t>(Row)].RunStatus == rsOff && FState.TaskInfo &&
      FState.TaskInfo->EditEnabled)
    bbEditClick();
}

void TMainWindow::btnAddClick() {
  if (FWatchdog == nullptr) return;
  const std::string StartDir =
      FState.TaskInfo && !FState.TaskInfo->Task.empty() ? ExtractFileDir(FState.TaskInfo->Task) : FWatchdog->JobDir();
  if (const std::optional<std::string> File = FDialogs->ChooseTaskFile(this, StartDir)) AddTaskFile(*File);
}

void TMainWindow::AddTaskFile(const std::string& TaskFile) {
  if (FWatchdog == nullptr) return;
  const TTaskSources Found = FWatchdog->TaskSourcesForAdding(TaskFile);
  if (Found.Result != tcUsable) {
    FDialogs->Message(this, Q(Found.Message));
    return;
  }
  if (Found.Sources.empty()) {
    FDialogs->Message(this, Q(SafeFormat(Tr("The backup task \"%s\" names no existing source directory."), TaskFile)));
    return;
  }
  std::string Dir = Found.Sources.front().Dir;
  if (Found.Sources.size() > 1) {
    QStringList Items;
    for (const TTaskSource& Source : Found.Sources) Items << QString::fromStdString(Source.Dir);
    const std::optional<int> Chosen = FDialogs->SelectListItem(
        this, btnAdd->mapToGlobal(QPoint(0, btnAdd->height())), Q(Tr("Select directory to be monitored")),
        Q(SafeFormat(Tr("Source directories found in the backup task \"%s\""), ExtractFileName(TaskFile))), Items);
    if (!Chosen || *Chosen < 0 || *Chosen >= Items.size()) return;
    Dir = Found.Sources[static_cast<std::size_t>(*Chosen)].Dir;
  }
  Call([&](TWatchdog& W) { W.AddDirectory(TaskFile, Dir); });
}

void TMainWindow::btnRemoveClick() {
  if (FState.DirItems.empty() || FEditRunning) return;
  Call([](TWatchdog& W) { W.RemoveSelected(); });
}

void TMainWindow::bbEditClick() {
  if (FWatchdog == nullptr || FState.Selected < 0 || !FState.TaskInfo || FEditRunning) return;
  const auto Index = static_cast<std::size_t>(FState.Selected);
  const std::string TaskFile = FState.TaskInfo->Task;
  if (!RegularFileExists(TaskFile)) {
    FDialogs->Message(this, Q(Tr("Task not found") + ": " + TaskFile));
    return;
  }
  if (Busy()) return;
  // The editor may stay open for minutes: the window and the timer go on
  // meanwhile (backups run), and only another edit and the removal of an
  // entry, which would move the edited one, wait for its end.
  FEditRunning = true;
  bbEdit->setEnabled(false);
  btnRemove->setEnabled(false);
  const QPointer<TMainWindow> Self(this);
  FDialogs->StartMainApplication(this, EditTaskCommand(FSetup.ZvPath, TaskFile),
                                 [Self, Index](const TProcessOutcome& Outcome) {
                                   if (Self) Self->EditEnded(Index, Outcome);
                                 });
}

void TMainWindow::EditEnded(std::size_t Index, const TProcessOutcome& Outcome) {
  if (Busy()) {
    // An operation of the controller waits (the last backup) with the
    // event loop turning: the edit's end is taken once it is over.
    QTimer::singleShot(100, this, [this, Index, Outcome] { EditEnded(Index, Outcome); });
    return;
  }
  FEditRunning = false;
  if (!Outcome.Started) {
    FDialogs->Message(this, Q(SafeFormat(Tr("Error on executing Zentivo: %s"), Outcome.Error)));
  } else if (Outcome.ExitCode != 0) {
    FDialogs->Message(this, Q(EditTaskFailureMessage(Outcome.ExitCode)));
  } else if (FWatchdog != nullptr && Index < FWatchdog->State().DirItems.size()) {
    Call([Index](TWatchdog& W) { W.TaskEdited(Index); });
  }
  if (FWatchdog != nullptr) StateChanged(FWatchdog->State());
}

void TMainWindow::TrayActivated(QSystemTrayIcon::ActivationReason Reason) {
  if (Reason != QSystemTrayIcon::Trigger) return;  // the context menu opens by itself
  if (isHidden()) {
    ShowTrayInfo();
    return;
  }
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void TMainWindow::ShowTrayInfo() {
  if (FInfoDialog && FInfoDialog->isVisible()) {
    FInfoDialog->raise();
    FInfoDialog->activateWindow();
    return;
  }
  if (FWatchdog == nullptr) return;
  TWatchdog* Watchdog = FWatchdog;
  auto* Dialog = new TShowInfoDialog(this, Q(ProgVersName()), Q(FState.ActiveDirsText), Q(Tr("Edit monitoring")),
                                     [Watchdog] { return Watchdog->ChangedFileLines(); });
  Dialog->setAttribute(Qt::WA_DeleteOnClose);
  Dialog->SetStatus(Q(FState.StatusLine), Q(FState.StatusFileLine));
  connect(Dialog, &TShowInfoDialog::Closed, this, [this](TInfoResult Result) {
    if (Result == TInfoResult::Close) return;
    if (Result == TInfoResult::StartBackup) Call([](TWatchdog& W) { W.RequestInstantBackup(); });
    pmiProgClick();
  });
  Dialog->adjustSize();
  const QScreen* Screen = QGuiApplication::screenAt(QCursor::pos());
  if (Screen == nullptr) Screen = QGuiApplication::primaryScreen();
  if (Screen != nullptr)
    Dialog->move(StatusDialogPosition(Screen->geometry(), Screen->availableGeometry(), Dialog->frameSize()));
  FInfoDialog = Dialog;
  Dialog->show();
  Dialog->raise();
  Dialog->activateWindow();
}

}  // namespace dz::ui
