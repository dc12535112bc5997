#pragma once
// A string list that is always sorted and holds no duplicates: adding an
// entry that is present already does nothing. Whether two entries are the
// same is decided by the list's comparison, fixed at creation:
//  - lcFileNames compares as the platform compares file names (on Linux byte
//    for byte, because two files that differ only in case are two files and
//    must both be backed up);
//  - lcIgnoreCase compares without regard to case (extensions, Windows paths).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dz {

enum class TListCompare { lcCaseSensitive, lcIgnoreCase, lcFileNames };

class TMatchList {
public:
  explicit TMatchList(TListCompare Compare = TListCompare::lcFileNames);

  TListCompare Compare() const { return FCompare; }
  int CompareStrings(std::string_view A, std::string_view B) const;

  // Inserts S at its sorted place; returns its index (that of the present
  // entry when S is a duplicate).
  std::size_t Add(std::string_view S);
  // True when S is present; Index receives its position, or the position at
  // which it would be inserted.
  bool Find(std::string_view S, std::size_t& Index) const;
  bool Contains(std::string_view S) const;
  // Position of S, or -1.
  long IndexOf(std::string_view S) const;
  // Removes S when present; true when something was removed.
  bool Remove(std::string_view S);
  void Delete(std::size_t Index);
  void Clear() { FItems.clear(); }

  std::size_t Count() const { return FItems.size(); }
  bool Empty() const { return FItems.empty(); }
  const std::string& operator[](std::size_t Index) const { return FItems[Index]; }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  const std::vector<std::string>& Items() const { return FItems; }

  // Replaces the content with Items (sorted and de-duplicated here).
  void Assign(std::vector<std::string> Items);

private:
  TListCompare FCompare;
  std::vector<std::string> FItems;
};

}  // namespace dz
