#include "copyengine/CopyThread.h"

#include <exception>
#include <utility>

#include "copyengine/CopyJobCodes.h"

namespace dz {

// ---------------------------------------------------------------------------
// TCopyThread

TCopyThread::TCopyThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend, int ABufSize,
                         TThreadPriority APriority)
    : TCopyThread(TDeferStart{}, ASourceName, ADestName, ABufSize, APriority) {
  if (!ASuspend) Start();
}

TCopyThread::TCopyThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
                         TThreadPriority APriority)
    : SourceName(ASourceName), DestName(ADestName), FPriority(APriority), FJob(ABufSize) {}

TCopyThread::~TCopyThread() {
  StopAndJoin();
}

void TCopyThread::StopAndJoin() noexcept {
  if (!FThread.joinable()) return;
  FStop.request_stop();
  // A job that ended while paused waits for a resume that will not come.
  FGate.SetPaused(false);
  FThread.join();
}

void TCopyThread::Start() {
  if (FStarted.exchange(true)) return;
  try {
    FThread = std::jthread(&TCopyThread::ThreadBody, this);
  } catch (const std::exception& Error) {
    // No thread: the job ends here, so that a waiting owner is not left
    // waiting for one that never runs.
    {
      std::lock_guard Guard(FLock);
      FSysErrMsg = Error.what();
    }
    FError.store(ErrorType() | cjJobFailed, std::memory_order_relaxed);
    Terminate();
  }
}

void TCopyThread::ThreadBody() noexcept {
  TCopyResult Result;
  try {
    TCopyRequest Request(SourceName, DestName, FOptions, FName);
    Request.CompressionLevel = FCompLevel;
    Request.PauseGate = &FGate;
    if (OnProgress) {
      Request.OnProgress = [this](TFileAction AAction, std::int64_t ACount, bool ASpeedLimit) {
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
      };
    }
    Result = FJob.Run(Request, FStop.get_token());
  } catch (const std::exception& Error) {
    // Only building the request can get here (no memory).
    Result.ErrorCode = ErrorType() | cjJobFailed;
    Result.SysErrorMsg = Error.what();
  }
  {
    std::lock_guard Guard(FLock);
    FSysErrMsg = std::move(Result.SysErrorMsg);
  }
  FRatio.store(Result.Ratio, std::memory_order_relaxed);
  FCrc.store(Result.Crc, std::memory_order_relaxed);
  try {
    DoneThread(Result.ErrorCode);
  } catch (...) {
  }
  // An override that did not end the job: it ends here, so Done comes.
  if (!Done()) {
    FError.store(Result.ErrorCode != 0 ? Result.ErrorCode : ErrorType() | cjJobFailed, std::memory_order_relaxed);
    Terminate();
  }
}

void TCopyThread::DoneThread(int Code) {
  FGate.WaitAndShut();
  FError.store(Code, std::memory_order_relaxed);
  Terminate();
}

void TCopyThread::Terminate() noexcept {
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

void TCopyThread::CancelThread() {
  FStop.request_stop();
}

void TCopyThread::ReleaseStreams() noexcept {
  if (!FStarted.load() || Done()) FJob.ReleaseStreams();
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
    : TCopyThread(Tag, ASourceName, ADestName, ABufSize, APriority) {
  FOptions |= coCompress;
  FName = DefaultEntryName(ASourceName);
}

// ---------------------------------------------------------------------------
// TWinCopyThread

TWinCopyThread::TWinCopyThread(const std::string& ASourceName, const std::string& ADestName, TCopyOptions AOptions,
                               bool ASuspend, int ABufSize, TThreadPriority APriority)
    : TGZipThread(TDeferStart{}, ASourceName, ADestName, ABufSize, APriority) {
  // Every option comes from the mask, the base's defaults included.
  FOptions = AOptions;
  if (!ASuspend) Start();
}

}  // namespace dz
