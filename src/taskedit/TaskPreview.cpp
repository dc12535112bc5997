#include "taskedit/TaskPreview.h"

#include <algorithm>
#include <utility>

#include "base/Translate.h"
#include "platform/DirWalk.h"
#include "settings/UnicodeIniFile.h"
#include "watchdog/TaskReader.h"

namespace dz {

std::string FilterVerdictText(TFilterVerdict Verdict) {
  switch (Verdict) {
    case fvPasses: return Tr("backed up");
    case fvExtension: return Tr("extension");
    case fvFileFilter: return Tr("file filter");
    case fvSubDirRule: return Tr("sub-directory rule");
  }
  return {};
}

TMonFilter SourceMonFilter(const TTaskSourceEntry& Entry) {
  TTaskDocument Doc;
  Doc.Sources.push_back(Entry);
  const TUnicodeIniFile Ini = TaskDocumentIni(Doc);
  TMonFilter Filter;
  ReadSourceFilters(Ini, SourceSectionName(0), Filter);
  return Filter;
}

TPreviewResult ComputePreview(const TTaskSourceEntry& Entry, std::size_t Cap, std::stop_token Stop) {
  TPreviewResult Result;
  Result.Source = Entry.Source;
  const TMonFilter Filter = SourceMonFilter(Entry);
  Result.Error = WalkDirectoryTree(
      Entry.Source,
      [&](const TDirWalkEntry& Item) {
        if (Stop.stop_requested()) {
          Result.Cancelled = true;
          return dwvStop;
        }
        // Every file is judged, also below directories the sub-directory
        // rule leaves out, so that the totals count what is left out too.
        if (!WalkEntryIsFile(Entry.Source, Item)) return dwvContinue;
        const TFilterVerdict Verdict = MonFilterVerdict(Filter, Item.RelPath);
        if (Verdict == fvPasses) {
          if (Result.Included.size() < Cap) Result.Included.push_back(Item.RelPath);
          ++Result.IncludedTotal;
        } else {
          if (Result.Excluded.size() < Cap) Result.Excluded.push_back({Item.RelPath, Verdict});
          ++Result.ExcludedTotal;
        }
        return dwvContinue;
      },
      TDirWalkOptions{.Times = false, .Recursive = true});
  std::sort(Result.Included.begin(), Result.Included.end());
  std::sort(Result.Excluded.begin(), Result.Excluded.end(),
            [](const TPreviewExcluded& A, const TPreviewExcluded& B) { return A.File < B.File; });
  return Result;
}

TTaskPreview::TTaskPreview(TTaskSourceEntry Entry, TCallback Done, std::size_t Cap)
    : FThread([Entry = std::move(Entry), Done = std::move(Done), Cap](std::stop_token Stop) {
        TPreviewResult Result = ComputePreview(Entry, Cap, Stop);
        if (!Stop.stop_requested()) Done(std::move(Result));
      }) {}

TTaskPreview::~TTaskPreview() = default;  // the jthread requests the stop and joins

void TTaskPreview::Cancel() { FThread.request_stop(); }

}  // namespace dz
