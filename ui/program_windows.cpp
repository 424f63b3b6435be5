#include "ui/program_windows.h"

#include <windows.h>

#include <algorithm>

namespace quorvane {
namespace {

constexpr std::string_view kHelpLabel = "透明标签1";
constexpr std::string_view kHelpCloseButton = "按钮1";

void MoveBy(HWND control, int down, int taller) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  SetWindowPos(control, nullptr, rect.left, rect.top + down, rect.right - rect.left, rect.bottom - rect.top + taller,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// The help text is laid out for 12-pixel lines. A system font with taller lines
// would cut its last lines off, so the label, the button below it and the
// window grow by what is missing, and the window stays centred.
void ShowTheWholeHelpText(Window& help) {
  HWND label = help.Get(kHelpLabel).Handle();
  RECT have;
  GetClientRect(label, &have);
  const int missing = TransLabelTextHeight(label) - static_cast<int>(have.bottom);
  if (missing <= 0) return;
  MoveBy(label, 0, missing);
  MoveBy(help.Get(kHelpCloseButton).Handle(), missing, 0);
  RECT window;
  GetWindowRect(help.Handle(), &window);
  const int height = static_cast<int>(window.bottom - window.top) + missing;
  const int top = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  SetWindowPos(help.Handle(), nullptr, window.left, top, window.right - window.left, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::optional<FatalError> ProgramWindows::Register() {
  if (auto error = frame_.Register(MainWindowLayout(), toolWindow_.Handlers())) return error;
  std::vector<HandlerBinding> helpHandlers = {
      {.element = kHelpWindowName,
       .event = Event::CreationComplete,
       .handler = [](Window& window, const EventArgs&) { ShowTheWholeHelpText(window); }},
      {.element = kHelpCloseButton,
       .event = Event::Click,
       .handler = [](Window& window, const EventArgs&) { window.Close(); }},
  };
  return frame_.Register(HelpWindowLayout(), std::move(helpHandlers));
}

}  // namespace quorvane
