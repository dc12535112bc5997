#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include <string>

#include "settings/ProgramLocations.h"
#include "FindWidget.h"
#include "ui/dialogs/QtFileFilter.h"
#include "ui/dialogs/ShowTextDialog.h"

namespace dz::ui {

namespace {

using test::Child;

// A log as the watchdog writes it: byte-order mark, CR LF, two sections of
// the main application, file errors ("  *** ") and one destination failure
// (" *** "), which the error marker does not take.
const QByteArray LogBytes =
    "\xEF\xBB\xBF"
    "Zentivo - Backup job A\r\n"                                       // 0
    "2026-01-02 10:00:00 - 01: /home/u/a.txt => /backup/\r\n"          // 1
    "2026-01-02 10:00:01 - 01: /home/u/b.txt => /backup/\r\n"          // 2
    "  *** Error - Copy: access denied\r\n"                            // 3
    " *** 2026-01-02 10:00:02 - 02: Drive \"X\" not ready!\r\n"       // 4
    "Zentivo - Backup job B\r\n"                                       // 5
    "2026-01-02 11:00:00 - 01: /home/u/Gamma.txt => /backup/\r\n"      // 6
    "  *** Error - gzip: disk full\r\n"                                // 7
    "\xCE\xB1\xCE\xB2\xCE\xB3.txt gamma\r\n";                          // 8

bool WriteFile(const QString& Name, const QByteArray& Bytes) {
  QFile File(Name);
  return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

QByteArray ReadFile(const QString& Name) {
  QFile File(Name);
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

QString LineText(const TShowTextDialog& Viewer, int Line) { return Viewer.Text().split(u'\n').value(Line); }

// Pages of a PDF that Qt wrote: each page is an object "/Type /Page".
int PdfPageCount(const QByteArray& Pdf) {
  return static_cast<int>(QString::fromLatin1(Pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))));
}

}  // namespace

class TextViewerTest : public QObject {
  Q_OBJECT

private slots:
  void init() {
    QVERIFY(FDir.isValid());
    FLog = FDir.filePath(QStringLiteral("DeZedodiru 2026-01-02.log"));
    QVERIFY(WriteFile(FLog, LogBytes));
  }

  void opensWithoutMarkAndLineEnds() {
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY2(Viewer.LoadFile(FLog), qPrintable(Viewer.LastError()));
    QCOMPARE(Viewer.windowTitle(), QString::fromStdString(ProgVersName()));
    QCOMPARE(Viewer.FileName(), FLog);
    QVERIFY(!Viewer.Truncated());
    QCOMPARE(LineText(Viewer, 0), QStringLiteral("Zentivo - Backup job A"));
    QCOMPARE(LineText(Viewer, 8), QStringLiteral("αβγ.txt gamma"));
    QVERIFY(!Viewer.Text().contains(u'\r'));
    QVERIFY(!Viewer.Text().contains(QChar(0xFEFF)));
    QCOMPARE(Viewer.CurrentLine(), 0);
    QCOMPARE(Child<QPushButton>(Viewer, "btnPrevSection")->text(), QStringLiteral("Previous section"));
    QCOMPARE(Child<QPushButton>(Viewer, "btnNextError")->text(), QStringLiteral("Next error"));
  }

  void buttonsFollowTheOptions() {
    TShowTextOptions Options = LogViewerOptions({});
    {
      TShowTextDialog Viewer(Options);
      for (const char* Name : {"btnOpen", "btnSave", "btnPrint", "btnSearch", "btnPrevSection", "btnNextSection",
                               "btnPrevError", "btnNextError", "btnFont", "cbCodePage", "btnClose"})
        QVERIFY2(!Child<QWidget>(Viewer, Name)->isHidden(), Name);
      QVERIFY(!Viewer.findChild<QWidget*>(QStringLiteral("btnErase")));
      QVERIFY(!Viewer.findChild<QWidget*>(QStringLiteral("btnExport")));
    }
    Options.Buttons = TViewerButton::vbSearch | TViewerButton::vbErrors;
    TShowTextDialog Viewer(Options);
    for (const char* Name : {"btnOpen", "btnPrint", "btnPrevSection", "btnNextSection", "btnFont", "cbCodePage"})
      QVERIFY2(Child<QWidget>(Viewer, Name)->isHidden(), Name);
    for (const char* Name : {"btnSearch", "btnPrevError", "btnNextError", "btnSave", "btnClose"})
      QVERIFY2(!Child<QWidget>(Viewer, Name)->isHidden(), Name);
  }

  void stepsBetweenSectionsAndErrors() {
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY(Viewer.LoadFile(FLog));
    struct TStep {
      const char* Button;
      int Line;   // where the cursor is afterwards
    };
    // Line 4 (" *** ", one blank) is a destination failure, not a file error.
    const TStep Steps[] = {
        {"btnNextError", 3},    {"btnNextError", 7},    {"btnNextError", 7},      // no further one
        {"btnPrevError", 3},    {"btnPrevError", 3},    {"btnNextSection", 5},
        {"btnNextSection", 5},  {"btnPrevError", 3},    {"btnPrevSection", 0},
        {"btnPrevSection", 0},  {"btnNextSection", 5},  {"btnNextError", 7},
    };
    for (const TStep& Step : Steps) {
      QTest::mouseClick(Child<QPushButton>(Viewer, Step.Button), Qt::LeftButton);
      QVERIFY2(Viewer.CurrentLine() == Step.Line,
               qPrintable(QStringLiteral("%1: line %2, expected %3")
                              .arg(QString::fromLatin1(Step.Button))
                              .arg(Viewer.CurrentLine())
                              .arg(Step.Line)));
    }
    Viewer.GoToLine(8);
    QVERIFY(!Viewer.NextError());
    QCOMPARE(Viewer.CurrentLine(), 8);
    QVERIFY(Viewer.PreviousSection());
    QCOMPARE(Viewer.CurrentLine(), 5);
  }

  void searchFindsWithAndWithoutCase() {
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY(Viewer.LoadFile(FLog));
    QTest::mouseClick(Child<QPushButton>(Viewer, "btnSearch"), Qt::LeftButton);
    QVERIFY(!Child<QWidget>(Viewer, "pnSearch")->isHidden());

    Viewer.SetSearch(QStringLiteral("gamma"), false);
    QTest::mouseClick(Child<QPushButton>(Viewer, "btnFindNext"), Qt::LeftButton);
    auto* Text = Child<QPlainTextEdit>(Viewer, "meText");
    QCOMPARE(Viewer.CurrentLine(), 6);
    QCOMPARE(Text->textCursor().selectedText(), QStringLiteral("Gamma"));
    QVERIFY(Viewer.FindNext());
    QCOMPARE(Viewer.CurrentLine(), 8);
    QVERIFY(!Viewer.FindNext());
    QCOMPARE(Viewer.CurrentLine(), 8);   // the last hit stays selected
    QVERIFY(Child<QLabel>(Viewer, "laStatus")->text().contains(QStringLiteral("not found")));
    QVERIFY(Viewer.FindPrevious());
    QCOMPARE(Viewer.CurrentLine(), 6);

    Viewer.GoToLine(0);
    Viewer.SetSearch(QStringLiteral("gamma"), true);
    QVERIFY(Viewer.FindNext());
    QCOMPARE(Viewer.CurrentLine(), 8);   // "Gamma" on line 6 does not match
    Viewer.GoToLine(0);
    Viewer.SetSearch(QStringLiteral("GAMMA"), true);
    QVERIFY(!Viewer.FindNext());
  }

  void codePageDecodesAgain() {
    const QString Name = FDir.filePath(QStringLiteral("old.log"));
    QVERIFY(WriteFile(Name, QByteArray("first\r\nGr\xFC\xDF" "e \x80 5\r\nlast\r\n")));
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY(Viewer.LoadFile(Name));
    QCOMPARE(Viewer.CodePage(), 65001);
    QCOMPARE(LineText(Viewer, 1), QStringLiteral("Gr\uFFFD\uFFFDe \uFFFD 5"));

    Viewer.GoToLine(1);
    auto* Box = Child<QComboBox>(Viewer, "cbCodePage");
    Box->setCurrentIndex(Box->findData(1252));
    QCOMPARE(Viewer.CodePage(), 1252);
    QCOMPARE(LineText(Viewer, 1), QStringLiteral("Grüße € 5"));
    QCOMPARE(Viewer.CurrentLine(), 1);

    Viewer.SetCodePage(850);
    QCOMPARE(Box->currentData().toInt(), 850);
    QCOMPARE(LineText(Viewer, 1), QStringLiteral("Gr³\u2580e Ç 5"));
    Viewer.SetCodePage(28605);
    QCOMPARE(LineText(Viewer, 1), QStringLiteral("Grüße \u0080 5"));
    Viewer.SetCodePage(65001);
    QCOMPARE(LineText(Viewer, 1), QStringLiteral("Gr\uFFFD\uFFFDe \uFFFD 5"));
  }

  void printsWithTheMargins() {
    QString Long;
    for (int I = 0; I < 300; ++I) Long += QStringLiteral("line %1 of the log\r\n").arg(I);
    const QString Name = FDir.filePath(QStringLiteral("long.log"));
    QVERIFY(WriteFile(Name, Long.toUtf8()));

    const auto PrintWith = [&](const TPrinterMargins& Margins, const QString& Pdf) {
      TShowTextOptions Options = LogViewerOptions(Margins);
      TShowTextDialog Viewer(Options);
      if (!Viewer.LoadFile(Name)) return -1;
      QPrinter Printer(QPrinter::HighResolution);
      Printer.setOutputFormat(QPrinter::PdfFormat);
      Printer.setOutputFileName(Pdf);
      Printer.setPageSize(QPageSize(QPageSize::A4));
      if (!Viewer.Print(Printer)) return -1;
      const QMarginsF Set = Printer.pageLayout().margins(QPageLayout::Millimeter);
      const QMarginsF Want(Margins.Left, Margins.Top, Margins.Right, Margins.Bottom);
      if (qAbs(Set.left() - Want.left()) > 0.01 || qAbs(Set.top() - Want.top()) > 0.01 ||
          qAbs(Set.right() - Want.right()) > 0.01 || qAbs(Set.bottom() - Want.bottom()) > 0.01) {
        qWarning("margins not applied");
        return -1;
      }
      const QByteArray Bytes = ReadFile(Pdf);
      if (!Bytes.startsWith("%PDF-")) return -1;
      return PdfPageCount(Bytes);
    };
    const int Narrow = PrintWith({12.5, 10, 10, 10}, FDir.filePath(QStringLiteral("narrow.pdf")));
    const int Wide = PrintWith({30, 90, 20, 90}, FDir.filePath(QStringLiteral("wide.pdf")));
    QVERIFY2(Narrow > 0, "printing with narrow margins failed");
    QVERIFY2(Wide > Narrow, qPrintable(QStringLiteral("pages: %1 with narrow, %2 with wide margins").arg(Narrow).arg(Wide)));
  }

  void savesTheText() {
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY(Viewer.LoadFile(FLog));
    const QString Copy = FDir.filePath(QStringLiteral("copy.log"));
    QVERIFY2(Viewer.SaveToFile(Copy), qPrintable(Viewer.LastError()));
    QCOMPARE(ReadFile(Copy), LogBytes);

    // After another code page the text shown is what is saved, in UTF-8.
    const QString Old = FDir.filePath(QStringLiteral("old.log"));
    QVERIFY(WriteFile(Old, QByteArray("Gr\xFC\xDF" "e\n")));
    QVERIFY(Viewer.LoadFile(Old));
    Viewer.SetCodePage(1252);
    QVERIFY(Viewer.SaveToFile(Copy));
    QCOMPARE(ReadFile(Copy), QByteArray("\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F" "e\r\n"));

    const QString Nowhere = FDir.filePath(QStringLiteral("missing/dir/out.log"));
    QVERIFY(!Viewer.SaveToFile(Nowhere));
    QVERIFY(Viewer.LastError().contains(Nowhere));
    QVERIFY(!QFileInfo::exists(Nowhere));
  }

  void unreadableFileGivesTheMessage() {
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), FDir.filePath(QStringLiteral("ioerror.log"))));
    const QString Cases[] = {FDir.filePath(QStringLiteral("missing.log")), FDir.path(),
                             FDir.filePath(QStringLiteral("ioerror.log"))};
    TShowTextDialog Viewer(LogViewerOptions({}));
    QVERIFY(Viewer.LoadFile(FLog));
    for (const QString& Name : Cases) {
      QVERIFY2(!Viewer.LoadFile(Name), qPrintable(Name));
      QVERIFY2(Viewer.LastError().contains(Name) && Viewer.LastError().contains(QStringLiteral("cannot be read")),
               qPrintable(Viewer.LastError()));
      // What was shown stays.
      QCOMPARE(Viewer.FileName(), FLog);
      QCOMPARE(LineText(Viewer, 0), QStringLiteral("Zentivo - Backup job A"));
    }
  }

  void largeFileShowsItsEndFromAWholeLine() {
    QByteArray Bytes;
    for (int I = 0; I < 100; ++I) Bytes += QStringLiteral("line %1 \u00e4\u00e4\u00e4\u00e4\r\n").arg(I, 3, 10, QLatin1Char('0')).toUtf8();
    const QString Name = FDir.filePath(QStringLiteral("big.log"));
    QVERIFY(WriteFile(Name, Bytes));
    const qint64 LineBytes = Bytes.size() / 100;   // every line has the same length

    TShowTextOptions Options = LogViewerOptions({});
    Options.MaxShownBytes = 10 * LineBytes + 3;   // cuts inside line 89
    TShowTextDialog Viewer(Options);
    QVERIFY(Viewer.LoadFile(Name));
    QVERIFY(Viewer.Truncated());
    QCOMPARE(LineText(Viewer, 0), QStringLiteral("line 090 ääää"));
    QVERIFY(Viewer.Text().endsWith(QStringLiteral("line 099 ääää\n")));
    QVERIFY(Child<QLabel>(Viewer, "laStatus")->text().contains(QStringLiteral("only the end")));

    Options.MaxShownBytes = Bytes.size();
    TShowTextDialog Whole(Options);
    QVERIFY(Whole.LoadFile(Name));
    QVERIFY(!Whole.Truncated());
    QCOMPARE(LineText(Whole, 0), QStringLiteral("line 000 ääää"));
  }

  void showLogFileFlow() {
    QTemporaryDir Empty;
    QStringList Messages;
    TLogFileHooks Hooks;
    Hooks.Message = [&](QWidget*, const QString& Text) { Messages << Text; };
    // No log in the folder: the dialog opens there all the same, and a log
    // from elsewhere can be chosen.
    QStringList StartedIn;
    QString Elsewhere;
    Hooks.ChooseFile = [&](QWidget*, const QString&, const QString& Start, const QString&) {
      StartedIn << Start;
      return Elsewhere;
    };
    QString ShownName, ShownTitle;
    Hooks.Run = [&](TShowTextDialog& Viewer) {
      ShownName = Viewer.FileName();
      ShownTitle = Viewer.windowTitle();
    };
    QCOMPARE(ShowLogFile(nullptr, Empty.path().toStdString(), {}, Hooks), TShowLogResult::slCancelled);
    QCOMPARE(StartedIn, QStringList{QDir(Empty.path()).absolutePath()});
    QVERIFY(Messages.isEmpty());
    Elsewhere = FLog;
    QCOMPARE(ShowLogFile(nullptr, Empty.path().toStdString(), {}, Hooks), TShowLogResult::slShown);
    QCOMPARE(ShownName, FLog);
    ShownName.clear();

    // An older log beside today's: the newer one is offered first.
    const QString Older = FDir.filePath(QStringLiteral("DeZedodiru 2026-01-01.log"));
    QVERIFY(WriteFile(Older, LogBytes));
    QFile OlderFile(Older);
    QVERIFY(OlderFile.open(QIODevice::ReadWrite));
    QVERIFY(OlderFile.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    OlderFile.close();

    QString Offered, Caption, Filter;
    QString Answer;
    Hooks.ChooseFile = [&](QWidget*, const QString& C, const QString& Start, const QString& F) {
      Caption = C;
      Offered = Start;
      Filter = F;
      return Answer;
    };
    const std::string Dir = FDir.path().toStdString();
    QCOMPARE(ShowLogFile(nullptr, Dir, {}, Hooks), TShowLogResult::slCancelled);
    QCOMPARE(Caption, QStringLiteral("Select log file"));
    QCOMPARE(Filter, QStringLiteral("Watchdog logs (*.log);;all (*.*)"));
    QCOMPARE(Offered, QFileInfo(FLog).absoluteFilePath());
    QVERIFY(ShownName.isEmpty());

    Answer = Older;
    QCOMPARE(ShowLogFile(nullptr, Dir, {}, Hooks), TShowLogResult::slShown);
    QCOMPARE(ShownName, Older);
    QCOMPARE(ShownTitle, QString::fromStdString(ProgVersName()));

    Messages.clear();
    Answer = FDir.filePath(QStringLiteral("gone.log"));
    QCOMPARE(ShowLogFile(nullptr, Dir, {}, Hooks), TShowLogResult::slUnreadable);
    QCOMPARE(Messages.size(), 1);
    QVERIFY(Messages[0].contains(Answer));
  }

  void fileFilters_data() {
    QTest::addColumn<QString>("Filter");
    QTest::addColumn<QString>("Qt");
    QTest::newRow("log") << "Log files|*.log|all|*.*" << "Log files (*.log);;all (*.*)";
    QTest::newRow("several patterns") << "Texts|*.txt;*.log" << "Texts (*.txt *.log)";
    QTest::newRow("name without patterns") << "Everything" << "Everything (*)";
    QTest::newRow("empty") << "" << "";
  }

  void fileFilters() {
    QFETCH(QString, Filter);
    QFETCH(QString, Qt);
    QCOMPARE(QtFileFilter(Filter.toStdString()), Qt);
  }

private:
  QTemporaryDir FDir;
  QString FLog;
};

}  // namespace dz::ui

QTEST_MAIN(dz::ui::TextViewerTest)
#include "TextViewerTest.moc"
