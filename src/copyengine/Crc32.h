#pragma once
// The CRC-32 of gzip, zip and the copy worker's Crc (the reflected
// polynomial 0xEDB88320, as zlib computes it).

#include <cstddef>
#include <cstdint>

namespace dz {

// Crc continued over Size bytes at Data: 0 is the CRC of nothing, and
// Crc32Update(Crc32Update(0, A), B) equals the CRC of A followed by B, as
// zlib's crc32(Crc, Data, Size) gives. Data may be null when Size is 0.
// Any size and alignment; safe on any thread.
std::uint32_t Crc32Update(std::uint32_t Crc, const void* Data, std::size_t Size);

}  // namespace dz
