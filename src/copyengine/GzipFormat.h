#pragma once
// The bytes of a gzip member (RFC 1952) as the copy worker writes it, and the
// raw deflate writer that the gzip and zip output share.
//
// Member layout (little-endian):
//   0  1F 8B 08 FLG        FLG = FEXTRA (0x04), plus FNAME (0x08) with a name
//   4  MTIME               Unix seconds of the source's last-write time
//   8  XFL = 0, OS         OS 0: the name is single-byte text; 11: UTF-8
//   10 XLEN = 20
//   12 01 00 10 00         subfield with the 64-bit compressed and
//   16 compressed size     uncompressed sizes, written as zeros and filled in
//   24 uncompressed size   once the trailer is complete
//   32 name, 0             (only with FNAME)
//   .. raw deflate data, CRC-32, ISIZE (size modulo 2^32)
// A reader that skips FEXTRA, as the RFC requires, sees a plain member.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace dz {

class TExtFileStream;

// A name as it is stored in an archive header.
struct TStoredName {
  std::string Bytes;
  bool Utf8 = false;  // Bytes are UTF-8 (gzip OS 11, zip flag bit 11)
  // The name's own bytes where Bytes cannot give them back (zip only: a name
  // that is not UTF-8, a "\"); empty otherwise.
  std::string Original;
};

inline constexpr std::uint8_t GzipOsSingleByte = 0;
inline constexpr std::uint8_t GzipOsUtf8 = 11;
inline constexpr std::size_t GzipFixedHeaderSize = 32;  // up to the name
inline constexpr std::size_t GzipSizesOffset = 16;

// The gzip name: when every character is below U+0100, its ISO 8859-1 bytes
// (the single-byte code page, OS 0); otherwise UTF-8 (OS 11). A name that is
// not valid UTF-8 (Linux allows any bytes) is stored byte for byte as
// single-byte text, and a "\" as it is: the readers that restore a gzip
// name (gunzip -N, 7z) take its bytes as they are, so they give back exactly
// the name it had.
TStoredName EncodeGzipName(std::string_view Name);

// Header, extra field with zero sizes and (when Name is not empty) the name
// with its terminating 0.
std::string BuildGzipHeader(const TStoredName& Name, std::uint32_t MTime);

// Deflate levels and parameters shared by gzip and zip output: raw deflate
// (window bits -15), memory level 8, default strategy.
inline constexpr int DeflateWindowBits = -15;
inline constexpr int DeflateMemLevel = 8;

// zlib's deflate state with a writer's output buffer, set up by the first
// writer that uses it and reset for every later one: for a small file,
// setting zlib up (some 270 KiB to allocate and clear) costs more than
// compressing it. A copy job keeps one for all its files.
class TDeflateState {
public:
  TDeflateState();
  ~TDeflateState();
  TDeflateState(const TDeflateState&) = delete;
  TDeflateState& operator=(const TDeflateState&) = delete;

private:
  friend class TDeflateWriter;
  struct TZlib;
  std::unique_ptr<TZlib> FZlib;
};

// Raw deflate written straight to a file at its current position through a
// 64 KiB output buffer. Write and Close return a system error code (0 =
// success); after a failure the writer takes nothing more. Each writer
// writes one new stream, whatever the state it is given did before.
class TDeflateWriter {
public:
  static constexpr std::size_t OutputBufferSize = 65536;

  // With a state of its own, released with the writer. Raises
  // std::bad_alloc when zlib cannot get its memory.
  TDeflateWriter(TExtFileStream& Dest, int Level);
  // With State, which outlives the writer and keeps its memory for the next
  // one. Raises std::bad_alloc when zlib cannot get its memory.
  TDeflateWriter(TExtFileStream& Dest, int Level, TDeflateState& State);
  ~TDeflateWriter();
  TDeflateWriter(const TDeflateWriter&) = delete;
  TDeflateWriter& operator=(const TDeflateWriter&) = delete;

  int Write(const void* Data, std::size_t Count);
  // Finishes the deflate stream and writes what remains.
  int Close();

private:
  void Begin(TDeflateState& State, int Level);
  int Deflate(const void* Data, std::size_t Count, int Flush);
  int Drain();

  std::unique_ptr<TDeflateState> FOwnState;
  TDeflateState::TZlib* FState = nullptr;
  TExtFileStream& FDest;
  int FError = 0;
  bool FClosed = false;
};

}  // namespace dz
