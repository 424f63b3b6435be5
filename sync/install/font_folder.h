// Where fonts go on this system: the one place that asks it, for the window
// and the command-line tool alike.
#pragma once

#include <string>

namespace quorvane {

// The system's font folder (Windows: the known folder Fonts, normally
// C:\Windows\Fonts; elsewhere $XDG_DATA_HOME/fonts or ~/.local/share/fonts),
// or "" when the system cannot say.
std::string SystemFontFolder();

}  // namespace quorvane
