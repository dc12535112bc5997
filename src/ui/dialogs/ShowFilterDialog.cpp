#include "ui/dialogs/ShowFilterDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "filters/FilterDisplay.h"
#include "ui/dialogs/QtText.h"

namespace dz::ui {

namespace {

QListWidget* NewList(const char* Name) {
  auto* List = Named(new QListWidget, Name);
  List->setSelectionMode(QAbstractItemView::NoSelection);
  List->setFocusPolicy(Qt::NoFocus);
  return List;
}

void FillList(QListWidget* List, const std::vector<std::string>& Lines) {
  List->clear();
  for (const std::string& Line : Lines) List->addItem(Qs(Line));
}

// One group: a list with its label on the left and one on the right.
QGroupBox* NewGroup(const char* Name, const QString& Caption, QLabel* LeftLabel, QWidget* Left, QLabel* RightLabel,
                    QWidget* Right) {
  auto* Group = Named(new QGroupBox(Caption), Name);
  auto* Grid = new QGridLayout(Group);
  Grid->addWidget(LeftLabel, 0, 0);
  Grid->addWidget(Left, 1, 0);
  Grid->addWidget(RightLabel, 0, 1);
  Grid->addWidget(Right, 1, 1);
  Grid->setColumnStretch(0, 1);
  Grid->setColumnStretch(1, 1);
  LeftLabel->setBuddy(Left);
  RightLabel->setBuddy(Right);
  return Group;
}

}  // namespace

TShowFilterDialog::TShowFilterDialog(QWidget* Parent)
    : QDialog(Parent),
      laSubDirs(Named(new QLabel, "laSubDirs")),
      laDirFilt(Named(new QLabel, "laDirFilt")),
      laFileFilt(Named(new QLabel(Qs(Tr("matching these filter conditions"))), "laFileFilt")),
      laFileExt(Named(new QLabel, "laFileExt")),
      laRegular(Named(new QLabel(Qs(Tr("Use filter as regular expression"))), "laRegular")),
      lbSubDirs(NewList("lbSubDirs")),
      lbDirFilt(NewList("lbDirFilt")),
      lbFileFilt(NewList("lbFileFilt")),
      lbFileExt(Named(new QTableWidget(0, FileExtColumns), "lbFileExt")) {
  setWindowTitle(Qs(Tr("Selection for subdirectories and files")));

  lbFileExt->horizontalHeader()->hide();
  lbFileExt->verticalHeader()->hide();
  lbFileExt->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  lbFileExt->setShowGrid(false);
  lbFileExt->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lbFileExt->setSelectionMode(QAbstractItemView::NoSelection);
  lbFileExt->setFocusPolicy(Qt::NoFocus);

  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(
      NewGroup("gbSubDirs", Qs(Tr("Monitor all subdirectories")), laSubDirs, lbSubDirs, laDirFilt, lbDirFilt));
  Layout->addWidget(NewGroup("gbFiles", Qs(Tr("Monitor all files")), laFileFilt, lbFileFilt, laFileExt, lbFileExt));
  Layout->addWidget(laRegular);
  auto* Buttons = new QDialogButtonBox;
  QPushButton* Close = Named(Buttons->addButton(Qs(Tr("Close")), QDialogButtonBox::AcceptRole), "btnClose");
  Close->setDefault(true);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  Layout->addWidget(Buttons);
  resize(560, 480);
}

void TShowFilterDialog::Execute(const TFilterDisplay& Display) {
  ShowFilter(Display);
  exec();
}

void TShowFilterDialog::ShowFilter(const TFilterDisplay& Display) {
  laSubDirs->setText(Qs(Display.SubDirsLabel));
  laDirFilt->setText(Qs(Display.DirFilterLabel));
  laFileExt->setText(Qs(Display.FileExtLabel));
  FillList(lbSubDirs, Display.SubDirs);
  FillList(lbDirFilt, Display.DirFilter);
  FillList(lbFileFilt, Display.FileFilter);

  const int Count = static_cast<int>(Display.FileExts.size());
  lbFileExt->clearContents();
  lbFileExt->setRowCount((Count + FileExtColumns - 1) / FileExtColumns);
  for (int I = 0; I < Count; ++I)
    lbFileExt->setItem(I / FileExtColumns, I % FileExtColumns,
                       new QTableWidgetItem(Qs(Display.FileExts[static_cast<std::size_t>(I)])));

  laRegular->setVisible(Display.RegularVisible);
}

}  // namespace dz::ui
