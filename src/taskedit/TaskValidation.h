#pragma once
// What is wrong with a task while the user edits it, field by field, judged
// with the watchdog's own code: its filter compiler, its placeholder rule and
// its path helpers. A window shows each finding next to its field; the
// command line prints them.

#include <string>
#include <vector>

#include "taskedit/TaskDocument.h"

namespace dz {

enum TFindingLevel : int {
  flError = 0,    // the watchdog cannot use the task, or a filter is lost
  flWarning = 1,  // the task works, but probably not as meant
};

// The field a finding belongs to. Fields of a source carry its index in
// TTaskFinding::Source.
enum TTaskField : int {
  tfDestination = 0,
  tfDestMode,
  tfSources,      // the list of sources as a whole
  tfSource,       // "Source" of one entry
  tfFileFilter,
  tfExtensions,
  tfSubDirs,
  tfDirFilter,
};

struct TTaskFinding {
  TFindingLevel Level = flError;
  TTaskField Field = tfDestination;
  int Source = -1;  // index into TTaskDocument::Sources; -1 for a global field
  std::string Text;  // translated

  friend bool operator==(const TTaskFinding&, const TTaskFinding&) = default;
};

// Every finding of the document, global fields first, then each source in
// order. Looks at the file system (do the sources exist), nothing else.
std::vector<TTaskFinding> ValidateTask(const TTaskDocument& Doc);

// The findings of one source entry only (for a window that checks the field
// being typed in).
std::vector<TTaskFinding> ValidateSource(const TTaskDocument& Doc, int Index);

bool HasErrors(const std::vector<TTaskFinding>& Findings);

}  // namespace dz
