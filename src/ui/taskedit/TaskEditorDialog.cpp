#include "ui/taskedit/TaskEditorDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/NumberUtils.h"
#include "filesys/PathUtils.h"
#include "filesys/ErrorTexts.h"
#include "ui/desktop/Style.h"
#include "ui/dialogs/QtText.h"
#include "ui/taskedit/TaskEditDialogs.h"

namespace dz::ui {

namespace {

// The findings' labels in the order of TTaskField.
constexpr const char* FindingLabelNames[] = {
    "laDestinationFinding", "laDestModeFinding",   "laSourcesFinding", "laSourceFinding",
    "laFileFilterFinding",  "laExtensionsFinding", "laSubDirsFinding", "laDirFilterFinding",
};

QLabel* NewFindingLabel(const char* Name) {
  auto* Label = Named(new QLabel, Name);
  Label->setWordWrap(true);
  Label->setVisible(false);
  return Label;
}

QWidget* Row(QWidget* Field, QWidget* Button) {
  auto* Box = new QWidget;
  auto* Layout = new QHBoxLayout(Box);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Field, 1);
  Layout->addWidget(Button);
  return Box;
}

QPushButton* FolderButton(const char* Name) {
  auto* Button = Named(new QPushButton(QStringLiteral("...")), Name);
  Button->setToolTip(Qs(Tr("Choose a folder")));
  Button->setFixedWidth(32);
  return Button;
}

std::string NumberText(std::uint64_t Value) { return FormatGrouped(static_cast<std::int64_t>(Value), 3); }

}  // namespace

QString ExtensionListText(const std::vector<std::string>& List) {
  std::string Text = JoinCommaText(List);
  // One blank after each comma reads better; splitting drops it again.
  std::string Spaced;
  bool Quoted = false;
  for (const char C : Text) {
    if (C == '"') Quoted = !Quoted;
    Spaced += C;
    if (C == ',' && !Quoted) Spaced += ' ';
  }
  return Qs(Spaced);
}

std::vector<std::string> ExtensionListFromText(const QString& Text) {
  if (Text.trimmed().isEmpty()) return {};
  std::vector<std::string> List = SplitCommaText(Std(Text));
  for (std::string& Item : List)
    if (!Item.empty() && Item[0] == '.') Item.erase(0, 1);
  return List;
}

// ---- The preview -------------------------------------------------------------

TTaskPreviewPanel::TTaskPreviewPanel(QWidget* Parent, std::size_t Cap) : QWidget(Parent), FCap(Cap) {
  setObjectName(QStringLiteral("pnPreview"));
  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  FStatus = Named(new QLabel, "laPreviewStatus");
  FStatus->setWordWrap(true);
  FIncluded = Named(new QListWidget, "lvIncluded");
  FIncluded->setUniformItemSizes(true);
  FExcluded = Named(new QTreeWidget, "tvExcluded");
  FExcluded->setRootIsDecorated(false);
  FExcluded->setUniformRowHeights(true);
  FExcluded->setHeaderLabels({Qs(Tr("File")), Qs(Tr("Left out by"))});
  FExcluded->header()->setStretchLastSection(false);
  FExcluded->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  FExcluded->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  Layout->addWidget(Named(new QLabel(Qs(Tr("Backed up:"))), "laIncluded"));
  Layout->addWidget(FIncluded, 1);
  Layout->addWidget(Named(new QLabel(Qs(Tr("Left out:"))), "laExcluded"));
  Layout->addWidget(FExcluded, 1);
  Layout->addWidget(FStatus);
}

TTaskPreviewPanel::~TTaskPreviewPanel() {
  // Joins the walk before the widgets go: nothing is delivered after this.
  FPreview.reset();
}

void TTaskPreviewPanel::Show(const TTaskSourceEntry& Entry) {
  const std::uint64_t Generation = ++FGeneration;
  if (FPreview) FPreview->Cancel();
  FPreview.reset();
  FIncluded->clear();
  FExcluded->clear();
  FResult = TPreviewResult();
  if (Entry.Source.empty()) {
    FDone = true;
    FStatus->setText(Qs(Tr("No source directory is given.")));
    emit Finished();
    return;
  }
  FDone = false;
  FStatus->setText(Qs(Tr("Looking through the source directory...")));
  // The callback runs on the walk's thread; the panel outlives the walk
  // (its destructor joins it), so the queued call finds it.
  FPreview = std::make_unique<TTaskPreview>(
      Entry,
      [this, Generation](TPreviewResult Result) {
        QMetaObject::invokeMethod(
            this, [this, Generation, Result = std::move(Result)]() mutable { Deliver(Generation, std::move(Result)); },
            Qt::QueuedConnection);
      },
      FCap);
}

void TTaskPreviewPanel::Deliver(std::uint64_t Generation, TPreviewResult Result) {
  if (Generation != FGeneration) return;  // a newer walk has started since
  FDone = true;
  FResult = std::move(Result);
  setUpdatesEnabled(false);
  for (const std::string& File : FResult.Included) FIncluded->addItem(Qs(File));
  QList<QTreeWidgetItem*> Items;
  Items.reserve(static_cast<qsizetype>(FResult.Excluded.size()));
  for (const TPreviewExcluded& File : FResult.Excluded)
    Items.append(new QTreeWidgetItem(QStringList{Qs(File.File), Qs(FilterVerdictText(File.Reason))}));
  FExcluded->addTopLevelItems(Items);
  setUpdatesEnabled(true);
  if (FResult.Error != 0) {
    FStatus->setText(Qs(SafeFormat(Tr("The source directory cannot be read: %s"), GetSystemErrorText(FResult.Error))));
  } else {
    std::string Text = SafeFormat(Tr("%s files are backed up, %s are left out."), NumberText(FResult.IncludedTotal),
                                  NumberText(FResult.ExcludedTotal));
    if (FResult.IncludedTotal > FResult.Included.size() || FResult.ExcludedTotal > FResult.Excluded.size()) {
      Text += ' ';
      Text += SafeFormat(Tr("The lists show the first %s of each."), NumberText(FCap));
    }
    FStatus->setText(Qs(Text));
  }
  emit Finished();
}

// ---- The editor --------------------------------------------------------------

TTaskEditorDialog::TTaskEditorDialog(TTaskEditDialogs& Dialogs, std::string FileName, TTaskDocument Doc,
                                     QWidget* Parent, std::size_t PreviewCap)
    : QDialog(Parent), FDialogs(Dialogs), FFileName(std::move(FileName)), FDoc(std::move(Doc)) {
  setObjectName(QStringLiteral("TaskEditorDialog"));
  setWindowTitle(Qs(SafeFormat(Tr("Backup task %s"), ExtractFileName(FFileName))));
  setSizeGripEnabled(true);

  auto* Layout = new QVBoxLayout(this);
  laNotes = NewFindingLabel("laNotes");
  Layout->addWidget(laNotes);

  auto* Splitter = Named(new QSplitter(Qt::Horizontal), "spEditor");
  auto* Left = new QWidget;
  auto* LeftLayout = new QVBoxLayout(Left);
  LeftLayout->setContentsMargins(0, 0, 0, 0);
  auto* Global = Named(new QGroupBox(Qs(Tr("Destination"))), "gbGlobal");
  BuildGlobalPart(Global);
  LeftLayout->addWidget(Global);
  auto* Source = Named(new QGroupBox(Qs(Tr("Sources"))), "gbSources");
  BuildSourcePart(Source);
  LeftLayout->addWidget(Source, 1);
  Splitter->addWidget(Left);

  auto* PreviewBox = Named(new QGroupBox(Qs(Tr("Preview of the selected source"))), "gbPreview");
  auto* PreviewLayout = new QVBoxLayout(PreviewBox);
  FPreview = new TTaskPreviewPanel(PreviewBox, PreviewCap);
  PreviewLayout->addWidget(FPreview);
  Splitter->addWidget(PreviewBox);
  Splitter->setStretchFactor(0, 3);
  Splitter->setStretchFactor(1, 2);
  Layout->addWidget(Splitter, 1);

  auto* Buttons = Named(new QDialogButtonBox, "bbButtons");
  auto* Save = Named(Buttons->addButton(Qs(Tr("Save")), QDialogButtonBox::AcceptRole), "btSave");
  auto* Cancel = Named(Buttons->addButton(Qs(Tr("Cancel")), QDialogButtonBox::RejectRole), "btCancel");
  auto* Help = Named(Buttons->addButton(Qs(Tr("Help")), QDialogButtonBox::HelpRole), "btHelp");
  Save->setDefault(true);
  connect(Save, &QPushButton::clicked, this, [this] { this->Save(); });
  connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(Help, &QPushButton::clicked, this, [this] { FDialogs.OpenHelp(this); });
  Layout->addWidget(Buttons);

  // A walk per key press would be wasted: the preview follows the typing
  // once it pauses.
  FPreviewDelay = new QTimer(this);
  FPreviewDelay->setSingleShot(true);
  FPreviewDelay->setInterval(250);
  connect(FPreviewDelay, &QTimer::timeout, this, [this] {
    FPreview->Show(FCurrent >= 0 ? FDoc.Sources[static_cast<std::size_t>(FCurrent)] : TTaskSourceEntry());
  });

  if (!FDoc.Notes.empty()) {
    std::string Text;
    for (const std::string& Note : FDoc.Notes) Text += (Text.empty() ? "" : "\n") + Note;
    laNotes->setText(Qs(Text));
    laNotes->setVisible(true);
  }
  LoadGlobal();
  for (int I = 0; I < static_cast<int>(FDoc.Sources.size()); ++I) lbSources->addItem(Qs(SourceItemText(I)));
  SelectSource(FDoc.Sources.empty() ? -1 : 0);
  ShowFindings();
  resize(980, 640);
}

TTaskEditorDialog::~TTaskEditorDialog() = default;

void TTaskEditorDialog::BuildGlobalPart(QWidget* Page) {
  auto* Form = new QFormLayout(Page);
  edDestination = Named(new QLineEdit, "edDestination");
  edDestination->setPlaceholderText(Qs(Tr("a folder, or :LABEL:/folder on a drive with that label")));
  btDestination = FolderButton("btDestination");
  Form->addRow(Qs(Tr("Destination folder:")), Row(edDestination, btDestination));
  Form->addRow(FindingLabel(tfDestination));

  cbStructure = Named(new QComboBox, "cbStructure");
  cbStructure->addItem(Qs(Tr("the whole path of the source")), dsFullPath);
  cbStructure->addItem(Qs(Tr("a folder per source drive")), dsDriveFolders);
  Form->addRow(Qs(Tr("Structure below it:")), cbStructure);
  edDriveId = Named(new QLineEdit, "edDriveId");
  edDriveId->setPlaceholderText(Qs(Tr("the pattern of the preferences")));
  Form->addRow(Qs(Tr("Drive folder name:")), edDriveId);
  Form->addRow(FindingLabel(tfDestMode));

  cbCompression = Named(new QComboBox, "cbCompression");
  cbCompression->addItem(Qs(Tr("none (plain copies)")), cmNone);
  cbCompression->addItem(Qs(Tr("gzip, one file each")), cmGzip);
  cbCompression->addItem(Qs(Tr("zip, one file each")), cmZip);
  Form->addRow(Qs(Tr("Compression:")), cbCompression);
  cxCompressAll = Named(new QCheckBox(Qs(Tr("Compress files of every type"))), "cxCompressAll");
  Form->addRow(QString(), cxCompressAll);
  edNoCompTypes = Named(new QLineEdit, "edNoCompTypes");
  edNoCompTypes->setPlaceholderText(Qs(Tr("the list of the preferences")));
  Form->addRow(Qs(Tr("Never compress:")), edNoCompTypes);

  connect(edDestination, &QLineEdit::textChanged, this, [this] { GlobalEdited(); });
  connect(edDriveId, &QLineEdit::textChanged, this, [this] { GlobalEdited(); });
  connect(edNoCompTypes, &QLineEdit::textChanged, this, [this] { GlobalEdited(); });
  connect(cbStructure, &QComboBox::currentIndexChanged, this, [this] { GlobalEdited(); });
  connect(cbCompression, &QComboBox::currentIndexChanged, this, [this] { GlobalEdited(); });
  connect(cxCompressAll, &QCheckBox::toggled, this, [this] { GlobalEdited(); });
  connect(btDestination, &QPushButton::clicked, this, [this] { ChooseDestination(); });
}

QLabel* TTaskEditorDialog::FindingLabel(TTaskField Field) {
  FFindingLabels.resize(std::size(FindingLabelNames));  // one per field, sized at the first
  FFindingLabels[Field] = NewFindingLabel(FindingLabelNames[Field]);
  return FFindingLabels[Field];
}

void TTaskEditorDialog::BuildSourcePart(QWidget* Page) {
  auto* Layout = new QVBoxLayout(Page);
  auto* ListRow = new QHBoxLayout;
  lbSources = Named(new QListWidget, "lbSources");
  lbSources->setMaximumHeight(110);
  ListRow->addWidget(lbSources, 1);
  auto* ListButtons = new QVBoxLayout;
  btAddSource = Named(new QPushButton(Qs(Tr("Add"))), "btAddSource");
  btRemoveSource = Named(new QPushButton(Qs(Tr("Remove"))), "btRemoveSource");
  ListButtons->addWidget(btAddSource);
  ListButtons->addWidget(btRemoveSource);
  ListButtons->addStretch(1);
  ListRow->addLayout(ListButtons);
  Layout->addLayout(ListRow);
  Layout->addWidget(FindingLabel(tfSources));

  gbSource = Named(new QWidget, "gbSource");
  auto* Form = new QFormLayout(gbSource);
  Form->setContentsMargins(0, 0, 0, 0);
  edSource = Named(new QLineEdit, "edSource");
  btSource = FolderButton("btSource");
  Form->addRow(Qs(Tr("Source directory:")), Row(edSource, btSource));
  Form->addRow(FindingLabel(tfSource));

  cbFilterMode = Named(new QComboBox, "cbFilterMode");
  cbFilterMode->addItem(Qs(Tr("off")), fmOff);
  cbFilterMode->addItem(Qs(Tr("back up only the matching files")), fmInclude);
  cbFilterMode->addItem(Qs(Tr("leave out the matching files")), fmExclude);
  Form->addRow(Qs(Tr("File filter:")), cbFilterMode);
  cxRegular = Named(new QCheckBox(Qs(Tr("Regular expression"))), "cxRegular");
  edFilter = Named(new QLineEdit, "edFilter");
  edFilter->setPlaceholderText(Qs(Tr("masks separated by |, such as *.doc|report?.txt")));
  Form->addRow(cxRegular, edFilter);
  Form->addRow(FindingLabel(tfFileFilter));

  cbExtRule = Named(new QComboBox, "cbExtRule");
  cbExtRule->addItem(Qs(Tr("back up all but these")), false);
  cbExtRule->addItem(Qs(Tr("back up only these")), true);
  Form->addRow(Qs(Tr("Extensions:")), cbExtRule);
  edExtensions = Named(new QLineEdit, "edExtensions");
  edExtensions->setPlaceholderText(Qs(Tr("separated by commas, such as tmp, bak")));
  Form->addRow(QString(), edExtensions);
  Form->addRow(FindingLabel(tfExtensions));

  cbDirRule = Named(new QComboBox, "cbDirRule");
  cbDirRule->addItem(Qs(Tr("leave out these")), false);
  cbDirRule->addItem(Qs(Tr("back up only these")), true);
  Form->addRow(Qs(Tr("Sub-directories:")), cbDirRule);
  meSubDirs = Named(new QPlainTextEdit, "meSubDirs");
  meSubDirs->setPlaceholderText(Qs(Tr("one per line, relative to the source directory")));
  meSubDirs->setMaximumHeight(70);
  Form->addRow(QString(), meSubDirs);
  Form->addRow(FindingLabel(tfSubDirs));
  cxDirRegular = Named(new QCheckBox(Qs(Tr("Regular expression"))), "cxDirRegular");
  edDirFilter = Named(new QLineEdit, "edDirFilter");
  edDirFilter->setPlaceholderText(Qs(Tr("names of directories: masks separated by |")));
  Form->addRow(cxDirRegular, edDirFilter);
  Form->addRow(FindingLabel(tfDirFilter));
  Layout->addWidget(gbSource, 1);

  connect(lbSources, &QListWidget::currentRowChanged, this, [this](int Row) {
    if (!FLoading) SelectSource(Row);
  });
  connect(btAddSource, &QPushButton::clicked, this, [this] { AddSource(); });
  connect(btRemoveSource, &QPushButton::clicked, this, [this] { RemoveSource(); });
  connect(btSource, &QPushButton::clicked, this, [this] { ChooseSource(); });
  for (QLineEdit* Edit : {edSource, edFilter, edExtensions, edDirFilter})
    connect(Edit, &QLineEdit::textChanged, this, [this] { SourceEdited(); });
  connect(meSubDirs, &QPlainTextEdit::textChanged, this, [this] { SourceEdited(); });
  for (QCheckBox* Box : {cxRegular, cxDirRegular}) connect(Box, &QCheckBox::toggled, this, [this] { SourceEdited(); });
  connect(cbFilterMode, &QComboBox::currentIndexChanged, this, [this] { SourceEdited(); });
  connect(cbDirRule, &QComboBox::currentIndexChanged, this, [this] { SourceEdited(); });
  // The other rule's list is kept: switching shows it.
  connect(cbExtRule, &QComboBox::currentIndexChanged, this, [this] {
    if (FLoading || FCurrent < 0) return;
    TTaskSourceEntry& Entry = FDoc.Sources[static_cast<std::size_t>(FCurrent)];
    Entry.IncludeExts = cbExtRule->currentData().toBool();
    FLoading = true;
    edExtensions->setText(ExtensionListText(Entry.IncludeExts ? Entry.Include : Entry.Exclude));
    FLoading = false;
    SourceEdited();
  });
}

void TTaskEditorDialog::LoadGlobal() {
  FLoading = true;
  edDestination->setText(Qs(FDoc.Destination));
  cbStructure->setCurrentIndex(std::max(0, cbStructure->findData(FDoc.DestMode)));
  edDriveId->setText(Qs(FDoc.DriveId));
  cbCompression->setCurrentIndex(std::max(0, cbCompression->findData(static_cast<int>(FDoc.Compression))));
  cxCompressAll->setChecked(FDoc.CompressEverything);
  edNoCompTypes->setText(ExtensionListText(FDoc.NoCompTypes));
  FLoading = false;
  EnableFields();
}

void TTaskEditorDialog::LoadSource() {
  FLoading = true;
  const TTaskSourceEntry Entry = FCurrent >= 0 ? FDoc.Sources[static_cast<std::size_t>(FCurrent)] : TTaskSourceEntry();
  edSource->setText(Qs(Entry.Source));
  cbFilterMode->setCurrentIndex(std::max(0, cbFilterMode->findData(static_cast<int>(Entry.FilterMode))));
  cxRegular->setChecked(Entry.Regular);
  edFilter->setText(Qs(Entry.Filter));
  cbExtRule->setCurrentIndex(Entry.IncludeExts ? 1 : 0);
  edExtensions->setText(ExtensionListText(Entry.IncludeExts ? Entry.Include : Entry.Exclude));
  cbDirRule->setCurrentIndex(Entry.IncludeDirs ? 1 : 0);
  QStringList Lines;
  for (const std::string& Dir : Entry.SubDirs) Lines.append(Qs(Dir));
  meSubDirs->setPlainText(Lines.join(QLatin1Char('\n')));
  cxDirRegular->setChecked(Entry.DirFilterRegular);
  edDirFilter->setText(Qs(Entry.DirFilter));
  FLoading = false;
  EnableFields();
}

void TTaskEditorDialog::GlobalEdited() {
  if (FLoading) return;
  FDoc.Destination = Std(edDestination->text().trimmed());
  FDoc.DestMode = cbStructure->currentData().toInt();
  FDoc.DriveId = Std(edDriveId->text().trimmed());
  FDoc.Compression = static_cast<TCompression>(cbCompression->currentData().toInt());
  FDoc.CompressEverything = cxCompressAll->isChecked();
  FDoc.NoCompTypes = ExtensionListFromText(edNoCompTypes->text());
  EnableFields();
  ShowFindings();
}

void TTaskEditorDialog::SourceEdited() {
  if (FLoading || FCurrent < 0) return;
  TTaskSourceEntry& Entry = FDoc.Sources[static_cast<std::size_t>(FCurrent)];
  Entry.Source = Std(edSource->text().trimmed());
  Entry.FilterMode = static_cast<TFilterMode>(cbFilterMode->currentData().toInt());
  Entry.Regular = cxRegular->isChecked();
  Entry.Filter = Std(edFilter->text());
  Entry.IncludeExts = cbExtRule->currentData().toBool();
  (Entry.IncludeExts ? Entry.Include : Entry.Exclude) = ExtensionListFromText(edExtensions->text());
  Entry.IncludeDirs = cbDirRule->currentData().toBool();
  Entry.SubDirs.clear();
  for (const QString& Line : meSubDirs->toPlainText().split(QLatin1Char('\n'))) {
    const QString Dir = Line.trimmed();
    if (!Dir.isEmpty()) Entry.SubDirs.push_back(Std(Dir));
  }
  Entry.DirFilterRegular = cxDirRegular->isChecked();
  Entry.DirFilter = Std(edDirFilter->text());
  lbSources->item(FCurrent)->setText(Qs(SourceItemText(FCurrent)));
  EnableFields();
  ShowFindings();
  RestartPreview();
}

void TTaskEditorDialog::SelectSource(int Row) {
  FCurrent = Row >= 0 && Row < static_cast<int>(FDoc.Sources.size()) ? Row : -1;
  if (lbSources->currentRow() != FCurrent) {
    FLoading = true;
    lbSources->setCurrentRow(FCurrent);
    FLoading = false;
  }
  LoadSource();
  ShowFindings();
  // A new selection is shown at once; only typing waits for a pause.
  FPreviewDelay->stop();
  FPreview->Show(FCurrent >= 0 ? FDoc.Sources[static_cast<std::size_t>(FCurrent)] : TTaskSourceEntry());
}

void TTaskEditorDialog::AddSource() {
  // A new source backs up everything, as a new task does.
  TTaskSourceEntry Entry = NewTaskDocument({""}, "").Sources.front();
  if (const auto Dir = FDialogs.ChooseFolder(this, Qs(Tr("Source directory")), FDoc.Destination)) Entry.Source = *Dir;
  FDoc.Sources.push_back(std::move(Entry));
  const int Row = static_cast<int>(FDoc.Sources.size()) - 1;
  lbSources->addItem(Qs(SourceItemText(Row)));
  SelectSource(Row);
  edSource->setFocus();
}

void TTaskEditorDialog::RemoveSource() {
  if (FCurrent < 0) return;
  const int Row = FCurrent;
  FDoc.Sources.erase(FDoc.Sources.begin() + Row);
  FLoading = true;
  delete lbSources->takeItem(Row);
  FLoading = false;
  SelectSource(std::min(Row, static_cast<int>(FDoc.Sources.size()) - 1));
}

void TTaskEditorDialog::ChooseDestination() {
  if (const auto Dir = FDialogs.ChooseFolder(this, Qs(Tr("Destination folder")), FDoc.Destination))
    edDestination->setText(Qs(*Dir));
}

void TTaskEditorDialog::ChooseSource() {
  if (FCurrent < 0) return;
  if (const auto Dir = FDialogs.ChooseFolder(this, Qs(Tr("Source directory")),
                                             FDoc.Sources[static_cast<std::size_t>(FCurrent)].Source))
    edSource->setText(Qs(*Dir));
}

void TTaskEditorDialog::EnableFields() {
  const bool HasSource = FCurrent >= 0;
  gbSource->setEnabled(HasSource);
  btRemoveSource->setEnabled(HasSource);
  edDriveId->setEnabled(cbStructure->currentData().toInt() == dsDriveFolders);
  const bool Compressing = cbCompression->currentData().toInt() != cmNone;
  cxCompressAll->setEnabled(Compressing);
  edNoCompTypes->setEnabled(Compressing && !cxCompressAll->isChecked());
  const bool Filtering = cbFilterMode->currentData().toInt() != fmOff;
  cxRegular->setEnabled(HasSource && Filtering);
  edFilter->setEnabled(HasSource && Filtering);
}

std::string TTaskEditorDialog::SourceItemText(int Index) const {
  const std::string& Source = FDoc.Sources[static_cast<std::size_t>(Index)].Source;
  return Source.empty() ? Tr("(no source directory)") : Source;
}

void TTaskEditorDialog::ShowFindings() {
  FFindings = ValidateTask(FDoc);
  const bool Dark = DarkStyleActive();
  const QString ErrorStyle = Dark ? QStringLiteral("color: #ff7b72;") : QStringLiteral("color: #b3261e;");
  const QString WarningStyle = Dark ? QStringLiteral("color: #e3b341;") : QStringLiteral("color: #8a5a00;");
  std::vector<QStringList> Texts(FFindingLabels.size());
  std::vector<bool> Errors(FFindingLabels.size(), false);
  std::vector<bool> SourceHasErrors(FDoc.Sources.size(), false);
  for (const TTaskFinding& Finding : FFindings) {
    if (Finding.Source >= 0 && Finding.Level == flError)
      SourceHasErrors[static_cast<std::size_t>(Finding.Source)] = true;
    // A source's findings are shown with its fields while it is selected;
    // findings about the destination that come from a source too.
    if (Finding.Source >= 0 && Finding.Source != FCurrent && Finding.Field != tfDestination) continue;
    const auto Field = static_cast<std::size_t>(Finding.Field);
    Texts[Field].append(Qs(Finding.Text));
    if (Finding.Level == flError) Errors[Field] = true;
  }
  for (std::size_t Field = 0; Field < FFindingLabels.size(); ++Field) {
    QLabel* Label = FFindingLabels[Field];
    Label->setText(Texts[Field].join(QLatin1Char('\n')));
    Label->setStyleSheet(Errors[Field] ? ErrorStyle : WarningStyle);
    Label->setVisible(!Texts[Field].isEmpty());
  }
  const QIcon Warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
  for (int Row = 0; Row < lbSources->count(); ++Row)
    lbSources->item(Row)->setIcon(SourceHasErrors[static_cast<std::size_t>(Row)] ? Warning : QIcon());
}

void TTaskEditorDialog::RestartPreview() { FPreviewDelay->start(); }

bool TTaskEditorDialog::Save() {
  GlobalEdited();
  if (HasErrors(FFindings)) {
    std::string List;
    for (const TTaskFinding& Finding : FFindings)
      if (Finding.Level == flError) List += "\n- " + Finding.Text;
    if (!FDialogs.Question(this, Qs(SafeFormat(Tr("The watchdog cannot use the task as it stands:%s\n\nSave it anyway?"),
                                                List))))
      return false;
  }
  try {
    WriteTaskDocument(FDoc, FFileName);
  } catch (const std::exception& E) {
    FDialogs.Message(this, Qs(SafeFormat(Tr("The task cannot be saved: %s"), E.what())));
    return false;
  }
  accept();
  return true;
}

void TTaskEditorDialog::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_F1) {
    FDialogs.OpenHelp(this);
    return;
  }
  QDialog::keyPressEvent(Event);
}

}  // namespace dz::ui
