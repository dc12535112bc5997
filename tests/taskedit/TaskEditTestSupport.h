#pragma once
// What the task editor's tests share: a folder with two existing source
// directories, and the watchdog's reading of a task for one of them.

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestFiles.h"
#include "taskedit/TaskDocument.h"
#include "watchdog/LogSink.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskReader.h"

namespace dz::test {

class TRecordingLog : public TLogSink {
public:
  void AddLogLine(const std::string& Line) override { Lines.push_back(Line); }
  std::vector<std::string> Lines;
};

inline const TTaskDefaults WatchdogDefaults{"Drv?", "7z,gz,zip"};

class TTaskFolderTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    std::filesystem::create_directory(A());
    std::filesystem::create_directory(B());
  }
  std::string A() const { return PathOf("src-a"); }
  std::string B() const { return PathOf("src-b"); }
  std::string Dest() const { return PathOf("backup"); }
  std::string Task() const { return PathOf("task.buj"); }

  // Task.Dir read from the task file by the watchdog, as monitoring does;
  // the read must succeed.
  void ReadAsWatchdog(TMonTask& MonTask) const {
    TRecordingLog Log;
    ASSERT_EQ(ReadTaskSettings(MonTask, WatchdogDefaults, Log), 0) << (Log.Lines.empty() ? "" : Log.Lines.front());
  }
};

}  // namespace dz::test
