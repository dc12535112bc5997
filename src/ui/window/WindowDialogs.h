#pragma once
// Everything the main window asks of a modal dialog or of another part of
// the desktop goes through this one interface, so that tests replace it and
// drive the handlers without modal loops; TQtWindowDialogs is the real one.

#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QObject;
class QWidget;

#include "settings/MainAppSettings.h"

namespace dz {
struct TFilterDisplay;
}

namespace dz::ui {

// What running the main application gave: its exit code, or that it could
// not be started (with the system's text).
struct TProcessOutcome {
  bool Started = false;
  int ExitCode = 0;
  std::string Error;
};

class TWindowDialogs {
public:
  virtual ~TWindowDialogs() = default;

  // The file dialog for a task to add: the chosen file, or nothing.
  virtual std::optional<std::string> ChooseTaskFile(QWidget* Parent, const std::string& StartDir) = 0;
  // The item picker at At: the chosen position, or nothing.
  virtual std::optional<int> SelectListItem(QWidget* Parent, QPoint At, const QString& Title,
                                            const QString& Description, const QStringList& Items) = 0;
  virtual void Message(QWidget* Parent, const QString& Text) = 0;
  virtual bool Question(QWidget* Parent, const QString& Text) = 0;
  // A message at a place (the version information at the menu button).
  virtual void Information(QWidget* Parent, QPoint At, const QString& Title, const QString& Text) = 0;

  // The pieces of other parts of the front-end.
  virtual void ShowFilterSettings(QWidget* Parent, const TFilterDisplay& Display) = 0;
  // "Show log file": a file of LogDir in the text viewer.
  virtual void ShowLogFile(QWidget* Parent, const std::string& LogDir) = 0;
  virtual void OpenHelp(QWidget* Parent) = 0;
  // Whether the program starts at logon, and the switch; false when the
  // switch failed.
  virtual bool StartsOnLogon() = 0;
  virtual bool SetStartOnLogon(QWidget* Parent, bool On) = 0;
  // Starts the main application with Args and returns at once; Ended gets
  // the outcome on the main thread, through the event loop, once the program
  // has ended (ExitCode is a result of WaitForProcess, 0: it ended with exit
  // code 0), or at once when it could not be started. The window goes on
  // meanwhile: the editor may stay open for minutes while backups run. One
  // run at a time.
  virtual void StartMainApplication(QWidget* Parent, const std::vector<std::string>& Args,
                                    std::function<void(const TProcessOutcome&)> Ended) = 0;
  // Opens the main application without waiting.
  virtual void OpenMainApplication(QWidget* Parent) = 0;
};

// What the real dialogs need to know of the desktop.
struct TDesktopSetup {
  TPrinterMargins Margins;     // the log viewer's print margins
  std::string ZvPath;          // the main application; empty when not found
  std::string AutostartFile;   // the start-on-logon entry
  std::string Executable;      // the program that entry starts
  std::string LanguageCode;    // selects the help page
  bool StartsOnLogon = false;  // whether the entry existed at start-up
};

class TQtWindowDialogs : public TWindowDialogs {
public:
  explicit TQtWindowDialogs(TDesktopSetup Setup = {});
  ~TQtWindowDialogs() override;

  std::optional<std::string> ChooseTaskFile(QWidget* Parent, const std::string& StartDir) override;
  std::optional<int> SelectListItem(QWidget* Parent, QPoint At, const QString& Title, const QString& Description,
                                    const QStringList& Items) override;
  void Message(QWidget* Parent, const QString& Text) override;
  bool Question(QWidget* Parent, const QString& Text) override;
  void Information(QWidget* Parent, QPoint At, const QString& Title, const QString& Text) override;

  void ShowFilterSettings(QWidget* Parent, const TFilterDisplay& Display) override;
  void ShowLogFile(QWidget* Parent, const std::string& LogDir) override;
  void OpenHelp(QWidget* Parent) override;
  bool StartsOnLogon() override { return FSetup.StartsOnLogon; }
  bool SetStartOnLogon(QWidget* Parent, bool On) override;
  void StartMainApplication(QWidget* Parent, const std::vector<std::string>& Args,
                            std::function<void(const TProcessOutcome&)> Ended) override;
  void OpenMainApplication(QWidget* Parent) override;

private:
  TDesktopSetup FSetup;
  // Receives the end of a run on the main thread; it goes after the thread
  // that waits, so a late end is dropped rather than delivered to nobody.
  std::unique_ptr<QObject> FRunEnds;
  // Waits for the running main application; stopped and joined when the
  // window goes (the program itself is then left running).
  std::jthread FRunWait;
};

// A text of the core as Qt shows it: UTF-8, CR LF as a line break.
QString Q(const std::string& Text);

}  // namespace dz::ui
