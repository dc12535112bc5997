#pragma once
// The kernel side of a directory watcher: one backend per running watcher,
// with a worker thread of its own that reads the system's change reports for
// a directory tree and hands them on in batches. The backend never runs the
// watcher's handlers; it only calls its sink from the worker thread, which
// hands the reports to the owning thread (src/dirwatch/).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace dz {

// The code of the error a backend reports when the system will not watch any
// more directories (on Linux the fs.inotify.max_user_watches limit); its text
// names the limit and how to raise it. Watching goes on with what is watched.
// The Windows number of "not enough quota".
inline constexpr int ErrNotEnoughQuota = 1816;

// Actions as the system numbers them in a change record.
enum : int {
  DirActionAdded = 1,
  DirActionRemoved = 2,
  DirActionModified = 3,
  DirActionRenamedOld = 4,
  DirActionRenamedNew = 5,
};

// The kinds of change a watcher asks for, as change-notification filter bits.
enum : std::uint32_t {
  DirNotifyFileName = 0x001,
  DirNotifyDirName = 0x002,
  DirNotifyAttributes = 0x004,
  DirNotifySize = 0x008,
  DirNotifyLastWrite = 0x010,
  DirNotifyLastAccess = 0x020,
  DirNotifyCreation = 0x040,
  DirNotifySecurity = 0x100,
};

// Times of reading from the system, in wall-clock time, so that they can be
// compared with the time stamps of files.
using TDirWatchClock = std::chrono::system_clock;

// What a reported path names, as far as the backend knows it: a directory
// (a link to one counts as one), anything else, or not known (the receiver
// looks for itself). For a removed name, or the old name of a renamed one,
// it is what was there, a link there as a file.
enum TChangeKind : std::uint8_t { ckUnknown, ckFile, ckDirectory };

struct TDirChange {
  int Action;            // DirActionAdded ... DirActionRenamedNew
  std::string FileName;  // relative to the watched directory, native delimiters
  TChangeKind Kind = ckUnknown;
};

struct TDirWatchRequest {
  std::string Directory;
  bool WatchSubTree = true;
  std::uint32_t Filter = 0;     // DirNotify... bits
  std::uint32_t BufferSize = 0;  // a size hint in bytes; the backend may ignore it
};

// Called from the backend's worker thread, never from two threads at once.
// A call should only hand its arguments on (to the owning thread's queue):
// while it runs, the worker reads no further changes. A call may raise (the
// hand-over could not allocate): a refused batch is reported as lost (1022);
// when Error raises too, the worker ends without a further word.
class TDirWatchSink {
public:
  virtual ~TDirWatchSink() = default;
  // One batch, in the order the system reported the changes. A file may be
  // reported as added twice (a directory that appeared is listed while the
  // system already reports on it); receivers treat reports as idempotent.
  // Two names exchanged in one step (renameat2 with RENAME_EXCHANGE) come
  // as the first renamed to the second and the second added under the first
  // name, with everything below it when it is a directory. A directory
  // renamed within the tree comes as its rename, followed by everything
  // below it added under the new name (a receiver that keeps files by path
  // knows none of them there yet), as a directory moved in does. When a file
  // system is mounted on a directory of the tree, or unmounted from it,
  // what is seen there now is reported as added, followed by error 17.
  // Every change carries its kind where the backend knows it (a directory
  // is told apart without a further look at the file system on the
  // receiving side); directories are reported like files, with their kind.
  // ReadTime is when the batch was read from the system.
  virtual void Changes(std::vector<TDirChange> Batch, TDirWatchClock::time_point ReadTime) = 0;
  // Code is a system error code (SysError.h) and Text its message, naming
  // the directory concerned where there is one. Three codes end the reports:
  //   ErrFileNotFound (2), ErrNotReady (21)  the watched directory was
  //       deleted or renamed away (its path no longer names it), or its
  //       file system unmounted.
  //   ErrOperationAborted (995)  the worker met a failure it cannot go on
  //       after: the system's change queue failed, or an unexpected error
  //       (the text gives the reason).
  // After any other code watching goes on:
  //   ErrNotifyEnumDir (1022)  changes were lost: the system's queue
  //       overflowed, or the receiver refused a batch. Any change made from
  //       Since on may be among the lost ones (Since is the last moment the
  //       system's queue was known to be empty before the loss, or when
  //       watching started); they are for the receiver to find by a rescan.
  //       After an overflow the backend has watched the tree anew and
  //       reported what is inside directories it had not known.
  //   ErrNotEnoughQuota (1816)  the system watches no more directories; the
  //       text names the limit, how to raise it and the first directory left
  //       out. Once per Start.
  //   ErrNotSameDevice (17)  another file system is seen at a directory of
  //       the tree (one was mounted or unmounted there): the backend watches
  //       what is seen now and has reported its contents as added.
  //   any other code  a directory of the tree cannot be watched, or not
  //       completely: changes in it or below it are not reported. The code
  //       is the reason: 5 no permission to read it, 206 its path is longer
  //       than the system takes, 8 memory ran out while its tree was walked.
  //       Once per directory.
  // For errors other than 1022, Since is when the error was met.
  virtual void Error(int Code, std::string Text, TDirWatchClock::time_point Since) = 0;
};

// How the system tells directory names apart, for a watcher that has to
// decide whether a new directory is the one it watches already.
struct TDirNameRules {
  bool TrimEnds;    // blanks and control characters at the ends are no part of a name
  bool IgnoreCase;  // names that differ only in letter case name one directory
};

// Windows drops blanks at the ends of a name and ignores case; on Linux a
// name is what it is, byte for byte: " x " and "x" are two directories.
extern const TDirNameRules SystemDirNameRules;

// Raised by Start when the directory cannot be watched at all.
class EDirWatchOpenError : public std::runtime_error {
public:
  EDirWatchOpenError(const std::string& Message, int Code) : std::runtime_error(Message), FCode(Code) {}
  int Code() const noexcept { return FCode; }

private:
  int FCode;
};

class TDirWatchBackend {
public:
  virtual ~TDirWatchBackend() = default;
  // Opens the directory and starts the worker. Raises EDirWatchOpenError
  // (with the system error code: 2 for a missing directory, 3 when its
  // parent is missing too, 267 for a name that is no directory, 5 when
  // access is denied) when the directory cannot be opened. Every change
  // after Start returns is reported (on Linux Start watches the whole tree
  // before it returns).
  virtual void Start(const TDirWatchRequest& Request, TDirWatchSink& Sink) = 0;
  // Any thread, while Start runs on another one or before it is called: that
  // Start ends as soon as it can, raising EDirWatchOpenError with
  // ErrOperationAborted (995), and the backend is not started; the request
  // stays for the backend's life. A backend that cannot cut its start short
  // lets it run to its end (the default), and its caller waits longer.
  virtual void CancelStart() {}
  // Wakes the worker at once and waits for it; afterwards the sink is never
  // called again. Safe to call when not started or already stopped.
  virtual void Stop() = 0;
};

using TDirWatchBackendFactory = std::function<std::unique_ptr<TDirWatchBackend>()>;

// The system's backend (inotify on Linux).
std::unique_ptr<TDirWatchBackend> CreateSystemDirWatchBackend();

}  // namespace dz
