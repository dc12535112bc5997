#pragma once
// The backup worker of one monitored directory: copies the directory's
// pending files one after the other into the destination on its own thread,
// with one copy job, keeps up to three previous versions of a file it
// replaces and hands one log line per file to the main thread.
//
// Crash safety: every copy is written under a short temporary name of its
// folder that did not exist (".dz-" and 12 random hexadecimal digits and
// ".tmp", which fits wherever the final name fits), and only gets its final name
// (and its line is sent) once it is on the disk. The copies are made durable
// in batches: several files are copied to their temporary names, one flush
// of the destination's file system makes the whole batch durable, and only
// then are they renamed and their lines sent, in list order, in one hand-over
// to the main thread. A batch whose flush fails loses its copies: each of its
// files gets an error line, and its current copy and versions stay as they
// were. A batch is bounded by files, bytes and time, so that lines keep
// arriving and a stop request or a pulled disk waits for no more than one
// batch; a large file is a batch of its own. The flush of a batch runs on a
// thread of its own while the worker copies the next batch, so that the disk
// writes while the worker reads; the batch gets its final names when the
// next one is full (or the run ends). A flush that fails also fails the
// batch copied while it ran: the error it reported may have been one of that
// batch's writes, and a later flush would not report it again. Where the file system cannot be
// flushed as a whole (network and FUSE file systems, a folder mounted below
// the destination), each copy is flushed on its own before it is closed.
//
// A file whose current copy is already that file as it is now (see
// CurrentCopy.h) is not copied at all: no temporary file, no version moved
// and no line, as a restart or an interrupted run hands over many such
// files; its outcome tells the owner that it is done.
//
// A current copy that is replaced keeps its name until the new copy takes it
// in one rename (it gets its ".bak-1" name as a hard link first; without hard
// links it is renamed away first). The rotation is undone when any of its
// steps fails, the final rename included: the file fails, its current copy
// and versions stay as they were, and "(+n)" only ever counts versions made.
// A file whose copy or version names the destination cannot take, or whose
// versions would take the name of another source file's copy (or the
// reverse), fails before it is copied, with its reason.
//
// Leftover temporary files of an interrupted run are removed: the old form
// "<target>.tmp<digits>" when its file is backed up again, the short form
// when its folder is first met and it has not changed for StaleTemporaryAge
// (another worker on the same destination may be writing a fresh one). The
// directories written are flushed by the end of the run.
//
// The worker checks before each file, and before a batch gets its final
// names, that the destination root still lies on the file system it was on
// at the start: a destination that has been unmounted must not be recreated
// on the disk below the mount point.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/MainThreadQueue.h"
#include "base/MatchList.h"
#include "copyengine/CopyJob.h"
#include "platform/FileOps.h"

namespace dz {

// A receiver of one log line (runs on the main thread).
using TGetStrProc = std::function<void(const std::string&)>;
// The current date and time as the user writes them (called on the main
// thread).
using TTimeTextFunc = std::function<std::string()>;

// How one file went.
struct TBackupFileResult {
  std::string FileName;       // as in the worker's list, relative to the directory
  int ErrorCode = 0;          // 0, or what the line reports
  // False when the failed file is not to be tried again before it changes:
  // the source was gone, or is no file (a directory, FIFO, socket, device),
  // or its names do not fit the destination (too long for its file system,
  // or taken by another source file's copy or versions), which another try
  // would meet again.
  bool SourceExists = true;
  // Its current copy was the file as it is: nothing was written, no version
  // moved and no line sent, but the file is done like one copied.
  bool UpToDate = false;
};

// Told on the main thread, together with the file's log line, how a file
// went: once its copy has its final name, or once it failed.
using TFileDoneProc = std::function<void(const TBackupFileResult&)>;

// The options, name suffix and compression level of a copy.
struct TBackupCopyKind {
  TCopyOptions Options;
  std::string_view Suffix;
  TZCompressionLevel Level = TZCompressionLevel::zcDefault;
};

// Compress: 0 none, 1 gzip, 2 zip; NoComp: the file's extension is in the
// list of extensions never compressed; Extension: the file's extension.
//
// Every copy's name is its source's name, plus ".gz" or ".zip" when it is
// compressed, and no two sources of one folder share a copy: in gzip mode a
// file whose extension is "gz" (in any case) is never stored as it is, where
// it would take the name of the compressed copy of the file named without
// ".gz". When "gz" is in the list it goes into a gzip member of stored
// (uncompressed) deflate blocks instead: "X.gz" becomes "X.gz.gz", beside
// "X.gz" made from "X". So every copy named "... .gz" in a gzip tree is a
// gzip member of the source named without that ".gz". Zip mode always adds
// ".zip" and plain mode nothing, so neither can meet two sources on one name.
TBackupCopyKind BackupCopyKind(std::int32_t Compress, bool NoComp, std::string_view Extension = {});

class TBackupThread {
public:
  // The most previous versions a file keeps; a setting outside 0 to this is
  // taken as the nearer bound.
  static constexpr std::int32_t MaxRetain = 3;

  // The bounds of a batch: files, source bytes, and the time since its first
  // copy began (checked before each further file). A file of MaxBatchBytes
  // or more is a batch of its own.
  static constexpr std::size_t MaxBatchFiles = 1000;
  static constexpr std::int64_t MaxBatchBytes = std::int64_t{32} << 20;
  static constexpr std::chrono::milliseconds MaxBatchTime{500};

  // A temporary file of the short form that has not changed for this long
  // is a leftover of an interrupted run, not the copy of a worker at work
  // (its writes and the setting of its times change it; its rename follows
  // the flush of its batch). Removing one too early costs a failed file that
  // is tried again, never a copy or a version.
  static constexpr std::chrono::hours StaleTemporaryAge{12};
  // Whether Name (without folder) has the short temporary form.
  static bool IsTemporaryName(std::string_view Name);

  // Where a run is when it calls its step hook (on the worker's thread), so
  // that tests can change or look at the world at that moment.
  enum class TStep {
    stBeforeFile,       // before anything is done for the file
    stAfterBatchFlush,  // the copies of a batch are complete and its flush
                        // has run; none has its final name yet (Index: the
                        // batch's last file)
    stBeforeReplace,    // the new copy is durable, the versions moved
  };
  using TStepHook = std::function<void(TStep Step, std::size_t Index)>;

  // Starts the worker at once. The lines go to ASendMsg through Queue.Send,
  // the lines of a batch in one call, each with its file's outcome to
  // AFileDone (which may be empty), so the owner has to keep processing
  // Queue until Finished(). TimeText gives the date and time a line starts
  // with; it is asked on the main thread as the line arrives there, just
  // after its file got its final name (the worker waits for the hand-over),
  // so the worker's thread never reads the owner's clock.
  // Flush false leaves out the flushes of the copies and of the
  // directories: it exists only to measure what the flushes cost, a real
  // backup always flushes.
  TBackupThread(std::int32_t AId, std::string DestDir, std::string SourceDir, std::string DrvId,
                std::string_view NoComp, const TMatchList& AFileList, std::int32_t ACompress,
                std::int32_t ARetain, TGetStrProc ASendMsg, TFileDoneProc AFileDone,
                TMainThreadQueue& Queue, TTimeTextFunc TimeText, TStepHook StepHook = {}, bool Flush = true);
  // Asks the worker to stop and waits for it: the owner destroys it only
  // once Finished(), as a worker may be waiting for the main thread.
  ~TBackupThread();
  TBackupThread(const TBackupThread&) = delete;
  TBackupThread& operator=(const TBackupThread&) = delete;

  // Any thread: the worker has ended (a Wake() of the queue follows).
  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // Waits until the thread has ended.
  void Wait();
  // Ends the run after the file in progress (whose copy it ends): the files
  // copied before it are made durable, renamed and reported, the others stay
  // in NotDone() and get no line.
  void RequestStop() { FThread.request_stop(); }

  // Valid once Finished(): the files in list order with their outcome, and
  // the files not backed up because the run was stopped.
  const std::vector<TBackupFileResult>& Results() const { return FResults; }
  const std::vector<std::string>& NotDone() const { return FNotDone; }
  // Valid once Finished(): the directories flushed at the end, sorted.
  const std::vector<std::string>& SyncedDirectories() const { return FSynced; }

  std::int32_t Retain() const { return FRetain; }

private:
  // A file of the batch in progress: copied (or failed), not yet renamed.
  struct TBatchFile {
    std::size_t Index;
    std::string Source, Target, Temp;
    std::string_view Suffix;
    TCopyOptions Options;
    int ErrorCode;  // of the copy
    std::int64_t Size;  // of the source as it was copied; -1 when it could not be opened
    bool UpToDate = false;  // not copied: the current copy is the source as it is
    // Of a failed copy: why, as the job or a look at the source tells it.
    std::string Reason = {};
    // Another try would fail the same way: the source is no file the job can
    // read, or the file's names do not fit the destination.
    bool NoRetry = false;
  };
  // Temporary names tried for one file before its copy fails.
  static constexpr int MaxTemporaryTries = 100;
  // A destination folder as this run has met it.
  struct TDestFolder {
    bool Exists = false;
    // On the destination root's file system: its copies are made durable
    // with the batch.
    bool FlushedWithBatch = false;
    // The names in it that looked like temporary copies ("*.tmp" and
    // digits) when it was first met; nothing for a folder the run made.
    std::vector<std::string> TemporaryNames;
  };
  // One open folder, kept while file after file lies in it: the files are
  // then opened and renamed by their names alone.
  struct TOpenFolder {
    std::string Path;
    TFileHandle Handle;
    // Dir open, or nullptr when it cannot be opened (the caller goes by
    // full names, which report the trouble).
    const TFileHandle* For(const std::string& Dir);
  };
  // A line for the main thread, which puts the time and the entry's number
  // in front of Text (and the destination marker before them when
  // Destination), and the index of its file's outcome in FResults, if it has
  // one. An empty line is not sent: only the outcome.
  struct TOutLine {
    std::string Text;
    std::size_t Result;
    bool Destination = false;
  };
  static constexpr std::size_t NoResult = static_cast<std::size_t>(-1);

  void Execute(std::stop_token Stop);
  // Copies one file to a temporary name, unless its current copy is the
  // file as it is (UpToDate); Stopped when a stop request ended the copy
  // (nothing of it is left) or the comparison.
  TBatchFile CopyToTemporary(std::size_t Index, const std::string& Source, const std::string& Target,
                             const TBackupCopyKind& Kind, std::stop_token Stop, bool& Stopped);
  // Starts the flush of the batch in progress, after the batch flushed
  // before it has got its final names.
  void StartBatchFlush();
  // Waits for the flush started last, gives its copies their final names and
  // sends their lines.
  void CompleteFlushedBatch();
  // Both, for the batch in progress: nothing is left in flight.
  void FinishBatch();
  // Gives the new copy File.Temp its final name, keeping FRetain previous
  // versions of the current copy; Moved counts the versions made. A failure
  // undoes the rotation, removes the new copy and gives the code, Reason and
  // NoRetry.
  int ReplaceTarget(const TBatchFile& File, int& Moved, std::string& Reason, bool& NoRetry);
  // Whether File's copy and the versions its replacement makes can have
  // their names: 0, or the code of a failure with its Reason.
  int CheckNames(TBatchFile& File, const TBackupCopyKind& Kind);
  // The copy kind of a file named Name.
  TBackupCopyKind KindOf(std::string_view Name) const;
  // A short temporary name in Dir that is not likely to exist.
  std::string TemporaryNameIn(const std::string& Dir);
  TDestFolder& PrepareFolder(const std::string& Dir, const std::string& SourceDir);
  void RemoveLeftovers(TDestFolder& Folder, const std::string& Source, const std::string& Final);
  void NoteDirectoriesOf(const std::string& Dir);
  void FlushDirectories();
  bool DestinationStillThere() const;
  // By files or time; the bytes are looked at once a file's size is known.
  bool BatchFull() const;
  // Hands the lines gathered so far to the main thread in one call and waits
  // there.
  void SendLines();

  TMatchList FFileList{TListCompare::lcFileNames};
  TMatchList FNoCompList{TListCompare::lcIgnoreCase};
  std::int32_t FId;
  std::int32_t FCompress;
  std::int32_t FRetain;
  std::string FDest;
  std::string FBase;
  std::string FDrv;
  TGetStrProc FOnStringMsg;
  TFileDoneProc FOnFileDone;
  TMainThreadQueue& FQueue;
  TTimeTextFunc FTimeText;
  TStepHook FStepHook;
  bool FFlush;
  std::size_t FIndex = 0;  // of the file in progress

  TCopyJob FJob;
  bool FHaveDestDevice = false;
  std::uint64_t FDestDevice = 0;
  // The destination root, open from the start of the run, so that the flush
  // of a batch learns of every write that failed on the way to the disk.
  TFileHandle FDestRoot;
  bool FBatchFlush = false;  // the batches are flushed through FDestRoot
  std::vector<TBatchFile> FBatch;
  std::int64_t FBatchBytes = 0;
  // The batch whose flush runs, and the flush's result.
  std::vector<TBatchFile> FFlushing;
  std::future<int> FFlushResult;
  bool FFlushRan = false;  // FFlushResult is a flush's, not an error known before
  // The error of a failed flush, for the batch copied while it ran.
  int FOverlappedFlushError = 0;
  std::chrono::steady_clock::time_point FBatchStart;
  TOpenFolder FSourceFolder, FCopyFolder, FRenameFolder;
  std::vector<TOutLine> FLines;
  std::mt19937_64 FRandom{std::random_device{}()};  // for temporary names
  std::vector<char> FCompareBuffer;  // for reading what a current copy's time does not decide
  std::vector<std::string> FDirsWritten;
  std::map<std::string, TDestFolder> FFolders;
  std::vector<TBackupFileResult> FResults;
  std::vector<std::string> FNotDone;
  std::vector<std::string> FSynced;
  std::atomic<bool> FFinished{false};
  std::jthread FThread;  // last: starts once everything above is set
};

}  // namespace dz
