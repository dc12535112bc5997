#pragma once
// The task editor's main window: the task files of the task folder with
// their destination and sources, a mark for the ones the watchdog cannot use
// and why, and the commands New, Edit, Duplicate, Delete, Preferences, Help.

#include <QMainWindow>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace dz::ui {

class TTaskEditDialogs;

// One row of the list.
struct TTaskListRow {
  std::string FileName;  // full path
  std::string Destination;
  std::vector<std::string> Sources;
  bool Usable = false;
  std::string Reason;  // why the watchdog cannot use it; empty when usable
};

// The rows of the task files ("*.buj") in JobDir, sorted by name.
std::vector<TTaskListRow> ReadTaskList(const std::string& JobDir);

class TTaskListWindow : public QMainWindow {
  Q_OBJECT
public:
  TTaskListWindow(TTaskEditDialogs& Dialogs, std::string JobDir, QWidget* Parent = nullptr);

  // Reads the folder again; the selection stays on the same file.
  void Refresh();
  const std::vector<TTaskListRow>& Rows() const { return FRows; }
  // The selected task file; empty when none is.
  std::string SelectedTask() const;
  void SelectTask(const std::string& FileName);

  void NewTask();
  void EditSelected();
  void DuplicateSelected();
  void DeleteSelected();

private:
  // The full path of a new task file named Name, or empty after telling the
  // user why there is none.
  std::string NewTaskPath(const std::string& Name);
  void EnableButtons();

  TTaskEditDialogs& FDialogs;
  std::string FJobDir;
  std::vector<TTaskListRow> FRows;
  QLabel* laJobDir;
  QTreeWidget* tvTasks;
  QPushButton* btNew;
  QPushButton* btEdit;
  QPushButton* btDuplicate;
  QPushButton* btDelete;
  QPushButton* btPreferences;
  QPushButton* btHelp;
};

}  // namespace dz::ui
