#pragma once

#include <string>
#include <vector>

namespace quorvane::cli {

// The whole tool: parse, check the folders, list, run, report. Returns the exit
// status: 0 when nothing failed, 1 when a copy failed, 2 for bad usage or a
// missing folder.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace quorvane::cli
