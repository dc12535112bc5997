#include "base/CommaText.h"

#include <gtest/gtest.h>

namespace dz {
namespace {

using TItems = std::vector<std::string>;

TEST(CommaTextTest, SplitsAsTheMainApplicationWrites) {
  const struct {
    const char* Text;
    TItems Items;
  } Cases[] = {
      {"", {}},
      {"zip", {"zip"}},
      {"7z,ace,arc", {"7z", "ace", "arc"}},
      {" zip , rar ", {"zip", "rar"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {",a", {"", "a"}},
      {R"("a,b",c)", {"a,b", "c"}},
      {R"("say ""hi""",x)", {R"(say "hi")", "x"}},
      {R"(" padded ",x)", {" padded ", "x"}},
      {R"("open,x)", {"open,x"}},
      {R"("q"rest,x)", {"qrest", "x"}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(SplitCommaText(C.Text), C.Items);
  }
}

TEST(CommaTextTest, JoinQuotesOnlyWhereNeededAndRoundTrips) {
  const struct {
    TItems Items;
    const char* Text;
  } Cases[] = {
      {{}, ""},
      {{"gz", "zip"}, "gz,zip"},
      {{"a,b", "c"}, R"("a,b",c)"},
      {{R"(say "hi")"}, R"("say ""hi""")"},
      {{" x", "y "}, R"(" x","y ")"},
      {{"", "a"}, ",a"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(JoinCommaText(C.Items), C.Text);
    EXPECT_EQ(SplitCommaText(JoinCommaText(C.Items)), C.Items);
  }
}

}  // namespace
}  // namespace dz
