#pragma once
// Everything the task editor's windows ask of a modal dialog or of the
// desktop goes through this one interface, so that tests replace it and drive
// the windows without modal loops; TQtTaskEditDialogs is the real one.

#include <QString>

#include <optional>
#include <string>
#include <utility>

class QWidget;

namespace dz {
struct TTaskDocument;
}

namespace dz::ui {

// Where the editor's files are: the task folder, the two preferences files
// and the language of the help page.
struct TTaskEditSetup {
  std::string JobDir;          // the task folder, ending with the delimiter
  std::string MainAppIniName;  // "ZentApp.ini" of the settings directory
  std::string ConfigFile;      // "ZentApp.cfg"
  std::string LanguageCode;
};

inline constexpr const char* TaskEditHelpTopic = "zentapp.html";

class TTaskEditDialogs {
public:
  virtual ~TTaskEditDialogs() = default;

  virtual void Message(QWidget* Parent, const QString& Text) = 0;
  virtual bool Question(QWidget* Parent, const QString& Text) = 0;
  // A folder, the chooser starting at Start: the chosen one, or nothing.
  virtual std::optional<std::string> ChooseFolder(QWidget* Parent, const QString& Title, const std::string& Start) = 0;
  // The name of a task file to create (a name, not a path): the answer, or
  // nothing.
  virtual std::optional<std::string> AskTaskName(QWidget* Parent, const QString& Title, const QString& Default) = 0;
  // The editor on Doc, to be saved as FileName: true once it was saved.
  virtual bool EditTask(QWidget* Parent, const std::string& FileName, const TTaskDocument& Doc) = 0;
  // The preferences dialog: true once it wrote the files.
  virtual bool EditPreferences(QWidget* Parent) = 0;
  virtual void OpenHelp(QWidget* Parent) = 0;
};

class TQtTaskEditDialogs : public TTaskEditDialogs {
public:
  explicit TQtTaskEditDialogs(TTaskEditSetup Setup) : FSetup(std::move(Setup)) {}

  void Message(QWidget* Parent, const QString& Text) override;
  bool Question(QWidget* Parent, const QString& Text) override;
  std::optional<std::string> ChooseFolder(QWidget* Parent, const QString& Title, const std::string& Start) override;
  std::optional<std::string> AskTaskName(QWidget* Parent, const QString& Title, const QString& Default) override;
  bool EditTask(QWidget* Parent, const std::string& FileName, const TTaskDocument& Doc) override;
  bool EditPreferences(QWidget* Parent) override;
  void OpenHelp(QWidget* Parent) override;

private:
  TTaskEditSetup FSetup;
};

}  // namespace dz::ui
