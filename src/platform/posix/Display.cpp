#include "platform/Display.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "UniqueFd.h"
#include "platform/posix/DisplayServer.h"

namespace dz {

namespace {

// Connects to a Unix socket; Abstract puts the name into the abstract
// namespace (a leading zero byte), where X servers listen as well.
bool ConnectUnix(const std::string& Path, bool Abstract) {
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  const std::size_t Offset = Abstract ? 1 : 0;
  if (Path.empty() || Path.size() + Offset >= sizeof(Address.sun_path)) return false;
  std::memcpy(Address.sun_path + Offset, Path.data(), Path.size());
  const TUniqueFd Socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!Socket.Valid()) return false;
  const auto Length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + Offset + Path.size());
  return ::connect(Socket.Get(), reinterpret_cast<const sockaddr*>(&Address), Length) == 0;
}

bool ConnectTcp(const std::string& Host, int Port) {
  addrinfo Hints{};
  Hints.ai_family = AF_UNSPEC;
  Hints.ai_socktype = SOCK_STREAM;
  addrinfo* Found = nullptr;
  if (::getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &Found) != 0) return false;
  bool Connected = false;
  for (addrinfo* A = Found; A != nullptr && !Connected; A = A->ai_next) {
    const TUniqueFd Socket(::socket(A->ai_family, A->ai_socktype | SOCK_CLOEXEC, A->ai_protocol));
    Connected = Socket.Valid() && ::connect(Socket.Get(), A->ai_addr, A->ai_addrlen) == 0;
  }
  ::freeaddrinfo(Found);
  return Connected;
}

// "[host]:N[.screen]" (also "unix:N"); the host is empty for the local one.
bool ParseX11Display(std::string_view Name, std::string& Host, int& Number) {
  const std::size_t Colon = Name.rfind(':');
  if (Colon == std::string_view::npos) return false;
  Host = std::string(Name.substr(0, Colon));
  std::string_view Rest = Name.substr(Colon + 1);
  if (const std::size_t Dot = Rest.find('.'); Dot != std::string_view::npos) Rest = Rest.substr(0, Dot);
  if (Rest.empty() || Rest.size() > 5) return false;
  Number = 0;
  for (const char C : Rest) {
    if (C < '0' || C > '9') return false;
    Number = Number * 10 + (C - '0');
  }
  return true;
}

}  // namespace

TDisplayInfo ProcessDisplayInfo() {
  const auto Get = [](const char* Name) {
    const char* Value = std::getenv(Name);
    return std::string(Value != nullptr ? Value : "");
  };
  return {Get("WAYLAND_DISPLAY"), Get("DISPLAY"), Get("XDG_RUNTIME_DIR")};
}

bool CanConnectToDisplay(const TDisplayInfo& Info) {
  if (!Info.WaylandDisplay.empty()) {
    const std::string Path = Info.WaylandDisplay.front() == '/' ? Info.WaylandDisplay
                             : Info.RuntimeDir.empty()        ? std::string()
                                                              : Info.RuntimeDir + "/" + Info.WaylandDisplay;
    if (ConnectUnix(Path, false)) return true;
  }
  std::string Host;
  int Number = 0;
  if (Info.X11Display.empty() || !ParseX11Display(Info.X11Display, Host, Number)) return false;
  if (Host.empty() || Host == "unix") {
    const std::string Socket = "/tmp/.X11-unix/X" + std::to_string(Number);
    return ConnectUnix(Socket, false) || ConnectUnix(Socket, true);
  }
  return ConnectTcp(Host, 6000 + Number);
}

bool WindowCanBeOpened() {
  const char* Platform = std::getenv("QT_QPA_PLATFORM");
  if (Platform != nullptr && *Platform != '\0') return true;
  return CanConnectToDisplay(ProcessDisplayInfo());
}

}  // namespace dz
