#pragma once
// Shows, read-only, which sub-directories and files of one monitored
// directory take part in monitoring. The window creates it once and reuses
// it for every directory.
//
// Widgets (by objectName, for tests and style sheets): the groups gbSubDirs
// and gbFiles; the lists lbSubDirs, lbDirFilt, lbFileFilt (QListWidget) and
// lbFileExt (QTableWidget, five columns, filled row by row); their labels
// laSubDirs, laDirFilt, laFileFilt, laFileExt; laRegular; btnClose.

#include <QDialog>

class QLabel;
class QListWidget;
class QTableWidget;

namespace dz {
struct TFilterDisplay;
}  // namespace dz

namespace dz::ui {

class TShowFilterDialog : public QDialog {
  Q_OBJECT

public:
  static constexpr int FileExtColumns = 5;

  explicit TShowFilterDialog(QWidget* Parent = nullptr);

  // Shows Display and waits until the dialog is closed. Changes nothing.
  void Execute(const TFilterDisplay& Display);
  // Fills the widgets with Display without showing the dialog.
  void ShowFilter(const TFilterDisplay& Display);

private:
  QLabel* laSubDirs;
  QLabel* laDirFilt;
  QLabel* laFileFilt;
  QLabel* laFileExt;
  QLabel* laRegular;
  QListWidget* lbSubDirs;
  QListWidget* lbDirFilt;
  QListWidget* lbFileFilt;
  QTableWidget* lbFileExt;
};

}  // namespace dz::ui
