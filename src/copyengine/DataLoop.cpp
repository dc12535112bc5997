#include "copyengine/DataLoop.h"

#include <algorithm>

#include "copyengine/CopyJobCodes.h"
#include "copyengine/Crc32.h"
#include "filesys/FileUtils.h"
#include "platform/SysError.h"

namespace dz {

int RunDataPass(TExtFileStream& Source, TExtFileStream* Dest, std::span<char> Buffer, std::int64_t Length,
                const TDataPassHooks& Hooks, TDataPassTotals& Totals) {
  Totals.SysError = 0;
  // A buffer of no bytes would never get through the file.
  if (Buffer.empty()) {
    Totals.SysError = ErrInvalidParameter;
    return cjReadFile;
  }
  int Code = 0;
  do {
    if (Hooks.BeforeBlock && !Hooks.BeforeBlock()) return cjUserBreak;
    const auto Wanted = static_cast<std::size_t>(std::clamp<std::int64_t>(
        Length, 0, static_cast<std::int64_t>(Buffer.size())));
    std::int64_t Got = 0;
    if (const int ReadError = Source.Read(Buffer.data(), Wanted, Got)) {
      Totals.SysError = ReadError;
      return cjReadFile;
    }
    // Fewer bytes than asked: the source has become shorter since the pass
    // began.
    if (static_cast<std::size_t>(Got) < Wanted) return cjReadFile;
    Totals.Done += Got;
    if (Hooks.BlockRead) Code = Hooks.BlockRead(Totals.Done);
    Totals.Crc = Crc32Update(Totals.Crc, Buffer.data(), static_cast<std::size_t>(Got));
    if (Code != 0) return Code;
    if (Dest != nullptr) {
      std::int64_t Put = 0;
      if (const int WriteError = Dest->Write(Buffer.data(), static_cast<std::size_t>(Got), Put)) {
        Totals.SysError = WriteError;
        return WriteFailureCode(WriteError);
      }
      if (Put < Got) return cjLowDiskSpace;
      if (Hooks.BlockWritten) Hooks.BlockWritten(Totals.Done);
    }
    if (Hooks.StopRequested && Hooks.StopRequested()) return cjUserBreak;
    Length -= Got;
  } while (Length > 0);
  return 0;
}

}  // namespace dz
