#include "base/MatchList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dz {
namespace {

std::vector<std::string> ItemsOf(const TMatchList& List) {
  return List.Items();
}

TEST(MatchList, KeepsEntriesSortedWithoutDuplicates) {
  TMatchList List(TListCompare::lcCaseSensitive);
  EXPECT_EQ(List.Add("m"), 0u);
  EXPECT_EQ(List.Add("c"), 0u);
  EXPECT_EQ(List.Add("x"), 2u);
  EXPECT_EQ(List.Add("f"), 1u);
  EXPECT_EQ(List.Add("c"), 0u);  // present: nothing added, its index returned
  EXPECT_EQ(List.Add("x"), 3u);
  EXPECT_EQ(ItemsOf(List), (std::vector<std::string>{"c", "f", "m", "x"}));
}

TEST(MatchList, FindGivesPositionOrInsertionPoint) {
  TMatchList List(TListCompare::lcCaseSensitive);
  List.Assign({"b", "d", "f"});
  struct TCase {
    const char* Key;
    bool Found;
    std::size_t Index;
  };
  const TCase Cases[] = {
      {"a", false, 0}, {"b", true, 0}, {"c", false, 1}, {"d", true, 1},
      {"e", false, 2}, {"f", true, 2}, {"g", false, 3},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Key);
    std::size_t Index = 99;
    EXPECT_EQ(List.Find(C.Key, Index), C.Found);
    EXPECT_EQ(Index, C.Index);
    EXPECT_EQ(List.Contains(C.Key), C.Found);
    EXPECT_EQ(List.IndexOf(C.Key), C.Found ? static_cast<long>(C.Index) : -1L);
  }
}

// Which entries count as the same is the list's comparison; for file names
// on Linux two names that differ in case are two files and both stay.
TEST(MatchList, ComparisonDecidesWhatIsADuplicate) {
  struct TCase {
    TListCompare Compare;
    std::vector<std::string> Expected;
  };
  const std::vector<std::string> Input = {"Readme.TXT", "readme.txt", "\xC3\x84pfel", "\xC3\xA4PFEL", "b"};
  const TCase Cases[] = {
      {TListCompare::lcCaseSensitive, {"Readme.TXT", "b", "readme.txt", "\xC3\x84pfel", "\xC3\xA4PFEL"}},
#ifdef _WIN32
      {TListCompare::lcFileNames, {"b", "Readme.TXT", "\xC3\x84pfel"}},
#else
      {TListCompare::lcFileNames, {"Readme.TXT", "b", "readme.txt", "\xC3\x84pfel", "\xC3\xA4PFEL"}},
#endif
      {TListCompare::lcIgnoreCase, {"b", "Readme.TXT", "\xC3\x84pfel"}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(static_cast<int>(C.Compare));
    TMatchList Added(C.Compare);
    for (const std::string& S : Input) Added.Add(S);
    EXPECT_EQ(ItemsOf(Added), C.Expected);

    TMatchList Assigned(C.Compare);
    Assigned.Assign(Input);
    EXPECT_EQ(ItemsOf(Assigned), C.Expected);
  }
}

TEST(MatchList, IgnoreCaseFindsAnySpelling) {
  TMatchList List(TListCompare::lcIgnoreCase);
  List.Assign({"zip", "GZ", "Jpg"});
  EXPECT_TRUE(List.Contains("JPG"));
  EXPECT_TRUE(List.Contains("gz"));
  EXPECT_FALSE(List.Contains("jpeg"));
  EXPECT_TRUE(List.Remove("ZIP"));
  EXPECT_FALSE(List.Remove("zip"));
  EXPECT_EQ(ItemsOf(List), (std::vector<std::string>{"GZ", "Jpg"}));
}

TEST(MatchList, RemoveAndDelete) {
  TMatchList List(TListCompare::lcCaseSensitive);
  List.Assign({"a", "b", "c", "d"});
  EXPECT_TRUE(List.Remove("b"));
  EXPECT_FALSE(List.Remove("b"));
  List.Delete(0);
  List.Delete(17);  // out of range: nothing happens
  EXPECT_EQ(ItemsOf(List), (std::vector<std::string>{"c", "d"}));
  List.Clear();
  EXPECT_TRUE(List.Empty());
  EXPECT_EQ(List.Count(), 0u);
}

TEST(MatchList, DefaultsToFileNameComparison) {
  EXPECT_EQ(TMatchList().Compare(), TListCompare::lcFileNames);
}

// Pending-file lists grow to tens of thousands of entries: added in sorted
// order when a saved list is loaded, in any order while changes arrive.
TEST(MatchList, LargeListsStaySortedAndComplete) {
  std::vector<std::string> Sorted;
  for (int I = 0; I < 20000; ++I) Sorted.push_back("dir/file" + std::to_string(I));
  std::sort(Sorted.begin(), Sorted.end());
  TMatchList Loaded(TListCompare::lcFileNames);
  for (std::size_t I = 0; I < Sorted.size(); ++I) ASSERT_EQ(Loaded.Add(Sorted[I]), I);
  for (const std::string& N : Sorted) ASSERT_EQ(Loaded.Add(N), static_cast<std::size_t>(Loaded.IndexOf(N)));
  EXPECT_EQ(Loaded.Items(), Sorted);
  EXPECT_FALSE(Loaded.Contains("dir/file20000"));

  TMatchList Shuffled(TListCompare::lcFileNames);
  std::vector<std::string> Names;
  for (int I = 0; I < 3000; ++I) Names.push_back("dir/file" + std::to_string(I * 1999 % 3000));
  for (const std::string& N : Names) Shuffled.Add(N);
  ASSERT_EQ(Shuffled.Count(), 3000u);
  EXPECT_TRUE(std::is_sorted(Shuffled.begin(), Shuffled.end()));
  for (const std::string& N : Names) ASSERT_TRUE(Shuffled.Contains(N)) << N;
}

}  // namespace
}  // namespace dz
