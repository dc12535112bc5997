// The task list window: the task files of the task folder with a mark and
// the reason for those the watchdog cannot use, and New, Edit, Duplicate and
// Delete through a recording stand-in for the dialogs.

#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "FakeTaskEditDialogs.h"
#include "ui/dialogs/FindWidget.h"
#include "taskedit/TaskDocument.h"
#include "ui/taskedit/TaskListWindow.h"

using namespace dz;
using namespace dz::ui;
using dz::ui::test::Child;
using dz::ui::test::TFakeTaskEditDialogs;

namespace {

class TaskListTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;
  TFakeTaskEditDialogs FDialogs;

  std::string Root() const { return FDir->path().toStdString(); }
  std::string PathOf(const std::string& Name) const { return Root() + "/" + Name; }
  std::string JobDir() const { return PathOf("tasks") + "/"; }
  std::string TaskPath(const std::string& Name) const { return JobDir() + Name; }

  void WriteText(const std::string& Name, const std::string& Text) {
    std::ofstream(TaskPath(Name), std::ios::binary) << Text;
  }
  void WriteGoodTask(const std::string& Name) {
    WriteTaskDocument(NewTaskDocument({PathOf("src")}, PathOf("backup")), TaskPath(Name));
  }
  QPushButton* Button(TTaskListWindow& Window, const char* Name) { return Child<QPushButton>(Window, Name); }

private slots:
  void init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    std::filesystem::create_directories(PathOf("tasks"));
    std::filesystem::create_directories(PathOf("src"));
    FDialogs = TFakeTaskEditDialogs();
  }
  void cleanup() { FDir.reset(); }

  void theListMarksUnusableTasksWithTheReason() {
    WriteGoodTask("good.buj");
    const std::string Global = "[Global]\nDestination=" + PathOf("backup") + "/\nDirCount=1\n";
    const std::string Source = "[Dir000]\nSource=" + PathOf("src") + "\n";
    WriteText("encrypted.buj", Global + "Encrypt=1\n" + Source);
    WriteText("placeholder.buj", "[Global]\nDestination=%TEMP%/%USER%/\nDirCount=1\n" + Source);
    WriteText("gone.buj", Global + "[Dir000]\nSource=" + PathOf("gone") + "\n");
    WriteText("nosources.buj", "[Global]\nDestination=/b/\nDirCount=0\n");
    WriteText("notatask.txt", Global + Source);

    TTaskListWindow Window(FDialogs, JobDir());
    const auto& Rows = Window.Rows();
    const struct { const char* Name; bool Usable; const char* Reason; } Expected[] = {
        {"encrypted.buj", false, "encrypts"},
        {"gone.buj", false, "source directories exists"},
        {"good.buj", true, ""},
        {"nosources.buj", false, "no source directory"},
        {"placeholder.buj", false, "placeholders"},
    };
    QCOMPARE(Rows.size(), std::size(Expected));
    auto* Tree = Child<QTreeWidget>(Window, "tvTasks");
    for (std::size_t I = 0; I < Rows.size(); ++I) {
      QCOMPARE(Rows[I].FileName, TaskPath(Expected[I].Name));
      QCOMPARE(Rows[I].Usable, Expected[I].Usable);
      QVERIFY2(Rows[I].Reason.find(Expected[I].Reason) != std::string::npos, Rows[I].Reason.c_str());
      QCOMPARE(Rows[I].Reason.empty(), Expected[I].Usable);
      const QTreeWidgetItem* Item = Tree->topLevelItem(static_cast<int>(I));
      QCOMPARE(Item->text(0), QString::fromLatin1(Expected[I].Name));
      QCOMPARE(Item->text(3), Expected[I].Usable ? QStringLiteral("usable") : QString::fromStdString(Rows[I].Reason));
      QCOMPARE(Item->toolTip(3).isEmpty(), Expected[I].Usable);
    }
    QCOMPARE(Tree->topLevelItem(2)->text(1), QString::fromStdString(PathOf("backup") + "/"));
    QCOMPARE(Tree->topLevelItem(2)->text(2), QString::fromStdString(PathOf("src")));
  }

  void newCreatesATaskInTheFolderThroughTheEditor() {
    std::filesystem::remove_all(PathOf("tasks"));  // made when the first task is
    TTaskListWindow Window(FDialogs, JobDir());
    QVERIFY(!Button(Window, "btEdit")->isEnabled());

    FDialogs.TaskName = "photos";
    Button(Window, "btNew")->click();
    QCOMPARE(FDialogs.Edited, std::vector<std::string>{TaskPath("photos.buj")});
    QCOMPARE(Window.SelectedTask(), TaskPath("photos.buj"));
    QVERIFY(Button(Window, "btEdit")->isEnabled());

    // A name that is taken or not a file name creates nothing.
    const struct { const char* Name; const char* Message; } Refused[] = {
        {"photos.buj", "exists already"},
        {"PHOTOS", ""},  // another file on Linux: allowed
        {"sub/photos", "is not a file name"},
    };
    for (const auto& Case : Refused) {
      FDialogs.Messages.clear();
      FDialogs.Edited.clear();
      FDialogs.TaskName = Case.Name;
      Button(Window, "btNew")->click();
      if (*Case.Message == 0) {
        QVERIFY(FDialogs.Messages.empty());
        QCOMPARE(FDialogs.Edited.size(), std::size_t{1});
      } else {
        QCOMPARE(FDialogs.Messages.size(), std::size_t{1});
        QVERIFY2(FDialogs.Messages[0].contains(QLatin1String(Case.Message)), qPrintable(FDialogs.Messages[0]));
        QVERIFY(FDialogs.Edited.empty());
      }
    }
    // An editor left without saving leaves no file behind.
    FDialogs.Editor = [](const std::string&, const TTaskDocument&) { return false; };
    FDialogs.TaskName = "unsaved";
    Button(Window, "btNew")->click();
    QVERIFY(!std::filesystem::exists(TaskPath("unsaved.buj")));
    QCOMPARE(Window.Rows().size(), std::size_t{2});
  }

  void editDuplicateAndDelete() {
    WriteGoodTask("a.buj");
    TTaskListWindow Window(FDialogs, JobDir());
    QCOMPARE(Window.SelectedTask(), TaskPath("a.buj"));

    // Edit hands the task as read to the editor.
    TTaskDocument Seen;
    FDialogs.Editor = [&Seen](const std::string&, const TTaskDocument& Doc) {
      Seen = Doc;
      return false;
    };
    Button(Window, "btEdit")->click();
    QCOMPARE(FDialogs.Edited, std::vector<std::string>{TaskPath("a.buj")});
    QCOMPARE(Seen.Sources.size(), std::size_t{1});
    QCOMPARE(Seen.Sources[0].Source, PathOf("src"));

    FDialogs.TaskName = "b";
    Button(Window, "btDuplicate")->click();
    QCOMPARE(Window.SelectedTask(), TaskPath("b.buj"));
    QVERIFY(ReadTaskDocument(TaskPath("b.buj")) == ReadTaskDocument(TaskPath("a.buj")));
    // Onto a taken name: nothing is written.
    const auto Before = std::filesystem::last_write_time(TaskPath("a.buj"));
    FDialogs.TaskName = "a.buj";
    Button(Window, "btDuplicate")->click();
    QCOMPARE(FDialogs.Messages.size(), std::size_t{1});
    QCOMPARE(std::filesystem::last_write_time(TaskPath("a.buj")), Before);

    // Delete asks first.
    Window.SelectTask(TaskPath("a.buj"));
    FDialogs.Answer = false;
    Button(Window, "btDelete")->click();
    QVERIFY(FDialogs.Questions.back().contains(QStringLiteral("a.buj")));
    QVERIFY(std::filesystem::exists(TaskPath("a.buj")));
    FDialogs.Answer = true;
    Button(Window, "btDelete")->click();
    QVERIFY(!std::filesystem::exists(TaskPath("a.buj")));
    QCOMPARE(Window.Rows().size(), std::size_t{1});
    QCOMPARE(Window.SelectedTask(), TaskPath("b.buj"));

    Button(Window, "btHelp")->click();
    QCOMPARE(FDialogs.HelpOpened, 1);
  }
};

}  // namespace

QTEST_MAIN(TaskListTest)
#include "TaskListTest.moc"
