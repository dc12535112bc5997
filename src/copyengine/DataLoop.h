#pragma once
// The data pass of a copy job: the source is read block by block into one
// buffer, the CRC-32 continued over each block where it lies, and the block
// written to the destination from that same buffer, so the copy holds
// exactly the bytes its CRC covers. A plain copy spends its time in the two
// copies the kernel makes (page cache to buffer, buffer to page cache) and in
// the checksum; bench/copyengine/CopyPiecesBench.cpp times each piece and the
// alternatives that were weighed (the kernel's own file-to-file copy, a
// separate read for the CRC, other buffer sizes).

#include <cstdint>
#include <functional>
#include <span>

namespace dz {

class TExtFileStream;

// What the job does between blocks; any member may be left empty.
struct TDataPassHooks {
  // Before every block: the pause gate; false ends the pass with
  // cjUserBreak before the block is read (stop asked while paused).
  std::function<bool()> BeforeBlock;
  // After every complete block read and counted, with the source bytes
  // counted so far: the progress report. A job code other than 0 ends the
  // pass with that code; the block is still checksummed but not written.
  std::function<int(std::int64_t Done)> BlockRead;
  // After every block written, with the bytes written so far.
  std::function<void(std::int64_t Written)> BlockWritten;
  // After every block that went through: true ends the pass with cjUserBreak.
  std::function<bool()> StopRequested;
};

// The running totals of a job; a pass continues them.
struct TDataPassTotals {
  std::uint32_t Crc = 0;   // CRC-32 of every source byte counted
  std::int64_t Done = 0;   // source bytes counted (read in full blocks)
  int SysError = 0;        // the system error behind the failure that ended the pass, else 0
};

// Copies Length bytes of Source, from its position, to Dest at its position
// through Buffer, one block of at most Buffer.size() bytes at a time; a null
// Dest only counts and checksums. A Length of 0 makes one read of 0 bytes.
// The result is a job code (CopyJobCodes.h): 0, cjReadFile when a read fails
// or the source ends before Length bytes (that last block is neither counted
// nor checksummed), cjLowDiskSpace when the disk is full or a write takes
// fewer bytes, cjWriteFile when a write fails otherwise, cjUserBreak, or the
// code BlockRead returned. An empty Buffer gives cjReadFile with 87.
int RunDataPass(TExtFileStream& Source, TExtFileStream* Dest, std::span<char> Buffer, std::int64_t Length,
                const TDataPassHooks& Hooks, TDataPassTotals& Totals);

}  // namespace dz
