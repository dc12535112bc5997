// A source that is replaced by another file (an editor saving by rename) at
// the very moment the job opens it: whatever the job writes must describe
// the file it read, not the one that had the name a moment earlier.
//
// The moment is made exact without any hook in the product: this test
// program defines open() itself, ahead of the C library, and renames the
// replacement over the source when the job opens the source's name, then
// opens it as the C library would. Everything else passes straight through.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>

#include "copyengine/CopyTestUtil.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyThread.h"
#include "support/TestFiles.h"

namespace {

namespace fs = std::filesystem;

// Constant-initialised, so that an open() before this file's other globals
// exist sees an unarmed hook.
std::atomic<bool> Armed{false};
std::mutex HookLock;
std::string HookPath;
fs::path HookReplacement;

// Arms the hook: the next open of Path first renames Replacement over it.
void ReplaceWhenOpened(const fs::path& Path, const fs::path& Replacement) {
  std::lock_guard Guard(HookLock);
  HookPath = Path.string();
  HookReplacement = Replacement;
  Armed.store(true);
}

void RunHook(const char* Path) {
  if (!Armed.load() || Path == nullptr) return;
  std::lock_guard Guard(HookLock);
  if (!Armed.load() || HookPath != Path) return;
  Armed.store(false);
  fs::rename(HookReplacement, HookPath);
}

using TOpenCall = int (*)(const char*, int, ...);

using TOpenAtCall = int (*)(int, const char*, int, ...);

mode_t ModeOf(int Flags, va_list Args) {
  return (Flags & O_CREAT) != 0 || (Flags & O_TMPFILE) == O_TMPFILE ? va_arg(Args, mode_t) : 0;
}

int ForwardOpen(const char* Name, const char* Path, int Flags, va_list Args) {
  const mode_t Mode = ModeOf(Flags, Args);
  RunHook(Path);
  const auto Real = reinterpret_cast<TOpenCall>(::dlsym(RTLD_NEXT, Name));
  return Real(Path, Flags, Mode);
}

// A name relative to a folder handle is the same file as its full path: the
// hook knows only full paths, so such an open is armed by its folder's path.
int ForwardOpenAt(const char* Name, int DirFd, const char* Path, int Flags, va_list Args) {
  const mode_t Mode = ModeOf(Flags, Args);
  if (DirFd == AT_FDCWD || Path == nullptr || Path[0] == '/') {
    RunHook(Path);
  } else {
    char Folder[4096];
    const std::string Link = "/proc/self/fd/" + std::to_string(DirFd);
    const ssize_t Length = ::readlink(Link.c_str(), Folder, sizeof Folder - 1);
    if (Length > 0) RunHook((std::string(Folder, static_cast<std::size_t>(Length)) + "/" + Path).c_str());
  }
  const auto Real = reinterpret_cast<TOpenAtCall>(::dlsym(RTLD_NEXT, Name));
  return Real(DirFd, Path, Flags, Mode);
}

}  // namespace

extern "C" int openat(int DirFd, const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const int Fd = ForwardOpenAt("openat", DirFd, Path, Flags, Args);
  va_end(Args);
  return Fd;
}

extern "C" int openat64(int DirFd, const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const int Fd = ForwardOpenAt("openat64", DirFd, Path, Flags, Args);
  va_end(Args);
  return Fd;
}

extern "C" int open(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const int Fd = ForwardOpen("open", Path, Flags, Args);
  va_end(Args);
  return Fd;
}

extern "C" int open64(const char* Path, int Flags, ...) {
  va_list Args;
  va_start(Args, Flags);
  const int Fd = ForwardOpen("open64", Path, Flags, Args);
  va_end(Args);
  return Fd;
}

namespace dz {
namespace {

class SourceReplacedTest : public test::TTempDirTest {};

TEST_F(SourceReplacedTest, OutputDescribesTheFileThatWasRead) {
  const std::string Old = test::RandomBytes(1000, 3);
  const std::string New = test::MixedBytes(3 * 65536 + 17, 4);
  for (const test::TOutputForm& Form : test::OutputForms) {
    SCOPED_TRACE(Form.Name);
    const std::string Dest = std::string("out") + Form.Extension;
    test::WriteFileBytes(FDir / "src", Old);
    fs::permissions(FDir / "src", fs::perms(0600));
    test::SetMTime(FDir / "src", 1000000000);
    test::WriteFileBytes(FDir / "new", New);
    fs::permissions(FDir / "new", fs::perms(0644));
    test::SetMTime(FDir / "new", 1600000000);
    ReplaceWhenOpened(FDir / "src", FDir / "new");

    TWinCopyThread Worker(PathOf("src"), PathOf(Dest), Form.Options, true, 65536);
    Worker.Start();
    Worker.Wait();
    ASSERT_FALSE(Armed.load()) << "the job never opened its source";
    ASSERT_EQ(Worker.ErrorCode(), 0) << Worker.SysErrorMsg();

    const std::string Out = test::ReadFileBytes(FDir / Dest);
    EXPECT_EQ(Worker.Crc(), test::Crc32Of(New));
    if (Form.Options == CopyOptionsPlain) {
      EXPECT_TRUE(Out == New);
    } else if (Form.Options == CopyOptionsGzip) {
      ASSERT_GT(Out.size(), 36u);
      EXPECT_EQ(test::Le32(Out, 4), 1600000000u) << "MTIME";
      EXPECT_EQ(test::Le64(Out, 24), New.size());
      EXPECT_EQ(test::Le32(Out, Out.size() - 4), New.size());
      EXPECT_TRUE(test::InflateRaw(std::string_view(Out).substr(36, Out.size() - 36 - 8)) == New);
    } else {
      ASSERT_GT(Out.size(), 30u + 3u);
      EXPECT_EQ(test::Le32(Out, 10), static_cast<std::uint32_t>(FileTimeToDosTime(test::UnixToFileTime(1600000000))));
      EXPECT_EQ(test::Le32(Out, 14), test::Crc32Of(New));
      EXPECT_EQ(test::Le32(Out, 22), New.size()) << "the entry's size";
      const std::string_view Data = std::string_view(Out).substr(33, test::Le32(Out, 18));
      EXPECT_TRUE((test::Le16(Out, 8) == 8 ? test::InflateRaw(Data) : std::string(Data)) == New);
    }
    // Time stamp and permissions of the file that was read.
    const TFileStatus Status = test::StatusOf(FDir / Dest);
    EXPECT_EQ(Status.LastWriteTime, test::UnixToFileTime(1600000000));
    EXPECT_EQ(PosixMode(Status), 0644u);
    fs::remove(FDir / Dest);
  }
}

}  // namespace
}  // namespace dz
