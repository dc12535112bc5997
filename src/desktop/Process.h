#pragma once
// Starting another program and waiting for its end without freezing the
// window, and the one use the watchdog makes of it: letting the main
// application, Zentivo, edit a backup task.

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace dz {

// A program could not be started; the message is the system's text for the
// failure.
class EProcessError : public std::runtime_error {
public:
  EProcessError(const std::string& Message, int ErrorCode) : std::runtime_error(Message), FErrorCode(ErrorCode) {}
  int ErrorCode() const noexcept { return FErrorCode; }

private:
  int FErrorCode;
};

// The result of WaitForProcess when the time ran out before the program
// ended.
inline constexpr int WaitTimeout = 258;
// Set in a result of WaitForProcess that is a program's exit code rather than
// a system error code. Such results never come from a failed system call:
// WaitForProcess maps every failure to a code without this bit.
inline constexpr int ExitCodeFlag = 0x20000000;

// Called every 100 ms while WaitForProcess waits without a time limit, so
// that the caller's event loop handles what the user does meanwhile.
using TKeepAlive = std::function<void()>;

// Starts Args[0] with the further arguments in Directory (the current one
// when empty). Raises EProcessError with the system's text when the program
// cannot be started, also when it does not exist.
TChildProcess StartProcess(const std::vector<std::string>& Args, const std::string& Directory);

// Waits for Process to end. Timeout 0 waits as long as it takes, calling
// KeepAlive every 100 ms; a Timeout above 0 (ms) waits that long once, and
// the status is WaitTimeout when the program still runs. A status other
// than 0 is the result when Always is false, and Process stays running.
// Otherwise: the code of a failed wait, or the exit code with ExitCodeFlag
// when it is not 0, or the status. A program that still runs when Always
// lets go of it gives WaitTimeout; its end is collected in the background.
int WaitForProcess(TChildProcess& Process, int Timeout, bool Always, const TKeepAlive& KeepAlive = {});

// Starts Args[0] with the further arguments and waits for its end as long
// as it takes, calling KeepAlive every 100 ms: a result of WaitForProcess.
// Raises EProcessError when the program cannot be started.
int RunProcess(const std::vector<std::string>& Args, const TKeepAlive& KeepAlive);
// The command that lets Zentivo (ZvPath) edit TaskFile: the program, the
// task file and the option "/edit", each one argument.
std::vector<std::string> EditTaskCommand(const std::string& ZvPath, const std::string& TaskFile);

// Starts Zentivo to edit TaskFile and waits for its end, keeping the caller
// alive: 0 when it ended with exit code 0 (the task may have changed), else
// a result of WaitForProcess. Raises EProcessError when Zentivo cannot be
// started (an empty ZvPath: it was not found).
int EditTask(const std::string& ZvPath, const std::string& TaskFile, const TKeepAlive& KeepAlive);

// The text for a result of WaitForProcess: the exit code in words when
// ExitCodeFlag is set, else the system's text for the code.
std::string ProcessResultText(int Result);

// "Error on executing Zentivo: %s" filled with ProcessResultText(Result).
std::string EditTaskFailureMessage(int Result);

}  // namespace dz
