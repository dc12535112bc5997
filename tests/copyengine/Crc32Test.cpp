// The CRC-32 behind gzip, zip and the copy worker's Crc: the values zlib
// gives, for every size and alignment the vector routines treat apart, and
// across split updates.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "copyengine/Crc32.h"
#include "CopyTestUtil.h"

namespace dz {
namespace {

using test::Crc32Of;

std::uint32_t Crc32Continued(std::uint32_t Crc, std::string_view Data) {
  return Crc32Update(Crc, Data.data(), Data.size());
}

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32Update(0, nullptr, 0), 0u);
  EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 0), 0x12345678u);  // nothing added: the CRC so far
  EXPECT_EQ(Crc32Continued(0, "123456789"), 0xCBF43926u);        // the check value of CRC-32
  EXPECT_EQ(Crc32Continued(0, "abc"), 0x352441C2u);
  EXPECT_EQ(Crc32Continued(0, std::string(32, '\0')), 0x190A55ADu);
}

// Short inputs take a byte-wise path, longer ones folding over 16, 64 or
// more bytes with a tail; a start that is not aligned takes a head. Every
// size around those steps, at every offset within a vector register.
TEST(Crc32Test, MatchesZlibForEverySizeAndAlignment) {
  const std::string Data = test::MixedBytes((1 << 20) + 64, 7);
  const std::size_t Sizes[] = {0,   1,   2,   3,   4,   7,    8,    15,   16,   17,   31,    32,         33,
                               63,  64,  65,  127, 128, 129,  255,  256,  257,  511,  1023,  4096 + 7,   65536 + 13,
                               CopyThreadBufferSize, (1 << 20) + 1};
  const std::size_t Offsets[] = {0, 1, 3, 7, 8, 15, 16, 31, 63};
  for (const std::size_t Size : Sizes) {
    for (const std::size_t Offset : Offsets) {
      SCOPED_TRACE(testing::Message() << Size << " bytes at offset " << Offset);
      const std::string_view Piece(Data.data() + Offset, Size);
      EXPECT_EQ(Crc32Continued(0, Piece), Crc32Of(Piece));
    }
  }
}

// A CRC continued block by block, as the copy loop computes it, equals the
// CRC of the whole, wherever the blocks are cut, and continues a CRC that
// zlib began.
TEST(Crc32Test, SplitUpdatesEqualTheWhole) {
  const std::string Data = test::MixedBytes(300000, 11);
  const std::uint32_t Whole = Crc32Of(Data);
  const std::vector<std::vector<std::size_t>> Cuts = {
      {0},  {1}, {15, 16}, {63, 64, 65}, {4096, 4097, 150000}, {299999}, {300000},
      {7, 7, 7, 100, 101, 8191},  // empty pieces between equal cuts
  };
  for (const auto& At : Cuts) {
    SCOPED_TRACE(testing::Message() << "cut at " << At.front() << ", " << At.size() << " cuts");
    std::uint32_t Crc = 0;
    std::size_t From = 0;
    for (const std::size_t To : At) {
      Crc = Crc32Continued(Crc, std::string_view(Data).substr(From, To - From));
      From = To;
    }
    Crc = Crc32Continued(Crc, std::string_view(Data).substr(From));
    EXPECT_EQ(Crc, Whole);
  }
  // Started by zlib, finished here, and the other way round.
  const std::string_view Head = std::string_view(Data).substr(0, 1000);
  const std::string_view Tail = std::string_view(Data).substr(1000);
  EXPECT_EQ(Crc32Continued(Crc32Of(Head), Tail), Whole);
  EXPECT_EQ(static_cast<std::uint32_t>(crc32(Crc32Continued(0, Head), reinterpret_cast<const Bytef*>(Tail.data()),
                                             static_cast<uInt>(Tail.size()))),
            Whole);
}

}  // namespace
}  // namespace dz
