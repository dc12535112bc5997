#include "copyengine/CopyThread.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <limits>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "copyengine/CopyJobCodes.h"
#include "filesys/ErrorTexts.h"
#include "filesys/PathUtils.h"
#include "filesys/XlFileUtils.h"
#include "platform/SysError.h"

namespace dz {

namespace {

// Flags of the destination's open mode, kept in the Windows form.
constexpr std::uint32_t WriteModeSequential = 0x08000000;
constexpr std::uint32_t WriteModeWriteThrough = 0x80000000;

std::string NamePart(const std::string& Path) {
  const std::string Delimiters = NativePathStyle.HasDrives ? std::string{PathDelimiter, ':'} : std::string{PathDelimiter};
  const std::size_t Cut = Path.find_last_of(Delimiters);
  return Cut == std::string::npos ? Path : Path.substr(Cut + 1);
}

// "System error: <text> (0x<code>)". A code recorded as 0x0007xxxx carries a
// plain system code in its low 16 bits.
std::string SysErrorText(std::uint32_t Code) {
  const int Plain = (Code & 0xFFFF0000u) == 0x00070000u ? static_cast<int>(Code & 0xFFFFu) : static_cast<int>(Code);
  return SafeFormat(Tr("System error: %s"), PlatformErrorText(Plain)) + SafeFormat(" (0x%.8x)", Code);
}

}  // namespace

// ---------------------------------------------------------------------------
// TCopyThread

TCopyThread::TCopyThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend, int ABufSize,
                         TThreadPriority APriority)
    : TCopyThread(TDeferStart{}, ASourceName, ADestName, ABufSize, APriority) {
  if (!ASuspend) Start();
}

TCopyThread::TCopyThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
                         TThreadPriority APriority)
    : SourceName(ASourceName),
      DestName(ADestName),
      SourceNameXL(AddLongPathPrefix(ASourceName)),
      DestNameXL(AddLongPathPrefix(ADestName)),
      // A buffer of no bytes would never get through a file.
      FBufSize(static_cast<std::uint32_t>(ABufSize > 0 ? ABufSize : CopyThreadBufferSize)),
      FPriority(APriority) {
  // Not zero-filled: for the many small files of a backup, clearing half a
  // megabyte would cost more than the copy itself.
  FBuffer = std::make_unique_for_overwrite<char[]>(FBufSize);
}

TCopyThread::~TCopyThread() {
  StopAndJoin();
}

void TCopyThread::StopAndJoin() noexcept {
  if (!FThread.joinable()) return;
  if (!Done()) {
    FUserBreak.store(true, std::memory_order_relaxed);
    {
      std::lock_guard Guard(FLock);
      FPaused = false;
    }
    FSignal.notify_all();
  }
  FThread.join();
}

void TCopyThread::Start() {
  if (FStarted.exchange(true)) return;
  try {
    FThread = std::thread(&TCopyThread::ThreadBody, this);
  } catch (const std::exception& Error) {
    // No thread: the job ends here, so that a waiting owner is not left
    // waiting for one that never runs.
    SetSysErrorMsg(Error.what());
    FError.store(FErrFlag | cjJobFailed, std::memory_order_relaxed);
    Terminate();
  }
}

void TCopyThread::ThreadBody() noexcept {
  try {
    Execute();
  } catch (const std::exception& Error) {
    try {
      SetSysErrorMsg(Error.what());
    } catch (...) {
    }
  } catch (...) {
  }
  if (Done()) return;
  // The job ended without a result: whatever escaped it still ends it, with
  // the streams closed and through the pause gate.
  ReleaseStreams();
  try {
    DoneThread(cjJobFailed);
  } catch (...) {
  }
  if (!Done()) {
    FError.store(FErrFlag | cjJobFailed, std::memory_order_relaxed);
    Terminate();
  }
}

void TCopyThread::Terminate() noexcept {
  FCrc.store(FCrcValue, std::memory_order_relaxed);
  {
    std::lock_guard Guard(FLock);
    FDone.store(true, std::memory_order_release);
  }
  FSignal.notify_all();
  // A thread that processes the queue while it waits for Done looks again.
  if (FSyncQueue != nullptr) FSyncQueue->Wake();
}

void TCopyThread::Wait() const {
  std::unique_lock Guard(FLock);
  FSignal.wait(Guard, [this] { return Done(); });
}

bool TCopyThread::Wait(std::chrono::milliseconds Timeout) const {
  std::unique_lock Guard(FLock);
  return FSignal.wait_for(Guard, Timeout, [this] { return Done(); });
}

std::string TCopyThread::SysErrorMsg() const {
  std::lock_guard Guard(FLock);
  return FSysErrMsg;
}

void TCopyThread::SetSysErrorMsg(const std::string& Message) {
  std::lock_guard Guard(FLock);
  FSysErrMsg = Message;
}

bool TCopyThread::Paused() const {
  std::lock_guard Guard(FLock);
  return FPaused;
}

void TCopyThread::SetPaused(bool Value) {
  {
    std::lock_guard Guard(FLock);
    if (Done() || FPaused == Value) return;
    FPaused = Value;
  }
  FSignal.notify_all();
}

void TCopyThread::WaitWhilePaused() {
  std::unique_lock Guard(FLock);
  FSignal.wait(Guard, [this] { return !FPaused; });
}

void TCopyThread::CancelThread() {
  FUserBreak.store(true, std::memory_order_relaxed);
}

void TCopyThread::SetNoWriteCache(bool Value) {
  FWriteMode = Value ? (WriteModeWriteThrough | WriteModeSequential) : WriteModeSequential;
}

void TCopyThread::ReleaseStreams() noexcept {
  sSource.reset();
  sDest.reset();
}

int TCopyThread::ZlibLevel() const {
  switch (FCompLevel) {
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

bool TCopyThread::SetSysError(int Error) {
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

void TCopyThread::DoProgress(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit) {
  if (!OnProgress) return;
  if (FSyncQueue == nullptr) {
    OnProgress(AAction, ACount, ASpeedLimit);
    return;
  }
  std::exception_ptr Failure;
  FSyncQueue->Send([&] {
    try {
      OnProgress(AAction, ACount, ASpeedLimit);
    } catch (...) {
      Failure = std::current_exception();
    }
  });
  if (Failure) std::rethrow_exception(Failure);
}

void TCopyThread::Execute() {
  DoneThread(PlainCopy());
}

void TCopyThread::DoneThread(int Code) {
  WaitWhilePaused();
  if (FCompress && UTotal > 0) {
    // round(CTotal * 1000 / UTotal), halves to even
    const std::int64_t Scaled = CTotal * 1000;
    std::int64_t Ratio = Scaled / UTotal;
    const std::int64_t Rest2 = (Scaled % UTotal) * 2;
    if (Rest2 > UTotal || (Rest2 == UTotal && (Ratio & 1) != 0)) ++Ratio;
    FRatio.store(static_cast<int>(std::min<std::int64_t>(Ratio, std::numeric_limits<int>::max())),
                 std::memory_order_relaxed);
  }
  if (FSysError != 0) SetSysErrorMsg(SysErrorText(FSysError));
  if (Code != 0) FError.store(FErrFlag | Code, std::memory_order_relaxed);
  Terminate();
}

int TCopyThread::OpenStreams() {
  if (!GetFileData(SourceNameXL, SourceFileData)) return cjFileNotFound;
  if (DestName.empty()) return cjCreateFile;
  try {
    sSource = std::make_unique<TExtFileStream>(SourceNameXL, fmOpenRead | fmShareDenyNone);
  } catch (const EExtFileStreamError& Error) {
    SetSysErrorMsg(Error.what());
    return cjOpenFile;
  }
  // Only a regular file has an end: a device or a FIFO would be read forever
  // or wait forever for a writer. Checked on the open file, so that the name
  // cannot be swapped in between.
  TFileStatus Status;
  const int StatusError = sSource->Status(Status);
  if (StatusError != 0 || Status.Kind != TFileKind::fkRegular) {
    SetSysError(StatusError != 0 ? StatusError : ErrInvalidFunction);
    return cjOpenFile;
  }
  if (FOverwrite && XlFileExists(DestNameXL, false) && SetSysError(XlFileSetAttr(DestNameXL, faArchive)))
    return cjResetAttributes;
  // A new copy is never readable by more people than the source while it is
  // being written (and when a failure leaves it behind); FinishCopy gives it
  // the source's exact permissions.
  std::uint32_t Rights = 0;
  if (AttrHasMode(static_cast<int>(SourceFileData.FileAttr)))
    Rights = (AttrMode(static_cast<int>(SourceFileData.FileAttr)) & 0777u) | 0600u;
  try {
    sDest = std::make_unique<TExtFileStream>(DestNameXL, FOverwrite ? fmCreate : (fmCreate | fmExclusive), Rights);
  } catch (const EExtFileStreamError& Error) {
    SetSysErrorMsg(Error.what());
    return cjCreateFile;
  }
  return 0;
}

int TCopyThread::CopyData(TExtFileStream& Source, TExtFileStream* Dest, std::int64_t Length, bool SpeedLimit) {
  int Code = 0;
  do {
    WaitWhilePaused();
    const auto Wanted = static_cast<std::size_t>(std::min<std::int64_t>(Length, FBufSize));
    std::int64_t Got = 0;
    const int ReadError = Source.Read(FBuffer.get(), Wanted, Got);
    if (ReadError != 0) {
      SetSysError(ReadError);
      Code = cjReadFile;
      Got = 0;
    } else if (static_cast<std::size_t>(Got) < Wanted) {
      // The source has become shorter since the pass began.
      Code = cjReadFile;
    } else {
      UTotal += Got;
      try {
        DoProgress(Dest != nullptr ? TFileAction::acCopy : TFileAction::acPrepare, UTotal, SpeedLimit);
      } catch (const std::exception& Error) {
        SetSysErrorMsg(Error.what());
        Code = cjReadFile;
      }
      FCrcValue = static_cast<std::uint32_t>(
          crc32(FCrcValue, reinterpret_cast<const Bytef*>(FBuffer.get()), static_cast<uInt>(Got)));
    }
    if (Code == 0 && Dest != nullptr) {
      std::int64_t Put = 0;
      const int WriteError = Dest->Write(FBuffer.get(), static_cast<std::size_t>(Got), Put);
      if (WriteError != 0) {
        SetSysError(WriteError);
        Code = WriteError == ErrDiskFull ? cjLowDiskSpace : cjWriteFile;
      } else if (Put < Got) {
        Code = cjLowDiskSpace;
      }
    }
    if (Code == 0 && UserBreak()) Code = cjUserBreak;
    Length -= Got;
  } while (Length > 0 && Code == 0);
  CTotal = UTotal;
  return Code;
}

int TCopyThread::PlainCopy() {
  int Code = OpenStreams();
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  // The copy holds exactly as many bytes as the source had when the pass began.
  const std::int64_t Size = sSource->Size();
  if (Size < 0) {
    SetSysError(LastSysError());
    ReleaseStreams();
    return cjReadFile;
  }
  DoProgress(TFileAction::acCopy, -Size, false);
  Code = CopyData(*sSource, sDest.get(), Size, true);
  if (Code != 0) {
    ReleaseStreams();
    return Code;
  }
  return FinishCopy(FCopyStorage, FCopyAltStreams, FCopyAcl);
}

int TCopyThread::FinishCopy(bool Storage, bool AltStreams, bool Permissions) {
  int Code = 0;
  if (sDest != nullptr) {
    if ((FVerify || (FWriteMode & WriteModeWriteThrough) != 0) && SetSysError(sDest->Flush())) Code = cjWriteFile;
    // Network file systems and quotas may refuse the data only when the file
    // is closed; a copy that did not arrive is no success.
    if (Code == 0) {
      const int CloseError = sDest->Close();
      if (SetSysError(CloseError)) Code = CloseError == ErrDiskFull ? cjLowDiskSpace : cjWriteFile;
    }
  }
  ReleaseStreams();
  if (Code == 0 && AltStreams && SetSysError(CopyAlternateStreams(SourceNameXL, DestNameXL))) Code = cjAltStreams;
  if (Code == 0 && Storage) {
    // Linux files have no document summary: nothing to copy.
    TFileSummary Summary;
    int Error = ReadFileSummary(SourceNameXL, Summary);
    if (Error == 0) Error = WriteFileSummary(DestNameXL, Summary);
    if (Error != ErrCallNotImplemented && SetSysError(Error)) Code = cjDocumentSummary;
  }
  if (Code == 0 && Permissions && SetSysError(CopyFileSecurity(SourceNameXL, DestNameXL))) Code = cjPermissions;
  if (Code == 0 && FCopyTimeStamp &&
      SetSysError(SetFileTimestamps(DestNameXL, SourceFileData.TimeStamps, FCheckTime, FCopyCrTm, false)))
    Code = cjSetTimestamp;
  if (Code == 0 && FCopyAttr) {
    // The Windows bits and, on Linux, the permission bits carried above them.
    int Attr = static_cast<int>(SourceFileData.FileAttr) & (faWindowsMask | faModeMask | faModePresent);
    if (FResetArchive) Attr &= ~faArchive;
    if (XlFileGetAttr(DestNameXL, false) != Attr && SetSysError(XlFileSetAttr(DestNameXL, Attr, false)))
      Code = cjSetAttributes;
  }
  return Code;
}

// ---------------------------------------------------------------------------
// TGZipThread

TGZipThread::TGZipThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend, int ABufSize,
                         TThreadPriority APriority)
    : TGZipThread(TDeferStart{}, ASourceName, ADestName, ABufSize, APriority) {
  if (!ASuspend) Start();
}

TGZipThread::TGZipThread(TDeferStart Tag, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
                         TThreadPriority APriority)
    : TCopyThread(Tag, ASourceName, ADestName, ABufSize, APriority), FName(NamePart(ASourceName)) {
  FCompress = true;
  FErrFlag = caGzip;
}

TGZipThread::~TGZipThread() {
  StopAndJoin();
}

void TGZipThread::Execute() {
  DoneThread(WriteGZip());
}

// ---------------------------------------------------------------------------
// TWinCopyThread

TWinCopyThread::TWinCopyThread(const std::string& ASourceName, const std::string& ADestName, TCopyOptions AOptions,
                               bool ASuspend, int ABufSize, TThreadPriority APriority)
    : TGZipThread(TDeferStart{}, ASourceName, ADestName, ABufSize, APriority) {
  FCompress = (AOptions & coCompress) != 0;
  FZipCompress = (AOptions & coZipCompress) != 0;
  FVerify = (AOptions & coVerify) != 0;
  FOverwrite = (AOptions & coOverwrite) != 0;
  FCopyStorage = (AOptions & coStorage) != 0;
  FCopyAltStreams = (AOptions & coAltStreams) != 0;
  FCopyAcl = (AOptions & coPermissions) != 0;
  FCopyAttr = (AOptions & coAttributes) != 0;
  FCopyTimeStamp = (AOptions & coTimeStamp) != 0;
  FCopyCrTm = (AOptions & coCreationTime) != 0;
  FCheckTime = (AOptions & coCheckTime) != 0;
  SetNoWriteCache((AOptions & coNoCache) != 0);
  FResetArchive = (AOptions & coResetArchive) != 0;
  FErrFlag = FZipCompress ? caZip : FCompress ? caGzip : caCopy;
  if (!ASuspend) Start();
}

TWinCopyThread::~TWinCopyThread() {
  StopAndJoin();
}

void TWinCopyThread::Execute() {
  if (FVerify) SetNoWriteCache(true);
  int Code;
  if (FZipCompress) {
    Code = OpenStreams();
    if (Code == 0) Code = WriteZipFile(FCompress);
    if (Code != 0)
      ReleaseStreams();
    else
      Code = FinishCopy(false, FCopyAltStreams, FCopyAcl);
  } else if (FCompress) {
    Code = WriteGZip();
  } else {
    Code = PlainCopy();
  }
  DoneThread(Code);
}

}  // namespace dz
