#include "desktop/Appearance.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace dz {
namespace {

constexpr auto Dark = TColorScheme::csDark;
constexpr auto Light = TColorScheme::csLight;
constexpr auto Unknown = TColorScheme::csUnknown;

TEST(ColorScheme, PortalValues) {
  EXPECT_EQ(ColorSchemeFromPortal(0), Unknown);
  EXPECT_EQ(ColorSchemeFromPortal(1), Dark);
  EXPECT_EQ(ColorSchemeFromPortal(2), Light);
  EXPECT_EQ(ColorSchemeFromPortal(3), Unknown);
}

TEST(ColorScheme, GnomeSetting) {
  const struct {
    const char* Output;
    TColorScheme Expected;
  } Cases[] = {
      {"'prefer-dark'\n", Dark}, {"prefer-dark", Dark}, {"'prefer-light'\n", Light},
      {"'default'\n", Unknown},  {"", Unknown},         {"No such key \"color-scheme\"\n", Unknown},
  };
  for (const auto& Case : Cases) EXPECT_EQ(ColorSchemeFromGnome(Case.Output), Case.Expected) << Case.Output;
}

TEST(ColorScheme, KdeGlobals) {
  const struct {
    const char* Text;
    TColorScheme Expected;
  } Cases[] = {
      {"[Colors:Window]\nBackgroundNormal=32,35,38\n", Dark},
      {"[Colors:Window]\nBackgroundNormal=239,240,241\n", Light},
      {"[Colors:Window]\nBackgroundNormal=32,35,38,255\n", Dark},  // with opacity
      // The colours decide over the name.
      {"[General]\nColorScheme=BreezeDark\n[Colors:Window]\nBackgroundNormal=239,240,241\n", Light},
      // Colours that cannot be read leave the name.
      {"[General]\nColorScheme=BreezeDark\n[Colors:Window]\nBackgroundNormal=32,35\n", Dark},
      {"[General]\nColorScheme=BreezeDark\n[Colors:Window]\nBackgroundNormal=300,0,0\n", Dark},
      {"[General]\nColorScheme=Breeze\n", Light},
      {"[General]\nfixed=Hack,10\n", Unknown},
      {"", Unknown},
  };
  for (const auto& Case : Cases) EXPECT_EQ(ColorSchemeFromKdeGlobals(Case.Text), Case.Expected) << Case.Text;
}

class KdeFileTest : public test::TTempDirTest {};

TEST_F(KdeFileTest, ReadsKdeglobalsOfTheConfigFolder) {
  const std::string AppData = PathOf("") + "/";
  EXPECT_EQ(KdeColorScheme(AppData), Unknown);  // no file
  MakeFile("kdeglobals", "[General]\nColorScheme=BreezeDark\n");
  EXPECT_EQ(KdeColorScheme(AppData), Dark);
  EXPECT_EQ(KdeColorScheme(""), Unknown);
}

TEST(SystemDarkMode, FirstDecidingSourceWinsAndLaterOnesAreNotAsked) {
  std::vector<int> Asked;
  const auto Source = [&Asked](int Id, TColorScheme Answer) {
    return std::function<TColorScheme()>([&Asked, Id, Answer] {
      Asked.push_back(Id);
      return Answer;
    });
  };
  EXPECT_TRUE(ResolveSystemDarkMode({Source(1, Unknown), Source(2, Dark), Source(3, Light)}));
  EXPECT_EQ(Asked, (std::vector<int>{1, 2}));

  Asked.clear();
  EXPECT_FALSE(ResolveSystemDarkMode({Source(1, Light), Source(2, Dark)}));
  EXPECT_EQ(Asked, std::vector<int>{1});

  Asked.clear();
  EXPECT_FALSE(ResolveSystemDarkMode({Source(1, Unknown), nullptr, Source(2, Unknown)}));
  EXPECT_EQ(Asked, (std::vector<int>{1, 2}));
  EXPECT_FALSE(ResolveSystemDarkMode({}));
}

TEST(SystemDarkMode, StartUpDecision) {
  const struct {
    bool DarkOption;
    bool ConfigDarkMode;
    bool SystemDark;
    bool Expected;
    bool SystemAsked;
  } Cases[] = {
      {true, false, false, true, false},   // the option alone
      {true, true, false, true, false},    // the option wins over the desktop
      {false, true, true, true, true},     // the configuration follows the desktop
      {false, true, false, false, true},
      {false, false, true, false, false},  // without either the light style stays
  };
  for (const auto& Case : Cases) {
    bool Asked = false;
    EXPECT_EQ(WantDarkStyle(Case.DarkOption, Case.ConfigDarkMode,
                            [&] {
                              Asked = true;
                              return Case.SystemDark;
                            }),
              Case.Expected);
    EXPECT_EQ(Asked, Case.SystemAsked);
  }
  EXPECT_FALSE(WantDarkStyle(false, true, nullptr));
}

}  // namespace
}  // namespace dz
