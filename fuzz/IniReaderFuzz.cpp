// Feeds arbitrary bytes to the INI reader. Besides crashes and sanitizer
// findings it checks that a loaded document survives its own save: saving,
// loading the saved bytes and saving again must give the same sections, the
// same lines and the same bytes. The settings file is rewritten at every
// backup start, so anything that drifted from one save to the next would
// slowly corrupt it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/UnicodeIniFile.h"

namespace {

void Check(bool Holds, const char* What) {
  if (!Holds) {
    std::fprintf(stderr, "INI invariant broken: %s\n", What);
    std::abort();
  }
}

// Reads every section and key as the program's readers do, and checks that
// the lists agree with the lookups.
void ReadEverything(const dz::TUnicodeIniFile& Ini) {
  for (const std::string& Section : Ini.ReadSections()) {
    const std::vector<std::string> Keys = Ini.ReadSection(Section);
    const std::vector<std::string> Lines = Ini.ReadSectionValues(Section);
    Check(Ini.SectionExists(Section) == !Lines.empty(), "SectionExists agrees with the section's lines");
    Check(Keys.size() <= Lines.size(), "no more keys than lines");
    for (const std::string& Key : Keys) {
      Check(Ini.ValueExists(Section, Key), "every listed key is found");
      Check(Key.find('=') == std::string::npos, "a loaded key name holds no =");
      // A value that is a number reads the same whatever the default.
      const std::int32_t Narrow = Ini.ReadInteger(Section, Key, 0);
      const bool IsInt32 = Ini.ReadInteger(Section, Key, 1) == Narrow;
      const std::int64_t Wide = Ini.ReadInt64(Section, Key, 0);
      const bool IsInt64 = Ini.ReadInt64(Section, Key, 1) == Wide;
      Check(!IsInt32 || (IsInt64 && Wide == Narrow), "a 32-bit number reads the same as 64-bit");
      Check(Ini.ReadBool(Section, Key, false) == (IsInt32 && Narrow != 0), "ReadBool with default false");
      Check(Ini.ReadBool(Section, Key, true) == (!IsInt32 || Narrow != 0), "ReadBool with default true");
    }
  }
}

bool SameContent(const dz::TUnicodeIniFile& A, const dz::TUnicodeIniFile& B) {
  const std::vector<std::string> Sections = A.ReadSections();
  if (B.ReadSections() != Sections)
    return false;
  for (const std::string& Section : Sections) {
    if (A.ReadSectionValues(Section) != B.ReadSectionValues(Section))
      return false;
    for (const std::string& Key : A.ReadSection(Section))
      if (A.ReadString(Section, Key, "") != B.ReadString(Section, Key, ""))
        return false;
  }
  return true;
}

// Deleting every key of a section leaves exactly its lines without "=".
void DeleteEveryKey(dz::TUnicodeIniFile& Ini) {
  for (const std::string& Section : Ini.ReadSections()) {
    std::vector<std::string> Texts;
    for (const std::string& Line : Ini.ReadSectionValues(Section))
      if (Line.find('=') == std::string::npos)
        Texts.push_back(Line);
    for (const std::string& Key : Ini.ReadSection(Section)) {
      Ini.DeleteKey(Section, Key);
      Check(!Ini.ValueExists(Section, Key), "a deleted key is gone");
    }
    Check(Ini.ReadSection(Section).empty(), "no key is left");
    Check(Ini.ReadSectionValues(Section) == Texts, "the other lines are left in order");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  dz::TUnicodeIniFile First;
  First.LoadFromBytes(std::string_view(reinterpret_cast<const char*>(Data), Size));
  ReadEverything(First);

  const std::string Saved = First.SaveToBytes();
  dz::TUnicodeIniFile Second;
  Second.LoadFromBytes(Saved);
  Check(SameContent(First, Second), "a saved document loads back as it was");
  Check(Second.SaveToBytes() == Saved, "saving a reloaded document gives the same bytes");

  DeleteEveryKey(Second);
  return 0;
}
