#pragma once
// The copy job: copies one source file to one destination file on the
// calling thread, as a plain copy, as a gzip member (GzipFormat.h) or as a
// zip archive holding the one file (ZipFormat.h), then gives the destination
// the source's time stamp and attributes. Its outcome is one result code
// (0 = success, composed as in filesys/ErrorTexts.h and CopyJobCodes.h).
//
// A TCopyJob owns one transfer buffer, allocated once and reused for every
// file it copies, and likewise one deflate state, so that a backup worker
// copies its files one after the other on its own thread with one job
// object:
//
//   TCopyJob Job;
//   for (...) { TCopyResult R = Job.Run({Source, Dest, CopyOptionsGzip}, Stop); ... }
//
// What a job may do to names:
// - It never writes into the source: a destination that is the source file
//   (the same name, another spelling, a hard or symbolic link to it) ends
//   the job with 0x140 before anything is opened for writing; the check is
//   made again on the open destination, before it is truncated.
// - Only a regular file or a missing name is a destination. A device, a FIFO
//   or a socket ends the job with 0x141 without being opened; a folder
//   cannot be opened for writing (0x101).
// - It never writes through a symbolic link. With coOverwrite a link in the
//   destination's place is removed and a new file made in its place (what it
//   pointed to is not touched); without coOverwrite it is an existing name
//   (0x101, system error 183) as any other.
// - It holds its destination under an exclusive lock from before the
//   truncation to the close: a second job on the same destination ends with
//   0x101 and system error 32 (sharing violation), and nothing of it reaches
//   the file.
// - Everything it records about the source (size, times, attributes) comes
//   from the open source, so the output describes the file that was read
//   even when the name was given to another file just before.
// - Time stamp and attributes are set on the open destination before it is
//   closed, never through its name.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <utility>

#include "copyengine/ParallelDeflate.h"
#include "filesys/FileUtils.h"

namespace dz {

class TDeflateState;

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

// The action part of every result code but 0: Zip (0x4000) with
// coZipCompress, else gzip (0x2000) with coCompress, else Copy (0x1000).
int CopyActionOf(TCopyOptions Options);

// The name gzip and zip output store unless told otherwise: the source's
// file name without folder.
std::string DefaultEntryName(const std::string& SourceName);

// The transfer buffer the backup worker uses.
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
// total size, then after every block the bytes done so far. It runs on the
// job's thread; a handler that raises ends the job with a code.
using TFileProgressEvent = std::function<void(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit)>;

enum class TZCompressionLevel { zcNone, zcFastest, zcDefault, zcMax };

// A gate that jobs wait at before each block while it is closed (paused).
// Any thread may pause and resume; a stop request lets a job through.
class TPauseGate {
public:
  bool Paused() const;
  // Ignored once the gate has been shut for good.
  void SetPaused(bool Value);
  // Waits while paused; with a stop token also returns once stop is asked.
  void WaitWhilePaused() const;
  void WaitWhilePaused(std::stop_token Stop) const;
  // Waits while paused, then keeps the gate open for good: later SetPaused
  // calls change nothing (a job that has ended can no longer be paused).
  void WaitAndShut();

private:
  mutable std::mutex FLock;
  mutable std::condition_variable_any FSignal;
  bool FPaused = false;
  bool FShut = false;
};

struct TCopyRequest {
  TCopyRequest() = default;
  TCopyRequest(std::string ASourceName, std::string ADestName, TCopyOptions AOptions = CopyOptionsPlain,
               std::string AEntryName = {})
      : SourceName(std::move(ASourceName)),
        DestName(std::move(ADestName)),
        Options(AOptions),
        EntryName(std::move(AEntryName)) {}

  std::string SourceName;
  std::string DestName;
  TCopyOptions Options = CopyOptionsPlain;
  // The name stored inside gzip and zip output; empty: the source's name
  // without folder.
  std::string EntryName;
  TZCompressionLevel CompressionLevel = TZCompressionLevel::zcDefault;
  // The destination is a name nobody uses: it is created exclusively, without
  // looking first, and a name that exists after all ends the job with
  // cjCreateFile and DestNameTaken, before anything is written.
  bool NewDestination = false;
  // Optional: the open folders of SourceName and, with NewDestination, of
  // DestName. The files are then opened there by their names alone, which
  // saves walking the same long paths for every file of a folder. The names
  // still appear in messages.
  const TFileHandle* SourceFolder = nullptr;
  const TFileHandle* DestFolder = nullptr;
  // Optional: called with the source's size once it is open, before the
  // destination is opened.
  std::function<void(std::int64_t Size)> OnSourceOpened;
  // A copy that is flushed later starts writing every few megabytes to the
  // disk as it goes, so that the disk works while the job reads: a plain
  // copy, and a compressed one deflated in pieces (the only one fast
  // enough for the disk to lag behind).
  bool WriteBehind = false;
  TFileProgressEvent OnProgress;  // optional
  TPauseGate* PauseGate = nullptr;  // optional; must outlive the run
};

struct TCopyResult {
  int ErrorCode = 0;  // 0, or action | severity | number
  std::string SysErrorMsg;  // the system's message behind a failure, if any
  int Ratio = -1;  // compressed size in thousandths of the source's, gzip and deflated zip only
  // CRC-32 of every source byte read; after a failure of a source deflated
  // in pieces, of the pieces written.
  std::uint32_t Crc = 0;
  bool DestNameTaken = false;  // a NewDestination that existed
  std::int64_t SourceSize = -1;  // of the open source, when it could be opened
  // Pieces deflated on helper threads (ParallelDeflate.h); 0 when the job's
  // own thread deflated, or nothing was deflated.
  std::int64_t DeflatePieces = 0;
};

class TCopyJob {
public:
  // A buffer size below 1 stands for CopyThreadBufferSize. Raises
  // std::bad_alloc when the buffer cannot be had.
  explicit TCopyJob(int BufSize = CopyThreadBufferSize);
  ~TCopyJob();
  TCopyJob(const TCopyJob&) = delete;
  TCopyJob& operator=(const TCopyJob&) = delete;

  // Copies one file and never raises: every failure is a result code. A stop
  // request ends the job after its current block with 0x080; asked before
  // the job begins, it ends it before anything is opened. One run at a time.
  TCopyResult Run(const TCopyRequest& Request, std::stop_token Stop = {});

  // Closes and forgets both streams, ignoring failures while closing. Run
  // does it before it returns.
  void ReleaseStreams() noexcept;

  // When and how a large source is deflated on several threads; the
  // defaults are those of the backup path. Not while a run is in progress.
  const TParallelDeflateSettings& ParallelDeflate() const { return FParallelDeflate; }
  void SetParallelDeflate(const TParallelDeflateSettings& Settings) { FParallelDeflate = Settings; }

private:
  bool Has(TCopyOptions Option) const { return (FRequest->Options & Option) != 0; }
  void DoProgress(TFileAction AAction, std::int64_t ACount, bool ASpeedLimit);
  // Waits while the request's gate is paused; false when stop is asked.
  bool PassPauseGate();
  bool StopRequested() const { return FStop.stop_requested(); }
  // Records a system error; false for 0.
  bool SetSysError(int Error);
  // 0x101 with the stream's message for a destination that cannot be made.
  int CreateFailed(int Error);
  int ZlibLevel() const;

  // The steps; each returns a job code (0 = success, else severity | number).
  int RunSteps();
  int OpenStreams();
  int OpenDestination(const TFileStatus& Source);
  int AdoptDestination(TFileHandle& Handle, bool Truncate);
  int ResetReadOnlyDestination(const TFileStatus& Found);
  // The data loop of a plain copy: reads Length bytes block by block (fewer
  // when the source ends early: 0x104), checksums them and writes them to
  // Dest; Dest null only counts and checksums.
  int CopyData(TExtFileStream& Source, TExtFileStream* Dest, std::int64_t Length, bool SpeedLimit);
  // With WriteBehind: starts the disk on the bytes of Dest up to Written
  // once a few megabytes have come since Started, and moves Started on.
  void WriteBehind(TExtFileStream& Dest, std::int64_t Written, std::int64_t& Started);
  int PlainCopy();
  int FinishCopy(bool Storage, bool AltStreams, bool Permissions);
  // GzipFormat.cpp
  int WriteGZip();
  int WriteGzHeader(TExtFileStream& Dest, const std::string& Name, std::uint32_t MTime);
  int WriteGzTrailer(TExtFileStream& Dest, std::uint32_t Crc);
  // Reads up to Count bytes to be deflated, counts them and reports them.
  int ReadToDeflate(TExtFileStream& Source, void* Into, std::size_t Count, bool SpeedLimit, std::int64_t& Got);
  // Deflates the source until its first short read into Dest; a large one
  // in pieces on several threads (ParallelDeflate.cpp).
  int CompressData(TExtFileStream& Source, TExtFileStream& Dest, bool SpeedLimit);
  // ParallelDeflate.cpp: null when the helpers or their memory cannot be had.
  std::unique_ptr<TParallelDeflater> MakeParallelDeflater();
  int CompressPieces(TExtFileStream& Source, TExtFileStream& Dest, bool SpeedLimit, TParallelDeflater& Pieces);
  // ZipFormat.cpp
  int WriteZipFile(bool Compress);
  int WriteZipData(TExtFileStream& Source, bool Deflate);

  std::uint32_t FBufSize;
  std::unique_ptr<char[]> FBuffer;  // FBufSize bytes, never cleared: every block is read into it
  std::unique_ptr<TDeflateState> FDeflate;  // made by the first file compressed, kept for the others
  TParallelDeflateSettings FParallelDeflate;

  // The run in progress.
  const TCopyRequest* FRequest = nullptr;
  std::stop_token FStop;
  std::string SourceNameXL, DestNameXL, FName;
  TFileData SourceFileData;  // of the open source
  TFileStatus FSourceStatus;
  bool FDestNameTaken = false;
  std::unique_ptr<TExtFileStream> sSource, sDest;
  std::uint32_t FSysError = 0;
  std::string FSysErrMsg;
  std::uint32_t FCrc = 0;
  std::int64_t UTotal = 0;  // source bytes read
  std::int64_t CTotal = 0;  // (compressed) data bytes written
  std::int64_t FDeflatePieces = 0;
};

}  // namespace dz
