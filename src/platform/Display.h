#pragma once
// Whether the desktop's display server can be reached, asked before the
// window toolkit is started: a toolkit that cannot connect ends the process,
// and the watchdog falls back to the console instead.

namespace dz {

// Whether a window can be opened at all: the user chose the toolkit's
// platform ($QT_QPA_PLATFORM, which may need no display), or the process's
// display answers.
bool WindowCanBeOpened();

}  // namespace dz
