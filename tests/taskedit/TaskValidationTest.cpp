#include "taskedit/TaskValidation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "taskedit/TaskEditTestSupport.h"

namespace dz {
namespace {

class TaskValidationTest : public test::TTaskFolderTest {};

struct TExpected {
  TFindingLevel Level;
  TTaskField Field;
  int Source;
  const char* TextPart;  // a part of the finding's text
};

TEST_F(TaskValidationTest, FindingsPerField) {
  const struct {
    const char* Name;
    std::function<void(TTaskDocument&)> Edit;
    std::vector<TExpected> Expected;
  } Cases[] = {
      {"a sound task", [](TTaskDocument&) {}, {}},
      {"volume-label destination", [](TTaskDocument& D) { D.Destination = ":BACKUP:/data"; }, {}},
      {"no destination", [](TTaskDocument& D) { D.Destination.clear(); },
       {{flError, tfDestination, -1, "No destination"}}},
      {"two % in the destination", [](TTaskDocument& D) { D.Destination = "/backup/%USER%/x"; },
       {{flError, tfDestination, -1, "placeholders"}}},
      {"one % is no placeholder", [](TTaskDocument& D) { D.Destination = "/backup/100%"; }, {}},
      {"relative destination", [](TTaskDocument& D) { D.Destination = "backup"; },
       {{flError, tfDestination, -1, "full path"}}},
      {"destination inside a source", [this](TTaskDocument& D) { D.Destination = B() + "/copies"; },
       {{flWarning, tfDestination, 1, "inside the source"}}},
      {"destination is a source", [this](TTaskDocument& D) { D.Destination = A() + "/"; },
       {{flWarning, tfDestination, 0, "inside the source"}}},
      {"a destination beside a source of a longer name", [this](TTaskDocument& D) { D.Destination = A() + "x"; },
       {}},
      {"unknown structure", [](TTaskDocument& D) { D.DestMode = 2; },
       {{flError, tfDestMode, -1, "Invalid task configuration"}}},
      {"no sources", [](TTaskDocument& D) { D.Sources.clear(); },
       {{flError, tfSources, -1, "no source"}}},
      {"missing source", [this](TTaskDocument& D) { D.Sources[1].Source = PathOf("gone"); },
       {{flError, tfSource, 1, "does not exist"}}},
      {"empty source", [](TTaskDocument& D) { D.Sources[0].Source.clear(); },
       {{flError, tfSource, 0, "No source"}}},
      {"expression that does not compile",
       [](TTaskDocument& D) {
         D.Sources[0].FilterMode = fmInclude;
         D.Sources[0].Regular = true;
         D.Sources[0].Filter = "(abc";
       },
       {{flError, tfFileFilter, 0, "Illegal regular expression! missing closing parenthesis (at character 5)"}}},
      {"mask that does not compile",
       [](TTaskDocument& D) {
         D.Sources[1].FilterMode = fmExclude;
         D.Sources[1].Filter = "*.txt|[abc";
       },
       {{flError, tfFileFilter, 1, "Illegal mask! Invalid mask: [abc"}}},
      {"directory expression that does not compile",
       [](TTaskDocument& D) {
         D.Sources[0].DirFilterRegular = true;
         D.Sources[0].DirFilter = "[z-a]";
       },
       {{flError, tfDirFilter, 0, "Illegal regular expression!"}}},
      {"include rule with an empty list",
       [](TTaskDocument& D) {
         D.Sources[0].IncludeExts = true;
         D.Sources[0].Include.clear();
       },
       {{flWarning, tfExtensions, 0, "nothing will be backed up"}}},
      {"include rule with names without extension only",
       [](TTaskDocument& D) {
         D.Sources[0].IncludeExts = true;
         D.Sources[0].Include = {""};
       },
       {}},
      {"sub-directories the watchdog ignores",
       [](TTaskDocument& D) { D.Sources[1].SubDirs = {"/etc", "", "docs"}; },
       {{flWarning, tfSubDirs, 1, "\"/etc\" is not relative"}, {flWarning, tfSubDirs, 1, "empty sub-directory"}}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TTaskDocument Doc = NewTaskDocument({A(), B()}, Dest());
    Case.Edit(Doc);
    const std::vector<TTaskFinding> Findings = ValidateTask(Doc);
    ASSERT_EQ(Findings.size(), Case.Expected.size()) << (Findings.empty() ? "" : Findings.front().Text);
    for (std::size_t I = 0; I < Findings.size(); ++I) {
      const TExpected& E = Case.Expected[I];
      EXPECT_EQ(Findings[I].Level, E.Level) << Findings[I].Text;
      EXPECT_EQ(Findings[I].Field, E.Field) << Findings[I].Text;
      EXPECT_EQ(Findings[I].Source, E.Source) << Findings[I].Text;
      EXPECT_NE(Findings[I].Text.find(E.TextPart), std::string::npos) << Findings[I].Text;
    }
    EXPECT_EQ(HasErrors(Findings),
              std::any_of(Case.Expected.begin(), Case.Expected.end(), [](const TExpected& E) { return E.Level == flError; }));
  }
}

TEST_F(TaskValidationTest, ADestinationReachedThroughALinkIntoTheSourceIsFound) {
  std::filesystem::create_directory(A() + "/inner");
  std::filesystem::create_directory_symlink(A() + "/inner", PathOf("link"));
  TTaskDocument Doc = NewTaskDocument({A()}, PathOf("link"));
  const std::vector<TTaskFinding> Findings = ValidateTask(Doc);
  ASSERT_EQ(Findings.size(), 1u);
  EXPECT_EQ(Findings[0].Level, flWarning);
  EXPECT_EQ(Findings[0].Field, tfDestination);
}

TEST_F(TaskValidationTest, OneSourceAloneIsChecked) {
  TTaskDocument Doc = NewTaskDocument({A(), PathOf("gone")}, "");
  EXPECT_TRUE(ValidateSource(Doc, 0).empty());
  ASSERT_EQ(ValidateSource(Doc, 1).size(), 1u);
  EXPECT_EQ(ValidateSource(Doc, 1)[0].Source, 1);
  EXPECT_TRUE(ValidateSource(Doc, 2).empty());
}

}  // namespace
}  // namespace dz
