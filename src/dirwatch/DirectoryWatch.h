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
//
// Threads: the watcher object belongs to the thread that created it (its
// owner), and every member is called there. Only the system side's start
// may run elsewhere: StartInBackground hands the backend's Start (on Linux
// a walk of the whole tree) to a starter thread the watcher owns and hands
// the started backend back through the queue. Reports the backend makes
// while it starts are queued and delivered as usual. Stop and the
// destructor cancel a start in progress and wait for the starter thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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
// Every change of one batch that the watcher's actions let through, in
// order, and when the batch was read from the system: a batch can wait in
// the queue for a long while, so ReadTime, not the time it is handled,
// tells which changes it covers.
using TBatchEvent = std::function<void(TDirectoryWatch& Sender, const std::vector<TWatchChange>& Batch,
                                       TDirWatchClock::time_point ReadTime)>;
// Since is the error's (for 1022 the time from which changes may have been
// lost; DirWatchBackend.h).
using TOnError = std::function<void(TDirectoryWatch& Sender, int ErrorCode, const std::string& ErrorMessage,
                                    TDirWatchClock::time_point Since)>;
using TNotifyEvent = std::function<void(TDirectoryWatch& Sender)>;
// The end of a start in the background: ErrorMessage is empty when the
// watcher runs, else the text Start would have raised.
using TStartedEvent = std::function<void(TDirectoryWatch& Sender, const std::string& ErrorMessage)>;

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
  // Starts without waiting for the system side: returns at once (raises
  // EDirWatchError only when there is no directory or no backend), and
  // OnStarted says later, on the owning thread, how the start ended. Until
  // then Starting() is true and Running() false. Nothing while the watcher
  // runs or starts already.
  void StartInBackground();
  // Also cancels a start in the background; its OnStarted never comes.
  void Stop();
  bool Running() const;
  bool Starting() const { return FStartJob != nullptr; }

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
  TFileChangeNotifyEvent OnNotify;  // each change, after OnBatch has had its batch
  TBatchEvent OnBatch;
  TNotifyEvent OnChange;  // after Start, Stop and every effective setter call
  TOnError OnError;       // the backend's error reports (DirWatchBackend.h)
  // After StartInBackground; the handler may destroy the watcher.
  TStartedEvent OnStarted;

protected:
  virtual void DoChange();
  virtual void DoNotify(int Action, const std::string& FileName);
  // The batch as OnBatch takes it: the actions asked for, in order.
  void DoBatch(const std::vector<TDirChange>& Batch, TDirWatchClock::time_point ReadTime);

private:
  // The backend and the lifetime guard of queued reports (DirectoryWatch.cpp).
  struct TState;
  // A start in the background (DirectoryWatch.cpp).
  struct TStartJob;
  std::unique_ptr<TDirWatchBackend> MakeBackend(TDirWatchRequest& Request) const;
  void StartFinished(const std::shared_ptr<TStartJob>& Job);
  // Cancels a start in progress and waits for it; a backend it started is
  // stopped.
  void AbandonStart();
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
  std::shared_ptr<TStartJob> FStartJob;
  std::thread FStarter;
};

}  // namespace dz
