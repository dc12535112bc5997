#pragma once
// Reports, for one directory tree, every change the system announces: which
// file or sub-directory was added, removed, modified or renamed. A worker
// thread (in the system backend) reads the changes; every handler runs on the
// thread that created the watcher, through its main-thread queue, in the
// order the system reported the changes.
//
// Reports queued before Stop are still delivered after it, while the watcher
// exists; none is delivered once it is destroyed. Its destruction stops it
// without calling OnChange.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/MainThreadQueue.h"
#include "dirwatch/WatchTypes.h"
#include "platform/DirWatchBackend.h"

namespace dz {

// A watcher that cannot start: no directory, or the directory cannot be opened.
class EDirWatchError : public std::runtime_error {
public:
  explicit EDirWatchError(const std::string& Message) : std::runtime_error(Message) {}
};

class TDirectoryWatch;

using TFileChangeNotifyEvent =
    std::function<void(TDirectoryWatch& Sender, int ChgNotId, TWatchAction Action, const std::string& FileName)>;
using TOnError = std::function<void(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage)>;
using TNotifyEvent = std::function<void(TDirectoryWatch& Sender)>;

inline constexpr TWatchOptions AllWatchOptions{woFileName, woDirName,    woAttributes, woSize,
                                               woLastWrite, woLastAccess, woCreation,   woSecurity};
inline constexpr TWatchActions AllWatchActions{waAdded, waRemoved, waModified, waRenamedOld, waRenamedNew};

// The change-notification filter bits of a set of options.
std::uint32_t NotifyFilterOf(TWatchOptions Options);

// Directory as a watcher stores it, and whether two stored directories are
// one, under the naming rules of a system (this one's by default).
std::string WatchedDirectoryName(const std::string& Value, const TDirNameRules& Rules = SystemDirNameRules);
bool SameWatchedDirectory(const std::string& A, const std::string& B, const TDirNameRules& Rules = SystemDirNameRules);

class TDirectoryWatch {
public:
  // Queue runs the handlers on the creating thread; Factory makes the
  // backend at every Start (the system's by default, a fake in tests).
  TDirectoryWatch(int AId, TMainThreadQueue& Queue, TDirWatchBackendFactory Factory = CreateSystemDirWatchBackend);
  virtual ~TDirectoryWatch();
  TDirectoryWatch(const TDirectoryWatch&) = delete;
  TDirectoryWatch& operator=(const TDirectoryWatch&) = delete;

  void Start();
  void Stop();
  bool Running() const;

  int Id() const { return FId; }
  const std::string& Directory() const { return FDirectory; }
  // Stored and compared with the current one as the system names
  // directories (WatchedDirectoryName): on Windows without blanks and
  // control characters at its ends and without regard to case; on Linux as
  // given, byte for byte.
  void SetDirectory(const std::string& Value);
  bool WatchSubTree() const { return FWatchSubTree; }
  void SetWatchSubTree(bool Value);
  TWatchOptions WatchOptions() const { return FWatchOptions; }
  void SetWatchOptions(TWatchOptions Value);
  TWatchActions WatchActions() const { return FWatchActions; }
  void SetWatchActions(TWatchActions Value);

  // In records of 532 bytes, at least one; takes effect at the next Start.
  // A size hint only: the inotify backend reads with a buffer of its own.
  std::int32_t BufferSize = 32;
  TFileChangeNotifyEvent OnNotify;
  TNotifyEvent OnChange;  // after Start, Stop and every effective setter call
  TOnError OnError;       // the backend's error reports (DirWatchBackend.h)

  // For the handler that runs: in OnNotify, when the report's batch was
  // read from the system; in OnError, the error's Since (for 1022 the time
  // from which changes may have been lost). A report can wait in the queue
  // for a long while, so this, not the time it is handled, tells which
  // changes it covers.
  TDirWatchClock::time_point ReportTime() const { return FReportTime; }

protected:
  virtual void DoChange();
  virtual void DoNotify(int Action, const std::string& FileName);

private:
  // The backend and the lifetime guard of queued reports (DirectoryWatch.cpp).
  struct TState;
  // After a setter changed a value: a running watcher is restarted, then
  // OnChange is called once more.
  void Restart();
  int FId;
  TMainThreadQueue& FQueue;
  TDirWatchBackendFactory FFactory;
  std::string FDirectory;
  bool FWatchSubTree = true;
  TWatchOptions FWatchOptions = AllWatchOptions;
  TWatchActions FWatchActions = AllWatchActions;
  std::shared_ptr<TState> FState;
  TDirWatchClock::time_point FReportTime{};
};

}  // namespace dz
