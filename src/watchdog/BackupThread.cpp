#include "watchdog/BackupThread.h"

#include <algorithm>
#include <utility>

#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "copyengine/CopyJobCodes.h"
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
static bool DeviceOfNearest(const std::string& Path, std::uint64_t& Device, std::string* Nearest = nullptr) {
  std::string P = Path;
  for (;;) {
    TFileStatus Status;
    const int E = PathStatus(P, true, Status);
    if (E == 0) {
      Device = Status.Device;
      if (Nearest != nullptr) *Nearest = P;
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

void TBackupThread::SendLines() {
  if (FLines.empty()) return;
  // The worker waits until the main thread has taken the lines; a closed
  // queue (the program is ending) drops them.
  if (FOnStringMsg || FOnFileDone)
    FQueue.Send([this] {
      for (const TOutLine& Out : FLines) {
        if (FOnStringMsg) FOnStringMsg(Out.Line);
        if (Out.Result != NoResult && FOnFileDone) FOnFileDone(FResults[Out.Result]);
      }
    });
  FLines.clear();
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

TBackupThread::TDestFolder& TBackupThread::PrepareFolder(const std::string& Dir) {
  auto [It, New] = FFolders.try_emplace(Dir);
  TDestFolder& Folder = It->second;
  if (Folder.Exists) return Folder;
  if (New) NoteDirectoriesOf(Dir);
  TFileStatus Status;
  if (PathStatus(Dir, true, Status) == 0) {
    // Met for the first time: what an interrupted run left in it is listed
    // once; a folder made by this run holds nothing of the kind.
    if (New)
      WalkDirectoryTree(
          Dir,
          [&](const TDirWalkEntry& Entry) {
            if (Entry.Kind == dekFile && Entry.RelPath.find(".tmp") != std::string::npos)
              Folder.TemporaryNames.push_back(Entry.RelPath);
            return dwvContinue;
          },
          TDirWalkOptions{false, false});
  } else {
    XlForceDirectories(Dir);  // a failure shows as the copy's error, and the next file tries again
    if (PathStatus(Dir, true, Status) != 0) return Folder;
  }
  Folder.Exists = true;
  Folder.FlushedWithBatch = FBatchFlush && Status.Device == FDestDevice;
  return Folder;
}

void TBackupThread::RemoveLeftovers(TDestFolder& Folder, const std::string& Source, const std::string& Final) {
  if (Folder.TemporaryNames.empty()) return;
  const std::string Dir = ExtractFileDir(Final);
  const std::string FinalName = ExtractFileName(Final);
  const std::string SourceDir = ExtractFileDir(Source);
  std::erase_if(Folder.TemporaryNames, [&](const std::string& Name) {
    if (!IsTemporaryNameOf(Name, FinalName)) return false;
    // The same name in the source folder is a file of its own whose copy
    // this is, not a leftover.
    if (!XlFileExists(JoinPath(SourceDir, Name), false)) XlDeleteFile(JoinPath(Dir, Name), true);
    return true;
  });
}

int TBackupThread::ReplaceTarget(const std::string& Temp, const std::string& Target, std::string_view Suffix,
                                 int& Moved) {
  const std::string Final = Target + std::string(Suffix);
  int E = 0;
  bool Linked = false;
  if (FRetain > 0 && XlFileExists(Final, false)) {
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
  // Without versions, or with the current copy linked as version 1, the new
  // copy replaces the current one in one step; otherwise the name is free.
  // The copy has its source's attributes already: the job set them on the
  // open file, from the very file it read.
  const bool Replace = Linked || FRetain == 0;
  if ((Replace ? RenameReplacing(Temp, Final) : XlRenameFile(Temp, Final)) != 0) return BackupRenameErrorCode;
  return 0;
}

TBackupThread::TBatchFile TBackupThread::CopyToTemporary(std::size_t Index, const std::string& Source,
                                                         const std::string& Target, const TBackupCopyKind& Kind,
                                                         std::stop_token Stop, bool& Stopped) {
  const std::string Final = Target + std::string(Kind.Suffix);
  TDestFolder& Folder = PrepareFolder(ExtractFileDir(Final));
  RemoveLeftovers(Folder, Source, Final);

  std::string Temp = Final + ".tmp";
  for (int N = 1; !NameFree(Temp); ++N) Temp = Final + ".tmp" + std::to_string(N);

  // A copy that its batch's flush does not reach is flushed by the job
  // (coNoCache) before it is closed.
  TCopyOptions Options = Kind.Options;
  if (FFlush && !Folder.FlushedWithBatch) Options |= coNoCache;
  const TCopyResult Result = FJob.Run({Source, Temp, Options}, Stop);
  if (Result.ErrorCode != 0) {
    XlDeleteFile(Temp, true);
    Stopped = Stop.stop_requested();
  }
  return {Index, Source, Target, std::move(Temp), Kind.Suffix, Kind.Options, Result.ErrorCode};
}

bool TBackupThread::BatchFull(std::int64_t NextSize) const {
  return FBatch.size() >= MaxBatchFiles || FBatchBytes + NextSize > MaxBatchBytes ||
         std::chrono::steady_clock::now() - FBatchStart >= MaxBatchTime;
}

void TBackupThread::FinishBatch() {
  if (FBatch.empty()) return;
  // A destination that has gone may now lead to the folder below its mount
  // point: nothing of the batch is renamed or removed there.
  const bool There = DestinationStillThere();
  int FlushError = There ? 0 : ErrPathNotFound;
  if (There && FBatchFlush) FlushError = FDestRoot.SyncFileSystem();
  if (FStepHook) FStepHook(TStep::stAfterBatchFlush, FBatch.back().Index);

  for (const TBatchFile& File : FBatch) {
    FIndex = File.Index;
    int E = File.ErrorCode;
    int Moved = 0;
    if (E == 0 && FlushError != 0) {
      // The copy may not have reached the disk: it is not taken.
      if (There) XlDeleteFile(File.Temp, true);
      E = CopyActionOf(File.Options) | (FlushError == ErrDiskFull ? cjLowDiskSpace : cjWriteFile);
    } else if (E == 0) {
      E = ReplaceTarget(File.Temp, File.Target, File.Suffix, Moved);
    }
    FResults.push_back({FFileList[File.Index], E, E == 0 || XlFileExists(File.Source, true)});
    std::string Line = (FTimeText ? FTimeText() : std::string()) + " - " + SafeFormat("%.2d", FId) + ": " +
                       File.Source + " => " + FDest;
    if (Moved > 0) Line += " (+" + std::to_string(Moved) + ")";
    if (E != 0) Line += "\r\n  *** " + GetCopyErrorText(E);
    FLines.push_back({std::move(Line), FResults.size() - 1});
  }
  FBatch.clear();
  FBatchBytes = 0;
  SendLines();
}

void TBackupThread::FlushDirectories() {
  // The flush of the whole file system covers every folder on it; a folder
  // elsewhere (a file system mounted below the destination) is flushed on
  // its own.
  const bool Whole = FBatchFlush && DestinationStillThere() && FDestRoot.SyncFileSystem() == 0;
  for (const std::string& Dir : FDirsWritten) {
    TFileStatus Status;
    if ((Whole && PathStatus(Dir, true, Status) == 0 && Status.Device == FDestDevice) || SyncDirectory(Dir) == 0)
      FSynced.push_back(Dir);
  }
  std::sort(FSynced.begin(), FSynced.end());
}

void TBackupThread::Execute(std::stop_token Stop) {
  std::string Nearest;
  FHaveDestDevice = DeviceOfNearest(FDest, FDestDevice, &Nearest);
  // Opened before anything is written, so that its flushes report every
  // write of the run that fails on the way to the disk. A first backup has
  // no root yet: the folder it will be made in is on the same file system.
  TFileStatus Opened;
  FBatchFlush = FFlush && FHaveDestDevice && OpenFileHandle(Nearest, ofDirectory, 0, FDestRoot) == 0 &&
                FDestRoot.Status(Opened) == 0 && Opened.Device == FDestDevice &&
                FDestRoot.FileSystemSyncCoversFiles();

  std::size_t Index = 0;
  for (; Index < FFileList.Count(); ++Index) {
    FIndex = Index;
    if (FStepHook) FStepHook(TStep::stBeforeFile, Index);
    if (Stop.stop_requested()) break;
    if (!DestinationStillThere()) {
      FinishBatch();
      FLines.push_back({" *** " + (FTimeText ? FTimeText() : std::string()) + " - " + SafeFormat("%.2d", FId) +
                            ": " +
                            SafeFormat(Tr("Destination \"%s\" is no longer available: the backup stopped"), FDest),
                        NoResult});
      SendLines();
      break;
    }
    const std::string& R = FFileList[Index];
    const std::string S = JoinPath(FBase, R);
    const std::string B = FDrv.empty() ? FDest : JoinPath(FDest, DriveFolderName(FDrv, DrivePart(S)));
    const std::string T = JoinPath(B, PathWithoutDrive(S));
    const TBackupCopyKind Kind = BackupCopyKind(FCompress, FNoCompList.Contains(GetExtension(S)));

    TFileStatus Source;
    const std::int64_t Size = PathStatus(S, true, Source) == 0 ? Source.Size : 0;
    if (!FBatch.empty() && BatchFull(Size)) FinishBatch();
    if (FBatch.empty()) FBatchStart = std::chrono::steady_clock::now();

    bool Stopped = false;
    TBatchFile File = CopyToTemporary(Index, S, T, Kind, Stop, Stopped);
    if (Stopped) break;  // this file stays pending, without a line
    FBatch.push_back(std::move(File));
    FBatchBytes += Size;
    if (FBatchBytes >= MaxBatchBytes) FinishBatch();  // a large file alone
  }
  FinishBatch();
  for (; Index < FFileList.Count(); ++Index) FNotDone.push_back(FFileList[Index]);
  if (FFlush) FlushDirectories();

  FFinished.store(true, std::memory_order_release);
  FQueue.Wake();
}

}  // namespace dz
