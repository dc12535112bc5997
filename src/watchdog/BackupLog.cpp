#include "watchdog/BackupLog.h"

#include <chrono>
#include <cstdio>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"

namespace dz {

namespace {

// Time in the local zone (UTC when the zone cannot be read), split into
// its day and the seconds of that day.
void LocalParts(std::chrono::system_clock::time_point Time, std::chrono::year_month_day& Day,
                std::int64_t& SecondOfDay) {
  using namespace std::chrono;
  const std::int64_t Utc = duration_cast<seconds>(Time.time_since_epoch()).count();
  std::int64_t Offset = 0;
  UtcOffsetAt(Utc, Offset);
  const sys_seconds Local{seconds{Utc + Offset}};
  const sys_days Midnight = floor<days>(Local);
  Day = year_month_day{Midnight};
  SecondOfDay = (Local - Midnight).count();
}

}  // namespace

std::string LocalDateText(std::chrono::system_clock::time_point Time) {
  return LocalDateTimeText(Time).substr(0, 10);
}

std::string LocalDateTimeText(std::chrono::system_clock::time_point Time) {
  std::chrono::year_month_day Day;
  std::int64_t Second = 0;
  LocalParts(Time, Day, Second);
  char Text[32];
  std::snprintf(Text, sizeof Text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(Day.year()),
                static_cast<unsigned>(Day.month()), static_cast<unsigned>(Day.day()),
                static_cast<int>(Second / 3600), static_cast<int>(Second / 60 % 60), static_cast<int>(Second % 60));
  return Text;
}

std::string LogFileName(const std::string& Dir, const std::string& Date) {
  return JoinPath(Dir, "DeZedodiru " + Date + ".log");
}

bool TBackupLogFile::Open(const std::string& Dir) {
  if (IsOpen()) return true;
  const std::string Name = LogFileName(Dir, FToday());
  if (!XlFileExists(Name, true)) {
    try {
      if (CreateUtf8File(Name) != 0) return false;
    } catch (const EInOutError&) {
      return false;
    }
  }
  // Appending, not writing at the end found now: another instance on the
  // same settings writes this file too, and its lines must stay.
  TFileHandle File;
  if (OpenFileHandle(Name, ofWrite | ofAppend | ofNoFollow, 0, File) != 0) return false;
  FFile = std::move(File);
  FName = Name;
  return true;
}

std::string TBackupLogFile::Write(const std::string& Line) {
  if (!IsOpen()) return {};
  const std::string Data = Line + "\r\n";
  std::size_t Done = 0;
  const int E = FFile.Write(Data.data(), Data.size(), Done);
  if (E == 0) return {};
  const std::string Name = FName;
  Close();
  return SafeFormat(Tr("The log file \"%s\" could not be written: %s"), Name, GetSystemErrorText(E));
}

void TBackupLogFile::Close() {
  FFile.Close();
  FFile = TFileHandle();
  FName.clear();
}

}  // namespace dz
