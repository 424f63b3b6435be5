// The program's two windows registered with the frame, each with its handlers.
#pragma once

#include <optional>

#include "frame/fatal_error.h"
#include "frame/frame.h"
#include "ui/dialogs.h"
#include "ui/help_window_layout.h"
#include "ui/main_window_layout.h"
#include "ui/tool_window.h"

namespace quorvane {

class ProgramWindows {
 public:
  ProgramWindows(Frame& frame, Dialogs& dialogs, std::string systemFontFolder = SystemFontFolder())
      : frame_(frame), toolWindow_(frame, dialogs, std::move(systemFontFolder)) {}

  // Registers the tool window and the help window with their handlers.
  std::optional<FatalError> Register();

  ToolWindow& Tool() { return toolWindow_; }

 private:
  Frame& frame_;
  ToolWindow toolWindow_;
};

}  // namespace quorvane
