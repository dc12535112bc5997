#include "platform/Environment.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <cstdlib>
#include <mutex>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/SysError.h"
#include "platform/posix/Errno.h"
#include "platform/posix/LocalTimeLock.h"

namespace dz {

namespace {

bool IsDirectory(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool Exists(const std::string& Path) {
  struct stat St;
  return ::lstat(Path.c_str(), &St) == 0;
}

// The code comes from the command line or a configuration file and ends up
// in a path that gettext builds; anything but a plain locale name is refused.
bool IsPlainLanguageCode(const std::string& Code) {
  if (Code.empty() || Code.size() > 32) return false;
  const auto IsLetter = [](char C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); };
  if (!IsLetter(Code[0])) return false;
  for (const char C : Code) {
    if (!IsLetter(C) && !(C >= '0' && C <= '9') && C != '_' && C != '@' && C != '.') return false;
  }
  return true;
}

bool IsCLocale(const char* Name) {
  return Name == nullptr || std::strcmp(Name, "C") == 0 || std::strcmp(Name, "POSIX") == 0;
}

}  // namespace

void SelectMessageLanguage(const std::string& LanguageCode) {
  std::string Code = LanguageCode;
  for (char& C : Code) {
    if (C == '-') C = '_';  // "pt-BR" as the platform spells it: pt_BR
  }
  if (IsPlainLanguageCode(Code)) {
    // LANGUAGE selects the catalog by the bare code, whatever locales are
    // installed. GNU gettext ignores it while the message locale is "C",
    // the locale of every process that has not chosen one, so a neutral
    // UTF-8 locale is chosen for the messages only. Numbers and character
    // classes keep their locale.
    ::setenv("LANGUAGE", Code.c_str(), 1);
    if (IsCLocale(std::setlocale(LC_MESSAGES, nullptr))) {
      for (const char* Neutral : {"C.UTF-8", "C.utf8", "en_US.UTF-8", ""}) {
        const char* Chosen = std::setlocale(LC_MESSAGES, Neutral);
        if (Chosen && !IsCLocale(Chosen)) break;
      }
    }
  } else {
    std::setlocale(LC_MESSAGES, "");
  }
}

std::string EnvVar(const std::string& Name) {
  const char* Value = std::getenv(Name.c_str());
  return Value ? std::string(Value) : std::string();
}

int SetEnvVar(const std::string& Name, const std::string& Value) {
  return ::setenv(Name.c_str(), Value.c_str(), 1) == 0 ? ErrSuccess : LastSysError();
}

int UnsetEnvVar(const std::string& Name) {
  return ::unsetenv(Name.c_str()) == 0 ? ErrSuccess : LastSysError();
}

std::string HomeDirectory() {
  std::string Home = EnvVar("HOME");
  if (!Home.empty()) return Home;

  long Hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> Buffer(Hint > 0 ? static_cast<std::size_t>(Hint) : 4096);
  for (;;) {
    struct passwd Entry;
    struct passwd* Found = nullptr;
    const int E = ::getpwuid_r(::getuid(), &Entry, Buffer.data(), Buffer.size(), &Found);
    if (E == ERANGE && Buffer.size() < (1u << 20)) {
      Buffer.resize(Buffer.size() * 2);
      continue;
    }
    if (E != 0 || Found == nullptr || Found->pw_dir == nullptr) return std::string();
    return std::string(Found->pw_dir);
  }
}

std::string ExecutableFileName() {
  std::string Link(256, '\0');
  for (;;) {
    const ssize_t Length = ::readlink("/proc/self/exe", Link.data(), Link.size());
    if (Length < 0) return std::string();
    if (static_cast<std::size_t>(Length) < Link.size()) {
      Link.resize(static_cast<std::size_t>(Length));
      break;
    }
    if (Link.size() >= (1u << 16)) return std::string();
    Link.resize(Link.size() * 2);
  }
  // The kernel marks an executable that was removed or replaced since it was
  // started; the settings file is named after the program, so the mark must
  // not become part of the name.
  static constexpr std::string_view Deleted = " (deleted)";
  if (Link.size() > Deleted.size() && Link.ends_with(Deleted) && !Exists(Link))
    Link.resize(Link.size() - Deleted.size());
  return Link;
}

std::string CurrentDirectory() {
  std::string Dir(256, '\0');
  for (;;) {
    if (::getcwd(Dir.data(), Dir.size()) != nullptr) {
      Dir.resize(Dir.find('\0'));
      return Dir;
    }
    if (errno != ERANGE || Dir.size() >= (1u << 16)) return std::string();
    Dir.resize(Dir.size() * 2);
  }
}

std::string AbsolutePath(const std::string& Name) {
  std::error_code Ec;
  const std::filesystem::path Full = std::filesystem::absolute(std::filesystem::path(Name), Ec);
  if (Ec)
    return Name;
  return Full.lexically_normal().string();
}

int ForceDirectories(const std::string& Dir) {
  if (Dir.empty()) return ErrPathNotFound;
  if (IsDirectory(Dir)) return ErrSuccess;
  // Each prefix that ends with a component, from the top down.
  std::size_t End = 0;
  while (End < Dir.size()) {
    while (End < Dir.size() && Dir[End] == '/') ++End;
    while (End < Dir.size() && Dir[End] != '/') ++End;
    const std::string Prefix = Dir.substr(0, End);
    if (IsDirectory(Prefix) || ::mkdir(Prefix.c_str(), 0777) == 0) continue;
    const int E = errno;
    // Someone else may have created it in the meantime. A file in place of
    // a parent leaves no path to the directory; a file in place of the
    // directory itself is one that exists already.
    if (E == EEXIST && IsDirectory(Prefix)) continue;
    const bool Last = Dir.find_first_not_of('/', End) == std::string::npos;
    if (E == EEXIST && !Last) return ErrPathNotFound;
    return SysErrorFromErrno(E);
  }
  return ErrSuccess;
}

bool IsExecutableFile(const std::string& Path) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return false;
  return ::faccessat(AT_FDCWD, Path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool SameFile(const std::string& A, const std::string& B) {
  struct stat StA;
  struct stat StB;
  if (::stat(A.c_str(), &StA) != 0 || ::stat(B.c_str(), &StB) != 0) return false;
  return StA.st_dev == StB.st_dev && StA.st_ino == StB.st_ino;
}

bool FileModificationTime(const std::string& Path, std::chrono::system_clock::time_point& Time) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0) return false;
  const auto Since = std::chrono::seconds(St.st_mtim.tv_sec) + std::chrono::nanoseconds(St.st_mtim.tv_nsec);
  Time = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(Since));
  return true;
}

bool LocalTimeOf(std::chrono::system_clock::time_point Time, TLocalTime& Local) {
  const std::time_t Seconds = std::chrono::system_clock::to_time_t(Time);
  struct tm Parts;
  {
    const std::lock_guard<std::mutex> Guard(LocalTimeLock());
    if (::localtime_r(&Seconds, &Parts) == nullptr) return false;
  }
  Local.Year = Parts.tm_year + 1900;
  Local.Month = Parts.tm_mon + 1;
  Local.Day = Parts.tm_mday;
  Local.Hour = Parts.tm_hour;
  Local.Minute = Parts.tm_min;
  Local.Second = Parts.tm_sec;
  return true;
}

}  // namespace dz
