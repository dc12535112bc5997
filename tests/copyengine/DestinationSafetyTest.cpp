// What a copy job may do to the name it writes: never harm the source (its
// own name, another spelling of it, a link to it), never write into a
// device, a FIFO or a socket, never write through a symbolic link, and never
// share its destination with a second job.

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "CopyTestUtil.h"
#include "copyengine/CopyJobCodes.h"
#include "copyengine/CopyThread.h"
#include "filesys/ErrorTexts.h"
#include "support/AsUser.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;

using TForm = test::TOutputForm;
constexpr const auto& Forms = test::OutputForms;

// What a file is, to see that a job left it alone: kind, mode, size, time.
struct TFileState {
  fs::file_type Kind;
  std::uint32_t Mode;
  std::int64_t Size;
  TFileTime LastWriteTime;
  std::string Content;  // regular files only

  bool operator==(const TFileState&) const = default;
};

TFileState StateOf(const fs::path& Path) {
  const TFileStatus Status = test::StatusOf(Path);
  TFileState State{fs::symlink_status(Path).type(), PosixMode(Status), Status.Size, Status.LastWriteTime, {}};
  if (State.Kind == fs::file_type::regular) State.Content = test::ReadFileBytes(Path);
  return State;
}

void RunShell(const std::string& Command) {
  ASSERT_EQ(std::system(Command.c_str()), 0) << Command;
}

std::string Quoted(const fs::path& Path) {
  return "'" + Path.string() + "'";
}

class DestinationSafetyTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    fs::create_directory(FDir / "dir");
    FSource = FDir / "dir" / "f";
    test::WriteFileBytes(FSource, test::MixedBytes(CopyThreadBufferSize + 5000));
    fs::permissions(FSource, fs::perms(0640));
    test::SetMTime(FSource, 1300000000);
  }
  fs::path FSource;
};

// Every spelling of the source as destination is refused before anything is
// opened for writing, so the source keeps every byte.
TEST_F(DestinationSafetyTest, DestinationNamingTheSourceIsRefused) {
  fs::create_hard_link(FSource, FDir / "hard");
  fs::create_symlink(FSource, FDir / "soft");
  fs::create_directory_symlink(FDir / "dir", FDir / "dirlink");
  const struct {
    const char* Name;
    fs::path Dest;
  } Spellings[] = {
      {"the same path", FSource},
      {"dir/../dir/f", FDir / "dir" / ".." / "dir" / "f"},
      {"dir/./f", FDir / "dir" / "." / "f"},
      {"a hard link", FDir / "hard"},
      {"a symbolic link to it", FDir / "soft"},
      {"through a link to its folder", FDir / "dirlink" / "f"},
  };
  const TFileState Before = StateOf(FSource);
  for (const auto& Spelling : Spellings) {
    for (const TForm& Form : Forms) {
      for (const TCopyOptions Overwrite : {coOverwrite, TCopyOptions{0}}) {
        SCOPED_TRACE(std::string(Spelling.Name) + ", " + Form.Name + (Overwrite ? "" : ", without coOverwrite"));
        const auto Result =
            test::RunCopyJob(FSource.string(), Spelling.Dest.string(), (Form.Options & ~coOverwrite) | Overwrite);
        EXPECT_EQ(Result.ErrorCode, Form.Action | cjDestIsSource);
        EXPECT_TRUE(StateOf(FSource) == Before) << "the source was changed";
      }
    }
  }
  EXPECT_EQ(GetCopyErrorText(caCopy | cjDestIsSource), "Error - Destination is the source file (-> Copy)");
  EXPECT_TRUE(fs::is_symlink(FDir / "soft")) << "the link was replaced";
}

// A device, a FIFO or a socket is no destination: refused without opening
// it (a FIFO without reader would hang the job), and it keeps its mode and
// time stamps.
TEST_F(DestinationSafetyTest, NonRegularDestinationIsRefusedAndLeftAlone) {
  test::WriteFileBytes(FDir / "small", "a few bytes");
  std::vector<std::pair<std::string, fs::path>> Nodes;
  RunShell("mkfifo -m 666 " + Quoted(FDir / "fifo"));
  Nodes.emplace_back("a FIFO", FDir / "fifo");
  RunShell("python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' " +
           Quoted(FDir / "socket"));
  Nodes.emplace_back("a socket", FDir / "socket");
  // A node of its own rather than /dev/null, so that a job that did write
  // into it could not change the machine's /dev/null.
  if (test::RunningAsRoot()) {
    RunShell("mknod -m 666 " + Quoted(FDir / "null") + " c 1 3");
    Nodes.emplace_back("a device", FDir / "null");
  }
  for (const auto& [Name, Node] : Nodes) {
    const TFileState Before = StateOf(Node);
    for (const TForm& Form : Forms) {
      SCOPED_TRACE(Name + ", " + Form.Name);
      const auto Result = test::RunCopyJob(PathOf("small"), Node.string(), Form.Options);
      EXPECT_EQ(Result.ErrorCode, Form.Action | cjDestNotAFile);
      EXPECT_TRUE(StateOf(Node) == Before) << "the node was changed";
    }
  }
  EXPECT_EQ(GetCopyErrorText(caZip | cjDestNotAFile), "Error - Destination is not a regular file (-> Zip)");
}

// A symbolic link as destination: with coOverwrite the link itself gives way
// to the copy, and what it points to is never touched, not even to clear a
// read-only attribute; without coOverwrite it is an existing name.
TEST_F(DestinationSafetyTest, SymbolicLinkDestinationIsReplacedNeverWrittenThrough) {
  fs::create_directory(FDir / "outside");
  test::WriteFileBytes(FDir / "outside" / "target", "outside the destination tree");
  fs::permissions(FDir / "outside" / "target", fs::perms(0444));
  test::SetMTime(FDir / "outside" / "target", 1200000000);
  const struct {
    const char* Name;
    fs::path Target;
  } Links[] = {
      {"link to a file", FDir / "outside" / "target"},
      {"dangling link", FDir / "outside" / "missing"},
      {"link to a folder", FDir / "outside"},
  };
  const fs::path Dest = FDir / "dest";
  for (const auto& Link : Links) {
    for (const TForm& Form : Forms) {
      SCOPED_TRACE(std::string(Link.Name) + ", " + Form.Name);
      const TFileState Outside = StateOf(FDir / "outside" / "target");
      fs::create_symlink(Link.Target, Dest);

      auto Result = test::RunCopyJob(FSource.string(), Dest.string(), Form.Options & ~coOverwrite);
      EXPECT_EQ(Result.ErrorCode, Form.Action | cjCreateFile) << "without coOverwrite";
      EXPECT_TRUE(fs::is_symlink(Dest));

      Result = test::RunCopyJob(FSource.string(), Dest.string(), Form.Options);
      EXPECT_EQ(Result.ErrorCode, 0) << Result.SysErrorMsg;
      EXPECT_EQ(fs::symlink_status(Dest).type(), fs::file_type::regular) << "the link is still there";
      EXPECT_EQ(PosixMode(test::StatusOf(Dest)), 0640u);
      if (Form.Action == caCopy) {
        EXPECT_TRUE(test::ReadFileBytes(Dest) == test::ReadFileBytes(FSource));
      }
      EXPECT_TRUE(StateOf(FDir / "outside" / "target") == Outside) << "written through the link";
      EXPECT_FALSE(fs::exists(FDir / "outside" / "missing"));
      EXPECT_EQ(test::Listing(FDir / "outside"), std::vector<std::string>{"target"});
      fs::remove(Dest);
    }
  }
}

// The time stamp and the attributes go to the file the job wrote, never
// through a link that someone put in its place meanwhile.
TEST_F(DestinationSafetyTest, LinkSwappedInDuringTheCopyIsNotFollowed) {
  test::WriteFileBytes(FDir / "victim", "not to be touched");
  fs::permissions(FDir / "victim", fs::perms(0600));
  test::SetMTime(FDir / "victim", 1100000000);
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const TFileState Victim = StateOf(FDir / "victim");
    const fs::path Dest = FDir / "dest";
    bool Swapped = false;
    test::RunCopyJob(FSource.string(), Dest.string(), Form.Options, [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && !Swapped) {
        Swapped = true;
        fs::create_symlink(FDir / "victim", FDir / "link");
        fs::rename(FDir / "link", Dest);
      }
    });
    EXPECT_TRUE(Swapped);
    EXPECT_TRUE(StateOf(FDir / "victim") == Victim) << "the job followed the link";
    fs::remove(Dest);
  }
}

// Two jobs on one destination: the second, started while the first is
// paused in the middle of its data, fails with a sharing violation and
// leaves the first one's file alone, which then completes as if alone.
TEST_F(DestinationSafetyTest, SecondWriterOfTheSameDestinationFails) {
  test::WriteFileBytes(FDir / "first", test::RandomBytes(3 * CopyThreadBufferSize, 7));
  test::WriteFileBytes(FDir / "second", test::RandomBytes(3 * CopyThreadBufferSize, 8));
  for (const TForm& Form : Forms) {
    SCOPED_TRACE(Form.Name);
    const std::string Dest = PathOf("dest");
    std::promise<void> PausedInTheMiddle;
    TWinCopyThread First(PathOf("first"), Dest, Form.Options, true);
    bool Once = false;
    First.OnProgress = [&](TFileAction, std::int64_t Count, bool) {
      if (Count > 0 && !Once) {
        Once = true;
        First.SetPaused(true);
        PausedInTheMiddle.set_value();
      }
    };
    First.Start();
    PausedInTheMiddle.get_future().wait();

    const auto Second = test::RunCopyJob(PathOf("second"), Dest, Form.Options);
    EXPECT_EQ(Second.ErrorCode, Form.Action | cjCreateFile);
    EXPECT_NE(Second.SysErrorMsg.find("(0x00070020)"), std::string::npos) << Second.SysErrorMsg;

    First.SetPaused(false);
    First.Wait();
    EXPECT_EQ(First.ErrorCode(), 0) << First.SysErrorMsg();
    // The same job alone gives the same bytes (same source name and time).
    const auto Alone = test::RunCopyJob(PathOf("first"), PathOf("alone"), Form.Options);
    ASSERT_EQ(Alone.ErrorCode, 0) << Alone.SysErrorMsg;
    EXPECT_TRUE(test::ReadFileBytes(Dest) == test::ReadFileBytes(FDir / "alone")) << "the file is a mixture";
    fs::remove(Dest);
    fs::remove(FDir / "alone");
  }
}

}  // namespace
}  // namespace dz
