#include "ui/window/WindowWidgets.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStringList>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "ui/desktop/Style.h"
#include "ui/window/WindowDialogs.h"

namespace dz::ui {

QString RunStatusIconName(TRunStatus Status, bool Invalid) {
  switch (Status) {
    case rsWatch: return QStringLiteral("arrow-right-blue");
    case rsBackup: return QStringLiteral("arrow-right-red");
    default: return Invalid ? QStringLiteral("ball-red") : QString();
  }
}

TDirItemNotes DirItemNotes(const TDirItem& Item) {
  TDirItemNotes Notes;
  QStringList Lines;
  if (!Item.Unavailable.empty()) Lines << QString::fromStdString(Item.Unavailable);
  if (Item.GivenUp > 0)
    Lines << QString::fromStdString(SafeFormat(Tr("%u given up"), static_cast<std::uint64_t>(Item.GivenUp)));
  if (Item.DestinationInside) Lines << QString::fromStdString(Tr("the backup destination lies in the directory"));
  if (Item.GivenUp > 0 || Item.DestinationInside) Notes.Mark = QStringLiteral(" \u26A0");  // the warning sign
  Notes.Hint = Lines.join(QLatin1Char('\n'));
  return Notes;
}

// --- the clock ------------------------------------------------------------------

TClockProgressWidget::TClockProgressWidget(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("cpWait"));
  setMinimumSize(24, 24);
}

void TClockProgressWidget::SetProgress(const TClockProgress& Progress) {
  if (Progress == FProgress) return;
  FProgress = Progress;
  setVisible(Progress.Visible);
  update();
}

QColor TClockProgressWidget::Foreground() const {
  return FProgress.FilesPending ? QColor(220, 20, 60) : QColor(0, 128, 0);
}

void TClockProgressWidget::paintEvent(QPaintEvent*) {
  QPainter P(this);
  P.setRenderHint(QPainter::Antialiasing);
  const int Side = std::min(width(), height()) - 2;
  const QRectF Face((width() - Side) / 2.0, (height() - Side) / 2.0, Side, Side);
  P.setPen(QPen(palette().color(QPalette::Mid), 1));
  P.setBrush(palette().color(QPalette::Base));
  P.drawEllipse(Face);
  if (FProgress.Period > 0) {
    const double Part = std::clamp(static_cast<double>(FProgress.Position) / FProgress.Period, 0.0, 1.0);
    P.setPen(Qt::NoPen);
    P.setBrush(Foreground());
    // Clockwise from twelve o'clock, as a clock hand goes.
    P.drawPie(Face.adjusted(1, 1, -1, -1), 90 * 16, -static_cast<int>(Part * 360 * 16));
  }
}

// --- the directory list -----------------------------------------------------------

QRect TDirListDelegate::CheckRect(const QRect& Rect) {
  const int Side = std::max(Rect.height() - 4, 8);
  return {Rect.left() + 2, Rect.top() + (Rect.height() - Side) / 2, Side, Side};
}

void TDirListDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const {
  const QRect R = Option.rect;
  const bool Selected = Option.state.testFlag(QStyle::State_Selected);
  const QPalette& Pal = Option.palette;
  Painter->save();
  // The dark look has colours of its own for the list; the light one keeps
  // the palette's.
  Painter->fillRect(R, Selected ? StyleColor(SeSelectedBack, Pal.color(QPalette::Highlight))
                                : StyleColor(SeItemBack, Pal.color(QPalette::Base)));

  QStyleOptionButton Check;
  Check.rect = CheckRect(R);
  Check.state = QStyle::State_Enabled |
                (Index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
  const QWidget* Widget = Option.widget;
  QStyle* Style = Widget != nullptr ? Widget->style() : QApplication::style();
  Style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &Check, Painter, Widget);

  // The status icon in a square of the item's height right of the check
  // box, the text one item height further.
  const QRect IconRect(Check.rect.right() + 3, R.top(), R.height(), R.height());
  const QString IconName = Index.data(Qt::DecorationRole).toString();
  if (!IconName.isEmpty()) {
    QSvgRenderer Svg(QStringLiteral(":/dz/%1.svg").arg(IconName));
    Svg.render(Painter, QRectF(IconRect).adjusted(1, 1, -1, -1));
  }
  Painter->setPen(Selected ? StyleFontColor(SeSelectedText, Pal.color(QPalette::HighlightedText))
                           : StyleFontColor(SeItemText, Pal.color(QPalette::Text)));
  const QRect TextRect = R.adjusted(IconRect.right() + 3 - R.left(), 0, 0, 0);
  Painter->drawText(TextRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                    Index.data(Qt::DisplayRole).toString());
  Painter->restore();
}

QSize TDirListDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const {
  // Qt's device-independent pixels already follow the screen's scaling.
  const QFontMetrics Metrics(Option.font);
  return {Metrics.horizontalAdvance(Index.data(Qt::DisplayRole).toString()) + 3 * DirItemHeight + 8,
          std::max(DirItemHeight, Metrics.height())};
}

bool TDirListDelegate::editorEvent(QEvent* Event, QAbstractItemModel* Model, const QStyleOptionViewItem& Option,
                                   const QModelIndex& Index) {
  if (!(Model->flags(Index) & Qt::ItemIsUserCheckable)) return false;
  bool Toggle = false;
  if (Event->type() == QEvent::MouseButtonRelease) {
    const auto* Mouse = static_cast<QMouseEvent*>(Event);
    Toggle = Mouse->button() == Qt::LeftButton && CheckRect(Option.rect).contains(Mouse->position().toPoint());
  } else if (Event->type() == QEvent::MouseButtonDblClick) {
    const auto* Mouse = static_cast<QMouseEvent*>(Event);
    // A double click on the box is two clicks on it, not an edit.
    return CheckRect(Option.rect).contains(Mouse->position().toPoint());
  } else if (Event->type() == QEvent::KeyPress) {
    const int Key = static_cast<QKeyEvent*>(Event)->key();
    Toggle = Key == Qt::Key_Space || Key == Qt::Key_Select;
  }
  if (!Toggle) return false;
  const bool Checked = Index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
  return Model->setData(Index, Checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

// --- the item picker ------------------------------------------------------------------

TSelectListItemDialog::TSelectListItemDialog(QWidget* Parent, const QString& Title, const QString& Description,
                                             const QStringList& Items)
    : QDialog(Parent), FList(new QListWidget(this)) {
  setObjectName(QStringLiteral("TSelectListItemDialog"));
  setWindowTitle(Title);
  auto* Layout = new QVBoxLayout(this);
  auto* Label = new QLabel(Description, this);
  Label->setWordWrap(true);
  Layout->addWidget(Label);
  FList->addItems(Items);
  if (!Items.isEmpty()) FList->setCurrentRow(0);
  Layout->addWidget(FList);
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Buttons->button(QDialogButtonBox::Ok)->setText(Q(Tr("OK")));
  Buttons->button(QDialogButtonBox::Cancel)->setText(Q(Tr("Cancel")));
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  Layout->addWidget(Buttons);
}

int TSelectListItemDialog::Selected() const { return FList->currentRow(); }

// --- the status dialog ---------------------------------------------------------------

TShowInfoDialog::TShowInfoDialog(QWidget* Parent, const QString& Title, const QString& Info,
                                 const QString& MainCaption, TFileLines FileLines)
    : QDialog(Parent, Qt::Tool | Qt::WindowStaysOnTopHint),
      FInfo(new QLabel(Info, this)),
      FStatus(new QLabel(this)),
      FFiles(new QLabel(this)),
      FFileList(new QListWidget(this)),
      FFileLines(std::move(FileLines)) {
  setObjectName(QStringLiteral("TShowInfoDialog"));
  setWindowTitle(Title);
  setModal(false);
  auto* Layout = new QVBoxLayout(this);
  FInfo->setObjectName(QStringLiteral("laInfo"));
  FStatus->setObjectName(QStringLiteral("laStatus"));
  FFiles->setObjectName(QStringLiteral("laFiles"));
  FFileList->setObjectName(QStringLiteral("lbFiles"));
  FFileList->hide();
  Layout->addWidget(FInfo);
  Layout->addWidget(FStatus);
  auto* FileRow = new QHBoxLayout;
  FileRow->addWidget(FFiles, 1);
  auto* ShowFiles = new QPushButton(QIcon(QStringLiteral(":/dz/magnifier.svg")), Q(Tr("Show files")), this);
  ShowFiles->setObjectName(QStringLiteral("btnShowFiles"));
  FileRow->addWidget(ShowFiles);
  Layout->addLayout(FileRow);
  Layout->addWidget(FFileList);
  auto* Buttons = new QHBoxLayout;
  auto* Start = new QPushButton(QIcon(QStringLiteral(":/dz/run.svg")), QString(), this);
  Start->setObjectName(QStringLiteral("btnStartBackup"));
  Start->setToolTip(Q(Tr("Start immediate backup")));
  auto* Main = new QPushButton(MainCaption, this);
  Main->setObjectName(QStringLiteral("btnMain"));
  Main->setDefault(true);
  auto* Close = new QPushButton(Q(Tr("Close")), this);
  Close->setObjectName(QStringLiteral("btnClose"));
  Buttons->addWidget(Start);
  Buttons->addStretch(1);
  Buttons->addWidget(Main);
  Buttons->addWidget(Close);
  Layout->addLayout(Buttons);
  connect(ShowFiles, &QPushButton::clicked, this, [this] {
    const std::vector<std::string> Lines = FFileLines ? FFileLines() : std::vector<std::string>();
    FFileList->clear();
    for (const std::string& Line : Lines) FFileList->addItem(Q(Line));
    FFileList->show();
  });
  connect(Start, &QPushButton::clicked, this, [this] {
    FResult = TInfoResult::StartBackup;
    done(QDialog::Accepted);
  });
  connect(Main, &QPushButton::clicked, this, [this] {
    FResult = TInfoResult::Main;
    done(QDialog::Accepted);
  });
  connect(Close, &QPushButton::clicked, this, &QDialog::reject);
}

void TShowInfoDialog::SetStatus(const QString& StatusLine, const QString& FileLine) {
  FStatus->setText(StatusLine);
  FFiles->setText(FileLine);
}

void TShowInfoDialog::SetInfo(const QString& Info) { FInfo->setText(Info); }

void TShowInfoDialog::done(int Code) {
  if (Code == QDialog::Rejected) FResult = TInfoResult::Close;
  QDialog::done(Code);
  emit Closed(FResult);
}

// --- the start screen -------------------------------------------------------------------

TStartScreen::TStartScreen(const QString& VersionLine)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FVersionLine(VersionLine) {
  setObjectName(QStringLiteral("TStartScreen"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(360, 200);
  if (const QScreen* Screen = QGuiApplication::primaryScreen()) {
    QRect Frame(QPoint(0, 0), size());
    Frame.moveCenter(Screen->geometry().center());
    move(Frame.topLeft());
  }
}

void TStartScreen::paintEvent(QPaintEvent*) {
  QPainter P(this);
  P.setRenderHint(QPainter::Antialiasing);
  QLinearGradient Back(0, 0, 0, height());
  Back.setColorAt(0, QColor(13, 71, 161));
  Back.setColorAt(1, QColor(21, 101, 192));
  P.fillRect(rect(), Back);
  QSvgRenderer(QStringLiteral(":/dz/program.svg")).render(&P, QRectF(24, 24, 96, 96));
  P.setPen(Qt::white);
  QFont Big = font();
  Big.setPointSizeF(Big.pointSizeF() * 1.8);
  Big.setBold(true);
  P.setFont(Big);
  P.drawText(QRect(136, 30, width() - 150, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("DeZedodiru"));
  P.setFont(font());
  P.drawText(QRect(136, 80, width() - 150, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
             Q(Tr("File change monitoring with direct backup")));
  P.drawText(QRect(24, height() - 44, width() - 48, 24), Qt::AlignLeft | Qt::AlignVCenter, FVersionLine);
}

}  // namespace dz::ui
