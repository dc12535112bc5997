#include "platform/posix/CreationMask.h"

#include <string>

#include "platform/FileIo.h"

namespace dz {

std::uint32_t FileCreationMask() {
  constexpr std::uint32_t Unknown = 077;
  // Linux 4.7 and later show it; the umask call could only set it.
  std::string Status;
  if (ReadWholeFile("/proc/self/status", Status) != 0) return Unknown;
  const std::string Key = "\nUmask:";
  std::size_t At = Status.find(Key);
  if (At == std::string::npos) return Unknown;
  At += Key.size();
  while (At < Status.size() && (Status[At] == ' ' || Status[At] == '\t')) ++At;
  std::uint32_t Mask = 0;
  std::size_t Digits = 0;
  for (; At < Status.size() && Status[At] >= '0' && Status[At] <= '7' && Digits < 4; ++At, ++Digits)
    Mask = Mask * 8 + static_cast<std::uint32_t>(Status[At] - '0');
  return Digits > 0 ? Mask & 0777u : Unknown;
}

}  // namespace dz
