#include "watchdog/BackupThread.h"

#include <algorithm>
#include <utility>

#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "settings/PathConventions.h"

namespace dz {

namespace {

// True when nothing at all has the name Path (not even a dangling link).
bool NameFree(const std::string& Path) {
  TFileStatus Status;
  return PathStatus(Path, false, Status) == ErrFileNotFound;
}

// "<Final>.tmp" followed by nothing or by digits only.
bool IsTemporaryNameOf(std::string_view Name, std::string_view FinalName) {
  const std::string Prefix = std::string(FinalName) + ".tmp";
  if (Name.size() < Prefix.size() || Name.substr(0, Prefix.size()) != Prefix) return false;
  return std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(),
                     [](char C) { return C >= '0' && C <= '9'; });
}

}  // namespace

TBackupCopyKind BackupCopyKind(std::int32_t Compress, bool NoComp) {
  switch (Compress) {
    case 1:
      return NoComp ? TBackupCopyKind{CopyOptionsPlain, ""} : TBackupCopyKind{CopyOptionsGzip, ".gz"};
    case 2:
      return {NoComp ? CopyOptionsZipStored : CopyOptionsZipDeflated, ".zip"};
    default:
      return {CopyOptionsPlain, ""};
  }
}

TBackupThread::TBackupThread(std::int32_t AId, std::string DestDir, std::string SourceDir, std::string DrvId,
                             std::string_view NoComp, const TMatchList& AFileList, std::int32_t ACompress,
                             std::int32_t ARetain, TGetStrProc ASendMsg, TFileDoneProc AFileDone,
                             TMainThreadQueue& Queue, TTimeTextFunc TimeText, TStepHook StepHook, bool Flush)
    : FId(AId),
      FCompress(ACompress),
      FRetain(std::clamp<std::int32_t>(ARetain, 0, MaxRetain)),
      FDest(std::move(DestDir)),
      FBase(std::move(SourceDir)),
      FDrv(std::move(DrvId)),
      FOnStringMsg(std::move(ASendMsg)),
      FOnFileDone(std::move(AFileDone)),
      FQueue(Queue),
      FTimeText(std::move(TimeText)),
      FStepHook(std::move(StepHook)),
      FFlush(Flush) {
  FFileList.Assign(AFileList.Items());
  std::vector<std::string> Exts = SplitCommaText(NoComp);
  std::erase(Exts, std::string());
  FNoCompList.Assign(std::move(Exts));
  FThread = std::jthread([this](std::stop_token Stop) { Execute(Stop); });
}

TBackupThread::~TBackupThread() {
  FThread.request_stop();
  Wait();
}

void TBackupThread::Wait() {
  if (FThread.joinable()) FThread.join();
}

// The file system of Path, or of its nearest existing folder: a first
// backup creates the destination root itself.
static bool DeviceOfNearest(const std::string& Path, std::uint64_t& Device) {
  std::string P = Path;
  for (;;) {
    TFileStatus Status;
    const int E = PathStatus(P, true, Status);
    if (E == 0) {
      Device = Status.Device;
      return true;
    }
    const std::string Parent = ExtractFileDir(P);
    if ((E != ErrFileNotFound && E != ErrPathNotFound) || Parent.empty() || Parent == P) return false;
    P = Parent;
  }
}

bool TBackupThread::DestinationStillThere() const {
  std::uint64_t Device = 0;
  return FHaveDestDevice && DeviceOfNearest(FDest, Device) && Device == FDestDevice;
}

void TBackupThread::SendLine(const std::string& Line, const TBackupFileResult* Result) {
  if (!FOnStringMsg && !(Result && FOnFileDone)) return;
  FMsg = Line;
  // The worker waits until the main thread has taken the line; a closed
  // queue (the program is ending) drops it.
  FQueue.Send([this, Result] {
    if (FOnStringMsg) FOnStringMsg(FMsg);
    if (Result && FOnFileDone) FOnFileDone(*Result);
  });
}

void TBackupThread::NoteDirectoriesOf(const std::string& Dir) {
  // The folder itself and, for folders that did not exist, every parent up
  // to the destination root got new entries.
  const std::string Root = DirWithDelimiter(FDest);
  std::string D = Dir;
  while (!D.empty()) {
    if (std::find(FDirsWritten.begin(), FDirsWritten.end(), D) != FDirsWritten.end()) break;
    FDirsWritten.push_back(D);
    if (!IsSubPath(Root, D) || DirWithDelimiter(D) == Root) break;
    D = ExtractFileDir(D);
  }
}

void TBackupThread::RemoveLeftovers(const std::string& Source, const std::string& Final) {
  const std::string Dir = ExtractFileDir(Final);
  const std::string FinalName = ExtractFileName(Final);
  const std::string SourceDir = ExtractFileDir(Source);
  auto [Listed, New] = FTemporaryNames.try_emplace(Dir);
  std::vector<std::string>& Names = Listed->second;
  if (New) {
    WalkDirectoryTree(
        Dir,
        [&](const TDirWalkEntry& Entry) {
          if (Entry.Kind == dekFile && Entry.RelPath.find(".tmp") != std::string::npos) Names.push_back(Entry.RelPath);
          return dwvContinue;
        },
        TDirWalkOptions{false, false});
  }
  std::erase_if(Names, [&](const std::string& Name) {
    if (!IsTemporaryNameOf(Name, FinalName)) return false;
    // The same name in the source folder is a file of its own whose copy
    // this is, not a leftover.
    if (!XlFileExists(JoinPath(SourceDir, Name), false)) XlDeleteFile(JoinPath(Dir, Name), true);
    return true;
  });
}

int TBackupThread::ReplaceTarget(const std::string& Source, const std::string& Temp, const std::string& Target,
                                 std::string_view Suffix, int& Moved) {
  const std::string Final = Target + std::string(Suffix);
  int E = 0;
  bool Linked = false;
  if (XlFileExists(Final, false) && FRetain > 0) {
    for (int N = FRetain; N >= 2; --N) {
      const std::string Older = InsertBeforeExtension(Target, ".bak-" + std::to_string(N)) + std::string(Suffix);
      const std::string Newer = InsertBeforeExtension(Target, ".bak-" + std::to_string(N - 1)) + std::string(Suffix);
      if (XlFileExists(Newer, false) && XlDeleteExistingFile(Older) == 0) {
        XlRenameFile(Newer, Older);
        ++Moved;
      }
    }
    const std::string B1 = InsertBeforeExtension(Target, ".bak-1") + std::string(Suffix);
    E = XlDeleteExistingFile(B1);
    if (E == 0) {
      // The current copy keeps its name until the new one takes it.
      E = MakeHardLink(Final, B1);
      Linked = E == 0;
      if (E == ErrNotSupported) E = XlRenameFile(Final, B1);
      ++Moved;
    }
    if (E != 0) E = XlDeleteFile(Final, true);
  }
  if (E != 0) return E;
  if (FStepHook) FStepHook(TStep::stBeforeReplace, FIndex);
  const int Attr = XlFileGetAttr(Source, true);
  // Without versions, or with the current copy linked as version 1, the new
  // copy replaces the current one in one step; otherwise the name is free.
  const bool Replace = Linked || FRetain == 0;
  if ((Replace ? RenameReplacing(Temp, Final) : XlRenameFile(Temp, Final)) != 0) return BackupRenameErrorCode;
  if (XlFileSetAttr(Final, Attr, false) != 0) return BackupRenameErrorCode;
  return 0;
}

int TBackupThread::BackupFile(const std::string& Source, const std::string& Target, const TBackupCopyKind& Kind,
                              std::stop_token Stop, int& Moved, bool& Stopped) {
  const std::string Final = Target + std::string(Kind.Suffix);
  const std::string Dir = ExtractFileDir(Final);
  XlForceDirectories(Dir);  // a failure shows as the copy's error
  NoteDirectoriesOf(Dir);
  RemoveLeftovers(Source, Final);

  std::string Temp = Final + ".tmp";
  for (int N = 1; !NameFree(Temp); ++N) Temp = Final + ".tmp" + std::to_string(N);

  // coNoCache: the copy is on the disk before it gets its final name.
  const TCopyOptions Options = FFlush ? static_cast<TCopyOptions>(Kind.Options | coNoCache) : Kind.Options;
  const TCopyResult Result = FJob.Run({Source, Temp, Options}, Stop);
  if (Result.ErrorCode != 0) {
    XlDeleteFile(Temp, true);
    Stopped = Stop.stop_requested();
    return Result.ErrorCode;
  }
  return ReplaceTarget(Source, Temp, Target, Kind.Suffix, Moved);
}

void TBackupThread::Execute(std::stop_token Stop) {
  FHaveDestDevice = DeviceOfNearest(FDest, FDestDevice);

  std::size_t Index = 0;
  for (; Index < FFileList.Count(); ++Index) {
    FIndex = Index;
    if (FStepHook) FStepHook(TStep::stBeforeFile, Index);
    if (Stop.stop_requested()) break;
    if (!DestinationStillThere()) {
      SendLine(" *** " + (FTimeText ? FTimeText() : std::string()) + " - " + SafeFormat("%.2d", FId) + ": " +
               SafeFormat(Tr("Destination \"%s\" is no longer available: the backup stopped"), FDest));
      break;
    }
    const std::string& R = FFileList[Index];
    const std::string S = JoinPath(FBase, R);
    const std::string B = FDrv.empty() ? FDest : JoinPath(FDest, DriveFolderName(FDrv, DrivePart(S)));
    const std::string T = JoinPath(B, PathWithoutDrive(S));
    const TBackupCopyKind Kind = BackupCopyKind(FCompress, FNoCompList.Contains(GetExtension(S)));

    int Moved = 0;
    bool Stopped = false;
    const int E = BackupFile(S, T, Kind, Stop, Moved, Stopped);
    if (Stopped) break;  // this file stays pending, without a line

    FResults.push_back({R, E, E == 0 || XlFileExists(S, true)});
    std::string Line = (FTimeText ? FTimeText() : std::string()) + " - " + SafeFormat("%.2d", FId) + ": " + S +
                       " => " + FDest;
    if (Moved > 0) Line += " (+" + std::to_string(Moved) + ")";
    if (E != 0) Line += "\r\n  *** " + GetCopyErrorText(E);
    SendLine(Line, &FResults.back());
  }
  for (; Index < FFileList.Count(); ++Index) FNotDone.push_back(FFileList[Index]);

  if (FFlush)
    for (const std::string& Dir : FDirsWritten)
      if (SyncDirectory(Dir) == 0) FSynced.push_back(Dir);
  std::sort(FSynced.begin(), FSynced.end());

  FFinished.store(true, std::memory_order_release);
  FQueue.Wake();
}

}  // namespace dz
