#include "watchdog/DisplayTexts.h"

#include <algorithm>
#include <iterator>

#include "base/SafeFormat.h"
#include "base/Translate.h"
#include "filesys/NumberUtils.h"

namespace dz {

namespace {

struct TUnitRule {
  const char* Text;
  std::int32_t MinValue;
  std::int32_t MaxValue;
  std::int32_t Step;
  std::int32_t ChosenValue;  // when the user picks the unit
  std::int32_t Seconds;      // per unit of the value
};

constexpr TUnitRule UnitRules[] = {
    {TrMark("seconds"), 5, 295, 5, 30, 1},
    {TrMark("minute(s)"), 1, 360, 1, 10, 60},
    {TrMark("hour(s)"), 1, 12, 1, 1, 3600},
};

// A unit index from the window that is out of range is taken as the nearest
// unit.
TIntervalUnit ValidUnit(TIntervalUnit Unit) {
  return static_cast<TIntervalUnit>(std::clamp(static_cast<int>(Unit), 0, static_cast<int>(std::size(UnitRules)) - 1));
}

const TUnitRule& RuleOf(TIntervalUnit Unit) { return UnitRules[ValidUnit(Unit)]; }

// The controls for Unit with Value, held to the unit's range.
TIntervalDisplay UnitDisplay(TIntervalUnit Unit, std::int32_t Value, bool Periodic) {
  const TUnitRule& Rule = RuleOf(Unit);
  TIntervalDisplay Display;
  Display.Periodic = Periodic;
  Display.Unit = ValidUnit(Unit);
  Display.Value = std::clamp(Value, Rule.MinValue, Rule.MaxValue);
  Display.MinValue = Rule.MinValue;
  Display.MaxValue = Rule.MaxValue;
  Display.Step = Rule.Step;
  Display.Hint = Tr("Number of ") + IntervalUnitText(Display.Unit);
  return Display;
}

}  // namespace

std::string FileCountText(std::int64_t Count) {
  if (Count == 0)
    return Tr("No files");
  if (Count == 1)
    return Tr("1 file");
  std::string Format = Tr("%u files");
  if (Count > 9999) {
    // The translation decides where the number stands; the grouped digits
    // take the place of its placeholder.
    if (const std::size_t At = Format.find("%u"); At != std::string::npos)
      return SafeFormat(Format.replace(At, 2, "%s"), FormatGrouped(Count, 3));
  }
  return SafeFormat(Format, static_cast<std::uint64_t>(Count));
}

std::string OrdinalText(std::size_t Number) {
  switch (Number) {
    case 1: return Tr("1st ");
    case 2: return Tr("2nd ");
    case 3: return Tr("3rd ");
    default: return SafeFormat(Tr("%uth "), static_cast<std::uint64_t>(Number));
  }
}

// --- the interval model -------------------------------------------------------

std::string IntervalUnitText(TIntervalUnit Unit) { return Tr(RuleOf(Unit).Text); }

TIntervalDisplay IntervalDisplayFor(std::int32_t Seconds) {
  if (Seconds < 1)
    return UnitDisplay(iuMinutes, RuleOf(iuMinutes).ChosenValue, false);
  if (Seconds > 7199)
    Seconds -= Seconds % 3600;
  else if (Seconds > 299)
    Seconds -= Seconds % 60;
  if (Seconds % 3600 == 0)
    return UnitDisplay(iuHours, Seconds / 3600, true);
  if (Seconds % 60 != 0)
    return UnitDisplay(iuSeconds, Seconds, true);
  return UnitDisplay(iuMinutes, Seconds / 60, true);
}

TIntervalDisplay IntervalDisplayForUnit(const TIntervalDisplay& Current, TIntervalUnit Unit) {
  return UnitDisplay(Unit, RuleOf(Unit).ChosenValue, Current.Periodic);
}

std::int32_t IntervalSeconds(const TIntervalDisplay& Interval) {
  if (!Interval.Periodic)
    return -1;
  return Interval.Value * RuleOf(Interval.Unit).Seconds;
}

}  // namespace dz
