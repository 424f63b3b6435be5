#include "ui/windows.h"

namespace quorvane {

std::optional<FatalError> ProgramWindows::Register() {
  if (auto error = frame_.Register(MainWindowLayout(), toolWindow_.Handlers())) return error;
  std::vector<HandlerBinding> helpHandlers = {
      {.element = "按钮1", .event = Event::Click, .handler = [](Window& window, const EventArgs&) { window.Close(); }},
  };
  return frame_.Register(HelpWindowLayout(), std::move(helpHandlers));
}

}  // namespace quorvane
