#pragma once
// How the lines of the log are built: every line about a monitored
// directory names its entry by its place in the list ("NN: "), the backup
// lines begin with the date and time ("Time - NN: "), and two markers set
// lines apart:
// - LogErrorMarker "  *** " (two blanks): a file or a directory that could not
//   be backed up or watched. The log viewer steps from one such line to the
//   next; a failed copy puts it on the line after the file's (a line break
//   inside the line), so that the viewer lands on the error itself.
// - LogDestinationMarker " *** " (one blank): an entry's destination, not
//   ready, gone during a backup or lying in the monitored directory. The
//   viewer does not step to these.
// The viewer finds the error lines of old log files by the same marker as
// those of new ones: build every line of the log with these, never by hand.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dz {

inline constexpr std::string_view LogErrorMarker = "  *** ";
inline constexpr std::string_view LogDestinationMarker = " *** ";

// A list position from 0 as the list, the log and the views write it: from
// 1, in at least two digits.
std::string ListPosition(std::size_t Index);

// The index of the entry at Position of the list counted from 1, as the
// backup workers know their entry.
constexpr std::size_t EntryIndex(std::int32_t Position) { return static_cast<std::size_t>(Position) - 1; }

// "NN: Text": a line about the entry at Index of the list.
std::string EntryLine(std::size_t Index, std::string_view Text);
// "Time - NN: Text": a line of a backup, with the date and time it happened.
std::string TimedEntryLine(std::string_view Time, std::size_t Index, std::string_view Text);
// Line behind the error marker.
std::string ErrorLine(std::string_view Line);
// Line behind the destination marker.
std::string DestinationLine(std::string_view Line);
// Line followed, on a line of its own, by Error behind the error marker.
std::string WithErrorLine(std::string_view Line, std::string_view Error);

}  // namespace dz
