#pragma once
// What the main window shows of the controller's state, as seen from the
// controller. The window implements this; tests use a recording fake. Every
// call comes from the main thread. The window reports the user's actions by
// calling the controller's handlers (TWatchdog).

#include <cstddef>
#include <cstdint>
#include <string>

namespace dz {

struct TClientSize {
  std::int32_t Height = 0;
  std::int32_t Width = 0;
  friend bool operator==(const TClientSize&, const TClientSize&) = default;
};

// The window's position on the screen and the size of its client area.
struct TWindowPlacement {
  std::int32_t Top = 0;
  std::int32_t Left = 0;
  std::int32_t ClientHeight = 0;
  std::int32_t ClientWidth = 0;
  friend bool operator==(const TWindowPlacement&, const TWindowPlacement&) = default;
};

// The index is the position in the unit box.
enum TIntervalUnit : int { iuSeconds = 0, iuMinutes = 1, iuHours = 2 };

// The interval controls: the check box "Enable periodic backups", the value
// field with its spin button, and the unit box. The value field, its spin
// button and the unit box are enabled exactly when Periodic is set.
struct TIntervalDisplay {
  bool Periodic = true;
  TIntervalUnit Unit = iuMinutes;
  std::int32_t Value = 30;
  std::int32_t MinValue = 1;
  std::int32_t MaxValue = 360;
  std::int32_t Step = 1;
  std::string Hint;  // of the value field
  friend bool operator==(const TIntervalDisplay&, const TIntervalDisplay&) = default;
};

class TWatchdogView {
public:
  virtual ~TWatchdogView() = default;

  // The client size the window was designed with, at the current screen
  // scaling. Asked once, when the controller is created, so it must not
  // depend on the window being fully built.
  virtual TClientSize DesignedClientSize() const = 0;
  virtual TWindowPlacement GetWindowPlacement() const = 0;
  virtual void SetWindowPlacement(const TWindowPlacement& Placement) = 0;

  // The directory list holds one item per monitored directory, in the
  // controller's order: its text and its check mark.
  virtual void AddDirItem(const std::string& Text, bool Checked) = 0;
  virtual void SetDirItem(std::size_t Index, const std::string& Text, bool Checked) = 0;

  // "Keep running in background" and "Write log to file".
  virtual void SetSysTrayChecked(bool Checked) = 0;
  virtual void SetWriteLogChecked(bool Checked) = 0;

  virtual void ShowInterval(const TIntervalDisplay& Interval) = 0;

  // A message window with the text and an OK button.
  virtual void ShowMessage(const std::string& Text) = 0;
};

}  // namespace dz
