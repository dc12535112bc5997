#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "FindWidget.h"
#include "ui/dialogs/ShowFilterDialog.h"
#include "watchdog/MonTask.h"

using Lines = std::vector<std::string>;
Q_DECLARE_METATYPE(Lines)

namespace dz::ui {

struct TFilterText {
  bool Regular = false;
  int Mode = fmOff;
  std::string Text;   // empty: as created
};

}  // namespace dz::ui

Q_DECLARE_METATYPE(dz::ui::TFilterText)

namespace dz::ui {

namespace {

using test::Child;

void Apply(TTextFilter& Filter, const TFilterText& Setup) {
  Filter.SetRegular(Setup.Regular);
  if (!Setup.Text.empty()) Filter.SetFilter(Setup.Text);
  Filter.SetMode(static_cast<TFilterMode>(Setup.Mode));
}

Lines ListLines(const QListWidget* List) {
  Lines Result;
  for (int I = 0; I < List->count(); ++I) Result.push_back(List->item(I)->text().toStdString());
  return Result;
}

// The file types row by row, as they stand in the five columns.
Lines TableLines(const QTableWidget* Table) {
  Lines Result;
  for (int Row = 0; Row < Table->rowCount(); ++Row)
    for (int Col = 0; Col < Table->columnCount(); ++Col)
      if (const QTableWidgetItem* Item = Table->item(Row, Col)) Result.push_back(Item->text().toStdString());
  return Result;
}

}  // namespace

class FilterDialogTest : public QObject {
  Q_OBJECT

private slots:
  void fixedTexts() {
    TShowFilterDialog Dialog;
    QCOMPARE(Dialog.windowTitle(), QStringLiteral("Selection for subdirectories and files"));
    QCOMPARE(Child<QLabel>(Dialog, "laFileFilt")->text(), QStringLiteral("matching these filter conditions"));
    QCOMPARE(Child<QLabel>(Dialog, "laRegular")->text(), QStringLiteral("Use filter as regular expression"));
    QCOMPARE(Child<QPushButton>(Dialog, "btnClose")->text(), QStringLiteral("Close"));
    QCOMPARE(Child<QTableWidget>(Dialog, "lbFileExt")->columnCount(), 5);
    const QString Groups[] = {Child<QWidget>(Dialog, "gbSubDirs")->property("title").toString(),
                              Child<QWidget>(Dialog, "gbFiles")->property("title").toString()};
    QCOMPARE(Groups[0], QStringLiteral("Monitor all subdirectories"));
    QCOMPARE(Groups[1], QStringLiteral("Monitor all files"));
  }

  void showsFilter_data() {
    QTest::addColumn<bool>("IncludeSubDirs");
    QTest::addColumn<Lines>("SubDirs");
    QTest::addColumn<TFilterText>("DirFilter");
    QTest::addColumn<bool>("IncludeExts");
    QTest::addColumn<Lines>("Exts");
    QTest::addColumn<TFilterText>("FileFilter");
    QTest::addColumn<Lines>("Expected");   // laSubDirs, laDirFilt, laFileExt
    QTest::addColumn<Lines>("SubDirLines");
    QTest::addColumn<Lines>("DirFilterLines");
    QTest::addColumn<Lines>("FileFilterLines");
    QTest::addColumn<Lines>("ExtLines");
    QTest::addColumn<bool>("RegularVisible");

    QTest::newRow("include two masks, everything else open")
        << true << Lines{} << TFilterText{} << true << Lines{} << TFilterText{false, fmInclude, "*.txt|*.doc"}
        << Lines{"included in this list", "matching these filter conditions", "matching these file types"}
        << Lines{} << Lines{"*"} << Lines{"only :", "*.txt", "*.doc"} << Lines{} << false;
    QTest::newRow("excluding lists")
        << false << Lines{"tmp", "cache dir", "Build"} << TFilterText{false, fmInclude, "temp|old files"} << false
        << Lines{"bak", "tmp", "o", "obj", "log", "swp", "~"} << TFilterText{false, fmExclude, "~*"}
        << Lines{"not included in this list", "not matching these filter conditions",
                 "not matching these file types"}
        << Lines{"Build", "cache dir", "tmp"} << Lines{"temp", "old", "files"} << Lines{"all except :", "~*.*"}
        << Lines{"bak", "log", "o", "obj", "swp", "tmp", "~"} << false;
    QTest::newRow("file filter off, regular expressions")
        << true << Lines{} << TFilterText{true, fmInclude, "^\\d{4}$|x"} << true << Lines{"txt"}
        << TFilterText{true, fmOff, "\\.log$"}
        << Lines{"included in this list", "matching these filter conditions", "matching these file types"}
        << Lines{} << Lines{"^\\d{4}$|x"} << Lines{"All files"} << Lines{"txt"} << true;
    QTest::newRow("regular file filter shown whole")
        << true << Lines{} << TFilterText{} << true << Lines{} << TFilterText{true, fmInclude, "a b|c"}
        << Lines{"included in this list", "matching these filter conditions", "matching these file types"}
        << Lines{} << Lines{"*"} << Lines{"only :", "a b|c"} << Lines{} << true;
  }

  void showsFilter() {
    QFETCH(bool, IncludeSubDirs);
    QFETCH(Lines, SubDirs);
    QFETCH(TFilterText, DirFilter);
    QFETCH(bool, IncludeExts);
    QFETCH(Lines, Exts);
    QFETCH(TFilterText, FileFilter);
    QFETCH(Lines, Expected);
    QFETCH(Lines, SubDirLines);
    QFETCH(Lines, DirFilterLines);
    QFETCH(Lines, FileFilterLines);
    QFETCH(Lines, ExtLines);
    QFETCH(bool, RegularVisible);

    TMonFilter Filter;
    Filter.IncludeSubDirs = IncludeSubDirs;
    Filter.SubDirList.Assign(SubDirs);
    Apply(Filter.SubDirFilter, DirFilter);
    Filter.IncludeExts = IncludeExts;
    Filter.ExtList.Assign(Exts);
    Apply(Filter.FileFilter, FileFilter);

    // One dialog serves every directory: what an earlier one showed must go.
    TShowFilterDialog& Dialog = SharedDialog();
    Dialog.ShowFilter(MonFilterDisplay(Filter));
    QCOMPARE((Lines{Child<QLabel>(Dialog, "laSubDirs")->text().toStdString(),
                    Child<QLabel>(Dialog, "laDirFilt")->text().toStdString(),
                    Child<QLabel>(Dialog, "laFileExt")->text().toStdString()}),
             Expected);
    QCOMPARE(ListLines(Child<QListWidget>(Dialog, "lbSubDirs")), SubDirLines);
    QCOMPARE(ListLines(Child<QListWidget>(Dialog, "lbDirFilt")), DirFilterLines);
    QCOMPARE(ListLines(Child<QListWidget>(Dialog, "lbFileFilt")), FileFilterLines);
    QCOMPARE(TableLines(Child<QTableWidget>(Dialog, "lbFileExt")), ExtLines);
    QCOMPARE(Child<QTableWidget>(Dialog, "lbFileExt")->rowCount(), static_cast<int>((ExtLines.size() + 4) / 5));
    QCOMPARE(!Child<QLabel>(Dialog, "laRegular")->isHidden(), RegularVisible);
  }

  void executeIsModalAndChangesNothing() {
    TMonFilter Filter;
    Filter.FileFilter.SetFilter("*.txt");
    Filter.FileFilter.SetMode(fmInclude);
    Filter.SubDirList.Add("docs");
    TShowFilterDialog Dialog;
    bool WasModal = false;
    QTimer::singleShot(0, &Dialog, [&] {
      WasModal = Dialog.isVisible() && Dialog.isModal();
      QTest::mouseClick(Child<QPushButton>(Dialog, "btnClose"), Qt::LeftButton);
    });
    Dialog.Execute(MonFilterDisplay(Filter));
    QVERIFY(WasModal);
    QVERIFY(!Dialog.isVisible());
    QCOMPARE(Filter.FileFilter.Filter(), std::string("*.txt"));
    QCOMPARE(Filter.FileFilter.Mode(), fmInclude);
    QCOMPARE(Filter.SubDirList.Items(), Lines{"docs"});
    QCOMPARE(ListLines(Child<QListWidget>(Dialog, "lbFileFilt")), (Lines{"only :", "*.txt"}));
  }

private:
  TShowFilterDialog& SharedDialog() {
    if (!FShared) FShared = std::make_unique<TShowFilterDialog>();
    return *FShared;
  }
  std::unique_ptr<TShowFilterDialog> FShared;
};

}  // namespace dz::ui

QTEST_MAIN(dz::ui::FilterDialogTest)
#include "FilterDialogTest.moc"
