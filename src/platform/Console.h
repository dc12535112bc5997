#pragma once
// What a front-end without a window needs of the system: whether a standard
// stream is a terminal, the lines of standard input as they arrive, and the
// signals that ask a program in a terminal or under a service manager to end
// or to save. Both watchers run a thread of their own and call their handler
// from it, never from a signal handler, so the handler may lock and post to
// the main-thread queue.

#include <functional>
#include <memory>
#include <string>

namespace dz {

enum TStdStream : int { ssInput = 0, ssOutput = 1, ssError = 2 };

// True when the stream is connected to a terminal.
bool IsTerminal(TStdStream Stream);

// Opens the null device on every standard stream that is closed (a service
// may be started so), before anything else opens a file: a file opened later
// would take the stream's number and receive its output.
void OpenMissingStandardStreams();

// Reads standard input on a thread of its own and hands every line to
// OnLine, without its line end (LF or CR LF). At the end of input (also
// when standard input is closed or cannot be read) a last line without a
// line end is handed over, then OnEnd runs once and the thread ends. A line
// longer than MaxLineLength is handed over in pieces of that length.
// Destroying the reader stops the thread at once, also while it waits for
// input; no handler runs after the destructor has returned, and OnEnd does
// not run for a reader that was stopped.
class TStdinReader {
public:
  static constexpr std::size_t MaxLineLength = 65536;
  using TLineHandler = std::function<void(const std::string& Line)>;
  using TEndHandler = std::function<void()>;

  // Starts reading. Raises std::system_error when the thread's means of
  // waking cannot be made.
  TStdinReader(TLineHandler OnLine, TEndHandler OnEnd);
  ~TStdinReader();
  TStdinReader(const TStdinReader&) = delete;
  TStdinReader& operator=(const TStdinReader&) = delete;

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

enum TConsoleSignal : int {
  csQuit = 0,  // SIGINT or SIGTERM: end the program as its quit command does
  csSave = 1,  // SIGHUP: save the settings
};

// While it exists, SIGINT and SIGTERM are quit requests and SIGHUP a save
// request, each handed to OnSignal on a thread of its own, in the order they
// came; SIGPIPE is ignored, so that writing to a closed pipe fails instead of
// ending the program before it has saved. The destructor gives back the
// handling each signal had before. One instance at a time: a second raises
// std::logic_error.
class TConsoleSignals {
public:
  using TSignalHandler = std::function<void(TConsoleSignal Signal)>;

  // Raises std::system_error when the handlers cannot be installed.
  explicit TConsoleSignals(TSignalHandler OnSignal);
  ~TConsoleSignals();
  TConsoleSignals(const TConsoleSignals&) = delete;
  TConsoleSignals& operator=(const TConsoleSignals&) = delete;

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace dz
