#include "desktop/ProgramVersion.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "base/Translate.h"
#include "settings/ProgramLocations.h"

namespace dz {

namespace {

// Longer marks are no marks of ours: a name and a version fit easily.
constexpr std::size_t MaxMarkText = 256;
constexpr std::size_t BlockSize = 256 * 1024;

// 32 or 64 after an ELF header's class byte; 0 for anything else.
int ElfBits(std::string_view Head) {
  if (Head.size() < 5 || Head.substr(0, 4) != std::string_view("\x7f" "ELF", 4)) return 0;
  return Head[4] == 1 ? 32 : Head[4] == 2 ? 64 : 0;
}

// The mark's text "Name\tVersion" split; false when it is not one.
bool ParseMarkText(std::string_view Text, TProgramVersion& Version) {
  const std::size_t Tab = Text.find('\t');
  if (Tab == std::string_view::npos || Tab == 0 || Tab + 1 == Text.size()) return false;
  Version.InternalName = Text.substr(0, Tab);
  Version.FileVersion = Text.substr(Tab + 1);
  return true;
}

}  // namespace

std::optional<TProgramVersion> ReadProgramVersion(const std::string& Executable) {
  std::ifstream In(Executable, std::ios::binary);
  if (!In) return std::nullopt;
  TProgramVersion Version;
  // The window holds the end of the previous block, so that a mark cut by a
  // block's end is found whole in the next round.
  const std::size_t Keep = VersionMarkTag.size() + MaxMarkText;
  std::string Window;
  std::vector<char> Block(BlockSize);
  bool First = true;
  while (In.read(Block.data(), static_cast<std::streamsize>(Block.size())) || In.gcount() > 0) {
    Window.append(Block.data(), static_cast<std::size_t>(In.gcount()));
    if (First) Version.Bits = ElfBits(Window);
    First = false;
    const bool Last = In.eof();
    std::size_t Searched = 0;
    for (std::size_t At = Window.find(VersionMarkTag); At != std::string::npos;
         At = Window.find(VersionMarkTag, At + 1)) {
      const std::size_t Start = At + VersionMarkTag.size();
      const std::size_t End = Window.find('\0', Start);
      if (End == std::string::npos && !Last && Window.size() - Start <= MaxMarkText) break;  // read on
      Searched = At + 1;
      if (End != std::string::npos && End - Start <= MaxMarkText &&
          ParseMarkText(std::string_view(Window).substr(Start, End - Start), Version))
        return Version;
    }
    if (Last) break;
    const std::size_t Drop = std::max(Searched, Window.size() > Keep ? Window.size() - Keep : std::size_t{0});
    Window.erase(0, Drop);
  }
  return std::nullopt;
}

std::string ProgramVersionLine(const TProgramVersion& Version) {
  const std::string Bits =
      Version.Bits == 64 ? Tr(" - 64-bit") : Version.Bits == 32 ? Tr(" - 32-bit") : BitnessText();
  // A version of one component has no build number to drop.
  std::string Short = ShortVersion(Version.FileVersion, 3);
  if (Short.empty()) Short = Version.FileVersion;
  return Version.InternalName + Bits + " (" + Tr("Version") + " " + Short + ")";
}

}  // namespace dz
