#pragma once
// What the program learns about its process and the user at start-up: the
// environment, the home directory, where the running executable lies, the
// current directory, and the few file queries the start-up needs. Paths are
// UTF-8. Results that are codes are system error codes (SysError.h).
//
// The names avoid those of Windows API functions, which windows.h turns into
// macros.

#include <chrono>
#include <string>

namespace dz {

// The value of the environment variable Name; empty when it is not set.
std::string EnvVar(const std::string& Name);

// Sets or removes a variable of this process (the programs it starts inherit
// it). Not safe while other threads read the environment.
int SetEnvVar(const std::string& Name, const std::string& Value);
int UnsetEnvVar(const std::string& Name);

// The user's home directory: $HOME when it is set and not empty, otherwise
// the user's entry in the password database; empty when neither names one.
std::string HomeDirectory();

// The full path of the running executable, empty when the system cannot
// tell. An executable replaced on disk while it runs (a package upgrade)
// still yields its original name.
std::string ExecutableFileName();

// The current directory, empty when it cannot be determined (it was removed).
std::string CurrentDirectory();

// Name as a full path below the current directory, with "." and ".."
// steps taken out by their spelling (links are not resolved); Name itself
// when the current directory cannot be determined.
std::string AbsolutePath(const std::string& Name);

// Creates Dir with all missing parents. 0 when Dir exists as a directory
// afterwards (also when it existed before); otherwise the code of the step
// that failed, for example 183 when a file is in the way.
int ForceDirectories(const std::string& Dir);

// True when Path names a regular file that this process may execute.
bool IsExecutableFile(const std::string& Path);

// True when both paths exist and name the same file or directory, however
// they are spelt (links, "..", doubled delimiters).
bool SameFile(const std::string& A, const std::string& B);

// Time of the last modification of Path's content; false when Path cannot
// be queried.
bool FileModificationTime(const std::string& Path, std::chrono::system_clock::time_point& Time);

// Makes the language of the two-letter code (or a locale name such as
// "pt_BR"; "pt-BR" counts as that) the one the program's texts are
// translated into (base/Translate.h), without touching how numbers are
// written or which characters are letters. An empty code, or one that is no
// plain language name (it could lead gettext into other folders), keeps the
// language of the user's environment. Call once, on the main thread, before
// InitTranslation, while no other thread reads the environment.
void SelectMessageLanguage(const std::string& LanguageCode);

// A moment in the local time zone, as the user reads a date and a time.
struct TLocalTime {
  int Year = 0;
  int Month = 0;   // 1 to 12
  int Day = 0;     // 1 to 31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
};

// Time in the local time zone; false when it cannot be converted.
bool LocalTimeOf(std::chrono::system_clock::time_point Time, TLocalTime& Local);

}  // namespace dz
