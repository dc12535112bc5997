// The Qt side of the desktop services on the offscreen platform: the light
// and dark looks and their colours, the start-up decision with the desktop's
// answer, and help pages handed to the browser.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestFiles.h"
#include "ui/desktop/Help.h"
#include "ui/desktop/Style.h"

// Takes the URLs that QDesktopServices would hand to the browser.
class TUrlCatcher : public QObject {
  Q_OBJECT
public:
  std::vector<QUrl> Opened;
public slots:
  void open(const QUrl& Url) { Opened.push_back(Url); }
};

namespace dz::ui {
namespace {

namespace fs = std::filesystem;

// One application for the whole program. The desktop is made to answer
// nothing of its own: no session bus (no portal) and GSettings in memory,
// so that only what a test writes decides.
class QtEnvironment : public testing::Environment {
public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/dz-test-bus");
    qputenv("GSETTINGS_BACKEND", "memory");
    static int Argc = 1;
    static char Name[] = "ui_desktop_tests";
    static char* Argv[] = {Name, nullptr};
    FApp = new QApplication(Argc, Argv);
  }
  void TearDown() override { delete FApp; }

private:
  QApplication* FApp = nullptr;
};
[[maybe_unused]] testing::Environment* const QtEnv = testing::AddGlobalTestEnvironment(new QtEnvironment);

QApplication& App() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

int Lightness(const QColor& C) { return C.lightness(); }

// How far the most different pixel of an unchecked box or radio button
// lies from the window colour it is drawn on: a frame that cannot be seen
// leaves the box invisible on the window.
int IndicatorContrast(QStyle::PrimitiveElement Element) {
  const QPalette P = QApplication::palette();
  QImage Image(20, 20, QImage::Format_ARGB32);
  Image.fill(P.color(QPalette::Window));
  QStyleOptionButton Option;
  Option.rect = QRect(2, 2, 16, 16);
  Option.state = QStyle::State_Enabled | QStyle::State_Off;
  Option.palette = P;
  {
    QPainter Painter(&Image);
    App().style()->drawPrimitive(Element, &Option, &Painter, nullptr);
  }
  int Most = 0;
  for (int Y = 0; Y < Image.height(); ++Y)
    for (int X = 0; X < Image.width(); ++X)
      Most = std::max(Most, std::abs(QColor(Image.pixel(X, Y)).lightness() - P.color(QPalette::Window).lightness()));
  return Most;
}

TEST(Style, UncheckedBoxesCanBeSeenInBothLooks) {
  for (const bool Dark : {true, false}) {
    ApplyStyle(App(), Dark);
    for (const auto Element : {QStyle::PE_IndicatorCheckBox, QStyle::PE_IndicatorRadioButton}) {
      EXPECT_GE(IndicatorContrast(Element), 40) << (Dark ? "dark" : "light") << " look, element " << Element;
    }
  }
  ApplyStyle(App(), false);
}

TEST(Style, DarkAndLightLooks) {
  const QColor Default(166, 202, 240);
  ApplyStyle(App(), true);
  EXPECT_TRUE(DarkStyleActive());
  const auto* Proxy = qobject_cast<const QProxyStyle*>(App().style());
  ASSERT_NE(Proxy, nullptr);
  EXPECT_EQ(Proxy->baseStyle()->name().toLower(), "fusion");
  const QPalette Dark = QApplication::palette();
  EXPECT_LT(Lightness(Dark.color(QPalette::Window)), 100);
  EXPECT_LT(Lightness(Dark.color(QPalette::Base)), 100);
  EXPECT_GT(Lightness(Dark.color(QPalette::Text)), 180);
  EXPECT_GT(Lightness(Dark.color(QPalette::WindowText)), 180);
  EXPECT_EQ(StyleColor(SeSelectedBack, Default), Dark.color(QPalette::Highlight));
  EXPECT_EQ(StyleColor(SeItemBack, Default), Dark.color(QPalette::Base));
  EXPECT_EQ(StyleFontColor(SeSelectedText, Default), Dark.color(QPalette::HighlightedText));
  EXPECT_EQ(StyleFontColor(SeItemText, Default), Dark.color(QPalette::Text));
  EXPECT_EQ(StyleColor(99, Default), Default);
  EXPECT_EQ(StyleFontColor(SeSelectedBack, Default), Default);  // a background is no font element

  ApplyStyle(App(), false);
  EXPECT_FALSE(DarkStyleActive());
  EXPECT_EQ(App().style()->name().toLower(), "fusion");
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), App().style()->standardPalette().color(QPalette::Window));
  EXPECT_GT(Lightness(QApplication::palette().color(QPalette::Base)), 180);
  // The light look keeps the window's own colours.
  EXPECT_EQ(StyleColor(SeSelectedBack, Default), Default);
  EXPECT_EQ(StyleFontColor(SeItemText, Qt::black), QColor(Qt::black));

  // Asking for the active look again changes nothing.
  const QStyle* Before = App().style();
  ApplyStyle(App(), false);
  EXPECT_EQ(App().style(), Before);
}

class StartStyleTest : public test::TTempDirTest {};

TEST_F(StartStyleTest, OptionConfigurationAndDesktopDecide) {
  const struct {
    bool DarkOption;
    bool ConfigDarkMode;
    const char* KdeScheme;  // the desktop's answer, through KDE's file; nullptr: none
    bool Dark;
  } Cases[] = {
      {true, false, nullptr, true},
      {true, true, "Breeze", true},
      {false, true, "BreezeDark", true},
      {false, true, "Breeze", false},
      {false, true, nullptr, false},  // nothing answers
      {false, false, "BreezeDark", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.DarkOption << Case.ConfigDarkMode << (Case.KdeScheme ? Case.KdeScheme : "-"));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    const std::string Config = MakeFile("ZentApp.cfg", std::string("[Config]\r\nDarkMode=") +
                                                           (Case.ConfigDarkMode ? "1" : "0") + "\r\n");
    if (Case.KdeScheme) MakeFile("kdeglobals", std::string("[General]\nColorScheme=") + Case.KdeScheme + "\n");
    const std::string AppData = PathOf("") + "/";
    EXPECT_EQ(IsSystemDarkMode(AppData), Case.KdeScheme && std::string(Case.KdeScheme) == "BreezeDark");
    EXPECT_EQ(ApplyStartStyle(App(), Case.DarkOption, Config, AppData), Case.Dark);
    EXPECT_EQ(DarkStyleActive(), Case.Dark);
  }
  ApplyStyle(App(), false);
}

QMessageBox* VisibleMessage() {
  for (QWidget* W : QApplication::topLevelWidgets()) {
    auto* Box = qobject_cast<QMessageBox*>(W);
    if (Box && Box->isVisible()) return Box;
  }
  return nullptr;
}

TEST(Help, PageOpensInTheBrowserOrTheUserIsTold) {
  TUrlCatcher Catcher;
  QDesktopServices::setUrlHandler("file", &Catcher, "open");

  ShowHelp(nullptr);
  ASSERT_EQ(Catcher.Opened.size(), 1u);
  const QString Page = Catcher.Opened.front().toLocalFile();
  EXPECT_TRUE(Page.endsWith("/help/zv-watchdog.html")) << Page.toStdString();
  EXPECT_TRUE(fs::is_regular_file(Page.toStdString()));  // copied beside the program by the build
  EXPECT_EQ(VisibleMessage(), nullptr);

  ShowHelp(nullptr, "no-such-page.html");
  EXPECT_EQ(Catcher.Opened.size(), 1u);
  QMessageBox* Box = nullptr;
  EXPECT_TRUE(QTest::qWaitFor([&] { return (Box = VisibleMessage()) != nullptr; }, 10000));
  ASSERT_NE(Box, nullptr);
  EXPECT_EQ(Box->text().toStdString(), "Help is not available on this system!");
  Box->close();

  QDesktopServices::unsetUrlHandler("file");
}

}  // namespace
}  // namespace dz::ui

#include "DesktopUiTest.moc"
