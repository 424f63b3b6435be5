// The tool window as data: its own properties, its 21 controls in element order
// (the order fixes stacking and, read backwards, the Tab ring) and its events.
#pragma once

#include <string_view>

#include "frame/layout.h"

namespace quorvane {

inline constexpr std::string_view kMainWindowName = "MainWindow";

const Layout& MainWindowLayout();

}  // namespace quorvane
