#include "watchdog/LogLines.h"

#include <cstdint>

#include "filesys/NumberUtils.h"

namespace dz {

std::string ListPosition(std::size_t Index) { return ZeroPadInt(static_cast<std::int64_t>(Index + 1), 2); }

std::string EntryLine(std::size_t Index, std::string_view Text) {
  std::string Line = ListPosition(Index);
  Line += ": ";
  Line += Text;
  return Line;
}

std::string TimedEntryLine(std::string_view Time, std::size_t Index, std::string_view Text) {
  std::string Line(Time);
  Line += " - ";
  Line += EntryLine(Index, Text);
  return Line;
}

std::string ErrorLine(std::string_view Line) { return std::string(LogErrorMarker) + std::string(Line); }

std::string DestinationLine(std::string_view Line) { return std::string(LogDestinationMarker) + std::string(Line); }

std::string WithErrorLine(std::string_view Line, std::string_view Error) {
  std::string Both(Line);
  Both += "\r\n";
  Both += ErrorLine(Error);
  return Both;
}

}  // namespace dz
