#include "desktop/ProgramVersion.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestFiles.h"

namespace dz {
namespace {

std::string Mark(std::string_view Name, std::string_view Version) {
  return std::string(VersionMarkTag) + std::string(Name) + "\t" + std::string(Version) + std::string(1, '\0');
}

const std::string Elf64 = std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(57, '\0');
const std::string Elf32 = std::string("\x7f" "ELF\x01\x01\x01", 7) + std::string(45, '\0');

class ProgramVersionTest : public test::TTempDirTest {};

TEST_F(ProgramVersionTest, TheMarkIsFoundWhereverItLies) {
  // The reader takes the file in blocks of 256 KiB: marks on both sides of
  // a block's end, and one cut by it.
  constexpr std::size_t Block = 256 * 1024;
  const std::string Good = Mark("Zentivo", "6.1.2.345");
  const struct {
    const char* Case;
    std::string Content;
    bool Found;
    int Bits;
  } Cases[] = {
      {"64-bit executable", Elf64 + std::string(1000, 'x') + Good + "tail", true, 64},
      {"32-bit executable", Elf32 + Good, true, 32},
      {"not an executable header", "#!/bin/sh\n" + Good, true, 0},
      {"cut by the first block's end", Elf64 + std::string(Block - Elf64.size() - 7, 'x') + Good, true, 64},
      {"the text cut",
       Elf64 + std::string(Block - Elf64.size() - VersionMarkTag.size() - 3, 'x') + Good, true, 64},
      {"the tag cut", Elf64 + std::string(Block - Elf64.size() - 3, 'x') + Good, true, 64},
      {"in the third block", Elf64 + std::string(2 * Block + 17, 'x') + Good, true, 64},
      {"a broken mark before a good one", Elf64 + std::string(VersionMarkTag) + "no tab" + std::string(1, '\0') + Good,
       true, 64},
      {"a tag without an end before a good one",
       Elf64 + std::string(VersionMarkTag) + std::string(300, 'y') + std::string(1, '\0') + Good, true, 64},
      {"no mark", Elf64 + std::string(3000, 'x'), false, 0},
      {"a mark without its end", Elf64 + std::string(VersionMarkTag) + "Zentivo\t6.1.2.345", false, 0},
      {"empty", "", false, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Case);
    const std::string File = PathOf("ZentApp");
    test::WriteFileBytes(File, Case.Content);
    const std::optional<TProgramVersion> Version = ReadProgramVersion(File);
    ASSERT_EQ(Version.has_value(), Case.Found);
    if (!Version) continue;
    EXPECT_EQ(Version->InternalName, "Zentivo");
    EXPECT_EQ(Version->FileVersion, "6.1.2.345");
    EXPECT_EQ(Version->Bits, Case.Bits);
  }
  EXPECT_FALSE(ReadProgramVersion(PathOf("missing")).has_value());
  EXPECT_FALSE(ReadProgramVersion(FDir.string()).has_value());
}

TEST_F(ProgramVersionTest, TheMarkAsAProgramCarriesIt) {
  constexpr auto Made = VersionMark<VersionMarkSize("Zentivo", "1.2.3.4")>("Zentivo", "1.2.3.4");
  EXPECT_EQ(std::string(Made.data(), Made.size()), Mark("Zentivo", "1.2.3.4"));
}

TEST(ProgramVersionLine, NameBitnessAndThreeComponents) {
  EXPECT_EQ(ProgramVersionLine({"Zentivo", "6.1.2.345", 64}), "Zentivo - 64-bit (Version 6.1.2)");
  EXPECT_EQ(ProgramVersionLine({"Zentivo", "6.1.2.345", 32}), "Zentivo - 32-bit (Version 6.1.2)");
  EXPECT_EQ(ProgramVersionLine({"Zentivo", "6.1", 0}),
            std::string("Zentivo") + (sizeof(void*) == 8 ? " - 64-bit" : " - 32-bit") + " (Version 6)");
  EXPECT_EQ(ProgramVersionLine({"Zentivo", "7", 64}), "Zentivo - 64-bit (Version 7)");
}

}  // namespace
}  // namespace dz
