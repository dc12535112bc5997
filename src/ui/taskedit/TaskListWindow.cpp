#include "ui/taskedit/TaskListWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "taskedit/TaskDocument.h"
#include "ui/dialogs/QtText.h"
#include "ui/taskedit/TaskEditDialogs.h"
#include "watchdog/TaskReader.h"

namespace dz::ui {

namespace {

constexpr const char* TaskExtension = ".buj";

std::string JoinLines(const std::vector<std::string>& Lines, const char* Separator) {
  std::string Text;
  for (const std::string& Line : Lines) Text += (Text.empty() ? "" : Separator) + Line;
  return Text;
}

}  // namespace

std::vector<TTaskListRow> ReadTaskList(const std::string& JobDir) {
  std::vector<TTaskListRow> Rows;
  const QDir Dir(Qs(JobDir));
  const QStringList Names = Dir.entryList({QStringLiteral("*.buj")}, QDir::Files | QDir::CaseSensitive,
                                          QDir::Name | QDir::IgnoreCase);
  for (const QString& Name : Names) {
    TTaskListRow Row;
    Row.FileName = Std(Dir.filePath(Name));
    std::vector<TTaskSource> Usable;
    std::vector<std::string> Reasons;
    const TTaskCheck Check = CheckTaskFile(Row.FileName, &Usable, &Reasons);
    Row.Usable = Check == tcUsable && !Usable.empty();
    if (Check == tcUsable && Usable.empty() && Reasons.empty())
      Reasons.push_back(Tr("None of the task's source directories exists."));
    Row.Reason = Row.Usable ? std::string() : JoinLines(Reasons, " ");
    try {
      const TTaskDocument Doc = ReadTaskDocument(Row.FileName);
      Row.Destination = Doc.Destination;
      for (const TTaskSourceEntry& Entry : Doc.Sources) Row.Sources.push_back(Entry.Source);
    } catch (const std::exception&) {
      // CheckTaskFile has said why already.
    }
    Rows.push_back(std::move(Row));
  }
  return Rows;
}

TTaskListWindow::TTaskListWindow(TTaskEditDialogs& Dialogs, std::string JobDir, QWidget* Parent)
    : QMainWindow(Parent), FDialogs(Dialogs), FJobDir(std::move(JobDir)) {
  setObjectName(QStringLiteral("TaskListWindow"));
  setWindowTitle(Qs(Tr("ZentApp - backup tasks")));
  auto* Central = new QWidget;
  auto* Layout = new QVBoxLayout(Central);
  laJobDir = Named(new QLabel(Qs(SafeFormat(Tr("Task folder: %s"), FJobDir))), "laJobDir");
  laJobDir->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Layout->addWidget(laJobDir);

  tvTasks = Named(new QTreeWidget, "tvTasks");
  tvTasks->setRootIsDecorated(false);
  tvTasks->setUniformRowHeights(true);
  tvTasks->setHeaderLabels({Qs(Tr("Task")), Qs(Tr("Destination")), Qs(Tr("Sources")), Qs(Tr("Watchdog"))});
  tvTasks->header()->setSectionResizeMode(QHeaderView::Interactive);
  tvTasks->header()->setStretchLastSection(true);
  Layout->addWidget(tvTasks, 1);

  auto* Buttons = new QHBoxLayout;
  btNew = Named(new QPushButton(Qs(Tr("New..."))), "btNew");
  btEdit = Named(new QPushButton(Qs(Tr("Edit..."))), "btEdit");
  btDuplicate = Named(new QPushButton(Qs(Tr("Duplicate..."))), "btDuplicate");
  btDelete = Named(new QPushButton(Qs(Tr("Delete"))), "btDelete");
  btPreferences = Named(new QPushButton(Qs(Tr("Preferences..."))), "btPreferences");
  btHelp = Named(new QPushButton(Qs(Tr("Help"))), "btHelp");
  for (QPushButton* Button : {btNew, btEdit, btDuplicate, btDelete}) Buttons->addWidget(Button);
  Buttons->addStretch(1);
  Buttons->addWidget(btPreferences);
  Buttons->addWidget(btHelp);
  Layout->addLayout(Buttons);
  setCentralWidget(Central);

  connect(btNew, &QPushButton::clicked, this, [this] { NewTask(); });
  connect(btEdit, &QPushButton::clicked, this, [this] { EditSelected(); });
  connect(btDuplicate, &QPushButton::clicked, this, [this] { DuplicateSelected(); });
  connect(btDelete, &QPushButton::clicked, this, [this] { DeleteSelected(); });
  connect(btPreferences, &QPushButton::clicked, this, [this] { FDialogs.EditPreferences(this); });
  connect(btHelp, &QPushButton::clicked, this, [this] { FDialogs.OpenHelp(this); });
  connect(tvTasks, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelected(); });
  connect(tvTasks, &QTreeWidget::currentItemChanged, this, [this] { EnableButtons(); });
  connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
          [this] { FDialogs.OpenHelp(this); });
  connect(new QShortcut(QKeySequence(Qt::Key_Delete), tvTasks), &QShortcut::activated, this,
          [this] { DeleteSelected(); });

  Refresh();
  resize(860, 420);
  tvTasks->setColumnWidth(0, 170);
  tvTasks->setColumnWidth(1, 220);
  tvTasks->setColumnWidth(2, 240);
}

void TTaskListWindow::Refresh() {
  const std::string Selected = SelectedTask();
  FRows = ReadTaskList(FJobDir);
  tvTasks->clear();
  const QIcon Good = style()->standardIcon(QStyle::SP_DialogApplyButton);
  const QIcon Bad = style()->standardIcon(QStyle::SP_MessageBoxWarning);
  for (const TTaskListRow& Row : FRows) {
    auto* Item = new QTreeWidgetItem(QStringList{Qs(ExtractFileName(Row.FileName)), Qs(Row.Destination),
                                                 Qs(JoinLines(Row.Sources, "; ")),
                                                 Row.Usable ? Qs(Tr("usable")) : Qs(Row.Reason)});
    Item->setData(0, Qt::UserRole, Qs(Row.FileName));
    Item->setIcon(3, Row.Usable ? Good : Bad);
    if (!Row.Usable) {
      Item->setToolTip(3, Qs(InvalidTaskMessage(Row.FileName) + "\r\n\r\n" + Row.Reason).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    tvTasks->addTopLevelItem(Item);
  }
  SelectTask(Selected);
  if (tvTasks->currentItem() == nullptr && tvTasks->topLevelItemCount() > 0)
    tvTasks->setCurrentItem(tvTasks->topLevelItem(0));
  EnableButtons();
}

std::string TTaskListWindow::SelectedTask() const {
  const QTreeWidgetItem* Item = tvTasks->currentItem();
  return Item == nullptr ? std::string() : Std(Item->data(0, Qt::UserRole).toString());
}

void TTaskListWindow::SelectTask(const std::string& FileName) {
  for (int Row = 0; Row < tvTasks->topLevelItemCount(); ++Row) {
    QTreeWidgetItem* Item = tvTasks->topLevelItem(Row);
    if (Std(Item->data(0, Qt::UserRole).toString()) == FileName) tvTasks->setCurrentItem(Item);
  }
}

void TTaskListWindow::EnableButtons() {
  const bool Selected = tvTasks->currentItem() != nullptr;
  btEdit->setEnabled(Selected);
  btDuplicate->setEnabled(Selected);
  btDelete->setEnabled(Selected);
}

std::string TTaskListWindow::NewTaskPath(const std::string& Name) {
  std::string File = Std(Qs(Name).trimmed());
  if (File.empty()) return {};
  if (File.find('/') != std::string::npos || File == "." || File == "..") {
    FDialogs.Message(this, Qs(SafeFormat(Tr("\"%s\" is not a file name: a task is created in the task folder."), File)));
    return {};
  }
  if (!Qs(File).endsWith(QLatin1String(TaskExtension), Qt::CaseInsensitive)) File += TaskExtension;
  if (!QDir().mkpath(Qs(FJobDir))) {
    FDialogs.Message(this, Qs(SafeFormat(Tr("The task folder %s cannot be created."), FJobDir)));
    return {};
  }
  const std::string Path = DirWithDelimiter(FJobDir) + File;
  if (QFileInfo::exists(Qs(Path))) {
    FDialogs.Message(this, Qs(SafeFormat(Tr("A task named %s exists already."), File)));
    return {};
  }
  return Path;
}

void TTaskListWindow::NewTask() {
  const auto Name = FDialogs.AskTaskName(this, Qs(Tr("New backup task")), Qs(Tr("Backup")));
  if (!Name) return;
  const std::string Path = NewTaskPath(*Name);
  if (Path.empty()) return;
  if (FDialogs.EditTask(this, Path, NewTaskDocument({}, ""))) {
    Refresh();
    SelectTask(Path);
  }
}

void TTaskListWindow::EditSelected() {
  const std::string Path = SelectedTask();
  if (Path.empty()) return;
  TTaskDocument Doc;
  try {
    Doc = ReadTaskDocument(Path);
  } catch (const std::exception& E) {
    FDialogs.Message(this, Qs(E.what()));
    return;
  }
  if (FDialogs.EditTask(this, Path, Doc)) Refresh();
}

void TTaskListWindow::DuplicateSelected() {
  const std::string Path = SelectedTask();
  if (Path.empty()) return;
  const QString Stem = QFileInfo(Qs(Path)).completeBaseName();
  const auto Name =
      FDialogs.AskTaskName(this, Qs(Tr("Duplicate backup task")), Qs(SafeFormat(Tr("%s (copy)"), Std(Stem))));
  if (!Name) return;
  const std::string Copy = NewTaskPath(*Name);
  if (Copy.empty()) return;
  try {
    WriteTaskDocument(ReadTaskDocument(Path), Copy);
  } catch (const std::exception& E) {
    FDialogs.Message(this, Qs(E.what()));
    return;
  }
  Refresh();
  SelectTask(Copy);
}

void TTaskListWindow::DeleteSelected() {
  const std::string Path = SelectedTask();
  if (Path.empty()) return;
  if (!FDialogs.Question(this, Qs(SafeFormat(Tr("Delete the backup task %s?"), ExtractFileName(Path))))) return;
  QFile File(Qs(Path));
  if (!File.remove())
    FDialogs.Message(this, Qs(SafeFormat(Tr("The task file %s cannot be deleted: %s"), Path, Std(File.errorString()))));
  Refresh();
}

}  // namespace dz::ui
