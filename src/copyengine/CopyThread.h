#pragma once
// The copy worker: one thread that runs one copy job (CopyJob.h), which
// copies one source file to one destination file, as a plain copy, as a
// gzip member or as a zip archive holding the one file, and then gives the
// destination the source's time stamp and attributes. Its outcome is one
// result code (ErrorCode, 0 = success, composed as in filesys/ErrorTexts.h).
// The job's rules for the names it writes are in CopyJob.h.
//
//   TCopyThread      the thread, the pause gate, the plain copy
//   TGZipThread      gzip output (the option coCompress)
//   TWinCopyThread   the option mask and the choice of path; the class the
//                    backup worker's original design uses
//
// A worker runs exactly one job. Created running, it starts once its whole
// constructor chain has finished; created suspended, it starts with Start().
// Every job ends through DoneThread with a code, whatever fails, so Done
// always becomes true. The owner waits with Wait() (or polls Done()), reads
// ErrorCode() and destroys the worker.
//
// Destroying a worker whose job still runs cancels it: the job ends after
// its current block with 0x080 (a paused job at once, without being
// resumed), and the thread is joined. An owner that wants the result calls
// Wait() first. So a resident program can always shut down without waiting
// for a copy of gigabytes.
//
// A backup worker that copies its files one after the other runs a TCopyJob
// on its own thread instead: one buffer for all of them, no thread per file.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "base/MainThreadQueue.h"
#include "copyengine/CopyJob.h"

namespace dz {

// Accepted for the Windows backend; Linux workers run at the priority of
// the process.
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TCopyThread {
public:
  // A buffer size below 1 stands for CopyThreadBufferSize.
  TCopyThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend,
              int ABufSize = CopyThreadBufferSize, TThreadPriority APriority = TThreadPriority::tpNormal);
  // Cancels a job that still runs (see above) and joins the thread.
  virtual ~TCopyThread();
  TCopyThread(const TCopyThread&) = delete;
  TCopyThread& operator=(const TCopyThread&) = delete;

  // Starts a worker created suspended; does nothing once started.
  void Start();

  // True once the job has ended through DoneThread. It can be true shortly
  // before the thread itself has ended; the destructor waits for that.
  bool Done() const { return FDone.load(std::memory_order_acquire); }
  // Waits until Done (a worker created suspended must have been started).
  // The timed form returns Done.
  void Wait() const;
  bool Wait(std::chrono::milliseconds Timeout) const;

  // The results; final once Done is true.
  int ErrorCode() const { return FError.load(std::memory_order_acquire); }
  int ErrorType() const { return CopyActionOf(FOptions); }
  std::string SysErrorMsg() const;
  int Ratio() const { return FRatio.load(std::memory_order_acquire); }
  std::uint32_t Crc() const { return FCrc.load(std::memory_order_acquire); }

  // Any thread, also while the job runs. A paused job waits at the start of
  // its next block, and a job that ends while paused becomes done only once
  // it is resumed. Ignored once Done is true.
  bool Paused() const { return FGate.Paused(); }
  void SetPaused(bool Value) { FGate.SetPaused(Value); }
  // Any thread: the job ends after its current block with 0x080; a paused
  // one stops at once but, as every paused job, becomes done only once it
  // is resumed.
  virtual void CancelThread();

  // The progress handler runs on the thread of SyncQueue (through Send, the
  // job waiting for it) when a queue is set, else on the worker's thread.
  // The queue is also woken when the job becomes done, so that its thread can
  // wait with WaitWhileProcessing(Done). Set both before the job starts; the
  // queue must outlive the job.
  TFileProgressEvent OnProgress;
  void SetSyncQueue(TMainThreadQueue* Queue) { FSyncQueue = Queue; }

  // Job settings: meaningful only before the job starts (create suspended).
  bool Overwrite() const { return Has(coOverwrite); }
  void SetOverwrite(bool Value) { SetOption(coOverwrite, Value); }
  bool CheckTime() const { return Has(coCheckTime); }
  void SetCheckTime(bool Value) { SetOption(coCheckTime, Value); }
  bool CopyAttr() const { return Has(coAttributes); }
  void SetCopyAttr(bool Value) { SetOption(coAttributes, Value); }
  bool CopyTimeStamp() const { return Has(coTimeStamp); }
  void SetCopyTimeStamp(bool Value) { SetOption(coTimeStamp, Value); }
  bool CopyCreationTime() const { return Has(coCreationTime); }
  void SetCopyCreationTime(bool Value) { SetOption(coCreationTime, Value); }
  bool ResetArchiveBit() const { return Has(coResetArchive); }
  void SetResetArchiveBit(bool Value) { SetOption(coResetArchive, Value); }
  bool CopyStorage() const { return Has(coStorage); }
  void SetCopyStorage(bool Value) { SetOption(coStorage, Value); }
  bool CopyAltStreams() const { return Has(coAltStreams); }
  void SetCopyAltStreams(bool Value) { SetOption(coAltStreams, Value); }
  bool CopyPermissions() const { return Has(coPermissions); }
  void SetCopyPermissions(bool Value) { SetOption(coPermissions, Value); }
  TZCompressionLevel CompressionLevel() const { return FCompLevel; }
  void SetCompressionLevel(TZCompressionLevel Value) { FCompLevel = Value; }
  // Write through: the destination is flushed to the disk before it is
  // closed, and a failed flush fails the job.
  void SetNoWriteCache(bool Value) { SetOption(coNoCache, Value); }

  // Closes and forgets the job's streams, ignoring failures while closing.
  // The job does that itself before it ends; this does nothing while it runs.
  void ReleaseStreams() noexcept;

protected:
  // For derived classes: builds everything but never starts the thread; the
  // most derived constructor starts it once it has finished.
  struct TDeferStart {};
  TCopyThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
              TThreadPriority APriority);
  // Cancels a running job and joins the thread. A derived class that
  // overrides DoneThread calls it first in its destructor, so that the job
  // never ends on a half-destroyed object.
  void StopAndJoin() noexcept;

  // Ends the job with its result code (action included, 0 for success):
  // waits while paused, then publishes the code and makes Done true. Runs on
  // the worker's thread; SysErrorMsg, Ratio and Crc are already final.
  virtual void DoneThread(int Code);

  bool Has(TCopyOptions Option) const { return (FOptions & Option) != 0; }
  void SetOption(TCopyOptions Option, bool Value) { FOptions = Value ? (FOptions | Option) : (FOptions & ~Option); }

  // A plain copy that gives the destination the source's attributes and
  // last-write time, implausible ones replaced.
  TCopyOptions FOptions = coAttributes | coTimeStamp | coCheckTime;
  TZCompressionLevel FCompLevel = TZCompressionLevel::zcDefault;
  std::string SourceName, DestName;
  std::string FName;  // the name inside gzip and zip output

private:
  void ThreadBody() noexcept;
  void Terminate() noexcept;

  TThreadPriority FPriority;
  TMainThreadQueue* FSyncQueue = nullptr;
  TCopyJob FJob;
  TPauseGate FGate;
  std::stop_source FStop;
  std::jthread FThread;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FDone{false};
  std::atomic<int> FError{0};
  std::atomic<int> FRatio{-1};
  std::atomic<std::uint32_t> FCrc{0};

  // The Done signal and SysErrorMsg share one lock.
  mutable std::mutex FLock;
  mutable std::condition_variable FSignal;
  std::string FSysErrMsg;
};

class TGZipThread : public TCopyThread {
public:
  // Runs WriteGZip: the destination becomes a gzip member of the source.
  TGZipThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend,
              int ABufSize = CopyThreadBufferSize, TThreadPriority APriority = TThreadPriority::tpNormal);

  // The name stored inside gzip and zip output: the source's file name.
  const std::string& Filename() const { return FName; }
  void SetFilename(const std::string& Value) { FName = Value; }

protected:
  TGZipThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
              TThreadPriority APriority);
};

class TWinCopyThread final : public TGZipThread {
public:
  // The job runs as the option mask says: zip with coZipCompress, gzip with
  // coCompress, else a plain copy. Created running (ASuspend false) it
  // starts when the constructor returns.
  TWinCopyThread(const std::string& ASourceName, const std::string& ADestName, TCopyOptions AOptions,
                 bool ASuspend = false, int ABufSize = CopyThreadBufferSize,
                 TThreadPriority APriority = TThreadPriority::tpNormal);
};

}  // namespace dz
