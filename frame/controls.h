// Typed access to the controls of a built window. Each accessor is a small
// value that names one control; a missing control makes every call fail
// harmlessly (false, empty text, -1) rather than touch another window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>

#include "base/win32_handles.h"
#include "frame/layout.h"

namespace quorvane {

// Any control: the properties every kind has.
class Control {
 public:
  Control() = default;
  explicit Control(HWND hwnd) : hwnd_(hwnd) {}

  HWND Handle() const { return hwnd_; }
  bool Exists() const { return hwnd_ != nullptr; }
  std::string Text() const;
  bool SetText(std::string_view text) const;
  bool Checked() const;
  bool SetChecked(bool checked) const;
  bool Visible() const;
  bool SetVisible(bool visible) const;
  bool Enabled() const;
  bool SetEnabled(bool enabled) const;

 protected:
  HWND hwnd_ = nullptr;
};

// The state each kind of control keeps beyond its window: the window it
// belongs to owns one per element that needs it, and the element's accessor
// works on that and nothing else. The list's and the status bar's live beside
// their controls, in list_control.h and status_bar.h.

// A timer element is a window timer of its window, under the element's id.
class TimerState {
 public:
  void Attach(HWND window, UINT_PTR id) {
    window_ = window;
    id_ = id;
  }
  void Detach();
  bool SetPeriod(int milliseconds);
  int Period() const { return period_; }
  // True when a WM_TIMER with this id is a tick to raise.
  bool Ticks(UINT_PTR id) const { return id == id_ && period_ > 0; }

 private:
  HWND window_ = nullptr;
  UINT_PTR id_ = 0;
  int period_ = 0;
};

// The progress bar; range and position are whole numbers within 0...kProgressLimit.
class ProgressControl : public Control {
 public:
  static constexpr int kProgressLimit = 32767;
  using Control::Control;

  bool SetRange(int minimum, int maximum) const;
  bool SetPosition(int position) const;
  int Position() const;
  int Minimum() const;
  int Maximum() const;
};

// The timer element: a period in milliseconds, 0 when stopped.
class TimerControl {
 public:
  TimerControl() = default;
  explicit TimerControl(TimerState* state) : state_(state) {}

  bool Exists() const { return state_ != nullptr; }
  // A positive period (re)starts the timer; 0 or less stops it.
  bool SetPeriod(int milliseconds) const;
  int Period() const;

 private:
  TimerState* state_ = nullptr;
};

// Pixels scaled from 96 DPI to `dpi`.
int ScalePixels(int pixels, int dpi);

// Creates the window of one control as a child of `parent`, shown when the
// element is visible; nullptr on failure.
HWND CreateControl(const Element& element, HWND parent, int id, HFONT font, int dpi);

// The height a transparent label's text needs at the label's width, as it paints it.
int TransLabelTextHeight(HWND label);

// Registers the frame's own control classes once per process.
bool RegisterControlClasses();

// The window class of a kind's control (for tests comparing the built tree).
std::wstring_view ControlClassName(Kind kind);

// The transparent label's window class.
inline constexpr wchar_t kTransLabelClass[] = L"QuorvaneTransLabel";

}  // namespace quorvane
