#pragma once
// The version of another program of the package, read from its executable
// without running it. A Linux executable has no version resource; the
// programs of the package carry a version mark instead: a text in their
// read-only data, "@(#)" as what(1) looks for it, a tag of ours, the
// internal name, a tab and the four-part file version, ended by a zero byte.
// The executable's header gives its bitness.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dz {

inline constexpr std::string_view VersionMarkTag = "@(#)dz-version:";

// The version mark of a program called Name at Version, as a zero-ended
// character array; N is VersionMarkSize(Name, Version).
constexpr std::size_t VersionMarkSize(std::string_view Name, std::string_view Version) {
  return VersionMarkTag.size() + Name.size() + 1 + Version.size() + 1;
}
template <std::size_t N> constexpr std::array<char, N> VersionMark(std::string_view Name, std::string_view Version) {
  std::array<char, N> Mark{};
  std::size_t At = 0;
  for (const std::string_view Part : {VersionMarkTag, Name, std::string_view("\t"), Version})
    for (const char C : Part) Mark[At++] = C;
  return Mark;
}

struct TProgramVersion {
  std::string InternalName;
  std::string FileVersion;  // as the mark has it, four components
  int Bits = 0;             // 32 or 64; 0 when the header does not say
};

// The version mark of Executable; nothing when the file cannot be read or
// carries no mark.
std::optional<TProgramVersion> ReadProgramVersion(const std::string& Executable);

// The line "Version info" shows for it: the internal name, the bitness
// (" - 64-bit"; this build's when the header did not say), " (", "Version"
// and three components of the version, ")".
std::string ProgramVersionLine(const TProgramVersion& Version);

}  // namespace dz
