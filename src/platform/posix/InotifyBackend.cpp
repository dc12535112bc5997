// The directory-watch backend on Linux. inotify watches single directories,
// so the backend keeps one watch per directory of the tree and a tree of
// nodes that gives each watch descriptor its current path: a directory that
// is renamed is one node moved, and everything below it follows.
//
// One worker thread per backend drains the inotify queue as fast as it can
// and hands each batch to the sink; the sink only queues it for the owning
// thread. The worker waits in poll() on the inotify descriptor, the mount
// table (a file system mounted in the tree changes what a path shows, and
// inotify says nothing of it) and an eventfd, so Stop wakes it at once.
//
// Nothing raised in the worker leaves it: a failure while a new part of the
// tree is walked is reported and leaves that part watched as far as it got;
// one anywhere else ends the worker with a report, never the program.

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "platform/DirWalk.h"
#include "platform/DirWatchBackend.h"
#include "platform/SysError.h"
#include "platform/posix/Errno.h"
#include "platform/posix/MountTables.h"
#include "platform/posix/UniqueFd.h"

namespace dz {

const TDirNameRules SystemDirNameRules{false, false};

namespace {

using TClock = std::chrono::steady_clock;

// How long an IN_MOVED_FROM without its IN_MOVED_TO in the same read waits
// for the partner. The kernel queues both within one rename call, so the
// partner is either there already or follows within microseconds; a move
// out of the tree costs this once per batch.
constexpr std::chrono::milliseconds MovePartnerGrace{10};

// A file that is being written is reported when it is closed. One that stays
// open (a log file) is reported at most this long after its first write
// since the last report, so its changes are never held back for good.
constexpr std::chrono::milliseconds OpenWriteReportDelay{1000};

// A worker that does not end within this time after Stop (stuck in a system
// call on a dead network file system) is left behind; it never calls the
// sink again and frees its resources when it ends.
constexpr std::chrono::milliseconds StopTimeout{3000};

constexpr std::size_t ReadBufferSize = 256 * 1024;
// Reads per batch at most, so that a flood still gets delivered in pieces.
constexpr int ReadsPerBatch = 8;
// A read that left at least this much of the buffer unused took every event
// that was queued when it began.
constexpr std::size_t LargestEvent = sizeof(inotify_event) + NAME_MAX + 1;

constexpr const char* MountTablePath = "/proc/self/mountinfo";

constexpr std::uint32_t NameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

std::uint32_t MaskOfFilter(std::uint32_t Filter) {
  // The tree is kept up to date whatever was asked for; which name changes
  // are reported is decided on the way out.
  std::uint32_t Mask = NameEvents | IN_DELETE_SELF | IN_MOVE_SELF | IN_EXCL_UNLINK;
  if (Filter & (DirNotifySize | DirNotifyLastWrite)) Mask |= IN_MODIFY | IN_CLOSE_WRITE;
  // Time stamps set by a program (a copy keeping them, an archive being
  // unpacked), permissions and owners all arrive as attribute changes.
  if (Filter & (DirNotifyAttributes | DirNotifyCreation | DirNotifySecurity)) Mask |= IN_ATTRIB;
  if (Filter & DirNotifyLastAccess) Mask |= IN_ACCESS;
  return Mask;
}

int ReadProcNumber(const char* Path) {
  std::ifstream In(Path);
  long long Value = 0;
  if (!(In >> Value) || Value < 0 || Value > 0x7fffffff) return -1;
  return static_cast<int>(Value);
}

std::string JoinRel(const std::string& Dir, const std::string& Name) {
  return Dir.empty() ? Name : Dir + "/" + Name;
}

// The system code and a text for something raised in the worker.
std::pair<int, std::string> Describe(const std::exception_ptr& Failure) {
  try {
    std::rethrow_exception(Failure);
  } catch (const std::bad_alloc&) {
    return {ErrNotEnoughMemory, PlatformErrorText(ErrNotEnoughMemory)};
  } catch (const std::system_error& E) {
    const std::error_category& Category = E.code().category();
    const bool FromErrno = Category == std::generic_category() || Category == std::system_category();
    return {FromErrno ? SysErrorFromErrno(E.code().value()) : ErrInvalidFunction, E.what()};
  } catch (const std::exception& E) {
    return {ErrInvalidFunction, E.what()};
  } catch (...) {
    return {ErrInvalidFunction, Tr("Unknown error")};
  }
}

struct TRawEvent {
  int Wd;
  std::uint32_t Mask;
  std::uint32_t Cookie;
  std::string Name;
  // IN_Q_OVERFLOW: the last moment the queue was known to be empty before
  // the loss; every lost change was made after it.
  TDirWatchClock::time_point Since{};
};

// One watched directory.
struct TDirNode {
  int Wd = -1;
  TDirNode* Parent = nullptr;
  std::string Name;  // empty for the root
  std::map<std::string, TDirNode*, std::less<>> Children;
};

// A file by its directory's watch and its name: a rename of a directory
// above it leaves the key as it is.
using TFileKey = std::pair<int, std::string>;

// A rename by the watches and names on both sides: from, then to.
using TRenameKey = std::tuple<int, std::string, int, std::string>;

// Which mount is seen at each mount point of the tree, by its path relative
// to the watched directory ("" for the directory itself).
struct TMountView {
  std::map<std::string, int> Seen;
  bool RootMountThere = false;  // the mount that held the watched directory at the start
};

class TInotifyWorker {
public:
  TInotifyWorker(const TDirWatchRequest& Request, TDirWatchSink& Sink)
      : FRequest(Request), FSink(&Sink), FMask(MaskOfFilter(Request.Filter)) {
    FRootPath = Request.Directory;
    while (FRootPath.size() > 1 && FRootPath.back() == '/') FRootPath.pop_back();
  }

  // On the starting thread: opens everything and watches the whole tree, so
  // that every change after Start returns is seen. Raises EDirWatchOpenError.
  void Setup();
  // The worker thread's body. Whatever is raised inside ends here.
  void Run() noexcept;

  // Any thread, while Setup runs: the walk of the tree ends early. Only the
  // flag: the wake-up descriptor may not exist yet.
  void CancelSetup() { FStopping.store(true); }
  void RequestStop() {
    FStopping.store(true);
    const std::uint64_t One = 1;
    // The counter cannot overflow from a handful of writes; a failure leaves
    // nothing to do but to rely on the flag, which the loop checks as well.
    [[maybe_unused]] const ssize_t Written = ::write(FWake.Get(), &One, sizeof One);
  }
  // After this the sink is never called again; waits for a call in progress.
  void CloseGate() {
    std::lock_guard<std::mutex> Lock(FGateLock);
    FSink = nullptr;
  }
  void MarkFinished() {
    std::lock_guard<std::mutex> Lock(FFinishLock);
    FFinished = true;
    FFinishSignal.notify_all();
  }
  bool WaitFinished(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> Lock(FFinishLock);
    return FFinishSignal.wait_for(Lock, Timeout, [this] { return FFinished; });
  }
  // On the worker thread once it has finished: closing an inotify instance
  // waits for the kernel to retire its watches, tens of milliseconds, and
  // freeing a large tree takes a while too; neither should hold up Stop.
  // The eventfd stays until the worker is destroyed, since Stop may still
  // write to it.
  void ReleaseWatches() {
    FInotify.Reset();
    FMountTable.Reset();
    FNodes.clear();
    FRoot = nullptr;
    FOpenWrites.clear();
  }

private:
  enum TReadResult { rrOk, rrStop, rrFailed };
  // What a watch is asked for: the watched directory itself (a link to it
  // is followed; a failure is for Start to raise), a directory of the tree
  // (a failure is reported), or only to learn which directory a path shows
  // now.
  enum TWatchUse { wuRoot, wuTree, wuProbe };

  void Loop();

  // --- the tree ---------------------------------------------------------
  std::string RelPathOf(const TDirNode* Node) const;
  std::string AbsPathOf(const std::string& RelPath) const {
    if (RelPath.empty()) return FRootPath;
    return FRootPath == "/" ? "/" + RelPath : FRootPath + "/" + RelPath;
  }
  TDirNode* NodeOf(int Wd) const {
    const auto It = FNodes.find(Wd);
    return It == FNodes.end() ? nullptr : It->second.get();
  }
  TDirNode* ChildOf(TDirNode* Node, const std::string& Name) const {
    const auto It = Node->Children.find(Name);
    return It == Node->Children.end() ? nullptr : It->second;
  }
  // The node of the directory at RelPath ("" the root), or nullptr.
  TDirNode* NodeAt(const std::string& RelPath) const;
  int AddWatch(const std::string& AbsPath, TWatchUse Use, int* Errno = nullptr);
  // Watches Parent/Name and the tree below it. With ReportContents, reports the
  // entries found below it as added (a directory created or moved in: its
  // files may have been written before the watch existed).
  void AddTree(TDirNode* Parent, const std::string& Name, bool ReportContents);
  // Watches the directories below Top, which is at RelPath.
  void WatchBelow(TDirNode* Top, const std::string& RelPath, bool ReportContents);
  // Files below a directory that were never watched: its entries as added.
  void ReportTree(const std::string& RelPath);
  enum TAttach { atNew, atKnown, atFailed };
  TAttach Attach(TDirNode* Parent, const std::string& Name, int Wd, TDirNode*& Node);
  void Detach(TDirNode* Node);
  void Reparent(TDirNode* Node, TDirNode* Parent, const std::string& Name);
  void DropSubtree(TDirNode* Node, bool RemoveWatches);
  void ForgetWatches(const std::set<int>& Wds);
  void Resync();

  // --- mounts -----------------------------------------------------------
  bool ReadMountView(TMountView& View) const;
  void FollowMounts();
  void RewatchRoot();
  void RewatchPath(const std::string& RelPath);

  // --- events -----------------------------------------------------------
  TReadResult ReadAvailable(std::vector<TRawEvent>& Events);
  TReadResult WaitForPartners(std::vector<TRawEvent>& Events);
  void Process(std::vector<TRawEvent>& Events);
  void Renamed(TDirNode* FromDir, const TRawEvent& From, TDirNode* ToDir, const TRawEvent& To, bool IsDir);
  bool TakeExchangeHalf(const TRawEvent& From, const TRawEvent& To);
  // With Appeared, a name that is no directory itself is looked at: it may
  // be a link to one, which the receiver takes for a directory.
  void Report(int Action, const std::string& RelPath, bool IsDir, bool Appeared = false);
  // An entry found in a walk, as added.
  void ReportWalked(const std::string& RelPath, TDirEntryKind Kind) {
    Report(DirActionAdded, RelPath, Kind == dekDirectory, Kind == dekLink);
  }
  TChangeKind KindSeenAt(const std::string& RelPath) const;
  void ReportModified(int Wd, const std::string& Name, bool IsDir, bool Appeared = false);
  void ForgetFile(int Wd, const std::string& Name) {
    FReportedInBatch.erase({Wd, Name});
    FOpenWrites.erase({Wd, Name});
  }
  void FlushDueWrites(TClock::time_point Now);
  int PollTimeout(TClock::time_point Now) const;

  // --- the sink ---------------------------------------------------------
  void Deliver();
  void HandOn(std::vector<TDirChange> Batch);
  // Since: see TDirWatchSink::Error; the current time when not given.
  void EmitError(int Code, const std::string& Text,
                 TDirWatchClock::time_point Since = TDirWatchClock::time_point::min());
  // An error after which no more reports follow.
  void EndWatching(int Code, const std::string& Text) {
    FEnded = true;
    EmitError(Code, Text);
  }
  void ReportWatchLimit(const std::string& AbsPath);
  void ReportUnwatchable(const std::string& AbsPath, int Errno);
  void ReportPartlyWatched(const std::string& RelPath, const std::exception_ptr& Failure);
  void ReportNewFileSystem(const std::string& RelPath);
  bool RootGone(const TRawEvent& Event);

  TDirWatchRequest FRequest;
  std::string FRootPath;
  std::mutex FGateLock;
  TDirWatchSink* FSink;  // guarded by FGateLock
  std::uint32_t FMask;
  TUniqueFd FInotify;
  TUniqueFd FWake;
  TUniqueFd FMountTable;  // signals POLLPRI after a mount or unmount
  std::atomic<bool> FStopping{false};
  std::mutex FFinishLock;
  std::condition_variable FFinishSignal;
  bool FFinished = false;

  // Everything below belongs to the thread that runs Setup, then to the worker.
  bool FInWorker = false;
  bool FEnded = false;  // the root is gone or the queue failed: the worker ends
  struct TDeferredError {
    int Code;
    std::string Text;
    TDirWatchClock::time_point Since;
  };
  std::vector<TDeferredError> FDeferredErrors;
  // When the batch in hand was read; the last moment the system's queue was
  // known to be empty (just before a read that took all of it, or when
  // watching began); and that moment as it was when the batch in hand was
  // read: every change in the batch was made after it.
  TDirWatchClock::time_point FReadTime = TDirWatchClock::now();
  TDirWatchClock::time_point FDrainTime = FReadTime;
  TDirWatchClock::time_point FBatchSince = FReadTime;
  bool FWatchLimitReported = false;
  std::set<std::string> FUnwatchable;  // reported already, by absolute path
  std::string FRealRoot;               // the watched directory with links resolved
  TMountView FMounts;
  int FRootMountId = -1;
  std::unordered_map<int, std::unique_ptr<TDirNode>> FNodes;
  TDirNode* FRoot = nullptr;
  std::vector<TDirChange> FBatch;
  std::set<TFileKey> FReportedInBatch;
  std::map<TFileKey, TClock::time_point> FOpenWrites;  // first unreported write -> report deadline
  // Renames of this batch and the one before, for telling an exchange: its
  // second half is queued with the first, but a read may come between them.
  struct TRecentRename {
    bool Exchanged;  // the first half of an exchange, as the watches showed
    unsigned Batch;
  };
  std::map<TRenameKey, TRecentRename> FRecentRenames;
  unsigned FBatchNumber = 0;
  std::vector<char> FBuffer;
};

std::string TInotifyWorker::RelPathOf(const TDirNode* Node) const {
  std::vector<const std::string*> Names;
  std::size_t Length = 0;
  for (; Node != nullptr && Node->Parent != nullptr; Node = Node->Parent) {
    Names.push_back(&Node->Name);
    Length += Node->Name.size() + 1;
  }
  std::string Path;
  Path.reserve(Length);
  for (auto It = Names.rbegin(); It != Names.rend(); ++It) {
    if (!Path.empty()) Path += '/';
    Path += **It;
  }
  return Path;
}

TDirNode* TInotifyWorker::NodeAt(const std::string& RelPath) const {
  TDirNode* Node = FRoot;
  std::size_t Start = 0;
  while (Node != nullptr && Start < RelPath.size()) {
    const std::size_t Slash = RelPath.find('/', Start);
    const std::size_t End = Slash == std::string::npos ? RelPath.size() : Slash;
    Node = ChildOf(Node, RelPath.substr(Start, End - Start));
    Start = End + 1;
  }
  return Node;
}

int TInotifyWorker::AddWatch(const std::string& AbsPath, TWatchUse Use, int* Errno) {
  // Below the root, a name must still be a directory and not a link to one:
  // the tree's own directories are watched, nothing it points to.
  std::uint32_t Mask = FMask | IN_ONLYDIR;
  if (Use != wuRoot) Mask |= IN_DONT_FOLLOW;
  const int Wd = ::inotify_add_watch(FInotify.Get(), AbsPath.c_str(), Mask);
  if (Wd >= 0) {
    if (Use == wuTree && !FUnwatchable.empty()) FUnwatchable.erase(AbsPath);
    return Wd;
  }
  const int Error = errno;
  if (Errno != nullptr) *Errno = Error;
  if (Error == ENOSPC)
    ReportWatchLimit(AbsPath);
  else if (Use == wuTree && Error != ENOENT && Error != ENOTDIR)
    ReportUnwatchable(AbsPath, Error);
  // Gone again, or replaced by a file or a link: nothing to watch there, nor
  // below it.
  return Wd;
}

TInotifyWorker::TAttach TInotifyWorker::Attach(TDirNode* Parent, const std::string& Name, int Wd,
                                               TDirNode*& Node) {
  if (Wd < 0) return atFailed;
  if (TDirNode* Known = NodeOf(Wd)) {
    // The same directory again: seen already under this name, or it moved
    // here and its move was lost (then it follows its new name), or it is
    // reachable twice (a bind mount), when it is watched under its first name only.
    Node = Known;
    if (Known == FRoot || (Known->Parent == Parent && Known->Name == Name)) return atKnown;
    bool Inside = false;
    for (const TDirNode* Up = Parent; Up != nullptr; Up = Up->Parent) Inside = Inside || Up == Known;
    if (Inside) return atKnown;
    const int Again = AddWatch(AbsPathOf(RelPathOf(Known)), wuProbe);
    if (Again == Wd) return atKnown;
    // Its old name is empty or holds another directory, whose own creation
    // report is still on its way and will watch it properly.
    if (Again >= 0 && NodeOf(Again) == nullptr) ::inotify_rm_watch(FInotify.Get(), Again);
    Reparent(Known, Parent, Name);
    return atKnown;
  }
  if (TDirNode* Stale = ChildOf(Parent, Name)) DropSubtree(Stale, true);
  auto Created = std::make_unique<TDirNode>();
  Created->Wd = Wd;
  Created->Parent = Parent;
  Created->Name = Name;
  Node = Created.get();
  Parent->Children.emplace(Name, Node);
  FNodes.emplace(Wd, std::move(Created));
  return atNew;
}

void TInotifyWorker::Detach(TDirNode* Node) {
  if (Node->Parent == nullptr) return;
  const auto It = Node->Parent->Children.find(Node->Name);
  if (It != Node->Parent->Children.end() && It->second == Node) Node->Parent->Children.erase(It);
}

void TInotifyWorker::Reparent(TDirNode* Node, TDirNode* Parent, const std::string& Name) {
  Detach(Node);
  // A directory renamed over an empty one replaces it.
  if (TDirNode* Replaced = ChildOf(Parent, Name); Replaced != nullptr && Replaced != Node) DropSubtree(Replaced, true);
  Node->Parent = Parent;
  Node->Name = Name;
  Parent->Children[Name] = Node;
}

void TInotifyWorker::DropSubtree(TDirNode* Node, bool RemoveWatches) {
  std::vector<TDirNode*> Doomed{Node};
  for (std::size_t I = 0; I < Doomed.size(); ++I)
    for (const auto& Child : Doomed[I]->Children) Doomed.push_back(Child.second);
  Detach(Node);
  std::set<int> Wds;
  for (TDirNode* Gone : Doomed) {
    // The kernel has dropped some of these already (the directory was
    // deleted); removing them again fails harmlessly.
    if (RemoveWatches) ::inotify_rm_watch(FInotify.Get(), Gone->Wd);
    Wds.insert(Gone->Wd);
  }
  ForgetWatches(Wds);
  for (int Wd : Wds) FNodes.erase(Wd);  // frees the nodes, Node among them
}

void TInotifyWorker::ForgetWatches(const std::set<int>& Wds) {
  for (auto It = FOpenWrites.begin(); It != FOpenWrites.end();)
    It = Wds.count(It->first.first) ? FOpenWrites.erase(It) : std::next(It);
  for (auto It = FReportedInBatch.begin(); It != FReportedInBatch.end();)
    It = Wds.count(It->first) ? FReportedInBatch.erase(It) : std::next(It);
}

void TInotifyWorker::AddTree(TDirNode* Parent, const std::string& Name, bool ReportContents) {
  const std::string RelPath = JoinRel(RelPathOf(Parent), Name);
  TDirNode* Top = nullptr;
  const TAttach Result = Attach(Parent, Name, AddWatch(AbsPathOf(RelPath), wuTree), Top);
  if (Result == atKnown) return;  // watched already, and with it everything below
  if (Result == atFailed) {
    // Not watchable (gone already, no permission, the watch limit): what is
    // inside is still reported, so that files written into it are not lost.
    if (ReportContents) ReportTree(RelPath);
    return;
  }
  WatchBelow(Top, RelPath, ReportContents);
}

void TInotifyWorker::WatchBelow(TDirNode* Top, const std::string& RelPath, bool ReportContents) {
  try {
    // The nodes of the directories found so far, by their path below Top.
    std::unordered_map<std::string, TDirNode*> Found{{std::string(), Top}};
    const std::string Prefix = RelPath.empty() ? std::string() : RelPath + "/";
    WalkDirectoryTree(
        AbsPathOf(RelPath),
        [&](const TDirWalkEntry& Entry) {
          if (FStopping.load()) return dwvStop;
          const bool IsDir = Entry.Kind == dekDirectory;
          if (ReportContents) ReportWalked(Prefix + Entry.RelPath, Entry.Kind);
          if (!IsDir) return dwvContinue;
          const std::size_t Slash = Entry.RelPath.rfind('/');
          const std::string Up = Slash == std::string::npos ? std::string() : Entry.RelPath.substr(0, Slash);
          const std::string Leaf = Slash == std::string::npos ? Entry.RelPath : Entry.RelPath.substr(Slash + 1);
          const auto ParentIt = Found.find(Up);
          if (ParentIt == Found.end()) return ReportContents ? dwvContinue : dwvSkip;  // below an unwatched one
          TDirNode* Node = nullptr;
          const TAttach Attached =
              Attach(ParentIt->second, Leaf, AddWatch(AbsPathOf(Prefix + Entry.RelPath), wuTree), Node);
          if (Attached == atNew) {
            Found.emplace(Entry.RelPath, Node);
            return dwvContinue;
          }
          // Known already: its contents are watched. Failed: still listed, so
          // that its files are reported.
          return Attached == atFailed && ReportContents ? dwvContinue : dwvSkip;
        },
        TDirWalkOptions{false, true});
  } catch (...) {
    // Memory ran out in a large tree, say. What is watched so far stays
    // watched; the receiver learns where the rest is not.
    ReportPartlyWatched(RelPath, std::current_exception());
  }
}

void TInotifyWorker::ReportTree(const std::string& RelPath) {
  try {
    const std::string Prefix = RelPath.empty() ? std::string() : RelPath + "/";
    WalkDirectoryTree(
        AbsPathOf(RelPath),
        [&](const TDirWalkEntry& Entry) {
          if (FStopping.load()) return dwvStop;
          ReportWalked(Prefix + Entry.RelPath, Entry.Kind);
          return FRequest.WatchSubTree ? dwvContinue : dwvSkip;
        },
        TDirWalkOptions{false, true});
  } catch (...) {
    ReportPartlyWatched(RelPath, std::current_exception());
  }
}

void TInotifyWorker::Resync() {
  // After lost reports the tree may have changed in any way: directories
  // created (and unwatched), renamed or removed. Walk it again: every
  // directory is watched, a known one is found by its watch descriptor
  // wherever it is now, and one not seen in the walk is gone.
  FRecentRenames.clear();
  if (FRoot == nullptr || !FRequest.WatchSubTree) return;
  try {
    std::set<int> Seen{FRoot->Wd};
    std::unordered_map<std::string, TDirNode*> Found{{std::string(), FRoot}};
    std::set<std::string> NewDirs;  // new here: everything below them is reported
    const int Result = WalkDirectoryTree(
        FRootPath,
        [&](const TDirWalkEntry& Entry) {
          if (FStopping.load()) return dwvStop;
          const std::size_t Slash = Entry.RelPath.rfind('/');
          const std::string Up = Slash == std::string::npos ? std::string() : Entry.RelPath.substr(0, Slash);
          const bool UnderNew = NewDirs.count(Up) != 0;
          const bool IsDir = Entry.Kind == dekDirectory;
          if (UnderNew) ReportWalked(Entry.RelPath, Entry.Kind);
          if (!IsDir) return dwvContinue;
          const auto ParentIt = Found.find(Up);
          if (ParentIt == Found.end()) return UnderNew ? dwvContinue : dwvSkip;
          const std::string Leaf = Slash == std::string::npos ? Entry.RelPath : Entry.RelPath.substr(Slash + 1);
          const int Wd = AddWatch(AbsPathOf(Entry.RelPath), wuTree);
          TDirNode* Node = nullptr;
          if (Wd >= 0 && NodeOf(Wd) != nullptr) {
            Node = NodeOf(Wd);
            if (Seen.count(Wd)) return dwvSkip;  // reachable twice
            if (Node->Parent != ParentIt->second || Node->Name != Leaf) Reparent(Node, ParentIt->second, Leaf);
          } else if (Attach(ParentIt->second, Leaf, Wd, Node) == atNew) {
            if (!UnderNew) Report(DirActionAdded, Entry.RelPath, true);
            NewDirs.insert(Entry.RelPath);
          } else {
            if (!UnderNew) Report(DirActionAdded, Entry.RelPath, true);
            NewDirs.insert(Entry.RelPath);
            return dwvContinue;  // not watchable: its files are still reported
          }
          Seen.insert(Wd);
          Found.emplace(Entry.RelPath, Node);
          return dwvContinue;
        },
        TDirWalkOptions{false, true});
    if (Result != 0 || FStopping.load()) return;  // the root itself is the loop's business
    std::vector<TDirNode*> Gone;
    for (const auto& [Wd, Node] : FNodes)
      if (!Seen.count(Wd)) Gone.push_back(Node.get());
    // Drop the topmost of them only; their sub-trees go with them.
    std::set<TDirNode*> GoneSet(Gone.begin(), Gone.end());
    for (TDirNode* Node : Gone) {
      if (GoneSet.count(Node->Parent)) continue;
      DropSubtree(Node, true);
    }
  } catch (...) {
    ReportPartlyWatched(std::string(), std::current_exception());
  }
}

bool TInotifyWorker::ReadMountView(TMountView& View) const {
  std::vector<TMountEntry> Mounts;
  if (ReadMountTable(MountTablePath, Mounts) != 0) return false;
  const TMountEntry* RootMount = FindMountOf(Mounts, FRealRoot);
  if (RootMount == nullptr) return false;
  View.Seen.clear();
  View.Seen[std::string()] = RootMount->Id;
  View.RootMountThere = std::any_of(Mounts.begin(), Mounts.end(),
                                    [this](const TMountEntry& Mount) { return Mount.Id == FRootMountId; });
  if (!FRequest.WatchSubTree) return true;
  const std::string Prefix = FRealRoot == "/" ? FRealRoot : FRealRoot + "/";
  for (const TMountEntry& Mount : Mounts) {
    if (Mount.MountPoint.size() <= Prefix.size() || Mount.MountPoint.compare(0, Prefix.size(), Prefix) != 0) continue;
    // Only what can be seen: a mount covered by another one on top of it, or
    // by one on a directory above it, shows nothing of the tree.
    const TMountEntry* Seen = FindMountOf(Mounts, Mount.MountPoint);
    if (Seen != nullptr && Seen->MountPoint == Mount.MountPoint) View.Seen[Mount.MountPoint.substr(Prefix.size())] = Seen->Id;
  }
  return true;
}

void TInotifyWorker::FollowMounts() {
  if (FRoot == nullptr || !FMountTable.Valid()) return;
  TMountView View;
  if (!ReadMountView(View) || View.Seen == FMounts.Seen) return;
  const std::map<std::string, int> Before = std::exchange(FMounts, View).Seen;
  const auto IdAt = [](const std::map<std::string, int>& Seen, const std::string& RelPath) {
    const auto It = Seen.find(RelPath);
    return It == Seen.end() ? -1 : It->second;
  };
  if (IdAt(Before, std::string()) != IdAt(View.Seen, std::string())) {
    if (!View.RootMountThere) {
      EndWatching(ErrNotReady, SafeFormat(Tr("The file system of the watched directory \"%s\" was unmounted"), FRootPath));
      return;
    }
    RewatchRoot();  // and everything below it
    return;
  }
  std::set<std::string> Changed;
  for (const auto& [RelPath, Id] : Before)
    if (IdAt(View.Seen, RelPath) != Id) Changed.insert(RelPath);
  for (const auto& [RelPath, Id] : View.Seen)
    if (IdAt(Before, RelPath) != Id) Changed.insert(RelPath);
  // Parents come first; one watched anew takes everything below it along.
  std::vector<std::string> Done;
  for (const std::string& RelPath : Changed) {
    const bool Below = std::any_of(Done.begin(), Done.end(), [&RelPath](const std::string& Top) {
      return RelPath.size() > Top.size() && RelPath.compare(0, Top.size(), Top) == 0 && RelPath[Top.size()] == '/';
    });
    if (Below) continue;
    RewatchPath(RelPath);
    Done.push_back(RelPath);
  }
}

// After what is seen there now was reported: a receiver that hears of it
// has all of it already.
void TInotifyWorker::ReportNewFileSystem(const std::string& RelPath) {
  EmitError(ErrNotSameDevice,
            SafeFormat(Tr("Another file system is seen at \"%s\" now (one was mounted or unmounted there): it is watched "
                          "from now on and what it holds is reported as added"),
                       AbsPathOf(RelPath)));
}

void TInotifyWorker::RewatchRoot() {
  int Errno = 0;
  if (AddWatch(FRootPath, wuRoot, &Errno) == FRoot->Wd) return;  // the same directory is seen there
  // Everything watched so far belongs to the file system no longer seen.
  while (!FRoot->Children.empty()) DropSubtree(FRoot->Children.begin()->second, true);
  ::inotify_rm_watch(FInotify.Get(), FRoot->Wd);
  ForgetWatches({FRoot->Wd});
  auto Root = FNodes.extract(FRoot->Wd);
  // Asked again: the first answer may have been a directory just dropped
  // along with the others (one seen twice).
  const int Wd = AddWatch(FRootPath, wuRoot, &Errno);
  if (Wd < 0) {
    FNodes.insert(std::move(Root));
    if (Errno == ENOENT || Errno == ENOTDIR)
      EndWatching(ErrFileNotFound, SafeFormat(Tr("The watched directory \"%s\" no longer exists"), FRootPath));
    else
      EndWatching(ErrOperationAborted, SafeFormat(Tr("Watching \"%s\" ended: the directory cannot be watched again: %s"),
                                                  FRootPath, PlatformErrorText(SysErrorFromErrno(Errno))));
    return;
  }
  Root.key() = Wd;
  Root.mapped()->Wd = Wd;
  FNodes.insert(std::move(Root));
  if (FRequest.WatchSubTree)
    WatchBelow(FRoot, std::string(), true);
  else
    ReportTree(std::string());
  ReportNewFileSystem(std::string());
}

void TInotifyWorker::RewatchPath(const std::string& RelPath) {
  const std::size_t Slash = RelPath.rfind('/');
  const std::string Name = Slash == std::string::npos ? RelPath : RelPath.substr(Slash + 1);
  TDirNode* Node = NodeAt(RelPath);
  TDirNode* Parent = Node != nullptr ? Node->Parent : NodeAt(Slash == std::string::npos ? std::string() : RelPath.substr(0, Slash));
  if (Parent == nullptr) return;  // in a part of the tree that is not watched
  if (Node != nullptr) {
    if (AddWatch(AbsPathOf(RelPath), wuProbe) == Node->Wd) return;  // the same directory is seen there
    DropSubtree(Node, true);
  }
  AddTree(Parent, Name, true);
  ReportNewFileSystem(RelPath);
}

void TInotifyWorker::Setup() {
  const int Check = CheckDirectory(FRootPath);
  if (Check != 0) throw EDirWatchOpenError(PlatformErrorText(Check), Check);
  FInotify.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!FInotify.Valid()) {
    const int Errno = errno;
    if (Errno == EMFILE)
      throw EDirWatchOpenError(
          SafeFormat(Tr("The system's limit of inotify instances (fs.inotify.max_user_instances = %d) is reached"),
                     ReadProcNumber("/proc/sys/fs/inotify/max_user_instances")),
          ErrTooManyOpenFiles);
    throw EDirWatchOpenError(PlatformErrorText(SysErrorFromErrno(Errno)), SysErrorFromErrno(Errno));
  }
  FWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!FWake.Valid()) {
    const int Code = SysErrorFromErrno(errno);
    throw EDirWatchOpenError(PlatformErrorText(Code), Code);
  }
  // The mount table is opened before it is read: a mount after that wakes
  // the worker. Without it, mounts in the tree are not followed.
  FMountTable.Reset(::open(MountTablePath, O_RDONLY | O_CLOEXEC));
  if (char* Real = ::realpath(FRootPath.c_str(), nullptr)) {
    FRealRoot = Real;
    ::free(Real);
  } else {
    FRealRoot = FRootPath;
  }
  int Errno = 0;
  const int RootWd = AddWatch(FRootPath, wuRoot, &Errno);
  if (RootWd < 0 && Errno != ENOSPC) {
    // Between the check and the watch the directory may have gone.
    const int Code = Errno == ENOENT ? CheckDirectory(FRootPath) : SysErrorFromErrno(Errno);
    throw EDirWatchOpenError(PlatformErrorText(Code), Code != 0 ? Code : ErrFileNotFound);
  }
  if (RootWd < 0) return;  // the limit: reported once the worker runs; nothing can be watched
  auto Root = std::make_unique<TDirNode>();
  Root->Wd = RootWd;
  FRoot = Root.get();
  FNodes.emplace(RootWd, std::move(Root));
  if (FMountTable.Valid() && ReadMountView(FMounts))
    FRootMountId = FMounts.Seen.at(std::string());
  else
    FMountTable.Reset();
  if (FRequest.WatchSubTree) WatchBelow(FRoot, std::string(), false);
}

void TInotifyWorker::Run() noexcept {
  std::exception_ptr Failure;
  try {
    Loop();
    return;
  } catch (...) {
    Failure = std::current_exception();
  }
  FEnded = true;
  try {
    const auto [Code, Reason] = Describe(Failure);
    EmitError(ErrOperationAborted,
              SafeFormat(Tr("Watching \"%s\" ended after an unexpected error: %s (%d)"), FRootPath, Reason, Code));
  } catch (...) {
    // The receiver refuses even this report: nothing more can be said.
  }
}

void TInotifyWorker::Loop() {
  FInWorker = true;
  FBuffer.resize(ReadBufferSize);
  for (const TDeferredError& Deferred : FDeferredErrors) EmitError(Deferred.Code, Deferred.Text, Deferred.Since);
  FDeferredErrors.clear();
  std::vector<TRawEvent> Events;
  while (!FStopping.load() && !FEnded) {
    pollfd Fds[3] = {{FWake.Get(), POLLIN, 0}, {FInotify.Get(), POLLIN, 0}, {FMountTable.Get(), POLLPRI, 0}};
    const int Ready = ::poll(Fds, 3, PollTimeout(TClock::now()));
    if (Ready < 0) {
      if (errno == EINTR) continue;
      const int Code = SysErrorFromErrno(errno);
      EndWatching(ErrOperationAborted, SafeFormat(Tr("Watching \"%s\" ended: waiting for changes failed: %s"),
                                                  FRootPath, PlatformErrorText(Code)));
      return;
    }
    if (Fds[0].revents != 0 || FStopping.load()) break;
    Events.clear();
    FBatchSince = FDrainTime;
    TReadResult Read = rrOk;
    if (Fds[1].revents != 0) {
      FReadTime = TDirWatchClock::now();
      Read = ReadAvailable(Events);
      if (Read == rrOk) Read = WaitForPartners(Events);
      if (Read == rrFailed) return;
    }
    Process(Events);
    if (Fds[2].revents != 0 && !FEnded) FollowMounts();
    FlushDueWrites(TClock::now());
    Deliver();
    if (Read == rrStop) break;
  }
  // Writes still held back for a file that is open were changes all the
  // same: reported now, before the gate closes, they still get backed up.
  if (!FEnded) {
    FlushDueWrites(TClock::time_point::max());
    Deliver();
  }
}

TInotifyWorker::TReadResult TInotifyWorker::ReadAvailable(std::vector<TRawEvent>& Events) {
  for (int Reads = 0; Reads < ReadsPerBatch; ++Reads) {
    const TDirWatchClock::time_point Before = TDirWatchClock::now();
    const ssize_t Got = ::read(FInotify.Get(), FBuffer.data(), FBuffer.size());
    if (Got < 0) {
      if (errno == EINTR) {
        --Reads;
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        FDrainTime = Before;
        return rrOk;
      }
      const int Code = SysErrorFromErrno(errno);
      Process(Events);
      EndWatching(ErrOperationAborted, SafeFormat(Tr("Watching \"%s\" ended: reading the changes failed: %s"),
                                                  FRootPath, PlatformErrorText(Code)));
      return rrFailed;
    }
    std::size_t Offset = 0;
    const std::size_t Size = static_cast<std::size_t>(Got);
    while (Offset + sizeof(inotify_event) <= Size) {
      inotify_event Header;
      std::memcpy(&Header, FBuffer.data() + Offset, sizeof Header);
      const char* Name = FBuffer.data() + Offset + sizeof Header;
      const std::size_t NameRoom = std::min<std::size_t>(Header.len, Size - Offset - sizeof Header);
      Events.push_back({Header.wd, Header.mask, Header.cookie, std::string(Name, ::strnlen(Name, NameRoom)),
                        (Header.mask & IN_Q_OVERFLOW) ? FDrainTime : TDirWatchClock::time_point()});
      Offset += sizeof Header + Header.len;
    }
    // Room left for the largest event: this read took everything that was
    // queued when it began, so the queue was empty then.
    if (FBuffer.size() - Size >= LargestEvent) {
      FDrainTime = Before;
      return rrOk;
    }
  }
  return rrOk;
}

TInotifyWorker::TReadResult TInotifyWorker::WaitForPartners(std::vector<TRawEvent>& Events) {
  std::set<std::uint32_t> Open;
  for (const TRawEvent& Event : Events) {
    if (Event.Mask & IN_MOVED_FROM) Open.insert(Event.Cookie);
    if (Event.Mask & IN_MOVED_TO) Open.erase(Event.Cookie);
  }
  if (Open.empty()) return rrOk;
  pollfd Fds[2] = {{FWake.Get(), POLLIN, 0}, {FInotify.Get(), POLLIN, 0}};
  const int Ready = ::poll(Fds, 2, static_cast<int>(MovePartnerGrace.count()));
  if (Ready <= 0) return rrOk;  // no partner: moved out (a failed wait is retried by the loop)
  if (Fds[0].revents != 0) return rrStop;
  return ReadAvailable(Events);
}

void TInotifyWorker::Report(int Action, const std::string& RelPath, bool IsDir, bool Appeared) {
  if (Action != DirActionModified) {
    const std::uint32_t Needed = IsDir ? DirNotifyDirName : DirNotifyFileName;
    if ((FRequest.Filter & Needed) == 0) return;
  }
  const TChangeKind Kind = IsDir ? ckDirectory : Appeared ? KindSeenAt(RelPath) : ckFile;
  FBatch.push_back({Action, RelPath, Kind});
}

TChangeKind TInotifyWorker::KindSeenAt(const std::string& RelPath) const {
  // Here on the worker, not on the receiver's thread: a link's target may
  // lie on a slow file system.
  struct stat St;
  if (::stat(AbsPathOf(RelPath).c_str(), &St) == 0) return S_ISDIR(St.st_mode) ? ckDirectory : ckFile;
  // Gone again, or a dangling link: no directory. Anything else (no
  // permission to look) is for the receiver to judge.
  return errno == ENOENT || errno == ENOTDIR ? ckFile : ckUnknown;
}

void TInotifyWorker::ReportModified(int Wd, const std::string& Name, bool IsDir, bool Appeared) {
  // One report per file and batch: a burst of writes, a close and a time
  // stamp set after it are one change.
  if (!FReportedInBatch.insert({Wd, Name}).second) return;
  if (const TDirNode* Node = NodeOf(Wd)) Report(DirActionModified, JoinRel(RelPathOf(Node), Name), IsDir, Appeared);
}

void TInotifyWorker::Process(std::vector<TRawEvent>& Events) {
  if (Events.empty()) return;
  ++FBatchNumber;
  for (auto It = FRecentRenames.begin(); It != FRecentRenames.end();)
    It = It->second.Batch + 1 < FBatchNumber ? FRecentRenames.erase(It) : std::next(It);

  // Pair each IN_MOVED_FROM with the IN_MOVED_TO of the same cookie.
  std::unordered_map<std::uint32_t, std::size_t> MovedTo;
  for (std::size_t I = 0; I < Events.size(); ++I)
    if (Events[I].Mask & IN_MOVED_TO) MovedTo.emplace(Events[I].Cookie, I);
  std::vector<bool> Consumed(Events.size(), false);

  for (std::size_t I = 0; I < Events.size() && !FEnded; ++I) {
    const TRawEvent& Event = Events[I];
    if (Event.Mask & IN_Q_OVERFLOW) {
      EmitError(ErrNotifyEnumDir, PlatformErrorText(ErrNotifyEnumDir), Event.Since);
      Resync();
      continue;
    }
    TDirNode* Node = NodeOf(Event.Wd);
    if (Node == nullptr) continue;  // a watch dropped already
    if (Event.Mask & (IN_IGNORED | IN_UNMOUNT | IN_DELETE_SELF)) {
      if (Node == FRoot) {
        if (RootGone(Event)) return;
      } else if (Event.Mask & IN_IGNORED) {
        DropSubtree(Node, true);
      }
      continue;
    }
    if ((Event.Mask & IN_MOVE_SELF) && Node == FRoot) {
      // The watched directory was renamed away (or swapped with another):
      // its path no longer names it, and the names below it would be
      // reported under a path where they are not. For the receiver it is
      // gone from its path, as if deleted.
      EndWatching(ErrFileNotFound, SafeFormat(Tr("The watched directory \"%s\" no longer exists"), FRootPath));
      return;
    }
    if (Event.Name.empty()) continue;  // about a directory itself; its parent's watch reports it
    const bool IsDir = (Event.Mask & IN_ISDIR) != 0;
    const std::string RelPath = JoinRel(RelPathOf(Node), Event.Name);

    if (Event.Mask & IN_CREATE) {
      ForgetFile(Event.Wd, Event.Name);
      Report(DirActionAdded, RelPath, IsDir, true);
      if (IsDir && FRequest.WatchSubTree) AddTree(Node, Event.Name, true);
    } else if (Event.Mask & IN_DELETE) {
      ForgetFile(Event.Wd, Event.Name);
      Report(DirActionRemoved, RelPath, IsDir);
      if (TDirNode* Child = IsDir ? ChildOf(Node, Event.Name) : nullptr) DropSubtree(Child, true);
    } else if (Event.Mask & IN_MOVED_FROM) {
      const auto Partner = MovedTo.find(Event.Cookie);
      TDirNode* ToNode = nullptr;
      if (Partner != MovedTo.end() && Partner->second > I && !Consumed[Partner->second])
        ToNode = NodeOf(Events[Partner->second].Wd);
      if (ToNode != nullptr) {
        Consumed[Partner->second] = true;
        Renamed(Node, Event, ToNode, Events[Partner->second], IsDir);
      } else {
        // Moved out of the tree: gone as far as this tree is concerned, and
        // its watches must go, or its changes would come in under a stale path.
        ForgetFile(Event.Wd, Event.Name);
        Report(DirActionRemoved, RelPath, IsDir);
        if (TDirNode* Child = IsDir ? ChildOf(Node, Event.Name) : nullptr) DropSubtree(Child, true);
      }
    } else if (Event.Mask & IN_MOVED_TO) {
      if (Consumed[I]) continue;
      ForgetFile(Event.Wd, Event.Name);
      Report(DirActionAdded, RelPath, IsDir, true);
      if (IsDir && FRequest.WatchSubTree) AddTree(Node, Event.Name, true);
    } else if (Event.Mask & IN_MODIFY) {
      // Reported when the file is closed, or after a while if it stays open.
      FOpenWrites.emplace(TFileKey{Event.Wd, Event.Name}, TClock::now() + OpenWriteReportDelay);
    } else if (Event.Mask & IN_CLOSE_WRITE) {
      // Also without a preceding IN_MODIFY: writes through a memory mapping
      // announce themselves only here.
      FOpenWrites.erase({Event.Wd, Event.Name});
      ReportModified(Event.Wd, Event.Name, IsDir);
    } else if (Event.Mask & IN_ATTRIB) {
      // Also set on a link itself, unlike a write.
      ReportModified(Event.Wd, Event.Name, IsDir, true);
    } else if ((Event.Mask & IN_ACCESS) && !IsDir) {
      // Directories are read by this backend itself whenever it walks them.
      ReportModified(Event.Wd, Event.Name, IsDir);
    }
  }
}

void TInotifyWorker::Renamed(TDirNode* FromDir, const TRawEvent& From, TDirNode* ToDir, const TRawEvent& To,
                             bool IsDir) {
  const std::string OldPath = JoinRel(RelPathOf(FromDir), From.Name);
  const std::string NewPath = JoinRel(RelPathOf(ToDir), To.Name);
  // A write in progress goes on under the new name.
  const auto Write = FOpenWrites.find({From.Wd, From.Name});
  const bool Writing = Write != FOpenWrites.end();
  const TClock::time_point Deadline = Writing ? Write->second : TClock::time_point();
  ForgetFile(From.Wd, From.Name);
  ForgetFile(To.Wd, To.Name);
  if (Writing) FOpenWrites[{To.Wd, To.Name}] = Deadline;

  if (TakeExchangeHalf(From, To)) {
    // The second half of an exchange (renameat2 with RENAME_EXCHANGE): what
    // had the target's name has the source's now. As a rename it would make
    // the receiver drop the name the first half gave; as far as names go, it
    // appeared here, with everything below it.
    Report(DirActionAdded, NewPath, IsDir, true);
    if (IsDir && FRequest.WatchSubTree) {
      if (ChildOf(ToDir, To.Name) != nullptr)
        ReportTree(NewPath);  // put in its place with the first half
      else
        AddTree(ToDir, To.Name, true);
    }
    return;
  }
  Report(DirActionRenamedOld, OldPath, IsDir);
  Report(DirActionRenamedNew, NewPath, IsDir, true);
  TDirNode* Child = IsDir ? ChildOf(FromDir, From.Name) : nullptr;
  TDirNode* Replaced = ChildOf(ToDir, To.Name);
  if (Replaced == Child) Replaced = nullptr;
  // Renamed over a directory of the tree: a plain rename replaces only an
  // empty one, which is gone then; an exchange gives it the source's name,
  // where the kernel finds it by its watch.
  bool Exchanged = false;
  if (Replaced != nullptr) {
    const int Seen = AddWatch(AbsPathOf(OldPath), wuProbe);
    Exchanged = Seen == Replaced->Wd;
    if (!Exchanged && Seen >= 0 && NodeOf(Seen) == nullptr) ::inotify_rm_watch(FInotify.Get(), Seen);
  }
  if (Exchanged) Detach(Replaced);
  if (Child != nullptr) {
    Reparent(Child, ToDir, To.Name);
    // Every file below has a new path now, and a receiver that keeps files
    // by path knows none of them under it: as for a directory moved in.
    if (FRequest.WatchSubTree) ReportTree(NewPath);
  } else if (IsDir && FRequest.WatchSubTree)
    AddTree(ToDir, To.Name, true);  // it was never watched: as if moved in
  else if (Replaced != nullptr && !Exchanged)
    DropSubtree(Replaced, true);  // a file renamed over an empty directory
  if (Exchanged) Reparent(Replaced, FromDir, From.Name);
  FRecentRenames[TRenameKey{From.Wd, From.Name, To.Wd, To.Name}] = {Exchanged, FBatchNumber};
}

bool TInotifyWorker::TakeExchangeHalf(const TRawEvent& From, const TRawEvent& To) {
  const auto It = FRecentRenames.find(TRenameKey{To.Wd, To.Name, From.Wd, From.Name});
  if (It == FRecentRenames.end()) return false;
  const bool Known = It->second.Exchanged;
  FRecentRenames.erase(It);
  if (Known) return true;
  // Without a watch to tell (files): a name renamed straight back is empty
  // now, an exchanged one holds what the first half moved there.
  const TDirNode* Dir = NodeOf(From.Wd);
  struct stat St;
  return Dir != nullptr && ::lstat(AbsPathOf(JoinRel(RelPathOf(Dir), From.Name)).c_str(), &St) == 0;
}

void TInotifyWorker::FlushDueWrites(TClock::time_point Now) {
  for (auto It = FOpenWrites.begin(); It != FOpenWrites.end();) {
    if (It->second > Now) {
      ++It;
      continue;
    }
    ReportModified(It->first.first, It->first.second, false);
    It = FOpenWrites.erase(It);
  }
}

int TInotifyWorker::PollTimeout(TClock::time_point Now) const {
  if (FOpenWrites.empty()) return -1;
  TClock::time_point First = TClock::time_point::max();
  for (const auto& Write : FOpenWrites) First = std::min(First, Write.second);
  if (First <= Now) return 0;
  // Rounded up, so that the deadline has passed when poll returns.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(First - Now).count());
}

void TInotifyWorker::Deliver() {
  FReportedInBatch.clear();
  if (FBatch.empty()) return;
  std::vector<TDirChange> Batch;
  Batch.swap(FBatch);
  HandOn(std::move(Batch));
}

void TInotifyWorker::HandOn(std::vector<TDirChange> Batch) {
  std::string Reason;
  {
    std::lock_guard<std::mutex> Lock(FGateLock);
    if (FSink == nullptr) return;
    try {
      FSink->Changes(std::move(Batch), FReadTime);
      return;
    } catch (...) {
      Reason = Describe(std::current_exception()).second;
    }
  }
  // The receiver could not take the batch: its changes are lost, as in an
  // overflow, and the receiver looks for them as it does after one.
  EmitError(ErrNotifyEnumDir,
            SafeFormat(Tr("%s (changes could not be handed on: %s)"), PlatformErrorText(ErrNotifyEnumDir), Reason),
            FBatchSince);
}

void TInotifyWorker::EmitError(int Code, const std::string& Text, TDirWatchClock::time_point Since) {
  if (Since == TDirWatchClock::time_point::min()) Since = TDirWatchClock::now();
  if (!FInWorker) {
    FDeferredErrors.push_back({Code, Text, Since});
    return;
  }
  // What came before the error is handed on first, in order.
  if (!FBatch.empty()) {
    std::vector<TDirChange> Batch;
    Batch.swap(FBatch);
    HandOn(std::move(Batch));
  }
  std::lock_guard<std::mutex> Lock(FGateLock);
  if (FSink != nullptr) FSink->Error(Code, Text, Since);
}

void TInotifyWorker::ReportWatchLimit(const std::string& AbsPath) {
  if (FWatchLimitReported) return;
  FWatchLimitReported = true;
  // Inside a user namespace (a container) its own, lower limit may be the one
  // that was hit; outside, both files hold the same value.
  int Limit = ReadProcNumber("/proc/sys/fs/inotify/max_user_watches");
  const int NamespaceLimit = ReadProcNumber("/proc/sys/user/max_inotify_watches");
  if (NamespaceLimit >= 0 && (Limit < 0 || NamespaceLimit < Limit)) Limit = NamespaceLimit;
  const long long Suggested = std::min<long long>(std::max<long long>(2LL * Limit, 524288), 0x7fffffff);
  EmitError(ErrNotEnoughQuota,
            SafeFormat(Tr("The system's limit of directory watches (fs.inotify.max_user_watches = %d) is reached: "
                          "changes in \"%s\" and in further new directories are not reported. Raise the limit as "
                          "root, for example with: sysctl fs.inotify.max_user_watches=%d; to keep it after a restart, "
                          "add the setting to /etc/sysctl.conf."),
                       Limit, AbsPath, Suggested));
}

void TInotifyWorker::ReportUnwatchable(const std::string& AbsPath, int Errno) {
  if (!FUnwatchable.insert(AbsPath).second) return;
  const int Code = SysErrorFromErrno(Errno);
  EmitError(Code, SafeFormat(Tr("Directory \"%s\" cannot be watched: %s. Changes in it and below it are not reported"),
                             AbsPath, PlatformErrorText(Code)));
}

void TInotifyWorker::ReportPartlyWatched(const std::string& RelPath, const std::exception_ptr& Failure) {
  auto [Code, Reason] = Describe(Failure);
  // Watching goes on, so the code must not be one of those that say it ended.
  if (Code == ErrFileNotFound || Code == ErrNotReady || Code == ErrOperationAborted) Code = ErrInvalidFunction;
  EmitError(Code, SafeFormat(Tr("Directory \"%s\" is not watched completely: %s. Changes below it may not be reported"),
                             AbsPathOf(RelPath), Reason));
}

bool TInotifyWorker::RootGone(const TRawEvent& Event) {
  // IN_IGNORED alone also follows the end of an IN_DELETE_SELF or an
  // IN_UNMOUNT, which have been reported then.
  if (FEnded) return true;
  if (!(Event.Mask & IN_DELETE_SELF)) {
    // Its file system is gone. That may have been one mounted on the watched
    // directory, which is seen again now.
    FollowMounts();
    if (FEnded) return true;
    if (NodeOf(Event.Wd) != FRoot) return false;  // watched anew
  }
  if (Event.Mask & IN_UNMOUNT)
    EndWatching(ErrNotReady, SafeFormat(Tr("The file system of the watched directory \"%s\" was unmounted"), FRootPath));
  else
    EndWatching(ErrFileNotFound, SafeFormat(Tr("The watched directory \"%s\" no longer exists"), FRootPath));
  return true;
}

class TInotifyBackend final : public TDirWatchBackend {
public:
  ~TInotifyBackend() override { Stop(); }

  void Start(const TDirWatchRequest& Request, TDirWatchSink& Sink) override {
    Stop();
    auto Worker = std::make_shared<TInotifyWorker>(Request, Sink);
    {
      std::lock_guard<std::mutex> Lock(FStartLock);
      FStarting = Worker;
    }
    if (FCancelled.load()) Worker->CancelSetup();
    try {
      Worker->Setup();
    } catch (...) {
      std::lock_guard<std::mutex> Lock(FStartLock);
      FStarting.reset();
      throw;
    }
    {
      std::lock_guard<std::mutex> Lock(FStartLock);
      FStarting.reset();
    }
    // A walk cut short watches only part of the tree: that is no start.
    if (FCancelled.load())
      throw EDirWatchOpenError(PlatformErrorText(ErrOperationAborted), ErrOperationAborted);
    // The thread keeps the worker alive too, so that Stop need not wait for
    // it to let go of its resources.
    FThread = std::thread([Worker] {
      Worker->Run();
      Worker->MarkFinished();
      // Retiring a hundred thousand watches keeps a processor busy in the
      // kernel for a while; at the lowest priority (for this thread only, on
      // Linux) it does not keep the thread that called Stop waiting.
      ::setpriority(PRIO_PROCESS, 0, 19);
      Worker->ReleaseWatches();
    });
    FWorker = std::move(Worker);
  }

  void Stop() override {
    if (!FWorker) return;
    FWorker->RequestStop();
    // The worker ends at once, after handing over the writes it held back,
    // and has only its own resources left to free when it has; one stuck in
    // a system call (a dead network file system) is left to end on its own
    // after StopTimeout.
    FWorker->WaitFinished(StopTimeout);
    FWorker->CloseGate();  // from here on the sink is never called
    FThread.detach();
    FWorker.reset();
  }

  void CancelStart() override {
    FCancelled.store(true);
    std::lock_guard<std::mutex> Lock(FStartLock);
    if (FStarting) FStarting->CancelSetup();
  }

private:
  std::shared_ptr<TInotifyWorker> FWorker;
  std::thread FThread;
  std::atomic<bool> FCancelled{false};
  std::mutex FStartLock;
  std::shared_ptr<TInotifyWorker> FStarting;  // while Start walks the tree
};

}  // namespace

std::unique_ptr<TDirWatchBackend> CreateSystemDirWatchBackend() {
  return std::make_unique<TInotifyBackend>();
}

}  // namespace dz
