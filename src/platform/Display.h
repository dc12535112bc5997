#pragma once
// Whether the desktop's display server can be reached, asked before the
// window toolkit is started: a toolkit that cannot connect ends the process,
// and the watchdog falls back to the console instead.

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

// Whether a window can be opened at all: the user chose the toolkit's
// platform ($QT_QPA_PLATFORM, which may need no display), or the process's
// display answers.
bool WindowCanBeOpened();

}  // namespace dz
