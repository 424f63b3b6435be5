// A window with one control of each kind the tool window uses, laid out like
// it, for the engine tests and the screenshots.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::skin::testing {

struct ToolLikeWindow {
  HWND window = nullptr;
  HWND targetGroup = nullptr, optionsGroup = nullptr, sourceGroup = nullptr;
  HWND targetEdit = nullptr, sourceEdit = nullptr;
  HWND defaultButton = nullptr, browseButton = nullptr, runButton = nullptr, clearButton = nullptr;
  HWND ignoreRadio = nullptr, replaceRadio = nullptr;
  HWND list = nullptr, progress = nullptr, status = nullptr, label = nullptr, note = nullptr;
};

// Built hidden, with the controls' initial state; `rows` list rows are added.
ToolLikeWindow BuildToolLikeWindow(int rows);

// A top-level window of the dialog class with one push button, made on
// behalf of `owner` (the program itself, or a system module).
HWND BuildDialogLikeWindow(HINSTANCE owner, HWND* button);

// The window's client area as drawn by WM_PRINT, children included.
class Rendering {
 public:
  static Rendering Of(HWND window);

  COLORREF At(int x, int y) const;
  // A point given in `control`'s client coordinates.
  COLORREF At(HWND control, int x, int y) const;
  bool operator==(const Rendering& other) const { return pixels_ == other.pixels_; }

 private:
  HWND window_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

// Hex text of a colour, for readable failures.
std::string Hex(COLORREF colour);

}  // namespace quorvane::skin::testing
