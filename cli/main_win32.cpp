// Wide arguments, so any file name reaches the tool intact.
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/command_line.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(quorvane::Narrow(argv[i]));
  return quorvane::cli::RunCommandLine(args);
}
