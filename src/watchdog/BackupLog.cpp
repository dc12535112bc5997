#include "watchdog/BackupLog.h"

#include <chrono>
#include <cstdio>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"

namespace dz {

std::string LocalDateText() {
  using namespace std::chrono;
  const std::int64_t Now = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  std::int64_t Offset = 0;
  UtcOffsetAt(Now, Offset);  // UTC when the zone cannot be read
  const year_month_day Day{floor<days>(sys_seconds{seconds{Now + Offset}})};
  char Text[16];
  std::snprintf(Text, sizeof Text, "%04d-%02u-%02u", static_cast<int>(Day.year()),
                static_cast<unsigned>(Day.month()), static_cast<unsigned>(Day.day()));
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
  TFileHandle File;
  std::int64_t End = 0;
  if (OpenFileHandle(Name, ofWrite | ofNoFollow, 0, File) != 0 || File.Seek(0, TSeekOrigin::soEnd, End) != 0)
    return false;
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
