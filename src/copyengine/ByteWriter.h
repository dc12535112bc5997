#pragma once
// Little-endian header bytes, built in memory and written with one call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dz {

class TByteWriter {
public:
  TByteWriter& U8(std::uint8_t V) {
    FBytes.push_back(static_cast<char>(V));
    return *this;
  }
  TByteWriter& U16(std::uint16_t V) { return Put(V, 2); }
  TByteWriter& U32(std::uint32_t V) { return Put(V, 4); }
  TByteWriter& U64(std::uint64_t V) { return Put(V, 8); }
  TByteWriter& Bytes(std::string_view V) {
    FBytes.append(V);
    return *this;
  }

  const std::string& Data() const { return FBytes; }
  std::size_t Size() const { return FBytes.size(); }
  std::string Take() { return std::move(FBytes); }

private:
  TByteWriter& Put(std::uint64_t V, int Count) {
    for (int I = 0; I < Count; ++I) FBytes.push_back(static_cast<char>((V >> (8 * I)) & 0xFF));
    return *this;
  }

  std::string FBytes;
};

}  // namespace dz
