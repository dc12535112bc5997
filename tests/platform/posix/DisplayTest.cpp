// Whether a display answers, asked before the toolkit starts (a toolkit that
// cannot connect ends the process). The tests listen on sockets of their own
// in the places a Wayland compositor and an X server use, so this file uses
// the system's headers like the backend it tests.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Display.h"
#include "platform/posix/DisplayServer.h"
#include "support/ScopedEnvironment.h"
#include "support/TestFiles.h"

namespace dz {
namespace {

// A listening socket, closed at the end of the test.
class TListener {
public:
  // On the file Path.
  explicit TListener(const std::string& Path) : FFd(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    std::strncpy(Address.sun_path, Path.c_str(), sizeof(Address.sun_path) - 1);
    FListening = FFd >= 0 && bind(FFd, reinterpret_cast<const sockaddr*>(&Address), sizeof(Address)) == 0 &&
                 listen(FFd, 4) == 0;
  }
  // On the loopback interface, at the first free port of 6000 + 50..99
  // (an X display "localhost:N" is port 6000 + N).
  TListener() : FFd(socket(AF_INET, SOCK_STREAM, 0)) {
    for (int N = 50; N < 100 && FFd >= 0 && !FListening; ++N) {
      sockaddr_in Address{};
      Address.sin_family = AF_INET;
      Address.sin_port = htons(static_cast<std::uint16_t>(6000 + N));
      Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (bind(FFd, reinterpret_cast<const sockaddr*>(&Address), sizeof(Address)) == 0 && listen(FFd, 4) == 0) {
        FListening = true;
        FDisplayNumber = N;
      }
    }
  }
  ~TListener() {
    if (FFd >= 0) close(FFd);
  }
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;

  bool Listening() const { return FListening; }
  int DisplayNumber() const { return FDisplayNumber; }

private:
  int FFd;
  bool FListening = false;
  int FDisplayNumber = -1;
};

class DisplayTest : public test::TTempDirTest {};

TEST_F(DisplayTest, AWaylandSocketAnswersWhereItIsNamed) {
  const std::string Runtime = PathOf("");
  TListener Compositor(PathOf("wayland-test"));
  ASSERT_TRUE(Compositor.Listening());
  EXPECT_TRUE(CanConnectToDisplay({"wayland-test", "", Runtime}));
  EXPECT_TRUE(CanConnectToDisplay({PathOf("wayland-test"), "", ""}));  // an absolute name needs no runtime folder
  EXPECT_FALSE(CanConnectToDisplay({"wayland-gone", "", Runtime}));
  EXPECT_FALSE(CanConnectToDisplay({"wayland-test", "", ""}));  // a relative name without a runtime folder
  EXPECT_FALSE(CanConnectToDisplay({}));
}

TEST_F(DisplayTest, AnXDisplayOnTcpAnswersAtItsPort) {
  TListener Server;
  if (!Server.Listening()) GTEST_SKIP() << "no free port from 6050 to 6099 on the loopback interface";
  const std::string Display = "localhost:" + std::to_string(Server.DisplayNumber());
  EXPECT_TRUE(CanConnectToDisplay({"", Display, ""}));
  EXPECT_TRUE(CanConnectToDisplay({"", Display + ".0", ""}));  // a screen number changes nothing
  EXPECT_TRUE(CanConnectToDisplay({"wayland-gone", Display, PathOf("")}));  // X after a Wayland name that fails
}

TEST_F(DisplayTest, AChosenPlatformOpensWindowsWithoutADisplay) {
  test::TScopedEnvironment Env;
  Env.Unset("WAYLAND_DISPLAY");
  Env.Unset("DISPLAY");
  Env.Unset("QT_QPA_PLATFORM");
  EXPECT_FALSE(WindowCanBeOpened());
  Env.Set("QT_QPA_PLATFORM", "offscreen");
  EXPECT_TRUE(WindowCanBeOpened());
  Env.Set("QT_QPA_PLATFORM", "");
  EXPECT_FALSE(WindowCanBeOpened());  // set but empty chooses nothing
}

}  // namespace
}  // namespace dz
