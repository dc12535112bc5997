#include "taskedit/TaskValidation.h"

#include <algorithm>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "filters/TextFilter.h"
#include "platform/FileOps.h"
#include "settings/PathConventions.h"
#include "watchdog/TaskReader.h"

namespace dz {

namespace {

std::string FilterErrorText(const EFilterError& E) {
  return E.Detail().empty() ? std::string(E.what()) : std::string(E.what()) + " " + E.Detail();
}

bool IsVolumeLabelPath(const std::string& Path) {
  std::string Label;
  return VolumeLabelOf(Path, Label);
}

// Links are resolved where the path exists, so that another spelling of the
// same folder is recognised; otherwise the text is taken as it is.
std::string Resolved(const std::string& Path) {
  std::string Real;
  return ResolveExistingPath(Path, Real) == 0 ? Real : Path;
}

bool DestinationInside(const std::string& Source, const std::string& Destination) {
  if (Source.empty() || Destination.empty() || IsVolumeLabelPath(Destination)) return false;
  return IsSubPath(Source, Destination) || IsSubPath(Resolved(Source), Resolved(Destination));
}

void AddSourceFindings(const TTaskDocument& Doc, int Index, std::vector<TTaskFinding>& Out) {
  const TTaskSourceEntry& Entry = Doc.Sources[static_cast<std::size_t>(Index)];
  const auto Add = [&](TFindingLevel Level, TTaskField Field, std::string Text) {
    Out.push_back({Level, Field, Index, std::move(Text)});
  };

  if (Entry.Source.empty())
    Add(flError, tfSource, Tr("No source directory is given."));
  else if (!IsAbsolutePath(Entry.Source))
    Add(flError, tfSource, Tr("The source directory must be given with its full path."));
  else if (!XlDirectoryExists(Entry.Source))
    Add(flError, tfSource, SafeFormat(Tr("The source directory \"%s\" does not exist."), Entry.Source));

  if (DestinationInside(Entry.Source, Doc.Destination))
    Add(flWarning, tfDestination,
        SafeFormat(Tr("The destination lies inside the source directory \"%s\": the backup would back up its own "
                      "copies."),
                   Entry.Source));

  try {
    TTextFilter Filter(true, true);
    SetTaskFileFilter(Filter, Entry.Regular, Entry.FilterMode, Entry.Filter);
  } catch (const EFilterError& E) {
    Add(flError, tfFileFilter, FilterErrorText(E));
  }

  if (Entry.IncludeExts && Entry.Include.empty())
    Add(flWarning, tfExtensions,
        Tr("Only the listed extensions are backed up, and the list is empty: nothing will be backed up."));

  for (const std::string& Dir : Entry.SubDirs) {
    if (Dir.empty())
      Add(flWarning, tfSubDirs, Tr("An empty sub-directory entry is ignored."));
    else if (IsAbsolutePath(Dir))
      Add(flWarning, tfSubDirs,
          SafeFormat(Tr("The sub-directory \"%s\" is not relative to the source directory and is ignored."), Dir));
  }

  try {
    TTextFilter Filter(false, true);
    SetTaskDirFilter(Filter, DirFilterValue(Entry));
  } catch (const EFilterError& E) {
    Add(flError, tfDirFilter, FilterErrorText(E));
  }
}

}  // namespace

std::vector<TTaskFinding> ValidateTask(const TTaskDocument& Doc) {
  std::vector<TTaskFinding> Out;
  const auto Add = [&](TFindingLevel Level, TTaskField Field, std::string Text) {
    Out.push_back({Level, Field, -1, std::move(Text)});
  };
  if (Doc.Destination.empty())
    Add(flError, tfDestination, Tr("No destination is given."));
  else if (DestinationHasPlaceholders(Doc.Destination))
    Add(flError, tfDestination,
        Tr("The destination holds two \"%\" signs: DeZedodiru cannot use a task with placeholders."));
  else if (!IsAbsolutePath(Doc.Destination) && !IsVolumeLabelPath(Doc.Destination))
    Add(flError, tfDestination,
        Tr("The destination must be a full path, or a volume label in the form :LABEL:/folder."));

  if (Doc.DestMode != dsDriveFolders && Doc.DestMode != dsFullPath)
    Add(flError, tfDestMode, DestModeText(Doc.DestMode));

  if (Doc.Sources.empty()) Add(flError, tfSources, Tr("The task has no source directory."));
  for (std::size_t I = 0; I < Doc.Sources.size(); ++I) AddSourceFindings(Doc, static_cast<int>(I), Out);
  return Out;
}

std::vector<TTaskFinding> ValidateSource(const TTaskDocument& Doc, int Index) {
  std::vector<TTaskFinding> Out;
  if (Index >= 0 && static_cast<std::size_t>(Index) < Doc.Sources.size()) AddSourceFindings(Doc, Index, Out);
  return Out;
}

bool HasErrors(const std::vector<TTaskFinding>& Findings) {
  return std::any_of(Findings.begin(), Findings.end(), [](const TTaskFinding& F) { return F.Level == flError; });
}

}  // namespace dz
