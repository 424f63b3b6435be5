// The help window as data: a fixed text about the tool and a close button.
#pragma once

#include <string>
#include <string_view>

#include "frame/layout.h"

namespace quorvane {

inline constexpr std::string_view kHelpWindowName = "HelpWindow";

const Layout& HelpWindowLayout();

// The twelve lines of the help text, joined by CR LF.
std::string_view HelpText();

}  // namespace quorvane
