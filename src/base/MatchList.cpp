#include "base/MatchList.h"

#include <algorithm>

#include "base/CaseFold.h"
#include "base/SystemTraits.h"

namespace dz {

TMatchList::TMatchList(TListCompare Compare) : FCompare(Compare) {}

int TMatchList::CompareStrings(std::string_view A, std::string_view B) const {
  switch (FCompare) {
    case TListCompare::lcIgnoreCase:
      return CompareText(A, B);
    case TListCompare::lcFileNames:
      if (SystemFileNamesIgnoreCase)
        return CompareText(A, B);
      break;
    case TListCompare::lcCaseSensitive:
      break;
  }
  // string_view compares bytes as unsigned char: UTF-8 in code-point order.
  const int Result = A.compare(B);
  return Result < 0 ? -1 : (Result > 0 ? 1 : 0);
}

bool TMatchList::Find(std::string_view S, std::size_t& Index) const {
  const auto It = std::lower_bound(FItems.begin(), FItems.end(), S,
                                   [this](const std::string& Item, std::string_view Key) {
                                     return CompareStrings(Item, Key) < 0;
                                   });
  Index = static_cast<std::size_t>(It - FItems.begin());
  return It != FItems.end() && CompareStrings(*It, S) == 0;
}

std::size_t TMatchList::Add(std::string_view S) {
  // Lists are often filled in sorted order (a saved list being loaded): such
  // an entry goes to the end without a search and without moving anything.
  if (FItems.empty() || CompareStrings(FItems.back(), S) < 0) {
    FItems.emplace_back(S);
    return FItems.size() - 1;
  }
  std::size_t Index;
  if (!Find(S, Index)) FItems.emplace(FItems.begin() + static_cast<std::ptrdiff_t>(Index), S);
  return Index;
}

bool TMatchList::Contains(std::string_view S) const {
  std::size_t Index;
  return Find(S, Index);
}

long TMatchList::IndexOf(std::string_view S) const {
  std::size_t Index;
  return Find(S, Index) ? static_cast<long>(Index) : -1;
}

bool TMatchList::Remove(std::string_view S) {
  std::size_t Index;
  if (!Find(S, Index)) return false;
  Delete(Index);
  return true;
}

void TMatchList::Delete(std::size_t Index) {
  if (Index < FItems.size()) FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(Index));
}

void TMatchList::Assign(std::vector<std::string> Items) {
  // Stable, so that of two entries that compare equal the earlier one stays,
  // as if they had been added one by one.
  std::stable_sort(Items.begin(), Items.end(), [this](const std::string& A, const std::string& B) {
    return CompareStrings(A, B) < 0;
  });
  Items.erase(std::unique(Items.begin(), Items.end(),
                          [this](const std::string& A, const std::string& B) {
                            return CompareStrings(A, B) == 0;
                          }),
              Items.end());
  FItems = std::move(Items);
}

}  // namespace dz
