#include "copyengine/CopyJob.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <span>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/DataLoop.h"
#include "copyengine/GzipFormat.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/Environment.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr std::uint32_t OwnerReadWrite = 0600;

// How often the destination is looked at again when it changes between
// the look and the open (someone else creating, removing or swapping it).
constexpr int DestinationAttempts = 8;

// How much a write-behind copy writes before it starts the disk on it.
constexpr std::int64_t WriteBehindStep = std::int64_t{8} << 20;

// "System error: <text> (0x<code>)". A code recorded as 0x0007xxxx carries a
// plain system code in its low 16 bits.
std::string SysErrorText(std::uint32_t Code) {
  const int Plain = (Code & 0xFFFF0000u) == 0x00070000u ? static_cast<int>(Code & 0xFFFFu) : static_cast<int>(Code);
  return SafeFormat(Tr("System error: %s"), PlatformErrorText(Plain)) + SafeFormat(" (0x%.8x)", Code);
}

// round(Compressed * 1000 / Read), halves to even.
int RatioOf(std::int64_t Compressed, std::int64_t Read) {
  const std::int64_t Scaled = Compressed * 1000;
  std::int64_t Ratio = Scaled / Read;
  const std::int64_t Rest2 = (Scaled % Read) * 2;
  if (Rest2 > Read || (Rest2 == Read && (Ratio & 1) != 0)) ++Ratio;
  return static_cast<int>(std::min<std::int64_t>(Ratio, std::numeric_limits<int>::max()));
}

}  // namespace

std::string DefaultEntryName(const std::string& SourceName) {
  return ExtractFileName(SourceName);
}

int CopyActionOf(TCopyOptions Options) {
  if (Options & coZipCompress) return caZip;
  return (Options & coCompress) ? caGzip : caCopy;
}

// ---------------------------------------------------------------------------
// TPauseGate

bool TPauseGate::Paused() const {
  std::lock_guard Guard(FLock);
  return FPaused;
}

void TPauseGate::SetPaused(bool Value) {
  {
    std::lock_guard Guard(FLock);
    if (FShut || FPaused == Value) return;
    FPaused = Value;
  }
  FSignal.notify_all();
}

void TPauseGate::WaitWhilePaused() const {
  std::unique_lock Guard(FLock);
  FSignal.wait(Guard, [this] { return !FPaused; });
}

void TPauseGate::WaitWhilePaused(std::stop_token Stop) const {
  std::unique_lock Guard(FLock);
  FSignal.wait(Guard, Stop, [this] { return !FPaused; });
}

void TPauseGate::WaitAndShut() {
  std::unique_lock Guard(FLock);
  FSignal.wait(Guard, [this] { return !FPaused; });
  FShut = true;
}

// ---------------------------------------------------------------------------
// TCopyJob

TCopyJob::TCopyJob(int BufSize)
    // A buffer of no bytes would never get through a file.
    : FBufSize(static_cast<std::uint32_t>(BufSize > 0 ? BufSize : CopyThreadBufferSize)),
      // Not zero-filled: for the many small files of a backup, clearing half
      // a megabyte would cost more than the copy itself.
      FBuffer(std::make_unique_for_overwrite<char[]>(FBufSize)) {}

TCopyJob::~TCopyJob() = default;

TCopyResult TCopyJob::Run(const TCopyRequest& Request, std::stop_token Stop) {
  FRequest = &Request;
  FStop = std::move(Stop);
  FSysError = 0;
  FDestNameTaken = false;
  FSourceStatus = TFileStatus();
  FSourceStatus.Size = -1;
  FCrc = 0;
  UTotal = 0;
  CTotal = 0;
  FDeflatePieces = 0;
  int Code;
  try {
    FSysErrMsg.clear();
    SourceNameXL = AddLongPathPrefix(Request.SourceName);
    DestNameXL = AddLongPathPrefix(Request.DestName);
    FName = Request.EntryName.empty() ? DefaultEntryName(Request.SourceName) : Request.EntryName;
    Code = RunSteps();
  } catch (const std::exception& Error) {
    // Whatever escapes a step (a raising progress handler, no memory) still
    // ends the job with a code.
    FSysErrMsg = Error.what();
    Code = cjJobFailed;
  } catch (...) {
    Code = cjJobFailed;
  }
  ReleaseStreams();

  TCopyResult Result;
  if (Has(coCompress) && UTotal > 0) Result.Ratio = RatioOf(CTotal, UTotal);
  Result.SysErrorMsg = FSysError != 0 ? SysErrorText(FSysError) : std::move(FSysErrMsg);
  Result.ErrorCode = Code != 0 ? CopyActionOf(Request.Options) | Code : 0;
  Result.Crc = FCrc;
  Result.DeflatePieces = FDeflatePieces;
  Result.DestNameTaken = FDestNameTaken;
  Result.SourceSize = FSourceStatus.Size;
  FRequest = nullptr;
  FStop = {};
  return Result;
}

int TCopyJob::RunSteps() {
  // A job stopped before it begins touches no file.
  if (StopRequested()) return cjUserBreak;
  if (Has(coZipCompress)) {
    int Code = OpenStreams();
    if (Code == 0) Code = WriteZipFile(Has(coCompress));
    if (Code != 0) {
      ReleaseStreams();
      return Code;
    }
    return FinishCopy(false, Has(coAltStreams), Has(coPermissions));
  }
  if (Has(coCompress)) return WriteGZip();
  return PlainCopy();
}

void TCopyJob::ReleaseStreams() noexcept {
  sSource.reset();
  sDest.reset();
}

void TCopyJob::DoProgress(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit) {
  if (FRequest->OnProgress) FRequest->OnProgress(AAction, ACount, ASpeedLimit);
}

bool TCopyJob::PassPauseGate() {
  if (FRequest->PauseGate != nullptr) FRequest->PauseGate->WaitWhilePaused(FStop);
  return !StopRequested();
}

bool TCopyJob::SetSysError(int Error) {
  if (Error == 0) return false;
  const auto Code = static_cast<std::uint32_t>(Error);
  // A plain system code is recorded in the facility form; codes that carry
  // more than 16 bits (an errno without Windows number) stay as they are.
  if ((Code & 0x07FF0000u) == 0 && (Code & static_cast<std::uint32_t>(ErrErrnoFlag)) == 0)
    FSysError = 0x00070000u | (Code & 0xFFFFu);
  else
    FSysError = Code;
  return true;
}

int TCopyJob::CreateFailed(int Error) {
  FSysErrMsg = SafeFormat(Tr("Cannot create file \"%s\". %s"), FRequest->DestName, PlatformErrorText(Error));
  return cjCreateFile;
}

int TCopyJob::ZlibLevel() const {
  switch (FRequest->CompressionLevel) {
    case TZCompressionLevel::zcNone:
      return Z_NO_COMPRESSION;
    case TZCompressionLevel::zcFastest:
      return Z_BEST_SPEED;
    case TZCompressionLevel::zcMax:
      return Z_BEST_COMPRESSION;
    case TZCompressionLevel::zcDefault:
      break;
  }
  return Z_DEFAULT_COMPRESSION;
}

int TCopyJob::OpenStreams() {
  // The source first: all the job records of it comes from the open file, so
  // a name given to another file meanwhile cannot mix two files.
  int OpenError = 0;
  std::string OpenMessage;
  if (FRequest->SourceFolder != nullptr) {
    TFileHandle Handle;
    OpenError = OpenFileHandle(FRequest->SourceFolder, ExtractFileName(SourceNameXL), ofRead, 0, Handle);
    if (OpenError == 0)
      sSource = std::make_unique<TExtFileStream>(SourceNameXL, std::move(Handle));
    else
      OpenMessage = EExtFileStreamError::CreateResFmt("Cannot open file \"%s\". %s",
                                                      {AbsolutePath(SourceNameXL), PlatformErrorText(OpenError)},
                                                      OpenError)
                        .what();
  } else {
    try {
      sSource = std::make_unique<TExtFileStream>(SourceNameXL, fmOpenRead | fmShareDenyNone);
    } catch (const EExtFileStreamError& Error) {
      OpenError = Error.ErrorCode;
      OpenMessage = Error.what();
    }
  }
  if (OpenError == ErrFileNotFound || OpenError == ErrPathNotFound) return cjFileNotFound;
  if (FRequest->DestName.empty()) return cjCreateFile;
  if (OpenError != 0) {
    FSysErrMsg = std::move(OpenMessage);
    return cjOpenFile;
  }
  // Only a regular file has an end: a device or a FIFO would be read forever
  // or wait forever for a writer.
  const int StatusError = sSource->OpenedStatus(FSourceStatus);
  if (StatusError != 0 || FSourceStatus.Kind != TFileKind::fkRegular) {
    SetSysError(StatusError != 0 ? StatusError : ErrInvalidFunction);
    return cjOpenFile;
  }
  SourceFileData = TFileData();
  SourceFileData.FileName = DefaultEntryName(FRequest->SourceName);
  SourceFileData.FileSize = FSourceStatus.Size;
  SourceFileData.FileAttr = static_cast<std::uint32_t>(FileStatusAttr(FSourceStatus, SourceNameXL));
  SourceFileData.TimeStamps = {true, FSourceStatus.CreationTime, FSourceStatus.LastAccessTime,
                               FSourceStatus.LastWriteTime};
  if (FRequest->OnSourceOpened) FRequest->OnSourceOpened(FSourceStatus.Size);
  return OpenDestination(FSourceStatus);
}

int TCopyJob::OpenDestination(const TFileStatus& Source) {
  // A new copy is never readable by more people than the source while it is
  // being written (and when a failure leaves it behind); FinishCopy gives it
  // the source's exact permissions.
  const std::uint32_t Rights = (PosixMode(Source) & 0777u) | OwnerReadWrite;
  int Error = ErrSharingViolation;  // what is left when the name keeps changing
  if (FRequest->NewDestination) {
    TFileHandle Handle;
    Error = FRequest->DestFolder != nullptr
                ? OpenFileHandle(FRequest->DestFolder, ExtractFileName(DestNameXL), ofRead | ofWrite | ofCreate | ofCreateNew,
                                 Rights, Handle)
                : OpenFileHandle(DestNameXL, ofRead | ofWrite | ofCreate | ofCreateNew, Rights, Handle);
    if (Error == 0) return AdoptDestination(Handle, false);
    FDestNameTaken = Error == ErrAlreadyExists;
    return CreateFailed(Error);
  }
  for (int Attempt = 0; Attempt < DestinationAttempts; ++Attempt) {
    TFileStatus Found;
    const int LookError = PathStatus(DestNameXL, false, Found);
    if (LookError == ErrFileNotFound) {
      // A new file: an exclusive create never follows a link and never opens
      // what someone else has made meanwhile.
      TFileHandle Handle;
      Error = OpenFileHandle(DestNameXL, ofRead | ofWrite | ofCreate | ofCreateNew, Rights, Handle);
      if (Error == ErrAlreadyExists) continue;
      if (Error != 0) break;
      return AdoptDestination(Handle, false);
    }
    if (LookError != 0) {
      Error = LookError;
      break;
    }
    TFileStatus Target;
    if (SameFileStatus(Found, Source) || (Found.Kind == TFileKind::fkSymLink &&
                                          PathStatus(DestNameXL, true, Target) == 0 && SameFileStatus(Target, Source)))
      return cjDestIsSource;
    if (Found.Kind == TFileKind::fkOther) return cjDestNotAFile;
    if (!Has(coOverwrite)) {
      Error = ErrAlreadyExists;
      break;
    }
    if (Found.Kind == TFileKind::fkSymLink) {
      // The link itself gives way to the copy; what it points to is none of
      // the job's business.
      Error = UnlinkPath(DestNameXL);
      if (Error != 0 && Error != ErrFileNotFound) break;
      continue;
    }
    // An existing file (or folder, which cannot be opened for writing): opened
    // without truncating, checked, and only then emptied.
    TFileHandle Handle;
    Error = OpenFileHandle(DestNameXL, ofRead | ofWrite | ofNoFollow, 0, Handle);
    if (Error == ErrAccessDenied && Found.Kind == TFileKind::fkRegular) {
      if (const int Code = ResetReadOnlyDestination(Found)) return Code;
      continue;
    }
    // Gone or become a link since it was looked at: look again.
    if (Error == ErrFileNotFound || Error == ErrCantResolveFilename) continue;
    if (Error != 0) break;
    TFileStatus Opened;
    Error = Handle.Status(Opened);
    if (Error != 0) break;
    if (SameFileStatus(Opened, Source)) return cjDestIsSource;
    if (!SameFileStatus(Opened, Found) || Opened.Kind != TFileKind::fkRegular) continue;
    // The read-only attribute goes before the file is overwritten (root could
    // open it anyway).
    if (Opened.ReadOnly && SetSysError(Handle.ClearReadOnly(Opened)))
      return cjResetAttributes;
    return AdoptDestination(Handle, true);
  }
  return CreateFailed(Error);
}

int TCopyJob::ResetReadOnlyDestination(const TFileStatus& Found) {
  // Through a handle of the very file that was looked at, never a link or
  // anything put in its place since.
  TFileHandle Probe;
  int Error = OpenFileHandle(DestNameXL, ofStatusOnly | ofNoFollow, 0, Probe);
  TFileStatus Status;
  if (Error == 0) Error = Probe.Status(Status);
  if (Error == ErrFileNotFound || (Error == 0 && !SameFileStatus(Status, Found))) return 0;  // the caller looks again
  if (Error == 0 && !Status.ReadOnly) return CreateFailed(ErrAccessDenied);  // not read-only: denied otherwise
  if (Error == 0) Error = Probe.ClearReadOnly(Status);
  return SetSysError(Error) ? cjResetAttributes : 0;
}

int TCopyJob::AdoptDestination(TFileHandle& Handle, bool Truncate) {
  // Held until the file is closed. A file system without locks lets the job
  // go on unlocked: only another job's lock stops it.
  const int LockError = Handle.LockExclusive();
  if (LockError == ErrSharingViolation) {
    SetSysError(LockError);
    return cjCreateFile;
  }
  if (Truncate) {
    if (const int Error = Handle.Truncate(0)) return CreateFailed(Error);
  }
  sDest = std::make_unique<TExtFileStream>(DestNameXL, std::move(Handle));
  return 0;
}

int TCopyJob::CopyData(TExtFileStream& Source, TExtFileStream* Dest, std::int64_t Length, bool SpeedLimit) {
  TDataPassHooks Hooks;
  Hooks.BeforeBlock = [this] { return PassPauseGate(); };
  Hooks.BlockRead = [this, Dest, SpeedLimit](std::int64_t Done) {
    try {
      DoProgress(Dest != nullptr ? TFileAction::acCopy : TFileAction::acPrepare, Done, SpeedLimit);
    } catch (const std::exception& Error) {
      FSysErrMsg = Error.what();
      return cjReadFile;
    }
    return 0;
  };
  Hooks.StopRequested = [this] { return StopRequested(); };
  std::int64_t Started = 0;  // written bytes whose writeback has started
  if (Dest != nullptr && FRequest->WriteBehind)
    Hooks.BlockWritten = [this, Dest, &Started](std::int64_t Written) { WriteBehind(*Dest, Written, Started); };
  TDataPassTotals Totals{FCrc, UTotal, 0};
  const int Code = RunDataPass(Source, Dest, std::span<char>(FBuffer.get(), FBufSize), Length, Hooks, Totals);
  SetSysError(Totals.SysError);
  FCrc = Totals.Crc;
  UTotal = Totals.Done;
  CTotal = UTotal;
  return Code;
}

void TCopyJob::WriteBehind(TExtFileStream& Dest, std::int64_t Written, std::int64_t& Started) {
  if (!FRequest->WriteBehind || Written - Started < WriteBehindStep) return;
  Dest.StartWriteback(Started, Written - Started);
  Started = Written;
}

int TCopyJob::PlainCopy() {
  int Code = OpenStreams();
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  // The copy holds exactly as many bytes as the source had when it was
  // opened.
  const std::int64_t Size = FSourceStatus.Size;
  DoProgress(TFileAction::acCopy, -Size, false);
  Code = CopyData(*sSource, sDest.get(), Size, true);
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  return FinishCopy(Has(coStorage), Has(coAltStreams), Has(coPermissions));
}

int TCopyJob::FinishCopy(bool Storage, bool AltStreams, bool Permissions) {
  int Code = 0;
  if (Has(coVerify | coNoCache) && SetSysError(sDest->Flush())) Code = cjWriteFile;
  // Not on the backup path; these go by name.
  if (Code == 0 && AltStreams && SetSysError(CopyAlternateStreams(SourceNameXL, DestNameXL))) Code = cjAltStreams;
  if (Code == 0 && Storage) {
    // Linux files have no document summary: nothing to copy.
    TFileSummary Summary;
    int Error = ReadFileSummary(SourceNameXL, Summary);
    if (Error == 0) Error = WriteFileSummary(DestNameXL, Summary);
    if (Error != ErrCallNotImplemented && SetSysError(Error)) Code = cjDocumentSummary;
  }
  if (Code == 0 && Permissions && SetSysError(CopyFileSecurity(SourceNameXL, DestNameXL))) Code = cjPermissions;
  // Time stamp and attributes go to the open file, never through its name,
  // where a link may have been put meanwhile.
  if (Code == 0 && Has(coTimeStamp) &&
      SetSysError(sDest->SetTimestamps(SourceFileData.TimeStamps, Has(coCheckTime), Has(coCreationTime))))
    Code = cjSetTimestamp;
  if (Code == 0 && Has(coAttributes)) {
    // The Windows bits and, on Linux, the permission bits carried above them.
    int Attr = static_cast<int>(SourceFileData.FileAttr) & (faWindowsMask | faModeMask | faModePresent);
    if (Has(coResetArchive)) Attr &= ~faArchive;
    TFileStatus Status;
    int Error = sDest->Status(Status);
    if (Error == 0 && FileStatusAttr(Status, DestNameXL) != Attr) Error = sDest->SetAttr(Attr);
    if (SetSysError(Error)) Code = cjSetAttributes;
  }
  // Network file systems and quotas may refuse the data only when the file
  // is closed; a copy that did not arrive is no success, whatever else
  // failed before.
  const int CloseError = sDest->Close();
  if (SetSysError(CloseError)) Code = WriteFailureCode(CloseError);
  ReleaseStreams();
  return Code;
}

}  // namespace dz
