#include "ui/desktop/Style.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPalette>
#include <QProcess>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "desktop/Appearance.h"
#include "settings/MainAppSettings.h"

namespace dz::ui {

namespace {

// Every question to the desktop gives up after this long: the window must
// not wait for a desktop service that hangs.
constexpr int AnswerTimeoutMs = 300;

bool DarkActive = false;
bool StyleApplied = false;

QPalette DarkPalette() {
  const QColor Window(45, 45, 48);
  const QColor Base(30, 30, 32);
  const QColor Text(230, 230, 230);
  const QColor Disabled(127, 127, 127);
  const QColor Highlight(38, 79, 120);
  QPalette P;
  P.setColor(QPalette::Window, Window);
  P.setColor(QPalette::WindowText, Text);
  P.setColor(QPalette::Base, Base);
  P.setColor(QPalette::AlternateBase, Window);
  P.setColor(QPalette::ToolTipBase, Window);
  P.setColor(QPalette::ToolTipText, Text);
  P.setColor(QPalette::PlaceholderText, Disabled);
  P.setColor(QPalette::Text, Text);
  P.setColor(QPalette::Button, Window);
  P.setColor(QPalette::ButtonText, Text);
  P.setColor(QPalette::BrightText, QColor(255, 90, 90));
  P.setColor(QPalette::Light, QColor(70, 70, 74));
  P.setColor(QPalette::Midlight, QColor(58, 58, 62));
  P.setColor(QPalette::Mid, QColor(40, 40, 42));
  P.setColor(QPalette::Dark, QColor(25, 25, 26));
  P.setColor(QPalette::Shadow, QColor(0, 0, 0));
  P.setColor(QPalette::Highlight, Highlight);
  P.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  P.setColor(QPalette::Link, QColor(100, 160, 240));
  P.setColor(QPalette::LinkVisited, QColor(170, 130, 230));
  for (const auto Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
    P.setColor(QPalette::Disabled, Role, Disabled);
  P.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 74));
  return P;
}

// Fusion draws the frame of a check box or a radio button a shade darker
// than the window; on the dark window that frame cannot be seen, so an
// unchecked box vanishes. The dark look draws it from a light window colour.
class TDarkFusionStyle final : public QProxyStyle {
public:
  TDarkFusionStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  void drawPrimitive(PrimitiveElement Element, const QStyleOption* Option, QPainter* Painter,
                     const QWidget* Widget) const override {
    if (Option == nullptr || (Element != PE_IndicatorCheckBox && Element != PE_IndicatorRadioButton)) {
      QProxyStyle::drawPrimitive(Element, Option, Painter, Widget);
      return;
    }
    const auto WithFrame = [](QStyleOption& Copy) { Copy.palette.setColor(QPalette::Window, IndicatorFrameBase); };
    if (const auto* Button = qstyleoption_cast<const QStyleOptionButton*>(Option)) {
      QStyleOptionButton Copy(*Button);
      WithFrame(Copy);
      QProxyStyle::drawPrimitive(Element, &Copy, Painter, Widget);
    } else {
      QStyleOption Copy(*Option);
      WithFrame(Copy);
      QProxyStyle::drawPrimitive(Element, &Copy, Painter, Widget);
    }
  }

private:
  // Fusion darkens this by 40 % for the frame: a mid grey on the dark window.
  static constexpr QColor IndicatorFrameBase = QColor(170, 170, 178);
};

// The portal wraps the value in one variant (ReadOne) or two (Read).
QVariant Unwrapped(QVariant Value) {
  while (Value.userType() == qMetaTypeId<QDBusVariant>())
    Value = qvariant_cast<QDBusVariant>(Value).variant();
  return Value;
}

TColorScheme PortalColorScheme() {
  QDBusConnection Bus = QDBusConnection::sessionBus();
  if (!Bus.isConnected()) return TColorScheme::csUnknown;
  QDBusMessage Call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                     "org.freedesktop.portal.Settings", "Read");
  Call << QString("org.freedesktop.appearance") << QString("color-scheme");
  const QDBusMessage Reply = Bus.call(Call, QDBus::Block, AnswerTimeoutMs);
  if (Reply.type() != QDBusMessage::ReplyMessage || Reply.arguments().isEmpty()) return TColorScheme::csUnknown;
  bool Ok = false;
  const uint Value = Unwrapped(Reply.arguments().first()).toUInt(&Ok);
  return Ok ? ColorSchemeFromPortal(Value) : TColorScheme::csUnknown;
}

TColorScheme GnomeColorScheme() {
  const QString Program = QStandardPaths::findExecutable("gsettings");
  if (Program.isEmpty()) return TColorScheme::csUnknown;
  QProcess Process;
  Process.setStandardInputFile(QProcess::nullDevice());
  Process.setStandardErrorFile(QProcess::nullDevice());
  Process.start(Program, {"get", "org.gnome.desktop.interface", "color-scheme"});
  if (!Process.waitForFinished(AnswerTimeoutMs)) {
    Process.kill();
    Process.waitForFinished(AnswerTimeoutMs);
    return TColorScheme::csUnknown;
  }
  if (Process.exitStatus() != QProcess::NormalExit || Process.exitCode() != 0) return TColorScheme::csUnknown;
  return ColorSchemeFromGnome(Process.readAllStandardOutput().toStdString());
}

}  // namespace

void ApplyStyle(QApplication& App, bool Dark) {
  if (StyleApplied && Dark == DarkActive) return;
  if (Dark) {
    App.setStyle(new TDarkFusionStyle);  // the application owns it
  } else if (QStyle* Fusion = QStyleFactory::create("Fusion")) {
    App.setStyle(Fusion);
  }
  App.setPalette(Dark ? DarkPalette() : App.style()->standardPalette());
  DarkActive = Dark;
  StyleApplied = true;
}

bool DarkStyleActive() { return DarkActive; }

QColor StyleColor(int Element, const QColor& Default) {
  if (!DarkActive) return Default;
  const QPalette P = QApplication::palette();
  switch (Element) {
    case SeSelectedBack: return P.color(QPalette::Highlight);
    case SeItemBack: return P.color(QPalette::Base);
    default: return Default;
  }
}

QColor StyleFontColor(int Element, const QColor& Default) {
  if (!DarkActive) return Default;
  const QPalette P = QApplication::palette();
  switch (Element) {
    case SeSelectedText: return P.color(QPalette::HighlightedText);
    case SeItemText: return P.color(QPalette::Text);
    default: return Default;
  }
}

bool IsSystemDarkMode(const std::string& AppDataDir) {
  return ResolveSystemDarkMode({PortalColorScheme, GnomeColorScheme, [&AppDataDir] { return KdeColorScheme(AppDataDir); }});
}

bool ApplyStartStyle(QApplication& App, bool DarkOption, const std::string& ConfigFile, const std::string& AppDataDir) {
  const bool Dark = WantDarkStyle(DarkOption, !DarkOption && ConfigWantsDarkMode(ConfigFile),
                                  [&AppDataDir] { return IsSystemDarkMode(AppDataDir); });
  ApplyStyle(App, Dark);
  return Dark;
}

}  // namespace dz::ui
