// dz-copy runs one copy job (TCopyJob, on this thread) exactly as the backup
// worker runs it for every changed file, and reports the job's result code. It lets anyone check an
// output by hand (unzip it, gunzip it) and lets the benchmark time the copy
// worker as a whole process against cp, gzip and zip.
//
//   dz-copy [--mask 0xHHHH] SOURCE DEST
//
// Standard output gets the result code in hexadecimal and, when it is not 0,
// its text; standard error gets the system's message behind a failure.
// Exit status: 0 when the job succeeded, 1 when it failed, 2 for a usage
// error.

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "copyengine/CopyJob.h"
#include "filesys/ErrorTexts.h"

namespace {

using dz::SafeFormat;
using dz::Tr;
using dz::TrMark;

constexpr int ExitSuccess = 0;
constexpr int ExitJobFailed = 1;
constexpr int ExitUsage = 2;

// Every option the mask can carry: bits 0 to 12.
constexpr unsigned AllCopyOptions = 0x1FFF;

void PrintUsage(std::FILE* Out) {
  std::fprintf(Out, "%s\n", Tr("Usage: dz-copy [--mask 0xHHHH] SOURCE DEST").c_str());
  std::fprintf(Out, "%s\n\n", Tr("Copies SOURCE to DEST with one copy job and prints its result code.").c_str());
  std::fprintf(Out, "%s\n", Tr("--mask takes the copy options in hexadecimal; the backup worker uses").c_str());
  const struct {
    dz::TCopyOptions Mask;
    const char* Text;
  } Masks[] = {
      {dz::CopyOptionsPlain, TrMark("plain copy (the default): replace an existing DEST,")},
      {0, TrMark("give it the attributes and the time stamp of SOURCE")},
      {dz::CopyOptionsGzip, TrMark("the same as a gzip member")},
      {dz::CopyOptionsZipStored, TrMark("a one-file zip archive with stored data")},
      {dz::CopyOptionsZipDeflated, TrMark("a one-file zip archive with deflated data")},
  };
  for (const auto& Entry : Masks) {
    if (Entry.Mask == 0)
      std::fprintf(Out, "          %s\n", Tr(Entry.Text).c_str());
    else
      std::fprintf(Out, "%s\n", SafeFormat("  0x%.4x  %s", Entry.Mask, Tr(Entry.Text)).c_str());
  }
}

int UsageError(const std::string& Problem) {
  std::fprintf(stderr, "dz-copy: %s\n", Problem.c_str());
  PrintUsage(stderr);
  return ExitUsage;
}

// "0x0189", "0X189" or "189": hexadecimal, every option bit known.
std::optional<dz::TCopyOptions> ParseMask(std::string_view Text) {
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) Text.remove_prefix(2);
  if (Text.empty() || Text.size() > 4) return std::nullopt;
  unsigned Value = 0;
  for (const char C : Text) {
    unsigned Digit;
    if (C >= '0' && C <= '9')
      Digit = static_cast<unsigned>(C - '0');
    else if (C >= 'a' && C <= 'f')
      Digit = static_cast<unsigned>(C - 'a' + 10);
    else if (C >= 'A' && C <= 'F')
      Digit = static_cast<unsigned>(C - 'A' + 10);
    else
      return std::nullopt;
    Value = Value * 16 + Digit;
  }
  if ((Value & ~AllCopyOptions) != 0) return std::nullopt;
  return static_cast<dz::TCopyOptions>(Value);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> Args(argv + 1, argv + argc);
  dz::TCopyOptions Mask = dz::CopyOptionsPlain;
  std::vector<std::string> Names;
  bool OptionsEnded = false;
  for (std::size_t I = 0; I < Args.size(); ++I) {
    const std::string_view Arg = Args[I];
    if (OptionsEnded || Arg.empty() || Arg[0] != '-' || Arg == "-") {
      Names.emplace_back(Arg);
    } else if (Arg == "--") {
      OptionsEnded = true;
    } else if (Arg == "--help" || Arg == "-h") {
      PrintUsage(stdout);
      return ExitSuccess;
    } else if (Arg == "--mask" || Arg.starts_with("--mask=")) {
      std::string_view Value;
      if (Arg == "--mask") {
        if (++I == Args.size()) return UsageError(Tr("--mask needs a value"));
        Value = Args[I];
      } else {
        Value = Arg.substr(7);
      }
      const auto Parsed = ParseMask(Value);
      if (!Parsed)
        return UsageError(SafeFormat(Tr("not a copy option mask: \"%s\" (hexadecimal, at most 0x1FFF)"), Value));
      Mask = *Parsed;
    } else {
      return UsageError(SafeFormat(Tr("unknown option \"%s\""), Arg));
    }
  }
  if (Names.size() != 2) return UsageError(Tr("SOURCE and DEST are needed"));

  int Code;
  std::string SysErrorMsg;
  try {
    dz::TCopyJob Job;
    dz::TCopyResult Result = Job.Run({Names[0], Names[1], Mask});
    Code = Result.ErrorCode;
    SysErrorMsg = std::move(Result.SysErrorMsg);
  } catch (const std::exception& E) {
    // Only getting the job's buffer can raise.
    std::fprintf(stderr, "dz-copy: %s\n", E.what());
    return ExitJobFailed;
  }

  if (Code == 0) {
    std::printf("%s\n", SafeFormat("0x%.4x", Code).c_str());
    return ExitSuccess;
  }
  std::printf("%s\n", SafeFormat("0x%.4x %s", Code, dz::GetCopyErrorText(Code)).c_str());
  if (!SysErrorMsg.empty()) std::fprintf(stderr, "%s\n", SysErrorMsg.c_str());
  return ExitJobFailed;
}
