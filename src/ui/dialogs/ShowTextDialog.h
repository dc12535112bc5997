#pragma once
// A read-only viewer for a text file, made for log files: stepping from
// section to section and from error to error by the markers that begin such
// lines, searching, choosing the font and the code page, printing with the
// main application's margins, opening another file and saving a copy.
//
// Widgets (by objectName): meText (QPlainTextEdit); the buttons btnOpen,
// btnSave, btnPrint, btnSearch, btnPrevSection, btnNextSection,
// btnPrevError, btnNextError, btnFont, btnClose; the code page box
// cbCodePage; the search bar pnSearch with edSearch, btnFindNext,
// btnFindPrev, cbMatchCase; the status line laStatus.

#include <QByteArray>
#include <QDialog>
#include <QFlags>
#include <QString>

#include <functional>
#include <string>

#include "settings/MainAppSettings.h"

class QCheckBox;
class QComboBox;
class QFont;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QWidget;

namespace dz::ui {

enum class TViewerButton {
  vbOpen = 0x01,
  vbPrint = 0x02,
  vbSearch = 0x04,
  vbSections = 0x08,
  vbErrors = 0x10,
  vbFont = 0x20,
  vbCodePage = 0x40,
};
Q_DECLARE_FLAGS(TViewerButtons, TViewerButton)
Q_DECLARE_OPERATORS_FOR_FLAGS(TViewerButtons)

struct TShowTextOptions {
  std::string Title;
  std::string PrevSectionCaption;
  std::string NextSectionCaption;
  std::string SectionMarker;       // a line that begins with it starts a section
  std::string PrevErrorCaption;
  std::string NextErrorCaption;
  std::string ErrorMarker;         // a line that begins with it is an error
  std::string SaveFilter;          // "name|patterns|name|patterns"
  int FirstLine = 0;               // the line the cursor starts on
  TViewerButtons Buttons = TViewerButtons(0x7F);
  TPrinterMargins Margins;
  int CodePage = 0;                // 0: UTF-8 (see base/CodePages.h)
  // A file above this size is shown from the first line that begins in its
  // last MaxShownBytes: a log grows at its end, and a text widget holding
  // hundreds of megabytes would keep the window frozen for long.
  qint64 MaxShownBytes = 32 * 1024 * 1024;
};

// The options with which the log files are shown: title ProgVersName, the
// section marker "Zentivo -", the error marker of the log's lines
// (LogErrorMarker, watchdog/LogLines.h: a file or a directory that could
// not be backed up or watched), every button.
TShowTextOptions LogViewerOptions(const TPrinterMargins& Margins);

class TShowTextDialog : public QDialog {
  Q_OBJECT

public:
  explicit TShowTextDialog(const TShowTextOptions& Options, QWidget* Parent = nullptr);

  // Reads FileName and shows it. On failure the text shown stays as it was
  // and LastError() says why, with the file's name.
  bool LoadFile(const QString& FileName);
  const QString& LastError() const { return FLastError; }
  const QString& FileName() const { return FFileName; }
  // Whether the shown text is only the end of a larger file.
  bool Truncated() const { return FTruncated; }

  // Loads FileName and runs the dialog; a file that cannot be read is
  // reported in a message window instead. Returns whether it was shown.
  bool Execute(const QString& FileName);

  // The line of the cursor, counted from 0.
  int CurrentLine() const;
  void GoToLine(int Line);
  QString Text() const;

  // Move the cursor to the next or previous line that begins with the
  // marker; false (and the cursor stays) when there is none.
  bool NextSection();
  bool PreviousSection();
  bool NextError();
  bool PreviousError();

  // Searches for the text of the search bar from the cursor on (or back);
  // the hit is selected. False when there is no further hit.
  void SetSearch(const QString& Text, bool MatchCase);
  bool FindNext();
  bool FindPrevious();

  // Decodes the file's bytes again; the cursor stays on its line.
  void SetCodePage(int CodePage);
  int CodePage() const { return FCodePage; }
  void SetViewerFont(const QFont& Font);

  // Prints the text on Printer with the margins of the options (in
  // millimetres), a header line with the file's name and the page number.
  // False when the printer cannot be started.
  bool Print(QPrinter& Printer);
  // Writes the text shown as UTF-8 with byte-order mark and CR LF line ends;
  // the file is replaced only once it is completely written. On failure
  // LastError() says why.
  bool SaveToFile(const QString& FileName);

private:
  void Decode();
  bool StepToMarker(const std::string& Marker, bool Forward);
  bool Find(bool Backward);
  void SetStatus(const QString& Text);
  void ShowError(const QString& Text);
  void OpenClicked();
  void SaveClicked();
  void PrintClicked();
  void FontClicked();

  TShowTextOptions FOptions;
  QByteArray FBytes;
  QString FFileName;
  QString FLastError;
  bool FTruncated = false;
  int FCodePage = 0;

  QPlainTextEdit* meText;
  QWidget* pnSearch;
  QLineEdit* edSearch;
  QCheckBox* cbMatchCase;
  QComboBox* cbCodePage;
  QLabel* laStatus;
};

// Hooks for the modal steps of ShowLogFile; each one left empty uses the
// ordinary dialog. Tests put their answers in.
struct TLogFileHooks {
  // The chosen file, empty when the user cancels; Start is the file
  // preselected, or the folder when it holds no log.
  std::function<QString(QWidget* Parent, const QString& Caption, const QString& Start, const QString& Filter)>
      ChooseFile;
  std::function<void(QWidget* Parent, const QString& Text)> Message;
  // Runs the loaded viewer.
  std::function<void(TShowTextDialog& Viewer)> Run;
};

enum class TShowLogResult { slCancelled, slUnreadable, slShown };

// "Show log file" of the log panel: the user picks a log file in LogDir
// (the newest one is preselected) and it is shown in the viewer with the
// log options. Without any log file in LogDir the dialog opens in LogDir
// all the same, so that a log elsewhere can be chosen.
TShowLogResult ShowLogFile(QWidget* Parent, const std::string& LogDir, const TPrinterMargins& Margins,
                           const TLogFileHooks& Hooks = {});

}  // namespace dz::ui
