#pragma once
// The main window: the directory list with the selected entry's settings,
// the interval and background settings, the countdown, the start, stop,
// menu and quit buttons and the log; the notification-area icon with its
// menu and status dialog. It renders the core's TWatchdogState and turns
// the user's actions into calls of the controller; every rule of what is
// enabled, captioned or shown when lives in the core. Modal dialogs and the
// pieces of other parts of the desktop are asked of a TWindowDialogs, which
// tests replace.

#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/window/WindowDialogs.h"
#include "ui/window/WindowWidgets.h"
#include "watchdog/WatchdogView.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;

namespace dz {
class TWatchdog;
}

namespace dz::ui {

class TClockProgressWidget;
class TQtMainThreadQueue;
class TShowInfoDialog;
class TWindowDialogs;

// What the window needs to know from the program's start-up.
struct TWindowSetup {
  std::string ZvPath;       // the main application; empty when not found
  std::string ProgVersDate;
  // Whether the desktop shows notification-area icons now; asked of Qt when
  // not set (tests decide).
  std::function<bool()> TrayAvailable;
};

class TMainWindow : public QMainWindow, public TWatchdogView {
  Q_OBJECT
public:
  TMainWindow(TQtMainThreadQueue& Queue, TWindowSetup Setup, std::unique_ptr<TWindowDialogs> Dialogs);
  ~TMainWindow() override;

  // The controller, created after the window (it asks the window for its
  // designed size) and destroyed before it.
  void SetWatchdog(TWatchdog* Watchdog);

  // The start: shows the window, or with Force starts monitoring and goes
  // to the background behind the start screen.
  void CheckForce(bool Force);
  // Adds the entry of a task file as "Add directory" does once the file is
  // chosen: the item picker for several sources, a message when it cannot
  // be used.
  void AddTaskFile(const std::string& TaskFile);

  // The close request of the quit button, the menu or the close box:
  // whether it moves the program to the background.
  bool GoStandby() const { return FGoStandby; }
  // The program ended through a close that did not go to the background.
  bool Ended() const { return FEnded; }
  QSystemTrayIcon* TrayIcon() const { return FTray; }
  // Whether an operation of the controller runs now (it waits for workers
  // or shows a message): a request from outside has to wait for its end.
  bool Busy() const;
  TShowInfoDialog* StatusDialog() const { return FInfoDialog; }
  QMenu* SettingsMenu() const { return FSettingsMenu; }
  QMenu* TaskbarMenu() const { return FTaskbarMenu; }

  // Handlers, public so that the tray and tests reach them as a user does.
  void btnAddClick();
  void btnRemoveClick();
  void bbEditClick();
  void bbStartClick();
  void bbStopClick();
  void bbQuitClick();
  void pmiQuitClick();
  void pmiStartStopClick();
  void pmiProgClick();
  void pmiDefaultSizeClick();
  void pmiInfoClick();
  void lbDirsDblClick(int Row);
  void TrayActivated(QSystemTrayIcon::ActivationReason Reason);
  void ShowTrayInfo();
  // The one-second timer.
  void tmBackupTimer();

  // TWatchdogView
  TClientSize DesignedClientSize() const override;
  TWindowPlacement GetWindowPlacement() const override;
  void SetWindowPlacement(const TWindowPlacement& Placement) override;
  void StateChanged(const TWatchdogState& State) override;
  void LogLineAdded(const std::string& Line) override;
  void LogCleared() override;
  void ShowMessage(const std::string& Text) override;
  bool AskQuestion(const std::string& Text) override;
  void ShowDestinationWarning(const std::string& Text) override;
  void ShowChangedFiles(const std::vector<std::string>& Lines) override;

protected:
  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void BuildTopPanel(QWidget* Panel);
  void BuildMiddlePanel(QWidget* Panel);
  void BuildLogPanel(QWidget* Panel);
  void BuildMenus();
  void FormShow();
  void RenderDirList(const TWatchdogState& State);
  void RenderTaskInfo(const TWatchdogState& State);
  void UpdateTray();
  // The end of the main application's run for the entry at Index.
  void EditEnded(std::size_t Index, const TProcessOutcome& Outcome);
  void GoToBackground();
  bool TrayAvailable() const;
  // Without a notification area the window went to the background
  // minimised: once a tray host comes up, the icon moves there.
  void WatchForTrayHost();
  void TrayHostMayHaveChanged();
  // Runs Operation on the controller, unless it is inside an operation
  // already (one that waits lets events through): nothing may run inside
  // another operation of the controller.
  template <class F> bool Call(F&& Operation);

  TQtMainThreadQueue& FQueue;
  TWindowSetup FSetup;
  std::unique_ptr<TWindowDialogs> FDialogs;
  TWatchdog* FWatchdog = nullptr;
  TWatchdogState FState;
  int FBusy = 0;
  bool FRendering = false;
  bool FGoStandby = false;
  bool FEnded = false;
  bool FEditRunning = false;
  bool FNoTrayToldOnce = false;
  bool FShownOnce = false;

  // top panel
  QListWidget* lbDirs = nullptr;
  QLineEdit* edTask = nullptr;
  QPushButton* bbEdit = nullptr;
  QLineEdit* edBuDest = nullptr;
  QLabel* laBuMethod = nullptr;
  QLabel* laCompress = nullptr;
  QPushButton* bbFilter = nullptr;
  QLabel* laBakCount = nullptr;
  QSpinBox* edBakCount = nullptr;
  QPushButton* btnAdd = nullptr;
  QPushButton* btnRemove = nullptr;
  // middle panel
  QCheckBox* cbPeriodic = nullptr;
  QSpinBox* reInterval = nullptr;
  QComboBox* cbIntUnit = nullptr;
  QCheckBox* cbSysTray = nullptr;
  QLabel* laCount = nullptr;
  QLabel* laFiles = nullptr;
  QLabel* laNoSched = nullptr;
  QToolButton* sbViewFiles = nullptr;
  TClockProgressWidget* cpWait = nullptr;
  QPushButton* bbStart = nullptr;
  QPushButton* bbStop = nullptr;
  QPushButton* bbMenu = nullptr;
  QPushButton* bbQuit = nullptr;
  // log panel
  QPlainTextEdit* meLog = nullptr;
  QCheckBox* cbWriteLog = nullptr;
  QWidget* FLogPanel = nullptr;

  QMenu* FSettingsMenu = nullptr;
  QAction* pmiStartup = nullptr;
  QMenu* FTaskbarMenu = nullptr;
  QAction* pmiStartImm = nullptr;
  QAction* pmiStartStop = nullptr;
  QSystemTrayIcon* FTray = nullptr;
  QPointer<TShowInfoDialog> FInfoDialog;
  QPointer<QWidget> FChangedFiles;
  QPointer<QMessageBox> FDestinationWarning;
  QTimer* tmBackup = nullptr;
  QTimer* FTrayWatch = nullptr;
};

}  // namespace dz::ui
