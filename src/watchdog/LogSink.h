#pragma once
// Where the watchdog's report lines go: the log window and, when enabled, the
// daily log file. Main thread only.

#include <string>

namespace dz {

class TLogSink {
public:
  virtual ~TLogSink() = default;
  virtual void AddLogLine(const std::string& Line) = 0;
};

}  // namespace dz
