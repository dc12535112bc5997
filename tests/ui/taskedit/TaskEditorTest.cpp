// The task editor as a user meets it: a task's fields shown and written
// back (and read by the watchdog as set), the findings appearing and going
// as the user types, the preview of a small tree following a filter change,
// and the preferences dialog writing the main application's files.

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeTaskEditDialogs.h"
#include "ui/dialogs/FindWidget.h"
#include "taskedit/MainAppPreferences.h"
#include "taskedit/TaskDocument.h"
#include "ui/taskedit/PreferencesDialog.h"
#include "ui/taskedit/TaskEditorDialog.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskReader.h"

using namespace dz;
using namespace dz::ui;
using dz::ui::test::Child;
using dz::ui::test::TFakeTaskEditDialogs;

namespace {

class TLogLines : public TLogSink {
public:
  void AddLogLine(const std::string& Line) override { Lines.push_back(Line); }
  std::vector<std::string> Lines;
};

QStringList ListTexts(const QListWidget* List) {
  QStringList Texts;
  for (int Row = 0; Row < List->count(); ++Row) Texts.append(List->item(Row)->text());
  return Texts;
}

QStringList TreeTexts(const QTreeWidget* Tree) {
  QStringList Texts;
  for (int Row = 0; Row < Tree->topLevelItemCount(); ++Row)
    Texts.append(Tree->topLevelItem(Row)->text(0) + QStringLiteral(": ") + Tree->topLevelItem(Row)->text(1));
  return Texts;
}

class TaskEditorTest : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> FDir;
  TFakeTaskEditDialogs FDialogs;

  std::string PathOf(const std::string& Name) const { return FDir->path().toStdString() + "/" + Name; }
  void MakeFile(const std::string& Name) {
    std::filesystem::create_directories(std::filesystem::path(PathOf(Name)).parent_path());
    std::ofstream(PathOf(Name), std::ios::binary) << "x";
  }

  // Two sources with every kind of filter, as a user would set them up.
  TTaskDocument FullTask() {
    TTaskDocument Doc = NewTaskDocument({PathOf("src-a"), PathOf("src-b")}, PathOf("backup"));
    Doc.DestMode = dsDriveFolders;
    Doc.DriveId = "Drv?";
    Doc.Compression = cmZip;
    Doc.NoCompTypes = {"jpg", "png"};
    TTaskSourceEntry& A = Doc.Sources[0];
    A.FilterMode = fmExclude;
    A.Filter = "~*|*.part";
    A.Exclude = {"bak", "log"};
    A.Include = {"doc"};
    A.SubDirs = {"cache"};
    A.DirFilter = "temp*";
    TTaskSourceEntry& B = Doc.Sources[1];
    B.FilterMode = fmInclude;
    B.Regular = true;
    B.Filter = "^report.*\\.txt$";
    B.IncludeExts = true;
    B.Include = {"txt"};
    return Doc;
  }

  template <class T> static T* W(TTaskEditorDialog& Dialog, const char* Name) { return Child<T>(Dialog, Name); }

  static void Type(QLineEdit* Edit, const QString& Text) {
    Edit->clear();
    QTest::keyClicks(Edit, Text);
  }

private slots:
  void init() {
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    std::filesystem::create_directory(PathOf("src-a"));
    std::filesystem::create_directory(PathOf("src-b"));
    FDialogs = TFakeTaskEditDialogs();
  }
  void cleanup() { FDir.reset(); }

  void showsTheTaskAndWritesTheEditsBack() {
    const std::string Task = PathOf("full.buj");
    WriteTaskDocument(FullTask(), Task);
    TTaskEditorDialog Dialog(FDialogs, Task, ReadTaskDocument(Task));

    QCOMPARE(W<QLineEdit>(Dialog, "edDestination")->text(), QString::fromStdString(PathOf("backup") + "/"));
    QCOMPARE(W<QComboBox>(Dialog, "cbStructure")->currentData().toInt(), int(dsDriveFolders));
    QCOMPARE(W<QLineEdit>(Dialog, "edDriveId")->text(), QStringLiteral("Drv?"));
    QCOMPARE(W<QComboBox>(Dialog, "cbCompression")->currentData().toInt(), int(cmZip));
    QCOMPARE(W<QLineEdit>(Dialog, "edNoCompTypes")->text(), QStringLiteral("jpg, png"));
    QCOMPARE(W<QListWidget>(Dialog, "lbSources")->count(), 2);
    QCOMPARE(W<QLineEdit>(Dialog, "edSource")->text(), QString::fromStdString(PathOf("src-a")));
    QCOMPARE(W<QComboBox>(Dialog, "cbFilterMode")->currentData().toInt(), int(fmExclude));
    QCOMPARE(W<QLineEdit>(Dialog, "edFilter")->text(), QStringLiteral("~*|*.part"));
    QCOMPARE(W<QComboBox>(Dialog, "cbExtRule")->currentData().toBool(), false);
    QCOMPARE(W<QLineEdit>(Dialog, "edExtensions")->text(), QStringLiteral("bak, log"));
    QCOMPARE(W<QPlainTextEdit>(Dialog, "meSubDirs")->toPlainText(), QStringLiteral("cache"));
    QCOMPARE(W<QLineEdit>(Dialog, "edDirFilter")->text(), QStringLiteral("temp*"));
    W<QListWidget>(Dialog, "lbSources")->setCurrentRow(1);
    QVERIFY(W<QCheckBox>(Dialog, "cxRegular")->isChecked());
    QCOMPARE(W<QLineEdit>(Dialog, "edFilter")->text(), QStringLiteral("^report.*\\.txt$"));
    QCOMPARE(W<QLineEdit>(Dialog, "edExtensions")->text(), QStringLiteral("txt"));

    // The edits: another extension on the first source, whose other rule's
    // list survives switching back and forth, and plain copies.
    W<QListWidget>(Dialog, "lbSources")->setCurrentRow(0);
    Type(W<QLineEdit>(Dialog, "edExtensions"), QStringLiteral("bak, log, .tmp"));
    W<QComboBox>(Dialog, "cbExtRule")->setCurrentIndex(1);
    QCOMPARE(W<QLineEdit>(Dialog, "edExtensions")->text(), QStringLiteral("doc"));
    W<QComboBox>(Dialog, "cbExtRule")->setCurrentIndex(0);
    QCOMPARE(W<QLineEdit>(Dialog, "edExtensions")->text(), QStringLiteral("bak, log, tmp"));
    W<QComboBox>(Dialog, "cbCompression")->setCurrentIndex(0);
    W<QPushButton>(Dialog, "btSave")->click();
    QCOMPARE(Dialog.result(), int(QDialog::Accepted));
    QVERIFY(FDialogs.Questions.empty());

    TTaskDocument Expected = FullTask();
    Expected.Destination += "/";
    Expected.Compression = cmNone;
    Expected.Sources[0].Exclude = {"bak", "log", "tmp"};
    TTaskDocument Written = ReadTaskDocument(Task);
    Written.KeptText.clear();
    QVERIFY(Written == Expected);

    // The watchdog reads what the user set.
    TMonTask Monitored(Task, PathOf("src-a"));
    TLogLines Log;
    QCOMPARE(ReadTaskSettings(Monitored, {"Drv?", "zip"}, Log), 0);
    QCOMPARE(Monitored.Compress, 0);
    const struct { const char* File; TFilterVerdict Verdict; } Files[] = {
        {"notes.txt", fvPasses},         {"old.tmp", fvExtension},         {"~lock.txt", fvFileFilter},
        {"cache/x.txt", fvSubDirRule},   {"temp1/x.txt", fvSubDirRule},    {"report.doc", fvPasses},
    };
    for (const auto& File : Files) QCOMPARE(MonFilterVerdict(Monitored.MonFilter, File.File), File.Verdict);
  }

  void findingsComeAndGoAsTheUserTypes_data() {
    QTest::addColumn<QString>("Case");
    QTest::addColumn<QString>("Label");
    QTest::addColumn<QString>("Text");
    QTest::newRow("regular expression that does not compile") << "regex" << "laFileFilterFinding" << "";
    QTest::newRow("mask that is not valid") << "mask" << "laFileFilterFinding" << "";
    QTest::newRow("two % signs") << "percent" << "laDestinationFinding" << "two \"%\" signs";
    QTest::newRow("destination inside a source") << "inside" << "laDestinationFinding" << "inside the source";
    QTest::newRow("include rule with an empty list") << "emptyinclude" << "laExtensionsFinding" << "list is empty";
    QTest::newRow("source that does not exist") << "nosource" << "laSourceFinding" << "does not exist";
    QTest::newRow("directory filter that does not compile") << "dirregex" << "laDirFilterFinding" << "";
  }
  void findingsComeAndGoAsTheUserTypes() {
    QFETCH(QString, Case);
    QFETCH(QString, Label);
    QFETCH(QString, Text);
    TTaskEditorDialog Dialog(FDialogs, PathOf("t.buj"), NewTaskDocument({PathOf("src-a")}, PathOf("backup")));
    auto* Finding = Child<QLabel>(Dialog, Label.toLatin1().constData());
    QVERIFY(Finding->isHidden());
    QVERIFY(Dialog.Findings().empty());

    // Each case: what the user types to make the finding, then to mend it.
    std::function<void()> Make, Mend;
    auto* Filter = W<QLineEdit>(Dialog, "edFilter");
    auto* Dest = W<QLineEdit>(Dialog, "edDestination");
    if (Case == "regex" || Case == "mask") {
      W<QComboBox>(Dialog, "cbFilterMode")->setCurrentIndex(2);
      W<QCheckBox>(Dialog, "cxRegular")->setChecked(Case == "regex");
      Make = [=, this] { Type(Filter, Case == "regex" ? QStringLiteral("([a-z") : QStringLiteral("*.[txt")); };
      Mend = [=, this] { Type(Filter, QStringLiteral("[a-z]*")); };
    } else if (Case == "percent") {
      Make = [=, this] { Type(Dest, QString::fromStdString(PathOf("%USER%-%DATE%"))); };
      Mend = [=, this] { Type(Dest, QString::fromStdString(PathOf("backup"))); };
    } else if (Case == "inside") {
      Make = [=, this] { Type(Dest, QString::fromStdString(PathOf("src-a/backup"))); };
      Mend = [=, this] { Type(Dest, QString::fromStdString(PathOf("backup"))); };
    } else if (Case == "emptyinclude") {
      Make = [&] { W<QComboBox>(Dialog, "cbExtRule")->setCurrentIndex(1); };
      Mend = [&] { Type(W<QLineEdit>(Dialog, "edExtensions"), QStringLiteral("txt")); };
    } else if (Case == "nosource") {
      Make = [&] { Type(W<QLineEdit>(Dialog, "edSource"), QString::fromStdString(PathOf("gone"))); };
      Mend = [&] { Type(W<QLineEdit>(Dialog, "edSource"), QString::fromStdString(PathOf("src-b"))); };
    } else if (Case == "dirregex") {
      W<QCheckBox>(Dialog, "cxDirRegular")->setChecked(true);
      Make = [&] { Type(W<QLineEdit>(Dialog, "edDirFilter"), QStringLiteral("(temp")); };
      Mend = [&] { Type(W<QLineEdit>(Dialog, "edDirFilter"), QStringLiteral("temp")); };
    }
    Make();
    QVERIFY(!Finding->isHidden());
    QVERIFY2(!Finding->text().isEmpty() && Finding->text().contains(Text), qPrintable(Finding->text()));
    QVERIFY(!Dialog.Findings().empty());
    Mend();
    QVERIFY2(Finding->isHidden(), qPrintable(Finding->text()));
    QVERIFY(Dialog.Findings().empty());
  }

  void aTaskWithErrorsIsSavedOnlyWhenTheUserSaysSo() {
    const std::string Task = PathOf("t.buj");
    for (const bool Answer : {false, true}) {
      FDialogs.Answer = Answer;
      TTaskEditorDialog Dialog(FDialogs, Task, NewTaskDocument({PathOf("src-a")}, ""));
      W<QPushButton>(Dialog, "btSave")->click();
      QVERIFY(FDialogs.Questions.back().contains(QStringLiteral("No destination is given.")));
      QCOMPARE(std::filesystem::exists(Task), Answer);
      QCOMPARE(Dialog.result(), Answer ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }
    // Cancel writes nothing.
    std::filesystem::remove(Task);
    TTaskEditorDialog Dialog(FDialogs, Task, NewTaskDocument({PathOf("src-a")}, PathOf("backup")));
    W<QLineEdit>(Dialog, "edDestination")->setText(QStringLiteral("/elsewhere"));
    W<QPushButton>(Dialog, "btCancel")->click();
    QCOMPARE(Dialog.result(), int(QDialog::Rejected));
    QVERIFY(!std::filesystem::exists(Task));
  }

  void sourcesAreAddedAndRemoved() {
    TTaskEditorDialog Dialog(FDialogs, PathOf("t.buj"), NewTaskDocument({PathOf("src-a")}, PathOf("backup")));
    FDialogs.Folder = PathOf("src-b");
    W<QPushButton>(Dialog, "btAddSource")->click();
    QCOMPARE(ListTexts(W<QListWidget>(Dialog, "lbSources")),
             (QStringList{QString::fromStdString(PathOf("src-a")), QString::fromStdString(PathOf("src-b"))}));
    QCOMPARE(W<QListWidget>(Dialog, "lbSources")->currentRow(), 1);
    QCOMPARE(W<QLineEdit>(Dialog, "edSource")->text(), QString::fromStdString(PathOf("src-b")));
    // A new source backs up everything.
    QVERIFY(Dialog.Document().Sources[1].FilterMode == fmOff && !Dialog.Document().Sources[1].IncludeExts);
    W<QListWidget>(Dialog, "lbSources")->setCurrentRow(0);
    W<QPushButton>(Dialog, "btRemoveSource")->click();
    QCOMPARE(Dialog.Document().Sources.size(), std::size_t{1});
    QCOMPARE(Dialog.Document().Sources[0].Source, PathOf("src-b"));
    W<QPushButton>(Dialog, "btRemoveSource")->click();
    QVERIFY(Dialog.Document().Sources.empty());
    QVERIFY(!W<QWidget>(Dialog, "gbSource")->isEnabled());
    QVERIFY(!W<QLabel>(Dialog, "laSourcesFinding")->isHidden());
  }

  void thePreviewShowsTheKnownAnswerAndFollowsAFilterChange() {
    for (const char* File : {"a.txt", "b.tmp", "sub/c.txt", "cache/d.txt"}) MakeFile(std::string("src-a/") + File);
    TTaskDocument Doc = NewTaskDocument({PathOf("src-a")}, PathOf("backup"));
    Doc.Sources[0].Exclude = {"tmp"};
    Doc.Sources[0].SubDirs = {"cache"};
    TTaskEditorDialog Dialog(FDialogs, PathOf("t.buj"), Doc);
    auto* Included = W<QListWidget>(Dialog, "lvIncluded");
    auto* Excluded = W<QTreeWidget>(Dialog, "tvExcluded");
    QTRY_VERIFY_WITH_TIMEOUT(!Dialog.Preview()->Running(), 30000);
    QCOMPARE(ListTexts(Included), (QStringList{"a.txt", "sub/c.txt"}));
    QCOMPARE(TreeTexts(Excluded), (QStringList{"b.tmp: extension", "cache/d.txt: sub-directory rule"}));
    QVERIFY(W<QLabel>(Dialog, "laPreviewStatus")->text().startsWith(QStringLiteral("2 files are backed up, 2")));

    // Leaving out "a*" by the file filter moves a.txt over.
    W<QComboBox>(Dialog, "cbFilterMode")->setCurrentIndex(2);
    Type(W<QLineEdit>(Dialog, "edFilter"), QStringLiteral("a*"));
    QTRY_COMPARE_WITH_TIMEOUT(ListTexts(Included), QStringList{"sub/c.txt"}, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!Dialog.Preview()->Running(), 30000);
    QCOMPARE(TreeTexts(Excluded),
             (QStringList{"a.txt: file filter", "b.tmp: extension", "cache/d.txt: sub-directory rule"}));
  }

  void thePreviewShowsItsCap() {
    for (const char* File : {"a.txt", "b.txt", "c.txt"}) MakeFile(std::string("src-a/") + File);
    TTaskEditorDialog Dialog(FDialogs, PathOf("t.buj"), NewTaskDocument({PathOf("src-a")}, PathOf("backup")), nullptr,
                             2);
    QTRY_VERIFY_WITH_TIMEOUT(!Dialog.Preview()->Running(), 30000);
    QCOMPARE(W<QListWidget>(Dialog, "lvIncluded")->count(), 2);
    const QString Status = W<QLabel>(Dialog, "laPreviewStatus")->text();
    QVERIFY2(Status.startsWith(QStringLiteral("3 files")) && Status.contains(QStringLiteral("first 2")),
             qPrintable(Status));
  }

  void thePreferencesDialogWritesBothFiles() {
    const std::string Ini = PathOf("ZentApp.ini");
    const std::string Cfg = PathOf("ZentApp.cfg");
    TMainAppPreferences Prefs;
    Prefs.LangID = "de";
    TPreferencesDialog Dialog(FDialogs, Prefs, Ini, Cfg);
    QCOMPARE(Child<QComboBox>(Dialog, "cbLanguage")->currentText(), QStringLiteral("Deutsch"));
    Child<QLineEdit>(Dialog, "edDriveId")->setText(QStringLiteral("Disk-?"));
    Child<QLineEdit>(Dialog, "edNoCompress")->setText(QStringLiteral("zip,7z"));
    Child<QLineEdit>(Dialog, "edProtDir")->setText(QString::fromStdString(PathOf("logs")));
    Child<QDoubleSpinBox>(Dialog, "sbMarginLeft")->setValue(25);
    Child<QComboBox>(Dialog, "cbLanguage")->setCurrentIndex(0);
    Child<QCheckBox>(Dialog, "cxDarkMode")->setChecked(true);
    Child<QPushButton>(Dialog, "btSave")->click();
    QCOMPARE(Dialog.result(), int(QDialog::Accepted));
    TMainAppPreferences Expected;
    Expected.DriveId = "Disk-?";
    Expected.NoCompress = "zip,7z";
    Expected.ProtDir = PathOf("logs");
    Expected.Margins.Left = 25;
    Expected.DarkMode = true;
    QVERIFY(ReadMainAppPreferences(Ini, Cfg) == Expected);
  }

  void extensionListsTakeWhatUsersType_data() {
    QTest::addColumn<QString>("Text");
    QTest::addColumn<QStringList>("List");
    QTest::newRow("empty") << "  " << QStringList{};
    QTest::newRow("dots and blanks") << ".tmp, bak ,.LOG" << QStringList{"tmp", "bak", "LOG"};
    QTest::newRow("no extension kept") << "txt,," << QStringList{"txt", "", ""};
    QTest::newRow("quoted comma") << "\"a,b\", c" << QStringList{"a,b", "c"};
  }
  void extensionListsTakeWhatUsersType() {
    QFETCH(QString, Text);
    QFETCH(QStringList, List);
    QStringList Got;
    const std::vector<std::string> Parsed = ExtensionListFromText(Text);
    for (const std::string& Item : Parsed) Got.append(QString::fromStdString(Item));
    QCOMPARE(Got, List);
    QCOMPARE(ExtensionListFromText(ExtensionListText(Parsed)), Parsed);
  }
};

}  // namespace

QTEST_MAIN(TaskEditorTest)
#include "TaskEditorTest.moc"
