#include "desktop/Process.h"

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/ErrorTexts.h"
#include "platform/SysError.h"

namespace dz {

namespace {

constexpr int KeepAliveStepMs = 100;

}  // namespace

TChildProcess StartProcess(const std::vector<std::string>& Args, const std::string& Directory) {
  TChildProcess Child;
  const int Code = SpawnChildProcess(Args, Directory, Child);
  if (Code != ErrSuccess) throw EProcessError(GetSystemErrorText(Code), Code);
  return Child;
}

int WaitForProcess(TChildProcess& Process, int Timeout, bool Always, const TKeepAlive& KeepAlive) {
  bool Ended = false;
  int ExitCode = 0;
  int Status = ErrSuccess;
  if (Timeout <= 0) {
    for (;;) {
      if (const int Code = WaitChildProcess(Process, KeepAliveStepMs, Ended, ExitCode); Code != ErrSuccess)
        return Code;
      if (Ended) break;
      if (KeepAlive) KeepAlive();
    }
  } else {
    if (const int Code = WaitChildProcess(Process, Timeout, Ended, ExitCode); Code != ErrSuccess) return Code;
    if (!Ended) Status = WaitTimeout;
  }
  if (Status != ErrSuccess) {
    if (Always) Process = TChildProcess();
    return Status;
  }
  return ExitCode != 0 ? (ExitCode | ExitCodeFlag) : Status;
}

std::vector<std::string> EditTaskCommand(const std::string& ZvPath, const std::string& TaskFile) {
  return {ZvPath, TaskFile, "/edit"};
}

int RunProcess(const std::vector<std::string>& Args, const TKeepAlive& KeepAlive) {
  TChildProcess Child = StartProcess(Args, std::string());
  return WaitForProcess(Child, 0, false, KeepAlive);
}

int EditTask(const std::string& ZvPath, const std::string& TaskFile, const TKeepAlive& KeepAlive) {
  return RunProcess(EditTaskCommand(ZvPath, TaskFile), KeepAlive);
}

std::string ProcessResultText(int Result) {
  if ((Result & ExitCodeFlag) != 0)
    return SafeFormat(Tr("The program ended with exit code %d"), Result & ~ExitCodeFlag);
  return GetSystemErrorText(Result);
}

std::string EditTaskFailureMessage(int Result) {
  return SafeFormat(Tr("Error on executing Zentivo: %s"), ProcessResultText(Result));
}

}  // namespace dz
