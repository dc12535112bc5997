#pragma once
// How the POSIX backend of platform/Display.h finds the display server: the
// Wayland socket or the X display the environment names. For that backend
// and its tests.

#include <string>

namespace dz {

struct TDisplayInfo {
  std::string WaylandDisplay;  // $WAYLAND_DISPLAY
  std::string X11Display;      // $DISPLAY
  std::string RuntimeDir;      // $XDG_RUNTIME_DIR
};

// The values of the running process's environment.
TDisplayInfo ProcessDisplayInfo();

// True when a connection to the Wayland socket or the X display named in
// Info succeeds: a Wayland name relative to RuntimeDir or absolute; an X
// display ":N" on the local socket (file or abstract name), "host:N" on TCP
// port 6000 + N. The connection is closed at once.
bool CanConnectToDisplay(const TDisplayInfo& Info);

}  // namespace dz
