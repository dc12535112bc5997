#include "ui/dialogs/ShowTextDialog.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <string_view>

#include "base/CodePages.h"
#include "base/SafeFormat.h"
#include "filesys/PathUtils.h"
#include "settings/ProgramLocations.h"
#include "ui/dialogs/QtFileFilter.h"
#include "ui/dialogs/QtText.h"
#include "watchdog/LogLines.h"

namespace dz::ui {

namespace {

QPushButton* NewButton(const QString& Caption, const char* Name, QLayout* Layout, bool Visible = true) {
  auto* Button = Named(new QPushButton(Caption), Name);
  Button->setAutoDefault(false);
  Button->setVisible(Visible);
  Layout->addWidget(Button);
  return Button;
}

// Line ends of any kind become "\n", which the text widget takes as one.
std::string FormatByteSize(qint64 Bytes) {
  if (Bytes >= 1024 * 1024 && Bytes % (1024 * 1024) == 0) return SafeFormat("%d MiB", Bytes / (1024 * 1024));
  return SafeFormat(Tr("%d bytes"), Bytes);
}

QString NormaliseLineEnds(QString Text) {
  Text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Text.replace(u'\r', u'\n');
  return Text;
}

}  // namespace

TShowTextOptions LogViewerOptions(const TPrinterMargins& Margins) {
  TShowTextOptions Options;
  Options.Title = ProgVersName();
  Options.PrevSectionCaption = Tr("Previous section");
  Options.NextSectionCaption = Tr("Next section");
  Options.SectionMarker = "Zentivo -";
  Options.PrevErrorCaption = Tr("Previous error");
  Options.NextErrorCaption = Tr("Next error");
  Options.ErrorMarker = std::string(LogErrorMarker);
  Options.SaveFilter = SafeFormat(Tr("Log files|*.%s|all|*.*"), "log");
  Options.Margins = Margins;
  return Options;
}

TShowTextDialog::TShowTextDialog(const TShowTextOptions& Options, QWidget* Parent)
    : QDialog(Parent),
      FOptions(Options),
      FCodePage(IsSupportedCodePage(Options.CodePage) ? Options.CodePage : cpUtf8),
      meText(Named(new QPlainTextEdit, "meText")),
      pnSearch(Named(new QWidget, "pnSearch")),
      edSearch(Named(new QLineEdit, "edSearch")),
      cbMatchCase(Named(new QCheckBox(Qs(Tr("Match case"))), "cbMatchCase")),
      cbCodePage(Named(new QComboBox, "cbCodePage")),
      laStatus(Named(new QLabel, "laStatus")) {
  setWindowTitle(Qs(Options.Title));
  setSizeGripEnabled(true);
  const TViewerButtons B = Options.Buttons;

  auto* Tools = new QHBoxLayout;
  QPushButton* Open = NewButton(Qs(Tr("Open")), "btnOpen", Tools, B.testFlag(TViewerButton::vbOpen));
  QPushButton* Save = NewButton(Qs(Tr("Save as")), "btnSave", Tools);
  QPushButton* Print = NewButton(Qs(Tr("Print")), "btnPrint", Tools, B.testFlag(TViewerButton::vbPrint));
  QPushButton* Search = NewButton(Qs(Tr("Search")), "btnSearch", Tools, B.testFlag(TViewerButton::vbSearch));
  const bool Sections = B.testFlag(TViewerButton::vbSections) && !Options.SectionMarker.empty();
  QPushButton* PrevSection = NewButton(Qs(Options.PrevSectionCaption), "btnPrevSection", Tools, Sections);
  QPushButton* NextSection = NewButton(Qs(Options.NextSectionCaption), "btnNextSection", Tools, Sections);
  const bool Errors = B.testFlag(TViewerButton::vbErrors) && !Options.ErrorMarker.empty();
  QPushButton* PrevError = NewButton(Qs(Options.PrevErrorCaption), "btnPrevError", Tools, Errors);
  QPushButton* NextError = NewButton(Qs(Options.NextErrorCaption), "btnNextError", Tools, Errors);
  QPushButton* Font = NewButton(Qs(Tr("Font")), "btnFont", Tools, B.testFlag(TViewerButton::vbFont));
  for (const TCodePageInfo& Info : SupportedCodePages())
    cbCodePage->addItem(QString::fromLatin1(Info.Name), static_cast<int>(Info.CodePage));
  cbCodePage->setCurrentIndex(cbCodePage->findData(FCodePage));
  cbCodePage->setToolTip(Qs(Tr("Code page")));
  cbCodePage->setVisible(B.testFlag(TViewerButton::vbCodePage));
  Tools->addWidget(cbCodePage);
  Tools->addStretch();
  QPushButton* Close = NewButton(Qs(Tr("Close")), "btnClose", Tools);

  auto* SearchBar = new QHBoxLayout(pnSearch);
  SearchBar->setContentsMargins(0, 0, 0, 0);
  SearchBar->addWidget(new QLabel(Qs(Tr("Search for:"))));
  SearchBar->addWidget(edSearch, 1);
  QPushButton* FindPrev = NewButton(Qs(Tr("Find previous")), "btnFindPrev", SearchBar);
  QPushButton* FindNext = NewButton(Qs(Tr("Find next")), "btnFindNext", SearchBar);
  SearchBar->addWidget(cbMatchCase);
  pnSearch->hide();

  meText->setReadOnly(true);
  meText->setLineWrapMode(QPlainTextEdit::NoWrap);
  meText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  meText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  auto* Layout = new QVBoxLayout(this);
  Layout->addLayout(Tools);
  Layout->addWidget(pnSearch);
  Layout->addWidget(meText, 1);
  Layout->addWidget(laStatus);
  resize(900, 600);

  connect(Open, &QPushButton::clicked, this, &TShowTextDialog::OpenClicked);
  connect(Save, &QPushButton::clicked, this, &TShowTextDialog::SaveClicked);
  connect(Print, &QPushButton::clicked, this, &TShowTextDialog::PrintClicked);
  connect(Search, &QPushButton::clicked, this, [this] {
    pnSearch->show();
    edSearch->setFocus();
    edSearch->selectAll();
  });
  connect(PrevSection, &QPushButton::clicked, this, &TShowTextDialog::PreviousSection);
  connect(NextSection, &QPushButton::clicked, this, &TShowTextDialog::NextSection);
  connect(PrevError, &QPushButton::clicked, this, &TShowTextDialog::PreviousError);
  connect(NextError, &QPushButton::clicked, this, &TShowTextDialog::NextError);
  connect(Font, &QPushButton::clicked, this, &TShowTextDialog::FontClicked);
  connect(cbCodePage, &QComboBox::currentIndexChanged, this,
          [this](int Index) { SetCodePage(cbCodePage->itemData(Index).toInt()); });
  connect(Close, &QPushButton::clicked, this, &QDialog::accept);
  connect(FindNext, &QPushButton::clicked, this, &TShowTextDialog::FindNext);
  connect(FindPrev, &QPushButton::clicked, this, &TShowTextDialog::FindPrevious);
  connect(edSearch, &QLineEdit::returnPressed, this, &TShowTextDialog::FindNext);
}

bool TShowTextDialog::LoadFile(const QString& FileName) {
  const auto Fail = [&](const QString& Reason) {
    FLastError = Qs(SafeFormat(Tr("The file \"%s\" cannot be read: %s"), Std(FileName), Std(Reason)));
    return false;
  };
  if (QFileInfo(FileName).isDir()) return Fail(Qs(Tr("It is a folder.")));
  QFile File(FileName);
  if (!File.open(QIODevice::ReadOnly)) return Fail(File.errorString());

  // A file that cannot tell its size (a pipe, a device) is read up to the
  // limit and one byte more, to know whether there is more.
  const qint64 Limit = std::max<qint64>(FOptions.MaxShownBytes, 1);
  const qint64 Size = File.size();
  bool Truncated = false;
  if (Size > Limit) {
    if (!File.seek(Size - Limit)) return Fail(File.errorString());
    Truncated = true;
  }
  QByteArray Bytes = File.read(Limit + 1);
  if (File.error() != QFileDevice::NoError) return Fail(File.errorString());
  if (Bytes.size() > Limit) {   // it grew while it was read
    Bytes = Bytes.right(Limit);
    Truncated = true;
  }
  if (Truncated) {
    // Start at a whole line: the cut may fall inside a line, or inside a
    // character.
    const qsizetype LineEnd = Bytes.indexOf('\n');
    Bytes.remove(0, LineEnd < 0 ? Bytes.size() : LineEnd + 1);
  }

  FBytes = std::move(Bytes);
  FFileName = FileName;
  FTruncated = Truncated;
  FLastError.clear();
  Decode();
  GoToLine(FOptions.FirstLine);
  SetStatus(FTruncated ? Qs(SafeFormat(Tr("%s (only the end of the file is shown: its last %s)"), Std(FileName),
                                         FormatByteSize(Limit)))
                       : FileName);
  return true;
}

bool TShowTextDialog::Execute(const QString& FileName) {
  if (!LoadFile(FileName)) {
    ShowError(FLastError);
    return false;
  }
  exec();
  return true;
}

void TShowTextDialog::Decode() {
  // A file near the size limit takes a second or two to lay out.
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const auto Restore = qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
  const std::string Utf8 =
      DecodeCodePage(std::string_view(FBytes.constData(), static_cast<std::size_t>(FBytes.size())), FCodePage);
  meText->setPlainText(NormaliseLineEnds(QString::fromUtf8(Utf8.data(), static_cast<qsizetype>(Utf8.size()))));
}

int TShowTextDialog::CurrentLine() const { return meText->textCursor().blockNumber(); }

void TShowTextDialog::GoToLine(int Line) {
  QTextBlock Block = meText->document()->findBlockByNumber(Line);
  if (!Block.isValid()) Block = Line < 0 ? meText->document()->firstBlock() : meText->document()->lastBlock();
  meText->setTextCursor(QTextCursor(Block));
  meText->ensureCursorVisible();
}

QString TShowTextDialog::Text() const { return meText->toPlainText(); }

bool TShowTextDialog::StepToMarker(const std::string& Marker, bool Forward) {
  if (Marker.empty()) return false;
  const QString M = Qs(Marker);
  QTextBlock Block = meText->textCursor().block();
  Block = Forward ? Block.next() : Block.previous();
  for (; Block.isValid(); Block = Forward ? Block.next() : Block.previous()) {
    if (Block.text().startsWith(M)) {
      // The line is selected, so that it stands out where the view lands.
      QTextCursor Cursor(Block);
      Cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
      meText->setTextCursor(Cursor);
      meText->centerCursor();
      SetStatus(FFileName);
      return true;
    }
  }
  SetStatus(Qs(Tr("No further line of this kind.")));
  return false;
}

bool TShowTextDialog::NextSection() { return StepToMarker(FOptions.SectionMarker, true); }
bool TShowTextDialog::PreviousSection() { return StepToMarker(FOptions.SectionMarker, false); }
bool TShowTextDialog::NextError() { return StepToMarker(FOptions.ErrorMarker, true); }
bool TShowTextDialog::PreviousError() { return StepToMarker(FOptions.ErrorMarker, false); }

void TShowTextDialog::SetSearch(const QString& Text, bool MatchCase) {
  edSearch->setText(Text);
  cbMatchCase->setChecked(MatchCase);
}

bool TShowTextDialog::Find(bool Backward) {
  const QString What = edSearch->text();
  if (What.isEmpty()) return false;
  QTextDocument::FindFlags Flags;
  if (Backward) Flags |= QTextDocument::FindBackward;
  if (cbMatchCase->isChecked()) Flags |= QTextDocument::FindCaseSensitively;
  if (!meText->find(What, Flags)) {
    SetStatus(Qs(SafeFormat(Tr("\"%s\" not found."), Std(What))));
    return false;
  }
  SetStatus(FFileName);
  return true;
}

bool TShowTextDialog::FindNext() { return Find(false); }
bool TShowTextDialog::FindPrevious() { return Find(true); }

void TShowTextDialog::SetCodePage(int CodePage) {
  if (!IsSupportedCodePage(CodePage)) CodePage = cpUtf8;
  if (CodePage == FCodePage) return;
  FCodePage = CodePage;
  {
    const QSignalBlocker Quiet(cbCodePage);
    cbCodePage->setCurrentIndex(cbCodePage->findData(CodePage));
  }
  const int Line = CurrentLine();
  Decode();
  GoToLine(Line);
}

void TShowTextDialog::SetViewerFont(const QFont& Font) { meText->setFont(Font); }

bool TShowTextDialog::Print(QPrinter& Printer) {
  const TPrinterMargins& M = FOptions.Margins;
  // Margins a page cannot hold (a small paper) leave the printer's own.
  Printer.setPageMargins(QMarginsF(M.Left, M.Top, M.Right, M.Bottom), QPageLayout::Millimeter);

  QPainter Painter;
  if (!Painter.begin(&Printer)) return false;
  const QRectF Area(QPointF(0, 0), Printer.pageLayout().paintRectPixels(Printer.resolution()).size());

  QTextDocument Doc;
  Doc.documentLayout()->setPaintDevice(&Printer);
  Doc.setDefaultFont(meText->font());
  Doc.setDocumentMargin(0);
  Doc.setPlainText(Text());
  Painter.setFont(meText->font());
  const qreal HeaderHeight = Painter.fontMetrics().lineSpacing() * 2.0;
  const QSizeF Body(Area.width(), std::max<qreal>(Area.height() - HeaderHeight, 1));
  Doc.setPageSize(Body);

  const QString Header = Qs(Tr("File: ") + ShortenPath(Std(FFileName), 80 - 6));
  const int Pages = Doc.pageCount();
  for (int Page = 0; Page < Pages; ++Page) {
    if (Page > 0) Printer.newPage();
    const QRectF HeaderRect(Area.left(), Area.top(), Area.width(), Painter.fontMetrics().lineSpacing());
    Painter.drawText(HeaderRect, Qt::AlignLeft | Qt::AlignVCenter, Header);
    Painter.drawText(HeaderRect, Qt::AlignRight | Qt::AlignVCenter,
                     Qs(SafeFormat(Tr("Page %d of %d"), Page + 1, Pages)));
    Painter.save();
    Painter.translate(Area.left(), Area.top() + HeaderHeight - Page * Body.height());
    Doc.drawContents(&Painter, QRectF(QPointF(0, Page * Body.height()), Body));
    Painter.restore();
  }
  return Painter.end();
}

bool TShowTextDialog::SaveToFile(const QString& FileName) {
  QString Plain = Text();
  Plain.replace(u'\n', QStringLiteral("\r\n"));
  QByteArray Bytes("\xEF\xBB\xBF");
  Bytes += Plain.toUtf8();
  QSaveFile File(FileName);
  if (!File.open(QIODevice::WriteOnly) || File.write(Bytes) != Bytes.size() || !File.commit()) {
    FLastError = Qs(SafeFormat(Tr("The file \"%s\" cannot be written: %s"), Std(FileName),
                                         Std(File.errorString())));
    return false;
  }
  FLastError.clear();
  return true;
}

void TShowTextDialog::SetStatus(const QString& Text) { laStatus->setText(Text); }

void TShowTextDialog::ShowError(const QString& Text) {
  QMessageBox::warning(parentWidget() ? parentWidget() : this, windowTitle(), Text);
}

void TShowTextDialog::OpenClicked() {
  const QString Name = QFileDialog::getOpenFileName(this, Qs(Tr("Open")), QFileInfo(FFileName).absolutePath(),
                                                    QtFileFilter(FOptions.SaveFilter));
  if (!Name.isEmpty() && !LoadFile(Name)) ShowError(FLastError);
}

void TShowTextDialog::SaveClicked() {
  QFileDialog Dialog(this, Qs(Tr("Save as")), FFileName, QtFileFilter(FOptions.SaveFilter));
  Dialog.setAcceptMode(QFileDialog::AcceptSave);
  Dialog.setDefaultSuffix(QStringLiteral("log"));
  if (Dialog.exec() != QDialog::Accepted || Dialog.selectedFiles().isEmpty()) return;
  if (!SaveToFile(Dialog.selectedFiles().constFirst())) ShowError(FLastError);
}

void TShowTextDialog::PrintClicked() {
  QPrinter Printer(QPrinter::HighResolution);
  const TPrinterMargins& M = FOptions.Margins;
  Printer.setPageMargins(QMarginsF(M.Left, M.Top, M.Right, M.Bottom), QPageLayout::Millimeter);
  QPrintDialog Dialog(&Printer, this);
  if (Dialog.exec() != QDialog::Accepted) return;
  if (!Print(Printer)) ShowError(Qs(Tr("The printer cannot be started.")));
}

void TShowTextDialog::FontClicked() {
  bool Ok = false;
  const QFont Font = QFontDialog::getFont(&Ok, meText->font(), this, Qs(Tr("Font")));
  if (Ok) SetViewerFont(Font);
}

}  // namespace dz::ui
