#pragma once
// The window's own small widgets and dialogs: the clock progress display,
// the directory list's painting, the item picker, the status dialog of the
// notification area and the start screen.

#include <QDialog>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "watchdog/WatchdogView.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace dz::ui {

// Item data of the directory list: the entry's TRunStatus.
inline constexpr int RunStatusRole = Qt::UserRole + 1;
// The designed height of a list item at 96 dots per inch.
inline constexpr int DirItemHeight = 17;

// The icon of an entry in the list: watched, backup running, invalid.
QString RunStatusIconName(TRunStatus Status, bool Invalid);

// What an item of the list says besides its text: a mark after the text
// when something about the entry needs the user (files given up, a
// destination in the directory), and the hint that says what, with why an
// entry is not watched (its task or directory missing).
struct TDirItemNotes {
  QString Mark;  // empty, or a blank and the mark
  QString Hint;  // one line per note
};
TDirItemNotes DirItemNotes(const TDirItem& Item);

// The countdown as a clock: a full turn is the interval, the part gone
// filled crimson while files are pending, green otherwise, on white.
class TClockProgressWidget : public QWidget {
  Q_OBJECT
public:
  explicit TClockProgressWidget(QWidget* Parent = nullptr);
  void SetProgress(const TClockProgress& Progress);
  const TClockProgress& Progress() const { return FProgress; }
  // The colours the display paints with now.
  QColor Foreground() const;

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  TClockProgress FProgress;
};

// Paints an item of the directory list: its check box, its status icon in a
// square of the item's height, its text; the selected and normal colours of
// the style.
class TDirListDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
  bool editorEvent(QEvent* Event, QAbstractItemModel* Model, const QStyleOptionViewItem& Option,
                   const QModelIndex& Index) override;
  // Where the check box of an item at Rect is drawn.
  static QRect CheckRect(const QRect& Rect);
};

// The item picker: a title, a description and a list with the first item
// selected; OK gives the selected position.
class TSelectListItemDialog : public QDialog {
  Q_OBJECT
public:
  TSelectListItemDialog(QWidget* Parent, const QString& Title, const QString& Description, const QStringList& Items);
  int Selected() const;

private:
  QListWidget* FList;
};

// How the status dialog was closed.
enum class TInfoResult { Close, Main, StartBackup };

// The status dialog of the notification area: the information text, the
// status lines kept up to date, "Show files" with its own list, and the
// buttons "Close", the main one ("Edit monitoring") and "Start immediate
// backup". Not modal: the program goes on while it is open.
class TShowInfoDialog : public QDialog {
  Q_OBJECT
public:
  // The lines of "Show files", asked for when the button is pressed.
  using TFileLines = std::function<std::vector<std::string>()>;
  TShowInfoDialog(QWidget* Parent, const QString& Title, const QString& Info, const QString& MainCaption,
                  TFileLines FileLines);
  void SetStatus(const QString& StatusLine, const QString& FileLine);
  void SetInfo(const QString& Info);
  TInfoResult Result() const { return FResult; }

signals:
  void Closed(dz::ui::TInfoResult Result);

protected:
  void done(int Code) override;

private:
  QLabel* FInfo;
  QLabel* FStatus;
  QLabel* FFiles;
  QListWidget* FFileList;
  TFileLines FFileLines;
  TInfoResult FResult = TInfoResult::Close;
};

// The borderless start screen of an automatic start to the background: the
// program's picture and the version line, centred on the primary screen.
class TStartScreen : public QWidget {
  Q_OBJECT
public:
  explicit TStartScreen(const QString& VersionLine);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  QString FVersionLine;
};

}  // namespace dz::ui
