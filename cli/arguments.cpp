#include "cli/arguments.h"

namespace quorvane::cli {

const char* const kUsage =
    "usage: quorvane-sync [--replace | --ignore] [--dry-run] [--target DIR] SOURCE...\n"
    "\n"
    "Copies the font files (*.ttf, *.otf, *.fon, *.ttc) of every SOURCE folder and its\n"
    "sub-folders into the target font folder.\n"
    "\n"
    "  --ignore      leave a font whose name already exists in the target (default)\n"
    "  --replace     overwrite a font whose name already exists in the target\n"
    "  --dry-run     show what each file would get; write nothing\n"
    "  --target DIR  the target folder (default: the system font folder on Windows,\n"
    "                $XDG_DATA_HOME/fonts or ~/.local/share/fonts elsewhere)\n"
    "  --help        show this text\n"
    "\n"
    "Prints one line per file, number<TAB>status<TAB>path, then the summary.\n"
    "Exit status: 0 when nothing failed, 1 when a copy failed, 2 for bad usage or a\n"
    "missing folder.\n";

std::variant<Arguments, UsageError> ParseArguments(const std::vector<std::string>& args) {
  Arguments parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (arg.empty()) return UsageError{"an empty SOURCE was given"};
      parsed.sources.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--replace") {
      parsed.policy = SyncPolicy::Replace;
    } else if (arg == "--ignore") {
      parsed.policy = SyncPolicy::Ignore;
    } else if (arg == "--dry-run") {
      parsed.dryRun = true;
    } else if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--target" || arg.starts_with("--target=")) {
      std::string value;
      if (arg == "--target") {
        if (i + 1 >= args.size()) return UsageError{"--target needs a folder"};
        value = args[++i];
      } else {
        value = arg.substr(sizeof("--target=") - 1);
      }
      if (value.empty()) return UsageError{"--target needs a folder"};
      parsed.target = std::move(value);
    } else {
      return UsageError{"unknown option " + arg};
    }
  }
  if (!parsed.help && parsed.sources.empty()) return UsageError{"no SOURCE folder given"};
  return parsed;
}

}  // namespace quorvane::cli
