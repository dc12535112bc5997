#pragma once
// What the copy engine's tests share: running one job to its end, reading
// little-endian fields out of an output file, raw inflate and CRC-32 to check
// data without trusting the writer, and counters of the process's open
// descriptors and threads.

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include "copyengine/CopyThread.h"
#include "filesys/ErrorTexts.h"
#include "platform/FileOps.h"
#include "support/TestFiles.h"

namespace dz::test {

// The four forms of output the backup worker asks for.
struct TOutputForm {
  const char* Name;
  TCopyOptions Options;
  int Action;             // of the result codes
  const char* Extension;  // of the output's name
};
inline constexpr TOutputForm OutputForms[] = {
    {"plain", CopyOptionsPlain, caCopy, ""},
    {"gzip", CopyOptionsGzip, caGzip, ".gz"},
    {"zip stored", CopyOptionsZipStored, caZip, ".zip"},
    {"zip deflated", CopyOptionsZipDeflated, caZip, ".zip"},
};

struct TJobResult {
  int ErrorCode = -1;
  int Ratio = 0;
  std::uint32_t Crc = 0;
  std::string SysErrorMsg;
};

// Runs one job on a worker to its end, however long a busy machine takes;
// ctest's time-out is the guard against a job that never ends.
inline TJobResult RunCopyJob(const std::string& Source, const std::string& Dest, TCopyOptions Options,
                             TFileProgressEvent OnProgress = nullptr) {
  TWinCopyThread Worker(Source, Dest, Options, true);
  Worker.OnProgress = std::move(OnProgress);
  Worker.Start();
  Worker.Wait();
  return {Worker.ErrorCode(), Worker.Ratio(), Worker.Crc(), Worker.SysErrorMsg()};
}

// Every compressed source deflated in pieces of PieceSize bytes.
inline TParallelDeflateSettings DeflateInPieces(std::size_t PieceSize, int Workers = 3) {
  TParallelDeflateSettings Settings;
  Settings.MinSize = 0;
  Settings.PieceSize = PieceSize;
  Settings.Workers = Workers;
  return Settings;
}

inline std::uint64_t LeField(std::string_view Bytes, std::size_t Offset, int Size) {
  if (Offset + static_cast<std::size_t>(Size) > Bytes.size()) {
    ADD_FAILURE() << "field at " << Offset << " lies beyond the " << Bytes.size() << " bytes";
    return 0;
  }
  std::uint64_t V = 0;
  for (int I = Size - 1; I >= 0; --I) V = (V << 8) | static_cast<unsigned char>(Bytes[Offset + static_cast<std::size_t>(I)]);
  return V;
}
inline std::uint16_t Le16(std::string_view B, std::size_t O) { return static_cast<std::uint16_t>(LeField(B, O, 2)); }
inline std::uint32_t Le32(std::string_view B, std::size_t O) { return static_cast<std::uint32_t>(LeField(B, O, 4)); }
inline std::uint64_t Le64(std::string_view B, std::size_t O) { return LeField(B, O, 8); }

inline std::uint32_t Crc32Of(std::string_view Data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}

// Inflates a raw deflate stream that must end exactly at the end of Data.
inline std::string InflateRaw(std::string_view Data) {
  z_stream Z{};
  EXPECT_EQ(inflateInit2(&Z, -15), Z_OK);
  std::string Out;
  Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  Z.avail_in = static_cast<uInt>(Data.size());
  int Result = Z_OK;
  char Chunk[65536];
  while (Result == Z_OK) {
    Z.next_out = reinterpret_cast<Bytef*>(Chunk);
    Z.avail_out = sizeof Chunk;
    Result = inflate(&Z, Z_NO_FLUSH);
    Out.append(Chunk, sizeof Chunk - Z.avail_out);
  }
  EXPECT_EQ(Result, Z_STREAM_END) << "the deflate data does not end properly";
  EXPECT_EQ(Z.avail_in, 0u) << "bytes follow the end of the deflate stream";
  inflateEnd(&Z);
  return Out;
}

// Raw deflate of Data with the copy engine's parameters.
inline std::string DeflateRaw(std::string_view Data, int Level = Z_DEFAULT_COMPRESSION) {
  z_stream Z{};
  EXPECT_EQ(deflateInit2(&Z, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string Out(deflateBound(&Z, static_cast<uLong>(Data.size())), '\0');
  Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  Z.avail_in = static_cast<uInt>(Data.size());
  Z.next_out = reinterpret_cast<Bytef*>(Out.data());
  Z.avail_out = static_cast<uInt>(Out.size());
  EXPECT_EQ(deflate(&Z, Z_FINISH), Z_STREAM_END);
  Out.resize(Z.total_out);
  deflateEnd(&Z);
  return Out;
}

// Reproducible bytes that deflate cannot shrink.
inline std::string RandomBytes(std::size_t Count, unsigned Seed = 1) {
  std::mt19937 Random(Seed);
  std::string Out(Count, '\0');
  for (char& C : Out) C = static_cast<char>(Random() & 0xFF);
  return Out;
}

// Text and binary runs mixed, so that deflate has something to do.
inline std::string MixedBytes(std::size_t Count, unsigned Seed = 1) {
  std::mt19937 Random(Seed);
  std::string Out;
  Out.reserve(Count);
  while (Out.size() < Count) {
    if (Random() % 2 == 0) {
      Out += "line " + std::to_string(Random() % 1000) + ": the quick brown fox jumps over the lazy dog\n";
    } else {
      for (int I = 0; I < 64; ++I) Out.push_back(static_cast<char>(Random() & 0xFF));
    }
  }
  Out.resize(Count);
  return Out;
}

inline TFileTime UnixToFileTime(std::int64_t Seconds) {
  return FileTimeOfUnixEpoch + Seconds * FileTimeTicksPerSecond;
}

inline void SetMTime(const std::filesystem::path& Path, std::int64_t UnixSeconds) {
  ASSERT_EQ(SetPathTimes(Path.string(), 0, UnixToFileTime(UnixSeconds), true), 0) << Path;
}

inline TFileStatus StatusOf(const std::filesystem::path& Path) {
  TFileStatus Status;
  EXPECT_EQ(PathStatus(Path.string(), false, Status), 0) << Path;
  return Status;
}

inline std::size_t CountEntries(const char* Dir) {
  std::size_t Count = 0;
  for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator(Dir)) ++Count;
  return Count;
}
inline std::size_t OpenDescriptorCount() { return CountEntries("/proc/self/fd"); }
inline std::size_t ThreadCount() { return CountEntries("/proc/self/task"); }

// No descriptor and no thread outlives a test.
class TLeakCheck {
public:
  void Start() {
    // Helpers that a runtime starts with the process's first extra thread
    // (ThreadSanitizer's background thread) belong to the baseline.
    std::thread([] {}).join();
    FDescriptors = test::OpenDescriptorCount();
    FThreads = test::ThreadCount();
  }
  void Verify() const {
    EXPECT_EQ(test::OpenDescriptorCount(), FDescriptors) << "a descriptor was leaked";
    // A joined thread can stay listed for a moment while the kernel tears it
    // down; one that keeps running stays for good, and ctest's time-out
    // ends the wait for it.
    while (test::ThreadCount() > FThreads) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(test::ThreadCount(), FThreads) << "a thread was left running";
  }

private:
  std::size_t FDescriptors = 0;
  std::size_t FThreads = 0;
};

// A fresh folder per test, and no descriptor or thread left behind.
class TLeakCheckedDirTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FLeaks.Start();
  }
  void TearDown() override {
    FLeaks.Verify();
    TTempDirTest::TearDown();
  }
  TLeakCheck FLeaks;
};

}  // namespace dz::test
