#include "watchdog/BackupThread.h"

#include <algorithm>
#include <utility>

#include "base/CaseFold.h"
#include "base/CommaText.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "base/Utf.h"
#include "copyengine/CopyJobCodes.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/DirWalk.h"
#include "platform/FileOps.h"
#include "platform/SysError.h"
#include "settings/PathConventions.h"
#include "watchdog/CurrentCopy.h"
#include "watchdog/LogLines.h"

namespace dz {

namespace {

constexpr std::string_view TemporaryStart = ".dz-";
constexpr std::size_t TemporaryDigits = 12;
constexpr std::string_view TemporaryEnd = ".tmp";

// The name of version N of Target's copy.
std::string VersionName(const std::string& Target, int N, std::string_view Suffix) {
  return InsertBeforeExtension(Target, ".bak-" + std::to_string(N)) + std::string(Suffix);
}

// The old form of temporary names: "<Final>.tmp" followed by nothing or by
// digits only.
bool IsTemporaryNameOf(std::string_view Name, std::string_view FinalName) {
  const std::string Prefix = std::string(FinalName) + ".tmp";
  if (Name.size() < Prefix.size() || Name.substr(0, Prefix.size()) != Prefix) return false;
  return std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(),
                     [](char C) { return C >= '0' && C <= '9'; });
}

// Why a source that the job could not open or did not find is none that can
// be backed up, or nothing when it may be one (a name gone, no access): a
// name that is no regular file, a link to nothing.
std::string WhyNoFile(const std::string& Source, bool& NotAFile) {
  TFileStatus Status;
  NotAFile = false;
  if (PathStatus(Source, true, Status) == 0) {
    NotAFile = Status.Kind != TFileKind::fkRegular;
    return NotAFile ? Tr("not a regular file (a directory, FIFO, socket or device): it is not backed up")
                    : std::string();
  }
  if (PathStatus(Source, false, Status) == 0 && Status.Kind == TFileKind::fkSymLink)
    return Tr("a symbolic link whose target is missing");
  return {};
}

}  // namespace

TBackupCopyKind BackupCopyKind(std::int32_t Compress, bool NoComp, std::string_view Extension) {
  switch (Compress) {
    case 1:
      if (!NoComp) return {CopyOptionsGzip, ".gz"};
      if (SameText(Extension, "gz")) return {CopyOptionsGzip, ".gz", TZCompressionLevel::zcNone};
      return {CopyOptionsPlain, ""};
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
      Device = Status.Identity.Volume;
      if (Nearest != nullptr) *Nearest = P;
      return true;
    }
    const std::string Parent = ExtractFileDir(P);
    if ((E != ErrFileNotFound && E != ErrPathNotFound) || Parent.empty() || Parent == P) return false;
    P = Parent;
  }
}

const TFileHandle* TBackupThread::TOpenFolder::For(const std::string& Dir) {
  if (Dir != Path || !Handle.Valid()) {
    Path.clear();
    if (OpenFileHandle(Dir, ofDirectory, 0, Handle) != 0) return nullptr;
    Path = Dir;
  }
  return &Handle;
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
        if (FOnStringMsg && !Out.Text.empty()) {
          const std::string Line =
              TimedEntryLine(FTimeText ? FTimeText() : std::string(), EntryIndex(FId), Out.Text);
          FOnStringMsg(Out.Destination ? DestinationLine(Line) : Line);
        }
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

bool TBackupThread::IsTemporaryName(std::string_view Name) {
  if (Name.size() != TemporaryStart.size() + TemporaryDigits + TemporaryEnd.size() ||
      !Name.starts_with(TemporaryStart) || !Name.ends_with(TemporaryEnd))
    return false;
  const std::string_view Digits = Name.substr(TemporaryStart.size(), TemporaryDigits);
  return std::all_of(Digits.begin(), Digits.end(),
                     [](char C) { return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'); });
}

std::string TBackupThread::TemporaryNameIn(const std::string& Dir) {
  static constexpr char Hex[] = "0123456789abcdef";
  std::string Name(TemporaryStart);
  std::uint64_t Bits = FRandom();
  for (std::size_t I = 0; I < TemporaryDigits; ++I, Bits >>= 4) Name += Hex[Bits & 15];
  return JoinPath(Dir, Name + std::string(TemporaryEnd));
}

TBackupCopyKind TBackupThread::KindOf(std::string_view Name) const {
  const std::string Extension = GetExtension(Name);
  return BackupCopyKind(FCompress, FNoCompList.Contains(Extension), Extension);
}

TBackupThread::TDestFolder& TBackupThread::PrepareFolder(const std::string& Dir, const std::string& SourceDir) {
  auto [It, New] = FFolders.try_emplace(Dir);
  TDestFolder& Folder = It->second;
  if (Folder.Exists) return Folder;
  if (New) NoteDirectoriesOf(Dir);
  TFileStatus Status;
  if (PathStatus(Dir, true, Status) == 0) {
    // Met for the first time: what an interrupted run left in it is listed
    // once; a folder made by this run holds nothing of the kind.
    if (New) {
      std::vector<std::string> Short;
      WalkDirectoryTree(
          Dir,
          [&](const TDirWalkEntry& Entry) {
            if (Entry.Kind != dekFile) return dwvContinue;
            if (IsTemporaryName(Entry.RelPath))
              Short.push_back(Entry.RelPath);
            else if (Entry.RelPath.find(".tmp") != std::string::npos)
              Folder.TemporaryNames.push_back(Entry.RelPath);
            return dwvContinue;
          },
          TDirWalkOptions{false, false});
      // A short name says nothing of its file, and another worker on this
      // destination may be writing it: only one unchanged for long goes. A
      // name that a source file beside it has is that file's copy.
      const TFileTime Stale =
          FileTimeOfUnixEpoch +
          std::chrono::duration_cast<std::chrono::duration<TFileTime, std::ratio<1, FileTimeTicksPerSecond>>>(
              std::chrono::system_clock::now().time_since_epoch() - StaleTemporaryAge)
              .count();
      for (const std::string& Name : Short) {
        TFileStatus Left;
        const std::string Path = JoinPath(Dir, Name);
        if (PathStatus(Path, false, Left) == 0 && Left.Kind == TFileKind::fkRegular && Left.ChangeTime < Stale &&
            !XlFileExists(JoinPath(SourceDir, Name), false))
          XlDeleteFile(Path, true);
      }
    }
  } else {
    XlForceDirectories(Dir);  // a failure shows as the copy's error, and the next file tries again
    if (PathStatus(Dir, true, Status) != 0) return Folder;
  }
  Folder.Exists = true;
  Folder.FlushedWithBatch = FBatchFlush && Status.Identity.Volume == FDestDevice;
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

int TBackupThread::CheckNames(TBatchFile& File, const TBackupCopyKind& Kind) {
  const std::string Final = File.Target + std::string(Kind.Suffix);
  const std::string DestDir = ExtractFileDir(Final);
  const TFileHandle* Folder = FCopyFolder.For(DestDir);
  const int Action = CopyActionOf(Kind.Options);
  const auto Fail = [&](int Number, std::string Reason) {
    File.Reason = std::move(Reason);
    File.NoRetry = true;
    return Action | ceError | Number;
  };
  TFileStatus Status;
  const int E = PathStatusIn(Folder, Final, false, Status);
  if (E == ErrFilenameExcedRange)
    return Fail(cnPathTooLong, Tr("the name of its copy is longer than the destination's file system allows"));
  // Only a copy that is replaced makes versions.
  if (E != 0 || FRetain == 0) return 0;
  if (PathStatusIn(Folder, VersionName(File.Target, 1, Kind.Suffix), false, Status) == ErrFilenameExcedRange)
    return Fail(cnPathTooLong, Tr("the name of its previous version is longer than the destination's file system "
                                  "allows: its copy and versions are kept as they are"));

  // A source file named as a version of another ("r.bak-1.txt" beside
  // "r.txt") has a copy of the same name as that version: neither may take
  // the place of the other. The kind of a copy depends on its extension
  // alone, so the names meet when the two sources' names do.
  const std::string SourceDir = ExtractFileDir(File.Source);
  const std::string Name = ExtractFileName(File.Source);
  for (int N = 1; N <= FRetain; ++N) {
    const std::string Tag = ".bak-" + std::to_string(N);
    const std::string Other = InsertBeforeExtension(Name, Tag);
    if (KindOf(Other).Suffix == Kind.Suffix && PathStatus(JoinPath(SourceDir, Other), false, Status) == 0)
      return Fail(cnFileExists,
                  SafeFormat(Tr("its previous version would take the name of the copy of \"%s\": nothing is "
                                "replaced; rename one of the two files"),
                             EscapeControls(Other)));
    // The copy of this file may be the version of another, made before
    // this file was there. A gzip or zip copy tells whose it is; a plain
    // copy cannot.
    for (std::size_t At = Name.find(Tag); At != std::string::npos; At = Name.find(Tag, At + 1)) {
      std::string Base = Name;
      Base.erase(At, Tag.size());
      if (Base.empty() || InsertBeforeExtension(Base, Tag) != Name || KindOf(Base).Suffix != Kind.Suffix ||
          PathStatusIn(Folder, JoinPath(DestDir, Base) + std::string(Kind.Suffix), false, Status) != 0 ||
          CopyRecordsSourceName(Final, Kind.Options, File.Source))
        continue;
      return Fail(cnFileExists,
                  SafeFormat(Tr("its copy would take the place of previous version %d of \"%s\": nothing is "
                                "replaced; rename one of the two files"),
                             N, EscapeControls(Base)));
    }
  }
  return 0;
}

int TBackupThread::ReplaceTarget(const TBatchFile& File, int& Moved, std::string& Reason, bool& NoRetry) {
  const std::string Final = File.Target + std::string(File.Suffix);
  const std::string DirName = ExtractFileDir(Final);
  const TFileHandle* Dir = FRenameFolder.For(DirName);
  // A step of the rotation and how it is undone: the name Now given back
  // to Was, or the link Now removed.
  struct TDone {
    std::string Now, Was;
    bool Link;
  };
  std::vector<TDone> Done;
  // Versions that give way: put aside until the new copy has its name.
  std::vector<std::string> Aside;
  int E = 0;
  bool Linked = false;
  TFileStatus Status;
  const bool HasCurrent = FRetain > 0 && PathStatusIn(Dir, Final, false, Status) == 0;
  // Version N-1 moves up to N, from the oldest kept down; the current copy
  // becomes version 1.
  for (int N = HasCurrent ? FRetain : 0; N >= 1 && E == 0; --N) {
    const std::string Older = VersionName(File.Target, N, File.Suffix);
    const std::string Newer = N > 1 ? VersionName(File.Target, N - 1, File.Suffix) : Final;
    if (N > 1 && (PathStatus(Newer, false, Status) != 0 || Status.Kind == TFileKind::fkDirectory)) continue;
    if (PathStatus(Older, false, Status) == 0) {
      // A folder of that name is nothing this worker made.
      if (Status.Kind == TFileKind::fkDirectory) {
        E = ErrAlreadyExists;
        break;
      }
      const std::string Away = TemporaryNameIn(DirName);
      E = XlRenameFile(Older, Away);
      if (E != 0) break;
      Done.push_back({Away, Older, false});
      Aside.push_back(Away);
    }
    if (N > 1) {
      E = XlRenameFile(Newer, Older);
      if (E == 0) Done.push_back({Older, Newer, false});
    } else {
      // The current copy keeps its name until the new one takes it.
      E = MakeHardLink(Final, Older);
      Linked = E == 0;
      if (E == ErrNotSupported) E = XlRenameFile(Final, Older);
      if (E == 0) Done.push_back({Older, Final, Linked});
    }
    if (E == 0) ++Moved;
  }
  int Code = 0;
  if (E != 0) {
    Code = CopyActionOf(File.Options) | ceError | (E == ErrFilenameExcedRange ? cnPathTooLong : cnRenameFile);
  } else {
    if (FStepHook) FStepHook(TStep::stBeforeReplace, FIndex);
    // Without versions, or with the current copy linked as version 1, the
    // new copy replaces the current one in one step; otherwise the name is
    // free. The copy has its source's attributes already: the job set them
    // on the open file, from the very file it read.
    if (Linked || FRetain == 0)
      E = Dir != nullptr && ExtractFileDir(File.Temp) == DirName
              ? RenameReplacing(*Dir, ExtractFileName(File.Temp), ExtractFileName(Final))
              : RenameReplacing(File.Temp, Final);
    else
      E = XlRenameFile(File.Temp, Final);
    if (E != 0) Code = BackupRenameErrorCode;
  }
  if (Code == 0) {
    for (const std::string& Name : Aside) XlDeleteFile(Name, true);
    return 0;
  }
  // Nothing of the rotation stays: the current copy and its versions keep
  // their names, and no version is counted that does not exist.
  bool Undone = true;
  for (auto It = Done.rbegin(); It != Done.rend(); ++It)
    if ((It->Link ? UnlinkPath(It->Now) : XlRenameFile(It->Now, It->Was)) != 0) Undone = false;
  XlDeleteFile(File.Temp, true);
  Moved = 0;
  NoRetry = E == ErrFilenameExcedRange;
  Reason = PlatformErrorText(E) + ": " +
           (Undone ? Tr("the copy and its versions are kept as they were")
                   : Tr("its previous versions could not all be given back their names"));
  return Code;
}

TBackupThread::TBatchFile TBackupThread::CopyToTemporary(std::size_t Index, const std::string& Source,
                                                         const std::string& Target, const TBackupCopyKind& Kind,
                                                         std::stop_token Stop, bool& Stopped) {
  const std::string Final = Target + std::string(Kind.Suffix);
  const std::string DestDir = ExtractFileDir(Final);
  TDestFolder& Folder = PrepareFolder(DestDir, ExtractFileDir(Source));
  RemoveLeftovers(Folder, Source, Final);

  // Nothing is written for a file whose current copy is the file as it is.
  const TCurrentCopyQuery Query{Source, Final, Kind.Options, FSourceFolder.For(ExtractFileDir(Source)),
                                FCopyFolder.For(ExtractFileDir(Final))};
  const TCurrentCopy Current = CompareWithCurrentCopy(Query, FCompareBuffer, Stop);
  Stopped = Current == TCurrentCopy::ccStopped;
  if (Current != TCurrentCopy::ccDifferent)
    return {Index, Source, Target, {}, Kind.Suffix, Kind.Options, 0, 0, true};
  TBatchFile File{Index, Source, Target, {}, Kind.Suffix, Kind.Options, 0, 0};
  File.ErrorCode = CheckNames(File, Kind);
  if (File.ErrorCode != 0) return File;

  // A copy that its batch's flush does not reach is flushed by the job
  // (coNoCache) before it is closed.
  TCopyOptions Options = Kind.Options;
  if (FFlush && !Folder.FlushedWithBatch) Options |= coNoCache;
  TCopyRequest Request(Source, TemporaryNameIn(DestDir), Options);
  Request.CompressionLevel = Kind.Level;
  // The first free temporary name: the job creates it exclusively, so that
  // a name taken meanwhile is never written into.
  Request.NewDestination = true;
  Request.WriteBehind = FFlush;
  Request.SourceFolder = FSourceFolder.For(ExtractFileDir(Source));
  Request.DestFolder = FCopyFolder.For(DestDir);
  Request.OnSourceOpened = [this](std::int64_t Size) {
    // The files before a large one do not wait for its copy: they are
    // flushed and named first, and it is a batch of its own.
    if (FBatch.empty()) return;
    if (Size >= MaxBatchBytes)
      FinishBatch();
    else if (FBatchBytes + Size > MaxBatchBytes)
      StartBatchFlush();
  };
  TCopyResult Result = FJob.Run(Request, Stop);
  for (int N = 1; Result.DestNameTaken && N < MaxTemporaryTries; ++N) {
    Request.DestName = TemporaryNameIn(DestDir);
    Result = FJob.Run(Request, Stop);
  }
  File.Temp = std::move(Request.DestName);
  File.ErrorCode = Result.ErrorCode;
  File.Size = Result.SourceSize;
  if (Result.ErrorCode != 0) {
    if (!Result.DestNameTaken) XlDeleteFile(File.Temp, true);
    Stopped = Stop.stop_requested();
    const int Number = Result.ErrorCode & CopyNumberMask;
    if (Number == cnOpenFile || Number == cnFileNotFound)
      File.Reason = WhyNoFile(Source, File.NoRetry);
    if (File.Reason.empty()) File.Reason = std::move(Result.SysErrorMsg);
  }
  return File;
}

bool TBackupThread::BatchFull() const {
  return FBatch.size() >= MaxBatchFiles || std::chrono::steady_clock::now() - FBatchStart >= MaxBatchTime;
}

void TBackupThread::StartBatchFlush() {
  CompleteFlushedBatch();
  if (FBatch.empty()) return;
  // A destination that has gone may now lead to the folder below its mount
  // point: nothing of the batch is renamed or removed there.
  const int Overlapped = std::exchange(FOverlappedFlushError, 0);
  const int Early = DestinationStillThere() ? Overlapped : ErrPathNotFound;
  // A batch of files that were all up to date wrote nothing to flush.
  FFlushRan = Early == 0 && FBatchFlush &&
              std::any_of(FBatch.begin(), FBatch.end(), [](const TBatchFile& File) { return !File.UpToDate; });
  if (FFlushRan)
    FFlushResult = std::async(std::launch::async, [this] { return FDestRoot.SyncFileSystem(); });
  else {
    std::promise<int> Known;
    Known.set_value(Early);
    FFlushResult = Known.get_future();
  }
  FFlushing = std::move(FBatch);
  FBatch.clear();
  FBatchBytes = 0;
}

void TBackupThread::CompleteFlushedBatch() {
  if (!FFlushResult.valid()) return;
  int FlushError = FFlushResult.get();
  const bool There = DestinationStillThere();
  if (!There) FlushError = ErrPathNotFound;
  // The error may have been one of the writes of the files copied while the
  // flush ran, and no later flush reports it again: they fail with it.
  if (FlushError != 0 && FFlushRan && !FBatch.empty()) FOverlappedFlushError = FlushError;
  if (FStepHook) FStepHook(TStep::stAfterBatchFlush, FFlushing.back().Index);

  for (const TBatchFile& File : FFlushing) {
    FIndex = File.Index;
    if (File.UpToDate) {
      // Nothing of it was written: whatever the flush met was not its.
      FResults.push_back({FFileList[File.Index], 0, true, true});
      FLines.push_back({std::string(), FResults.size() - 1});
      continue;
    }
    int E = File.ErrorCode;
    int Moved = 0;
    std::string Reason;
    bool NoRetry = false;
    if (E != 0) {
      Reason = File.Reason;
      NoRetry = File.NoRetry;
    } else if (FlushError != 0) {
      // The copy may not have reached the disk: it is not taken. A flush
      // that failed has no reason of the file's.
      if (There) XlDeleteFile(File.Temp, true);
      E = CopyActionOf(File.Options) | (FlushError == ErrDiskFull ? cjLowDiskSpace : cjWriteFile);
    } else {
      E = ReplaceTarget(File, Moved, Reason, NoRetry);
    }
    FResults.push_back({FFileList[File.Index], E, E == 0 || (!NoRetry && XlFileExists(File.Source, true))});
    // A name may hold line breaks: shown, not obeyed, in the line.
    std::string Line = EscapeControls(File.Source) + " => " + EscapeControls(FDest);
    if (Moved > 0) Line += " (+" + std::to_string(Moved) + ")";
    if (E != 0)
      Line = WithErrorLine(Line, Reason.empty() ? GetCopyErrorText(E)
                                                : GetCopyErrorText(E) + ": " + EscapeControls(Reason));
    FLines.push_back({std::move(Line), FResults.size() - 1});
  }
  FFlushing.clear();
  SendLines();
}

void TBackupThread::FinishBatch() {
  StartBatchFlush();
  CompleteFlushedBatch();
}

void TBackupThread::FlushDirectories() {
  // The flush of the whole file system covers every folder on it; a folder
  // elsewhere (a file system mounted below the destination) is flushed on
  // its own.
  const bool Whole = FBatchFlush && DestinationStillThere() && FDestRoot.SyncFileSystem() == 0;
  for (const std::string& Dir : FDirsWritten) {
    TFileStatus Status;
    if ((Whole && PathStatus(Dir, true, Status) == 0 && Status.Identity.Volume == FDestDevice) || SyncDirectory(Dir) == 0)
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
                FDestRoot.Status(Opened) == 0 && Opened.Identity.Volume == FDestDevice &&
                FDestRoot.FileSystemSyncCoversFiles();

  std::size_t Index = 0;
  for (; Index < FFileList.Count(); ++Index) {
    FIndex = Index;
    if (FStepHook) FStepHook(TStep::stBeforeFile, Index);
    if (Stop.stop_requested()) break;
    if (!DestinationStillThere()) {
      FinishBatch();
      FLines.push_back({SafeFormat(Tr("Destination \"%s\" is no longer available: the backup stopped"),
                                   EscapeControls(FDest)),
                        NoResult, true});
      SendLines();
      break;
    }
    const std::string& R = FFileList[Index];
    const std::string S = JoinPath(FBase, R);
    const std::string B = FDrv.empty() ? FDest : JoinPath(FDest, DriveFolderName(FDrv, DrivePart(S)));
    const std::string T = JoinPath(B, PathWithoutDrive(S));
    const std::string Extension = GetExtension(S);
    const TBackupCopyKind Kind = BackupCopyKind(FCompress, FNoCompList.Contains(Extension), Extension);

    // The lines of a flushed batch go out as soon as its flush is over.
    if (FFlushResult.valid() && FFlushResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
      CompleteFlushedBatch();
    if (!FBatch.empty() && BatchFull()) StartBatchFlush();

    bool Stopped = false;
    TBatchFile File = CopyToTemporary(Index, S, T, Kind, Stop, Stopped);
    if (Stopped) break;  // this file stays pending, without a line
    if (FBatch.empty()) FBatchStart = std::chrono::steady_clock::now();
    FBatchBytes += std::max<std::int64_t>(File.Size, 0);
    FBatch.push_back(std::move(File));
    if (FBatchBytes >= MaxBatchBytes) StartBatchFlush();  // a large file alone
  }
  FinishBatch();
  for (; Index < FFileList.Count(); ++Index) FNotDone.push_back(FFileList[Index]);
  if (FFlush) FlushDirectories();

  FFinished.store(true, std::memory_order_release);
  FQueue.Wake();
}

}  // namespace dz
