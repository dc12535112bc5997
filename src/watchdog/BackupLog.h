#pragma once
// The daily log file: "DeZedodiru yyyy-mm-dd.log" in the log folder, UTF-8
// text that begins with the byte-order mark, lines ending in CR LF, only
// ever appended. Opened at a backup start, closed when its workers are done.
// Main thread only.
//
// Nothing here raises: a log file that cannot be written is closed and the
// caller gets one line to show instead, so a full disk on the log's drive
// never costs a line in the window.

#include <chrono>
#include <functional>
#include <string>

#include "platform/FileOps.h"

namespace dz {

// The local date as "yyyy-mm-dd".
using TDateTextFunc = std::function<std::string()>;
std::string LocalDateText(std::chrono::system_clock::time_point Time = std::chrono::system_clock::now());
// The local date and time as the log writes them: "yyyy-mm-dd hh:mm:ss".
std::string LocalDateTimeText(std::chrono::system_clock::time_point Time);

// The log file of Date ("yyyy-mm-dd") in Dir.
std::string LogFileName(const std::string& Dir, const std::string& Date);

class TBackupLogFile {
public:
  explicit TBackupLogFile(TDateTextFunc Today = [] { return LocalDateText(); }) : FToday(std::move(Today)) {}

  // Opens the file of today in Dir for appending, creating it with only the
  // byte-order mark when it is missing. A file still open is kept. False
  // (and closed) when it cannot be created or opened.
  bool Open(const std::string& Dir);
  bool IsOpen() const { return FFile.Valid(); }
  // The file open now; empty when closed.
  const std::string& FileName() const { return FName; }

  // Appends Line and CR LF. Empty on success or when closed; after a write
  // error the file is closed and the result is the line that says so.
  std::string Write(const std::string& Line);
  void Close();

private:
  TDateTextFunc FToday;
  TFileHandle FFile;
  std::string FName;
};

}  // namespace dz
