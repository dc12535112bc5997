#pragma once
// The copy worker: one thread that copies one source file to one destination
// file, as a plain copy, as a gzip member (GzipFormat.h) or as a zip archive
// holding the one file (ZipFormat.h), and then gives the destination the
// source's time stamp and attributes. Its outcome is one result code
// (ErrorCode, 0 = success, composed as in filesys/ErrorTexts.h).
//
//   TCopyThread      the thread, the pause gate, the plain copy
//   TGZipThread      adds the gzip and zip writers
//   TWinCopyThread   adds the option mask and the choice of path; the class
//                    the backup worker uses
//
// A worker runs exactly one job. Created running, it starts once its whole
// constructor chain has finished; created suspended, it starts with Start().
// Every job ends through DoneThread with a code, whatever fails, so Done
// always becomes true. The owner waits with Wait() (or polls Done()), reads
// ErrorCode() and destroys the worker; destruction waits for the thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/MainThreadQueue.h"
#include "filesys/FileUtils.h"

namespace dz {

// Options of a copy job, passed as a 16-bit mask: bit n is the option with
// ordinal n. Options this system never asks for keep their positions.
using TCopyOptions = std::uint16_t;
inline constexpr TCopyOptions coCompress = 0x0001;      // gzip; with coZipCompress: deflate inside the zip
inline constexpr TCopyOptions coZipCompress = 0x0002;   // a one-entry zip archive
inline constexpr TCopyOptions coVerify = 0x0004;        // flush to the disk before closing (no read-back here)
inline constexpr TCopyOptions coOverwrite = 0x0008;     // replace an existing destination
inline constexpr TCopyOptions coStorage = 0x0010;       // document summary (Linux has none)
inline constexpr TCopyOptions coAltStreams = 0x0020;    // alternate data streams (user.* extended attributes)
inline constexpr TCopyOptions coPermissions = 0x0040;   // permissions, owner and group
inline constexpr TCopyOptions coAttributes = 0x0080;    // the source's attributes (with its permission bits)
inline constexpr TCopyOptions coTimeStamp = 0x0100;     // the source's last-write time
inline constexpr TCopyOptions coCreationTime = 0x0200;  // all time stamps, not only the last-write time
inline constexpr TCopyOptions coCheckTime = 0x0400;     // replace implausible time stamps
inline constexpr TCopyOptions coNoCache = 0x0800;       // write through: flush to the disk before closing
inline constexpr TCopyOptions coResetArchive = 0x1000;  // clear the archive attribute on the destination

// The masks the backup worker passes.
inline constexpr TCopyOptions CopyOptionsPlain = coOverwrite | coAttributes | coTimeStamp;           // 0x0188
inline constexpr TCopyOptions CopyOptionsGzip = CopyOptionsPlain | coCompress;                      // 0x0189
inline constexpr TCopyOptions CopyOptionsZipStored = CopyOptionsPlain | coZipCompress;              // 0x018A
inline constexpr TCopyOptions CopyOptionsZipDeflated = CopyOptionsPlain | coZipCompress | coCompress;  // 0x018B

// The transfer buffer the backup worker gives every copy worker.
inline constexpr int CopyThreadBufferSize = 0x80000;

// What a progress report is about.
enum class TFileAction {
  acNone,
  acCopy,
  acCompress,
  acUnCompress,
  acEncrypt,
  acDecrypt,
  acVerify,
  acZipVerify,
  acAddVerify,
  acFtpWrite,
  acFtpRead,
  acScan,
  acZipCopy,
  acSegmentCopy,
  acPrepare
};

// A progress report: a data pass first reports its action with the negated
// total size, then after every block the bytes done so far.
using TFileProgressEvent = std::function<void(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit)>;

enum class TZCompressionLevel { zcNone, zcFastest, zcDefault, zcMax };

// Accepted for the Windows backend; Linux workers run at the priority of
// the process.
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TCopyThread {
public:
  // A buffer size below 1 stands for CopyThreadBufferSize.
  TCopyThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend,
              int ABufSize = CopyThreadBufferSize, TThreadPriority APriority = TThreadPriority::tpNormal);
  // Waits for the thread to end. A job still running is cancelled and a
  // paused one resumed first, so that destruction cannot wait forever.
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
  int ErrorType() const { return FErrFlag; }
  std::string SysErrorMsg() const;
  int Ratio() const { return FRatio.load(std::memory_order_acquire); }
  std::uint32_t Crc() const { return FCrc.load(std::memory_order_acquire); }

  // Any thread, also while the job runs. A paused job waits at the start of
  // its next block, and a job that ends while paused becomes done only once
  // it is resumed. Ignored once Done is true.
  bool Paused() const;
  void SetPaused(bool Value);
  // Any thread: the job ends after its current block with 0x080.
  virtual void CancelThread();

  // The progress handler runs on the thread of SyncQueue (through Send, the
  // job waiting for it) when a queue is set, else on the worker's thread.
  // The queue is also woken when the job becomes done, so that its thread can
  // wait with WaitWhileProcessing(Done). Set both before the job starts; the
  // queue must outlive the job.
  TFileProgressEvent OnProgress;
  void SetSyncQueue(TMainThreadQueue* Queue) { FSyncQueue = Queue; }

  // Job settings: meaningful only before the job starts (create suspended).
  bool Overwrite() const { return FOverwrite; }
  void SetOverwrite(bool Value) { FOverwrite = Value; }
  bool CheckTime() const { return FCheckTime; }
  void SetCheckTime(bool Value) { FCheckTime = Value; }
  bool CopyAttr() const { return FCopyAttr; }
  void SetCopyAttr(bool Value) { FCopyAttr = Value; }
  bool CopyTimeStamp() const { return FCopyTimeStamp; }
  void SetCopyTimeStamp(bool Value) { FCopyTimeStamp = Value; }
  bool CopyCreationTime() const { return FCopyCrTm; }
  void SetCopyCreationTime(bool Value) { FCopyCrTm = Value; }
  bool ResetArchiveBit() const { return FResetArchive; }
  void SetResetArchiveBit(bool Value) { FResetArchive = Value; }
  bool CopyStorage() const { return FCopyStorage; }
  void SetCopyStorage(bool Value) { FCopyStorage = Value; }
  bool CopyAltStreams() const { return FCopyAltStreams; }
  void SetCopyAltStreams(bool Value) { FCopyAltStreams = Value; }
  bool CopyPermissions() const { return FCopyAcl; }
  void SetCopyPermissions(bool Value) { FCopyAcl = Value; }
  TZCompressionLevel CompressionLevel() const { return FCompLevel; }
  void SetCompressionLevel(TZCompressionLevel Value) { FCompLevel = Value; }
  // Write through: the destination is flushed to the disk before it is
  // closed, and a failed flush fails the job.
  void SetNoWriteCache(bool Value);

  // Closes and forgets both streams, ignoring failures while closing.
  void ReleaseStreams() noexcept;

protected:
  // For derived classes: builds everything but never starts the thread; the
  // most derived constructor starts it once it has finished.
  struct TDeferStart {};
  TCopyThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
              TThreadPriority APriority);
  // Every destructor in the chain calls this first, so that the job never
  // runs on a half-destroyed object.
  void StopAndJoin() noexcept;

  // The job; ends with DoneThread.
  virtual void Execute();
  // Ends the job: ratio, system error text, ErrorCode, then Done.
  virtual void DoneThread(int Code);
  virtual void DoProgress(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit);

  // Job steps; each returns a job code (0 = success, else severity | number).
  int OpenStreams();
  // Copies Length bytes (fewer when the source ends early: 0x104) through the
  // buffer; Dest null only counts and checksums.
  int CopyData(TExtFileStream& Source, TExtFileStream* Dest, std::int64_t Length, bool SpeedLimit);
  int PlainCopy();
  int FinishCopy(bool Storage, bool AltStreams, bool Permissions);
  // Records a system error; false for 0.
  bool SetSysError(int Error);
  void SetSysErrorMsg(const std::string& Message);
  // Waits while paused.
  void WaitWhilePaused();
  bool UserBreak() const { return FUserBreak.load(std::memory_order_relaxed); }
  // The deflate level of CompressionLevel.
  int ZlibLevel() const;

  bool FCheckTime = true;
  bool FCompress = false;
  std::uint32_t FSysError = 0;
  int FErrFlag = 0x1000;
  std::string SourceName, DestName;
  std::string SourceNameXL, DestNameXL;
  TFileData SourceFileData;
  std::unique_ptr<char[]> FBuffer;  // FBufSize bytes, never cleared: every block is read into it
  std::unique_ptr<TExtFileStream> sSource, sDest;
  std::uint32_t FWriteMode = 0x08000000;
  std::uint32_t FBufSize;
  bool FCopyTimeStamp = true;
  bool FCopyAttr = true;
  bool FResetArchive = false;
  bool FCopyCrTm = false;
  bool FCopyStorage = false;
  bool FCopyAltStreams = false;
  bool FCopyAcl = false;
  bool FOverwrite = false;
  bool FVerify = false;
  TZCompressionLevel FCompLevel = TZCompressionLevel::zcDefault;
  std::uint32_t FCrcValue = 0;  // the job's running CRC-32; published as Crc()
  std::int64_t UTotal = 0;      // source bytes read
  std::int64_t CTotal = 0;      // (compressed) data bytes written

private:
  void ThreadBody() noexcept;
  void Terminate() noexcept;

  TThreadPriority FPriority;
  TMainThreadQueue* FSyncQueue = nullptr;
  std::thread FThread;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FDone{false};
  std::atomic<bool> FUserBreak{false};
  std::atomic<int> FError{0};
  std::atomic<int> FRatio{-1};
  std::atomic<std::uint32_t> FCrc{0};

  // The pause gate, the Done signal and SysErrorMsg share one lock.
  mutable std::mutex FLock;
  mutable std::condition_variable FSignal;
  bool FPaused = false;
  std::string FSysErrMsg;
};

class TGZipThread : public TCopyThread {
public:
  // Runs WriteGZip: the destination becomes a gzip member of the source.
  TGZipThread(const std::string& ASourceName, const std::string& ADestName, bool ASuspend,
              int ABufSize = CopyThreadBufferSize, TThreadPriority APriority = TThreadPriority::tpNormal);
  ~TGZipThread() override;

  // The name stored inside gzip and zip output: the source's file name.
  const std::string& Filename() const { return FName; }
  void SetFilename(const std::string& Value) { FName = Value; }

protected:
  TGZipThread(TDeferStart, const std::string& ASourceName, const std::string& ADestName, int ABufSize,
              TThreadPriority APriority);

  void Execute() override;

  // GzipFormat.cpp
  int WriteGZip();
  int WriteGzHeader(TExtFileStream& Dest, const std::string& Name, std::uint32_t MTime);
  int WriteGzTrailer(TExtFileStream& Dest, std::uint32_t Crc);
  // Deflates the source until its first short read into Dest.
  int CompressData(TExtFileStream& Source, TExtFileStream& Dest, bool SpeedLimit);
  // ZipFormat.cpp
  int WriteZipFile(bool Compress);
  int WriteZipData(TExtFileStream& Source, bool Deflate);

  std::string FName;
};

class TWinCopyThread final : public TGZipThread {
public:
  // The backup worker passes ASuspend false, CopyThreadBufferSize and
  // normal priority: the job starts when the constructor returns.
  TWinCopyThread(const std::string& ASourceName, const std::string& ADestName, TCopyOptions AOptions,
                 bool ASuspend = false, int ABufSize = CopyThreadBufferSize,
                 TThreadPriority APriority = TThreadPriority::tpNormal);
  ~TWinCopyThread() override;

protected:
  void Execute() override;

private:
  bool FZipCompress = false;
};

}  // namespace dz
