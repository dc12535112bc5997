#pragma once
// The preview of a source entry: which files below its source directory the
// watchdog would back up and which its filters leave out, and why. The
// verdict is the watchdog's own (MonFilterVerdict on the filters read back
// from the entry as written), so what the preview shows is what a backup
// does.
//
// A tree can be large, so the walk runs on a thread of its own and can be
// cancelled; the lists are capped, the totals are not.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "taskedit/TaskDocument.h"
#include "watchdog/MonTask.h"

namespace dz {

inline constexpr std::size_t DefaultPreviewCap = 5000;

struct TPreviewExcluded {
  std::string File;       // relative to the source directory, "/" between names
  TFilterVerdict Reason;  // never fvPasses

  friend bool operator==(const TPreviewExcluded&, const TPreviewExcluded&) = default;
};

struct TPreviewResult {
  std::string Source;
  // 0, or the system error code when the source directory cannot be read.
  int Error = 0;
  // The first files met up to the cap, each list sorted by name.
  std::vector<std::string> Included;
  std::vector<TPreviewExcluded> Excluded;
  std::uint64_t IncludedTotal = 0;
  std::uint64_t ExcludedTotal = 0;
  // The walk was cancelled: the lists and totals cover only part of the tree.
  bool Cancelled = false;
};

// The translated name of a reason: "extension", "file filter",
// "sub-directory rule".
std::string FilterVerdictText(TFilterVerdict Verdict);

// The filters of the entry exactly as the watchdog takes them from the task
// file written from it.
TMonFilter SourceMonFilter(const TTaskSourceEntry& Entry);

// Walks the entry's source directory on the calling thread. Stops early,
// with Cancelled set, once Stop is requested.
TPreviewResult ComputePreview(const TTaskSourceEntry& Entry, std::size_t Cap = DefaultPreviewCap,
                              std::stop_token Stop = {});

// One preview running in the background. The callback runs once, on the
// preview's own thread, with the result, unless the preview is cancelled
// first; a window hands the result to its main thread from there. The
// destructor cancels the walk and waits for the thread, so the callback
// never runs after it.
class TTaskPreview {
public:
  using TCallback = std::function<void(TPreviewResult Result)>;

  TTaskPreview(TTaskSourceEntry Entry, TCallback Done, std::size_t Cap = DefaultPreviewCap);
  ~TTaskPreview();
  TTaskPreview(const TTaskPreview&) = delete;
  TTaskPreview& operator=(const TTaskPreview&) = delete;

  // Asks the walk to end; the callback is then not called. Does not wait.
  void Cancel();

private:
  std::jthread FThread;
};

}  // namespace dz
