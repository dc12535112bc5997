#pragma once
// What the front-ends show in words and numbers beside the list: the model
// of the interval controls (the value, its unit and their ranges) and the
// counts of files and positions as the labels, tips and the status dialog
// write them. Pure functions; the texts are translated.

#include <cstddef>
#include <cstdint>
#include <string>

#include "watchdog/WatchdogView.h"

namespace dz {

// --- the interval model -------------------------------------------------------

// The unit's text in the unit box, translated.
std::string IntervalUnitText(TIntervalUnit Unit);

// The controls for a stored interval: 0 or less means periodic backups off
// (shown as 10 minutes). Longer intervals are rounded down to whole hours
// above 7199 seconds and to whole minutes above 299, then shown in the
// largest unit that holds them exactly. A value outside its unit's range is
// shown at the nearest end of the range, as the value field would hold it.
TIntervalDisplay IntervalDisplayFor(std::int32_t Seconds);

// The controls after the user chose Unit: the unit's range and step with its
// starting value (30 seconds, 10 minutes, 1 hour); Periodic is kept.
TIntervalDisplay IntervalDisplayForUnit(const TIntervalDisplay& Current, TIntervalUnit Unit);

// The interval the controls stand for, in seconds; -1 when periodic backups
// are off.
std::int32_t IntervalSeconds(const TIntervalDisplay& Interval);

// --- counts -------------------------------------------------------------------

// The number of pending files as the labels and tips show it: "No files",
// "1 file", "%u files"; above 9999 with the digits grouped by blanks.
std::string FileCountText(std::int64_t Count);

// The ordinal of a position from 1 as the status dialog writes it: "1st ",
// "2nd ", "3rd ", otherwise the number and "th " (translated).
std::string OrdinalText(std::size_t Number);

}  // namespace dz
