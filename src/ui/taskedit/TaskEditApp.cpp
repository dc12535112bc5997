#include "ui/taskedit/TaskEditApp.h"

#include <QApplication>

#include <exception>
#include <string_view>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "platform/FileIo.h"
#include "taskedit/TaskDocument.h"
#include "ui/desktop/Style.h"
#include "ui/dialogs/QtText.h"
#include "ui/taskedit/TaskEditDialogs.h"
#include "ui/taskedit/TaskEditorDialog.h"
#include "ui/taskedit/TaskListWindow.h"

namespace dz::ui {

namespace {

int RunEditor(TTaskEditDialogs& Dialogs, const std::string& Task) {
  TTaskDocument Doc;
  if (!RegularFileExists(Task)) {
    if (!Dialogs.Question(nullptr, Qs(SafeFormat(Tr("The task file %s does not exist. Create it?"), Task))))
      return ewNotSaved;
    Doc = NewTaskDocument({}, "");
  } else {
    try {
      Doc = ReadTaskDocument(Task);
    } catch (const std::exception& E) {
      Dialogs.Message(nullptr, Qs(E.what()));
      return ewNotSaved;
    }
  }
  TTaskEditorDialog Editor(Dialogs, Task, Doc);
  return Editor.exec() == QDialog::Accepted ? ewSaved : ewNotSaved;
}

// Options begin with "/" or "-", and so does every absolute path on this
// system; the watchdog hands the task over as one. A "/" that is followed
// by another one before any ":" (where an option's value begins) starts a
// path.
bool IsOptionArg(const std::string& Arg) {
  if (Arg[0] == '-') return true;
  if (Arg[0] != '/') return false;
  const std::string_view Name = std::string_view(Arg).substr(1, Arg.find(':') - 1);
  return Name.find('/') == std::string_view::npos;
}

}  // namespace

TTaskEditWindowArgs ParseTaskEditWindowArgs(const std::vector<std::string>& Args) {
  TTaskEditWindowArgs Result;
  for (const std::string& Arg : Args) {
    if (Arg.empty()) continue;
    if (!IsOptionArg(Arg)) {
      if (Result.Task.empty()) Result.Task = Arg;
      continue;
    }
    const std::string Param = Arg.substr(1);
    if (MatchesOption(Param, "edit"))
      Result.Edit = true;
    else if (MatchesOption(Param, "dark"))
      Result.Dark = true;
  }
  // A task file alone (opened from a file manager) is edited too.
  if (!Result.Task.empty()) Result.Edit = true;
  return Result;
}

int RunTaskEditWindow(int& Argc, char** Argv, const TProgramLocations& Locations, const TTaskEditWindowArgs& Args,
                      const std::string& CurrentDir) {
  QApplication App(Argc, Argv);
  QApplication::setApplicationName(QStringLiteral("ZentApp"));
  ApplyStartStyle(App, Args.Dark, Locations.ConfigFile, Locations.AppDataDir);

  TTaskEditSetup Setup;
  Setup.JobDir = Locations.JobDir;
  Setup.MainAppIniName = Locations.MainAppIniName;
  Setup.ConfigFile = Locations.ConfigFile;
  Setup.LanguageCode = Locations.LanguageCode;

  if (Args.Edit) {
    if (Args.Task.empty()) {
      TQtTaskEditDialogs Dialogs(Setup);
      Dialogs.Message(nullptr, Qs(Tr("The option edit needs the task file to edit.")));
      return ewNotSaved;
    }
    TQtTaskEditDialogs Dialogs(Setup);
    return RunEditor(Dialogs, MakeAbsolutePath(CurrentDir, Args.Task));
  }

  TQtTaskEditDialogs Dialogs(Setup);
  TTaskListWindow Window(Dialogs, Setup.JobDir);
  Window.show();
  QApplication::exec();
  return ewSaved;
}

}  // namespace dz::ui
