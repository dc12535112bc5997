#pragma once
// The task editor's dialogs replaced by a recording stand-in with set
// answers, so that the tests drive the windows without modal loops.

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "taskedit/TaskDocument.h"
#include "ui/taskedit/TaskEditDialogs.h"

namespace dz::ui::test {

class TFakeTaskEditDialogs : public TTaskEditDialogs {
public:
  // The answers.
  bool Answer = true;
  std::optional<std::string> Folder;
  std::optional<std::string> TaskName;
  // What "the editor" does with a task: by default it saves it unchanged.
  std::function<bool(const std::string& FileName, const TTaskDocument& Doc)> Editor =
      [](const std::string& FileName, const TTaskDocument& Doc) {
        WriteTaskDocument(Doc, FileName);
        return true;
      };

  // What was asked.
  std::vector<QString> Messages;
  std::vector<QString> Questions;
  std::vector<std::string> Edited;
  int HelpOpened = 0;

  void Message(QWidget*, const QString& Text) override { Messages.push_back(Text); }
  bool Question(QWidget*, const QString& Text) override {
    Questions.push_back(Text);
    return Answer;
  }
  std::optional<std::string> ChooseFolder(QWidget*, const QString&, const std::string&) override { return Folder; }
  std::optional<std::string> AskTaskName(QWidget*, const QString&, const QString&) override { return TaskName; }
  bool EditTask(QWidget*, const std::string& FileName, const TTaskDocument& Doc) override {
    Edited.push_back(FileName);
    return Editor(FileName, Doc);
  }
  bool EditPreferences(QWidget*) override { return false; }
  void OpenHelp(QWidget*) override { ++HelpOpened; }
};

}  // namespace dz::ui::test
