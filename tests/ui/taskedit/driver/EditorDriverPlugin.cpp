// A user at the task editor of the built ZentApp, for the tests that run the
// program as the watchdog does. The program knows nothing of it: Qt loads it
// as a generic plugin (QT_PLUGIN_PATH, QT_QPA_GENERIC_PLUGINS=dzeditordriver)
// into any application that the test starts with those variables. Once the
// editor is shown it types into its fields and presses a button, with
// QTest's key and mouse events, as the window tests do in their own process:
//
//   DZ_DRIVE_EDITOR_TYPE    lines "objectName=text": each text is typed into
//                           the named field, over what it held
//   DZ_DRIVE_EDITOR_ACTION  "save" or "cancel": that button is pressed; a
//                           question (create the missing task, save a task
//                           with findings) is answered yes or no
//
// A message is written to standard error and closed: nobody is there to
// read it.

#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

class TEditorDriver : public QObject {
public:
  TEditorDriver() : FSave(qEnvironmentVariable("DZ_DRIVE_EDITOR_ACTION") == QLatin1String("save")) {
    auto* Poll = new QTimer(this);
    Poll->setInterval(20);
    connect(Poll, &QTimer::timeout, this, &TEditorDriver::Look);
    Poll->start();
  }

private:
  // What a user would do next with the modal window in front. The step
  // itself runs from the event loop of its own: a press that opens another
  // modal window must not hold up the next look.
  void Look() {
    QWidget* Modal = QApplication::activeModalWidget();
    if (Modal == nullptr || Modal == FHandled) return;
    if (auto* Box = qobject_cast<QMessageBox*>(Modal)) {
      FHandled = Box;
      QAbstractButton* Button = nullptr;
      if (Box->button(QMessageBox::Yes) != nullptr) {
        Button = Box->button(FSave ? QMessageBox::Yes : QMessageBox::No);
      } else {
        std::fprintf(stderr, "%s\n", qPrintable(Box->text()));
        Button = Box->buttons().value(0);
      }
      Press(Button);
      return;
    }
    if (Modal->objectName() != QLatin1String("TaskEditorDialog")) return;
    FHandled = Modal;
    for (const QString& Line : qEnvironmentVariable("DZ_DRIVE_EDITOR_TYPE").split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      const qsizetype Equals = Line.indexOf(QLatin1Char('='));
      auto* Field = Equals < 0 ? nullptr : Modal->findChild<QLineEdit*>(Line.left(Equals));
      if (Field == nullptr || !Field->isEnabled()) continue;
      Field->setFocus();
      Field->selectAll();
      QTest::keyClicks(Field, Line.mid(Equals + 1));
    }
    Press(Modal->findChild<QPushButton*>(QLatin1String(FSave ? "btSave" : "btCancel")));
  }

  static void Press(QAbstractButton* Button) {
    if (Button == nullptr) return;
    const QPointer<QAbstractButton> Target(Button);
    QTimer::singleShot(0, Button, [Target] {
      if (Target) QTest::mouseClick(Target, Qt::LeftButton);
    });
  }

  const bool FSave;
  QPointer<QWidget> FHandled;
};

}  // namespace

class TEditorDriverPlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "EditorDriverPlugin.json")
public:
  QObject* create(const QString& Key, const QString&) override {
    return Key.compare(QLatin1String("dzeditordriver"), Qt::CaseInsensitive) == 0 ? new TEditorDriver : nullptr;
  }
};

#include "EditorDriverPlugin.moc"
