#include "desktop/Autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filesys/ErrorTexts.h"
#include "platform/SysError.h"
#include "settings/ProgramLocations.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::Listing;
using test::ReadFileBytes;

// The reading side of the desktop-entry rules, written from them and not
// from the writer: a key's value is unescaped, then the Exec value is split
// into arguments (blanks separate them outside double quotes; inside, a
// backslash takes the next character as it is), and "%%" is one "%".
std::string UnescapeValue(const std::string& Value) {
  std::string Out;
  for (std::size_t I = 0; I < Value.size(); ++I) {
    if (Value[I] != '\\' || I + 1 == Value.size()) {
      Out += Value[I];
      continue;
    }
    const char Next = Value[++I];
    Out += Next == 's' ? ' ' : Next == 'n' ? '\n' : Next == 't' ? '\t' : Next == 'r' ? '\r' : Next;
  }
  return Out;
}

std::vector<std::string> SplitExec(const std::string& Exec) {
  std::vector<std::string> Args;
  std::string Current;
  bool InArg = false;
  bool Quoted = false;
  for (std::size_t I = 0; I < Exec.size(); ++I) {
    const char C = Exec[I];
    if (Quoted) {
      if (C == '"') Quoted = false;
      else if (C == '\\' && I + 1 < Exec.size()) Current += Exec[++I];
      else if (C == '%' && I + 1 < Exec.size() && Exec[I + 1] == '%') Current += Exec[++I];
      else Current += C;
    } else if (C == ' ') {
      if (InArg) Args.push_back(Current);
      Current.clear();
      InArg = false;
    } else if (C == '"') {
      Quoted = InArg = true;
    } else if (C == '%' && I + 1 < Exec.size() && Exec[I + 1] == '%') {
      Current += Exec[++I];
      InArg = true;
    } else {
      Current += C;
      InArg = true;
    }
  }
  if (InArg) Args.push_back(Current);
  return Args;
}

// The value of Key in an entry's text; empty when it is missing.
std::string KeyValue(const std::string& Text, const std::string& Key) {
  const std::size_t Pos = Text.find("\n" + Key + "=");
  if (Pos == std::string::npos) return std::string();
  const std::size_t Start = Pos + Key.size() + 2;
  return Text.substr(Start, Text.find('\n', Start) - Start);
}

TEST(AutostartEntry, ExecArgumentsQuotedByTheDesktopEntryRules) {
  const struct {
    const char* Arg;
    const char* Quoted;
  } Cases[] = {
      {"/usr/bin/dezedodiru", "/usr/bin/dezedodiru"},
      {"/hide", "/hide"},
      {"/opt/My Apps/dz", "\"/opt/My Apps/dz\""},
      {"a\"b", "\"a\\\"b\""},
      {"$HOME/dz", "\"\\$HOME/dz\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"tick`s", "\"tick\\`s\""},
      {"it's", "\"it's\""},
      {"50%", "50%%"},
      {"50 %", "\"50 %%\""},
      {"", "\"\""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(QuoteExecArgument(Case.Arg), Case.Quoted) << Case.Arg;
}

TEST(AutostartEntry, ReadsBackAsTheProgramAndItsOptions) {
  const char* Targets[] = {
      "/usr/bin/dezedodiru", "/home/a b/My Programs/dezedodiru", "/opt/dz\\x/\"q\"/$HOME/dz",
      "/tmp/100%/dz", "/tmp/line\nbreak/dz", "/tmp/tab\there/dz;rm -rf ~",
  };
  for (const std::string Target : Targets) {
    SCOPED_TRACE(Target);
    const std::string Text = AutostartEntryText(Target, AutostartArguments(), "DeZedodiru (Version 1.0.0)", AppIconName);
    EXPECT_EQ(Text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(KeyValue(Text, "Type"), "Application");
    EXPECT_EQ(KeyValue(Text, "Comment"), "DeZedodiru (Version 1.0.0)");
    EXPECT_EQ(KeyValue(Text, "Icon"), "dezedodiru");
    EXPECT_EQ(SplitExec(UnescapeValue(KeyValue(Text, "Exec"))),
              (std::vector<std::string>{Target, "/hide", "/force"}));
  }
}

TEST(AutostartEntry, EntryLiesInTheAutostartFolder) {
  const std::string Startup = StartupFolder("/home/u/.config/");
  EXPECT_EQ(AutostartFileName(Startup), "/home/u/.config/autostart/DeZedodiru.desktop");
  EXPECT_EQ(AutostartFileName(""), "");
}

class StartOnLogonTest : public test::TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FLink = AutostartFileName(StartupFolder(PathOf("config/")));
  }
  std::string Exec() const { return UnescapeValue(KeyValue(ReadFileBytes(FLink), "Exec")); }

  std::string FLink;
  const std::string FTarget = "/opt/dz apps/dezedodiru";
};

TEST_F(StartOnLogonTest, OnOffOnLeavesExactlyOneEntry) {
  TStartOnLogonChange Change = SetStartOnLogon(true, FLink, FTarget, "DeZedodiru (Version 1.0.0)");
  EXPECT_TRUE(Change.Checked);
  EXPECT_EQ(Change.Error, "");
  EXPECT_EQ(Exec(), "\"/opt/dz apps/dezedodiru\" /hide /force");

  Change = SetStartOnLogon(false, FLink, FTarget, "");
  EXPECT_FALSE(Change.Checked);
  EXPECT_FALSE(fs::exists(FLink));

  Change = SetStartOnLogon(true, FLink, FTarget, "DeZedodiru (Version 1.0.0)");
  EXPECT_TRUE(Change.Checked);
  EXPECT_EQ(Listing(fs::path(FLink).parent_path()), std::vector<std::string>{"DeZedodiru.desktop"});
}

TEST_F(StartOnLogonTest, SwitchingOffWithoutAnEntryChangesNothing) {
  const TStartOnLogonChange Change = SetStartOnLogon(false, FLink, FTarget, "");
  EXPECT_FALSE(Change.Checked);
  EXPECT_EQ(Change.Error, "");
  EXPECT_FALSE(fs::exists(fs::path(FLink).parent_path()));
}

TEST_F(StartOnLogonTest, SwitchingOnKeepsAnExistingEntry) {
  fs::create_directories(fs::path(FLink).parent_path());
  test::WriteFileBytes(FLink, "[Desktop Entry]\nExec=mine\n");
  EXPECT_TRUE(SetStartOnLogon(true, FLink, FTarget, "").Checked);
  EXPECT_EQ(ReadFileBytes(FLink), "[Desktop Entry]\nExec=mine\n");
}

TEST_F(StartOnLogonTest, FailureUnchecksAndTellsWhy) {
  // A file where the autostart folder should be.
  MakeFile("config");
  FLink = AutostartFileName(StartupFolder(PathOf("config/")));
  const TStartOnLogonChange Change = SetStartOnLogon(true, FLink, FTarget, "");
  EXPECT_FALSE(Change.Checked);
  const std::string Head = "Error creating desktop shortcut!\n";
  ASSERT_EQ(Change.Error.rfind(Head, 0), 0u) << Change.Error;
  const int Code = CreateShortcut(FLink, FTarget, AutostartArguments(), "");
  EXPECT_NE(Code, ErrSuccess);
  EXPECT_EQ(Change.Error.substr(Head.size()), GetSystemErrorText(Code));
  EXPECT_EQ(Listing(FDir), std::vector<std::string>{"config"});
}

TEST_F(StartOnLogonTest, StartRewritesAnExistingEntryOnly) {
  EXPECT_FALSE(RefreshStartOnLogon(FLink, FTarget, ""));
  EXPECT_FALSE(fs::exists(FLink));

  ASSERT_EQ(CreateShortcut(FLink, "/old/place/dezedodiru", AutostartArguments(), "old"), ErrSuccess);
  EXPECT_TRUE(RefreshStartOnLogon(FLink, FTarget, "DeZedodiru (Version 1.0.0)"));
  EXPECT_EQ(Exec(), "\"/opt/dz apps/dezedodiru\" /hide /force");
  EXPECT_EQ(KeyValue(ReadFileBytes(FLink), "Comment"), "old");  // only what points at the program changes
  EXPECT_EQ(Listing(fs::path(FLink).parent_path()), std::vector<std::string>{"DeZedodiru.desktop"});
}

// What a desktop's settings leave in an entry they switched off, and keys
// of the user's own: the start points the entry at this executable and
// keeps every other line, and the check mark says that it is off.
TEST_F(StartOnLogonTest, StartKeepsTheEntrysOtherKeysAndReadsItsSwitch) {
  const std::string Kept1 = "[Desktop Entry]\n# mine\nType=Application\nName=DeZedodiru\nName[de]=Wachhund\n";
  const std::string Kept2 = "Comment=old\nIcon=dezedodiru\nTerminal=false\nX-KDE-autostart-after=panel\n";
  const std::string Action = "\n[Desktop Action Other]\nExec=/usr/bin/other\nTryExec=/usr/bin/other\n";
  const struct {
    const char* Switch;
    bool Checked;
  } Cases[] = {
      {"", true},
      {"Hidden=true\n", false},
      {"Hidden = true\n", false},
      {"Hidden=false\n", true},
      {"X-GNOME-Autostart-enabled=false\n", false},
      {"X-GNOME-Autostart-enabled=true\n", true},
      {"#Hidden=true\n", true},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Switch);
    fs::create_directories(fs::path(FLink).parent_path());
    fs::remove(FLink + ".link");
    const std::string Old =
        Kept1 + "Exec=/old/place/dezedodiru /hide /force\nTryExec=/old/place/dezedodiru\n" + Case.Switch + Kept2 + Action;
    test::WriteFileBytes(FLink, Old);
    EXPECT_EQ(RefreshStartOnLogon(FLink, FTarget, "DeZedodiru (Version 2.0.0)"), Case.Checked);
    EXPECT_EQ(ReadFileBytes(FLink), Kept1 + "Exec=\"/opt/dz apps/dezedodiru\" /hide /force\n" +
                                        "TryExec=/opt/dz apps/dezedodiru\n" + Case.Switch + Kept2 + Action);
    // Written again only when something changed: a replacement would leave
    // the second name of the file behind.
    fs::create_hard_link(FLink, FLink + ".link");
    EXPECT_EQ(RefreshStartOnLogon(FLink, FTarget, ""), Case.Checked);
    EXPECT_EQ(fs::hard_link_count(FLink), 2u);
  }
  // A text without the entry's group is no entry: ours replaces it.
  test::WriteFileBytes(FLink, "garbage\n");
  EXPECT_TRUE(RefreshStartOnLogon(FLink, FTarget, "DeZedodiru (Version 2.0.0)"));
  EXPECT_EQ(Exec(), "\"/opt/dz apps/dezedodiru\" /hide /force");
  // A group without an Exec key gets one.
  test::WriteFileBytes(FLink, "[Desktop Entry]\nHidden=true\n");
  EXPECT_FALSE(RefreshStartOnLogon(FLink, FTarget, ""));
  EXPECT_EQ(ReadFileBytes(FLink), "[Desktop Entry]\nExec=\"/opt/dz apps/dezedodiru\" /hide /force\nHidden=true\n");
}

// Checking the menu entry of an entry the desktop switched off switches it
// on again, keeping the rest.
TEST_F(StartOnLogonTest, SwitchingOnAnEntryTheDesktopSwitchedOffEnablesIt) {
  fs::create_directories(fs::path(FLink).parent_path());
  test::WriteFileBytes(FLink, "[Desktop Entry]\nExec=/opt/dz apps/x\nHidden=true\nX-GNOME-Autostart-enabled=false\n"
                              "Name[de]=Wachhund\n[Other]\nHidden=true\n");
  const TStartOnLogonChange Change = SetStartOnLogon(true, FLink, FTarget, "");
  EXPECT_TRUE(Change.Checked);
  EXPECT_EQ(Change.Error, "");
  EXPECT_EQ(ReadFileBytes(FLink),
            "[Desktop Entry]\nExec=\"/opt/dz apps/dezedodiru\" /hide /force\nName[de]=Wachhund\n[Other]\nHidden=true\n");
  EXPECT_TRUE(RefreshStartOnLogon(FLink, FTarget, ""));
}

}  // namespace
}  // namespace dz
