#pragma once
// The task editor: the global part of a task (destination, structure,
// compression), its list of sources and, for the selected source, the file
// filter, the extension rule and the sub-directory rule, with what the
// watchdog would find wrong shown next to each field as the user types, and
// the preview of the files the source's filters keep and leave out.

#include <QDialog>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "taskedit/TaskDocument.h"
#include "taskedit/TaskPreview.h"
#include "taskedit/TaskValidation.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QWidget;

namespace dz::ui {

class TTaskEditDialogs;

// The lists of the preview for one source, filled in the background: a new
// entry cancels the walk under way and starts another one.
class TTaskPreviewPanel : public QWidget {
  Q_OBJECT
public:
  explicit TTaskPreviewPanel(QWidget* Parent = nullptr, std::size_t Cap = DefaultPreviewCap);
  ~TTaskPreviewPanel() override;

  // Starts the preview of Entry; an entry without a source clears the lists.
  void Show(const TTaskSourceEntry& Entry);
  // True while a walk runs.
  bool Running() const { return FPreview != nullptr && !FDone; }
  // The result shown last (empty before the first one).
  const TPreviewResult& Result() const { return FResult; }

signals:
  void Finished();

private:
  void Deliver(std::uint64_t Generation, TPreviewResult Result);

  std::size_t FCap;
  std::unique_ptr<TTaskPreview> FPreview;
  std::uint64_t FGeneration = 0;
  bool FDone = true;
  TPreviewResult FResult;
  QLabel* FStatus;
  QListWidget* FIncluded;
  QTreeWidget* FExcluded;
};

class TTaskEditorDialog : public QDialog {
  Q_OBJECT
public:
  // Edits Doc, which Save writes to FileName.
  TTaskEditorDialog(TTaskEditDialogs& Dialogs, std::string FileName, TTaskDocument Doc, QWidget* Parent = nullptr,
                    std::size_t PreviewCap = DefaultPreviewCap);
  ~TTaskEditorDialog() override;

  // The task as the fields show it now.
  const TTaskDocument& Document() const { return FDoc; }
  const std::vector<TTaskFinding>& Findings() const { return FFindings; }
  const std::string& FileName() const { return FFileName; }
  TTaskPreviewPanel* Preview() const { return FPreview; }

  // Writes the task (after asking when it has errors) and closes the dialog
  // with Accepted; false when nothing was written.
  bool Save();

protected:
  void keyPressEvent(QKeyEvent* Event) override;

private:
  void BuildGlobalPart(QWidget* Page);
  void BuildSourcePart(QWidget* Page);
  // A new, hidden label for the findings of Field, kept for showing them.
  QLabel* FindingLabel(TTaskField Field);
  void LoadGlobal();
  void LoadSource();
  void GlobalEdited();
  void SourceEdited();
  void SelectSource(int Row);
  void AddSource();
  void RemoveSource();
  void ChooseDestination();
  void ChooseSource();
  void ShowFindings();
  void RestartPreview();
  void EnableFields();
  std::string SourceItemText(int Index) const;

  TTaskEditDialogs& FDialogs;
  std::string FFileName;
  TTaskDocument FDoc;
  std::vector<TTaskFinding> FFindings;
  int FCurrent = -1;      // the selected source, -1 for none
  bool FLoading = false;  // the fields are being filled: not an edit

  // Global part.
  QLineEdit* edDestination;
  QPushButton* btDestination;
  QComboBox* cbStructure;
  QLineEdit* edDriveId;
  QComboBox* cbCompression;
  QCheckBox* cxCompressAll;
  QLineEdit* edNoCompTypes;
  QListWidget* lbSources;
  QPushButton* btAddSource;
  QPushButton* btRemoveSource;
  // The selected source.
  QWidget* gbSource;
  QLineEdit* edSource;
  QPushButton* btSource;
  QComboBox* cbFilterMode;
  QCheckBox* cxRegular;
  QLineEdit* edFilter;
  QComboBox* cbExtRule;
  QLineEdit* edExtensions;
  QComboBox* cbDirRule;
  QPlainTextEdit* meSubDirs;
  QCheckBox* cxDirRegular;
  QLineEdit* edDirFilter;
  // One label per field for its findings.
  std::vector<QLabel*> FFindingLabels;
  QLabel* laNotes;
  TTaskPreviewPanel* FPreview;
  QTimer* FPreviewDelay;
};

// An extension list as the field shows it ("tmp, log") and back; an empty
// text is an empty list, a leading dot is dropped.
QString ExtensionListText(const std::vector<std::string>& List);
std::vector<std::string> ExtensionListFromText(const QString& Text);

}  // namespace dz::ui
