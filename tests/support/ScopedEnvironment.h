#pragma once
// Environment variables set for one test and given back afterwards, so that
// tests of locations and languages never see or touch the real user's.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Environment.h"
#include "support/TestFiles.h"

namespace dz::test {

// Sets variables for one test and gives every one back its old value (or
// its absence) afterwards.
class TScopedEnvironment {
public:
  TScopedEnvironment() = default;
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;
  ~TScopedEnvironment() {
    for (auto It = FSaved.rbegin(); It != FSaved.rend(); ++It) {
      if (It->second)
        SetEnvVar(It->first, *It->second);
      else
        UnsetEnvVar(It->first);
    }
  }
  void Set(const std::string& Name, const std::string& Value) {
    Save(Name);
    ASSERT_EQ(SetEnvVar(Name, Value), 0) << Name;
  }
  void Unset(const std::string& Name) {
    Save(Name);
    ASSERT_EQ(UnsetEnvVar(Name), 0) << Name;
  }

private:
  void Save(const std::string& Name) {
    const char* Old = std::getenv(Name.c_str());
    FSaved.emplace_back(Name, Old ? std::optional<std::string>(Old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};


// A user of its own below the test's folder: HOME, the configuration folders
// and PATH point into it (home/, config/, etc/, bin/ are created), and no
// locale variable is set, so the real user's settings and language can
// neither leak in nor be touched.
class TTempUserTest : public TTempDirTest {
protected:
  void SetUp() override {
    TTempDirTest::SetUp();
    FEnv.Set("HOME", PathOf("home"));
    FEnv.Set("XDG_CONFIG_HOME", PathOf("config"));
    FEnv.Set("XDG_CONFIG_DIRS", PathOf("etc"));
    FEnv.Set("PATH", PathOf("bin"));
    for (const char* Name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) FEnv.Unset(Name);
    for (const char* Dir : {"home", "config", "etc", "bin"}) std::filesystem::create_directories(FDir / Dir);
  }

  TScopedEnvironment FEnv;
};

}  // namespace dz::test
