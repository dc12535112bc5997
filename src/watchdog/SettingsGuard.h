#pragma once
// What guards the settings file before the watchdog reads it: one running
// watchdog per settings file, the leftovers of interrupted saves, and a file
// that is there but damaged, which is put aside rather than read as empty
// and later written over (every monitored directory and pending file would
// be gone).

#include <optional>
#include <string>
#include <string_view>

#include "platform/InstanceLock.h"

namespace dz {

// Why Bytes cannot be the watchdog's settings file; empty when they can.
// Damaged: no bytes at all, bytes that are not text (NUL characters, as in
// UTF-16 without its byte-order mark), a line that is neither a section, a
// key with its value nor a comment, and a file that ends early. Ending
// early is told where the file shows what it should hold: a file of this
// program or in UTF-16 (both are written by programs, and always end with a
// line end) that ends inside a line, and a file of this program with fewer
// directories, or fewer pending files of one, than its counts say.
std::string SettingsFileDamage(std::string_view Bytes, std::string_view ProgramName);

// Checks IniName before it is loaded. A damaged file is renamed aside to
// "<name>.damaged" (or "<name>.damaged-2", ...; nothing is written over) and
// EFOpenError raised with a message naming both; a missing file is fine,
// and one that cannot be read is left to the loader, which raises too.
void CheckSettingsFile(const std::string& IniName, std::string_view ProgramName);

// Takes the lock of one running watchdog on IniName (a hidden file beside
// it) and then removes what interrupted saves left beside it. Empty on
// success, and also when the folder does not allow a lock file at all (the
// settings then cannot be written either, which is said when it matters);
// the message for the user when another process holds the lock.
std::optional<std::string> LockSettingsFile(const std::string& IniName, std::string_view ProgramName,
                                            TInstanceLock& Lock);

}  // namespace dz
