// What the programs that watch the tool window from another process share.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace quorvane::remote {

using Clock = std::chrono::steady_clock;

inline double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline bool WaitFor(const std::function<bool()>& condition, double timeoutMs) {
  const auto start = Clock::now();
  while (!condition()) {
    if (MillisecondsSince(start) > timeoutMs) return false;
    Sleep(1);
  }
  return true;
}

// The texts live in another process: WM_GETTEXT crosses over, GetWindowText
// does not. A window that does not answer within 2 s gives "".
inline std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           2000, &copied)) {
    return {};
  }
  text.resize(copied);
  return text;
}

}  // namespace quorvane::remote
