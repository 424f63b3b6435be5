// Helpers for tests that build real windows under Wine: pump the queue through
// the frame, press keys at the focused control, read window geometry.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "frame/shell.h"

namespace quorvane::testing_support {

// Dispatches everything queued, through the frame's key handling; leaves WM_QUIT.
inline void Pump() { ProcessPendingEvents(); }

// Pumps until `done` holds or the time is up; the result of `done`.
template <typename Condition>
bool PumpUntil(Condition done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  return true;
}

// Removes a quit request left by a closed window, so the next test starts clean.
inline bool TakeQuit() {
  MSG message;
  bool found = false;
  while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) found = true;
  return found;
}

// A key as the focused control receives it, with Shift held or not.
inline void PressKey(UINT key, bool shift = false) {
  BYTE keys[256];
  GetKeyboardState(keys);
  const BYTE oldShift = keys[VK_SHIFT];
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  HWND focus = GetFocus();
  PostMessageW(focus, WM_KEYDOWN, key, 1);
  PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
  Pump();
  keys[VK_SHIFT] = oldShift;
  SetKeyboardState(keys);
}

// A window's rectangle relative to its parent's client area (or the screen for
// a top-level window).
inline RECT RectInParent(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  HWND parent = (GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) != 0 ? GetParent(hwnd) : nullptr;
  if (parent != nullptr) MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// While it lives, the element names the frame reports as faults are kept
// ("window/element") instead of failing the test.
class RecordedNameFaults {
 public:
  RecordedNameFaults() : replaced_(SetElementNameFaultHook(&Record)) { Names().clear(); }
  ~RecordedNameFaults() { SetElementNameFaultHook(replaced_); }
  RecordedNameFaults(const RecordedNameFaults&) = delete;
  RecordedNameFaults& operator=(const RecordedNameFaults&) = delete;

  static std::vector<std::string>& Names() {
    static std::vector<std::string> names;
    return names;
  }

 private:
  static void Record(std::string_view window, std::string_view element) {
    Names().push_back(std::string(window).append("/").append(element));
  }

  ElementNameFaultHook replaced_;
};

inline std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

}  // namespace quorvane::testing_support
