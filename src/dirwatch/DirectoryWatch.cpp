#include "dirwatch/DirectoryWatch.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "base/CaseFold.h"
#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "platform/SysError.h"

namespace dz {

namespace {

// One record of the system's change buffer: 12 bytes of header and a name of
// 260 UTF-16 characters.
constexpr std::uint64_t ChangeRecordSize = 532;
// The buffer size handed to the backend stays within what a 32-bit size and
// the system's own limits allow, whatever BufferSize holds.
constexpr std::uint64_t MaxBufferBytes = 64u * 1024 * 1024;

// Blanks and control characters at both ends go, as the user may have typed them.
std::string Trimmed(const std::string& Text) {
  const auto Keep = [](char C) { return static_cast<unsigned char>(C) > ' '; };
  const auto First = std::find_if(Text.begin(), Text.end(), Keep);
  const auto Last = std::find_if(Text.rbegin(), Text.rend(), Keep).base();
  return First < Last ? std::string(First, Last) : std::string();
}

}  // namespace

std::string WatchedDirectoryName(const std::string& Value, const TDirNameRules& Rules) {
  return Rules.TrimEnds ? Trimmed(Value) : Value;
}

bool SameWatchedDirectory(const std::string& A, const std::string& B, const TDirNameRules& Rules) {
  return Rules.IgnoreCase ? SameText(A, B) : A == B;
}

std::uint32_t NotifyFilterOf(TWatchOptions Options) {
  static constexpr std::pair<TWatchOption, std::uint32_t> Bits[] = {
      {woFileName, DirNotifyFileName},     {woDirName, DirNotifyDirName},
      {woAttributes, DirNotifyAttributes}, {woSize, DirNotifySize},
      {woLastWrite, DirNotifyLastWrite},   {woLastAccess, DirNotifyLastAccess},
      {woCreation, DirNotifyCreation},     {woSecurity, DirNotifySecurity},
  };
  std::uint32_t Filter = 0;
  for (const auto& [Option, Bit] : Bits)
    if (Options.Contains(Option)) Filter |= Bit;
  return Filter;
}

// The receiving end of the backend, shared with the calls it has queued: a
// call finds Owner empty once the watcher is gone and then drops its
// reports. Owner and Backend are touched on the owning thread only; the
// backend calls Changes and Error from its worker, which only queue calls.
struct TDirectoryWatch::TState final : TDirWatchSink, std::enable_shared_from_this<TState> {
  explicit TState(TMainThreadQueue& AQueue) : Queue(AQueue) {}

  void Changes(std::vector<TDirChange> Batch, TDirWatchClock::time_point ReadTime) override {
    // One queued call per batch, not per change: a burst of a hundred
    // thousand files is a few hundred calls.
    Queue.Post([Guard = weak_from_this(), Batch = std::move(Batch), ReadTime] {
      std::shared_ptr<TState> State = Guard.lock();
      if (!State || State->Owner == nullptr) return;
      std::exception_ptr Failure;
      try {
        State->Owner->DoBatch(Batch, ReadTime);
      } catch (...) {
        Failure = std::current_exception();
      }
      for (const TDirChange& Change : Batch) {
        if (State->Owner == nullptr) break;  // a handler destroyed the watcher
        try {
          State->Owner->DoNotify(Change.Action, Change.FileName);
        } catch (...) {
          // A failing handler must not swallow the rest of the batch; the
          // first failure is raised once the batch is through.
          if (!Failure) Failure = std::current_exception();
        }
      }
      if (Failure) std::rethrow_exception(Failure);
    });
  }

  void Error(int Code, std::string Text, TDirWatchClock::time_point Since) override {
    Queue.Post([Guard = weak_from_this(), Code, Text = std::move(Text), Since] {
      std::shared_ptr<TState> State = Guard.lock();
      if (!State || State->Owner == nullptr) return;
      TDirectoryWatch& Watch = *State->Owner;
      if (Watch.OnError) Watch.OnError(Watch, Code, Text, Since);
    });
  }

  TMainThreadQueue& Queue;
  TDirectoryWatch* Owner = nullptr;
  std::unique_ptr<TDirWatchBackend> Backend;
};

struct TDirectoryWatch::TStartJob {
  // Made on the owning thread before the starter thread runs.
  std::unique_ptr<TDirWatchBackend> Backend;
  TDirWatchRequest Request;
  // Written by the starter thread; read on the owning thread once it has
  // been joined.
  bool Failed = false;
  int Code = 0;             // of an EDirWatchOpenError
  std::string OtherFailure;  // any other failure's text
};

namespace {

std::string OpenErrorText(const std::string& Directory, int Code) {
  return SafeFormat(Tr("Error trying to create file handle for \"%s\". Error code: %d"), Directory, Code);
}

}  // namespace

TDirectoryWatch::TDirectoryWatch(int AId, TMainThreadQueue& Queue, TDirWatchBackendFactory Factory)
    : FId(AId), FQueue(Queue), FFactory(std::move(Factory)), FState(std::make_shared<TState>(Queue)) {
  FState->Owner = this;
}

TDirectoryWatch::~TDirectoryWatch() {
  // No OnChange here: its handler would see a watcher half destroyed, and
  // usually an owner that is being destroyed as well.
  AbandonStart();
  if (FState->Backend) FState->Backend->Stop();
  FState->Backend.reset();
  FState->Owner = nullptr;
}

std::unique_ptr<TDirWatchBackend> TDirectoryWatch::MakeBackend(TDirWatchRequest& Request) const {
  if (FDirectory.empty()) throw EDirWatchError(Tr("Please specify a directory to watch"));
  const std::uint64_t Records = static_cast<std::uint64_t>(std::max<std::int32_t>(BufferSize, 1));
  Request.Directory = FDirectory;
  Request.WatchSubTree = FWatchSubTree;
  Request.Filter = NotifyFilterOf(FWatchOptions);
  Request.BufferSize = static_cast<std::uint32_t>(std::min(Records * ChangeRecordSize, MaxBufferBytes));
  std::unique_ptr<TDirWatchBackend> Backend = FFactory ? FFactory() : nullptr;
  if (!Backend) throw EDirWatchError(OpenErrorText(FDirectory, ErrNotSupported));
  return Backend;
}

void TDirectoryWatch::Start() {
  if (FDirectory.empty()) throw EDirWatchError(Tr("Please specify a directory to watch"));
  if (Running() || Starting()) return;
  TDirWatchRequest Request;
  std::unique_ptr<TDirWatchBackend> Backend = MakeBackend(Request);
  try {
    Backend->Start(Request, *FState);
  } catch (const EDirWatchOpenError& E) {
    throw EDirWatchError(OpenErrorText(FDirectory, E.Code()));
  }
  FState->Backend = std::move(Backend);
  DoChange();
}

void TDirectoryWatch::StartInBackground() {
  if (FDirectory.empty()) throw EDirWatchError(Tr("Please specify a directory to watch"));
  if (Running() || Starting()) return;
  auto Job = std::make_shared<TStartJob>();
  Job->Backend = MakeBackend(Job->Request);
  // The thread holds the receiving end, not the watcher: the backend's
  // reports during the start only queue calls, which find the watcher (or
  // its absence) on the owning thread.
  FStarter = std::thread([Job, State = FState] {
    try {
      Job->Backend->Start(Job->Request, *State);
    } catch (const EDirWatchOpenError& E) {
      Job->Failed = true;
      Job->Code = E.Code();
    } catch (const std::exception& E) {
      Job->Failed = true;
      Job->OtherFailure = E.what();
    }
    State->Queue.Post([Guard = State->weak_from_this(), Job] {
      std::shared_ptr<TState> Alive = Guard.lock();
      if (Alive && Alive->Owner != nullptr) Alive->Owner->StartFinished(Job);
    });
  });
  FStartJob = std::move(Job);
}

void TDirectoryWatch::StartFinished(const std::shared_ptr<TStartJob>& Job) {
  // A start that was cancelled, or one before it, was dealt with by Stop.
  if (Job != FStartJob) return;
  FStarter.join();
  FStartJob.reset();
  std::string Error;
  if (Job->Failed) {
    Error = Job->OtherFailure.empty() ? OpenErrorText(Job->Request.Directory, Job->Code) : Job->OtherFailure;
    Job->Backend.reset();
  } else {
    FState->Backend = std::move(Job->Backend);
    DoChange();
  }
  // Last: the handler may destroy this watcher.
  if (OnStarted) OnStarted(*this, Error);
}

void TDirectoryWatch::AbandonStart() {
  if (!FStartJob) return;
  const std::shared_ptr<TStartJob> Job = std::move(FStartJob);
  Job->Backend->CancelStart();
  FStarter.join();
  if (!Job->Failed) Job->Backend->Stop();  // it had started before the cancel came
  Job->Backend.reset();
}

void TDirectoryWatch::Stop() {
  if (Starting()) {
    AbandonStart();
    if (!Running()) {
      DoChange();
      return;
    }
  }
  if (!Running()) return;
  // Reports the backend has queued already stay queued and are delivered
  // while this watcher exists.
  FState->Backend->Stop();
  FState->Backend.reset();
  DoChange();
}

bool TDirectoryWatch::Running() const { return FState->Backend != nullptr; }

void TDirectoryWatch::SetDirectory(const std::string& Value) {
  const std::string NewValue = WatchedDirectoryName(Value);
  if (SameWatchedDirectory(NewValue, FDirectory)) return;
  FDirectory = NewValue;
  Restart();
}

void TDirectoryWatch::SetWatchSubTree(bool Value) {
  if (Value == FWatchSubTree) return;
  FWatchSubTree = Value;
  Restart();
}

void TDirectoryWatch::SetWatchOptions(TWatchOptions Value) {
  if (Value == FWatchOptions) return;
  FWatchOptions = Value;
  Restart();
}

void TDirectoryWatch::SetWatchActions(TWatchActions Value) {
  if (Value == FWatchActions) return;
  FWatchActions = Value;
  Restart();
}

void TDirectoryWatch::Restart() {
  if (Starting()) {
    Stop();
    StartInBackground();
  } else if (Running()) {
    Stop();
    Start();
  }
  DoChange();
}

void TDirectoryWatch::DoChange() {
  if (OnChange) OnChange(*this);
}

namespace {

// The action of a backend's record, or false for a number it does not know.
bool WatchActionOf(int Action, TWatchAction& Result) {
  const int A = Action - 1;
  if (A < waAdded || A > waRenamedNew) return false;
  Result = static_cast<TWatchAction>(A);
  return true;
}

}  // namespace

void TDirectoryWatch::DoBatch(const std::vector<TDirChange>& Batch, TDirWatchClock::time_point ReadTime) {
  if (!OnBatch) return;
  std::vector<TWatchChange> Changes;
  Changes.reserve(Batch.size());
  for (const TDirChange& Change : Batch) {
    TWatchAction Action{};
    if (WatchActionOf(Change.Action, Action) && FWatchActions.Contains(Action))
      Changes.push_back({Action, Change.FileName, Change.Kind});
  }
  if (!Changes.empty()) OnBatch(*this, Changes, ReadTime);
}

void TDirectoryWatch::DoNotify(int Action, const std::string& FileName) {
  if (!OnNotify) return;
  TWatchAction WatchAction{};
  if (WatchActionOf(Action, WatchAction) && FWatchActions.Contains(WatchAction))
    OnNotify(*this, FId, WatchAction, FileName);
}

}  // namespace dz
