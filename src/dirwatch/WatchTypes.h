#pragma once
// The kinds of change a directory watcher can be asked for and the actions it
// reports. The watcher itself lives in DirectoryWatch.h.

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/DirWatchBackend.h"

namespace dz {

enum TWatchOption : std::uint8_t {
  woFileName, woDirName, woAttributes, woSize, woLastWrite, woLastAccess, woCreation, woSecurity
};

enum TWatchAction : std::uint8_t { waAdded, waRemoved, waModified, waRenamedOld, waRenamedNew };

// One reported change: FileName relative to the watched directory, and
// what it names as far as the backend knows (TChangeKind).
struct TWatchChange {
  TWatchAction Action;
  std::string FileName;
  TChangeKind Kind = ckUnknown;
};

// A small set over an enumeration whose values are 0 to 7.
template <class E>
class TSmallSet {
public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<E> Items) {
    for (E Item : Items) Include(Item);
  }
  constexpr void Include(E Item) { FBits = static_cast<std::uint8_t>(FBits | Bit(Item)); }
  constexpr void Exclude(E Item) { FBits = static_cast<std::uint8_t>(FBits & ~Bit(Item)); }
  constexpr bool Contains(E Item) const { return (FBits & Bit(Item)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr std::uint8_t Bits() const { return FBits; }
  friend constexpr bool operator==(TSmallSet, TSmallSet) = default;

private:
  static constexpr std::uint8_t Bit(E Item) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(Item)); }
  std::uint8_t FBits = 0;
};

using TWatchOptions = TSmallSet<TWatchOption>;
using TWatchActions = TSmallSet<TWatchAction>;

class TDirectoryWatch;

}  // namespace dz
