#include "cli/arguments.h"

#include <charconv>
#include <string_view>

#include "cli/texts.h"

namespace quorvane::cli {

const char* const kUsage =
    "usage: quorvane-sync [--replace | --ignore] [--update | --newer] [--checksum] [--dry-run]\n"
    "                     [--register] [--user | --target DIR] [--check]\n"
    "                     [--prune [--max-delete N]] [--verify] [--manifest FILE]\n"
    "                     [--json] [--quiet] [--log FILE] [--lang en|zh] SOURCE...\n"
    "       quorvane-sync --publish SOURCE... > MANIFEST\n"
    "       quorvane-sync --help | --version\n"
    "\n"
    "Copies the font files (*.ttf, *.otf, *.fon, *.ttc) of every SOURCE folder and its\n"
    "sub-folders into the target font folder. Each copy checks the font's structure\n"
    "as it writes it: a damaged font, or a file that is no font, is not installed\n"
    "(字体已损坏, damaged, with the reason; an older font of that name stays).\n"
    "\n"
    "  --ignore      leave a font whose name already exists in the target (default)\n"
    "  --replace     overwrite a font whose name already exists in the target\n"
    "  --update      leave a same-name font whose size and last-write time match the\n"
    "                source (\"已是最新\", up-to-date); replace one that differs, even\n"
    "                with --ignore\n"
    "  --newer       as --update, but a same-name font whose size or time differ is\n"
    "                replaced only by a newer version: an older source leaves it\n"
    "                (\"目标版本较新\", target-newer), the same version too (\"版本相同\",\n"
    "                same-version); versions that cannot be read fall back to --update\n"
    "  --checksum    with --update or --newer, compare the contents instead of size\n"
    "                and time\n"
    "  --dry-run     show what each file would get (将复制, 将替换, 将忽略); write nothing\n"
    "  --json        JSON Lines on standard output instead of the tab-separated lines\n"
    "  --quiet       print only failed rows and the summary; no progress\n"
    "  --log FILE    also append the output, after a start line, to FILE\n"
    "  --lang en|zh  the language of rows, summary and messages (default: English when\n"
    "                LC_ALL, LC_MESSAGES or LANG starts with \"en\" or is C or POSIX,\n"
    "                else Chinese)\n"
    "  --target DIR  the target folder (default: the system font folder on Windows,\n"
    "                $XDG_DATA_HOME/fonts or ~/.local/share/fonts elsewhere, made\n"
    "                when missing)\n"
    "  --register    install each copied or replaced font: on Windows its value\n"
    "                under ...\\Windows NT\\CurrentVersion\\Fonts, AddFontResourceEx,\n"
    "                and WM_FONTCHANGE once at the end; a font in use is replaced\n"
    "                at the next start (重启后替换, replace-at-reboot, exit 3010);\n"
    "                elsewhere fc-cache on the target folder at the end. A file\n"
    "                that is no font is copied but not registered (a warning)\n"
    "  --check       say only what is out of step (would-copy, would-replace,\n"
    "                conflict, not-registered with --register, would-remove with\n"
    "                --prune) and write nothing; exit 0 in step, 1 not. A same-name\n"
    "                font is judged as --update judges it (--newer's or\n"
    "                --checksum's rule when given); under plain --ignore it is in step\n"
    "  --prune       after the run, remove the fonts that quorvane-sync installed\n"
    "                (its record of the target says which), that were not there\n"
    "                before it, and that no source lists any more (已移除, removed;\n"
    "                重启后移除, remove-at-reboot; 移除失败, remove-failed). Removes\n"
    "                nothing when a source folder could not be read whole, the\n"
    "                record is damaged, or more than --max-delete N would go\n"
    "  --publish     write the manifest of the SOURCE folders to standard output:\n"
    "                each font file's path under its folder, size, SHA-256, faces\n"
    "                and version, and an end line with the count and a checksum\n"
    "  --manifest FILE  take only the files FILE names, and only with the bytes it\n"
    "                names (checked as they are copied): another file, or one whose\n"
    "                bytes differ, is not installed (未发布, not-published); a file\n"
    "                it names that no source holds is 缺失, missing; either exit 1.\n"
    "                A damaged or edited FILE is refused (exit 2). With --prune\n"
    "                the fonts FILE names are the ones that stay\n"
    "  --verify      also read every font in the target that quorvane-sync installed\n"
    "                and whose size and time are as it left them: one whose bytes\n"
    "                differ from the SHA-256 its record kept is replaced from its\n"
    "                source (已修复, repaired; 将修复, would-repair with --check,\n"
    "                which is out of step)\n"
    "  --user        the current user's font folder (Windows:\n"
    "                %LOCALAPPDATA%\\Microsoft\\Windows\\Fonts, made when missing,\n"
    "                and HKCU with --register; elsewhere the default target)\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "Prints one line per file, number<TAB>status<TAB>path, then the summary. In a\n"
    "path, tab, line feed, carriage return and backslash are written \\t, \\n, \\r and\n"
    "\\\\, other control characters and bytes that are not UTF-8 as \\xNN.\n"
    "With --json: one object per file (n, status, source, target, bytes; reason,\n"
    "step and code when it failed; source_version and target_version where read;\n"
    "other for a face installed under another file name; registration with\n"
    "--register), then {\"summary\": {...}}. Status codes: copied, copy-failed,\n"
    "replaced, replace-failed, ignored, up-to-date, would-copy, would-replace,\n"
    "would-ignore, replace-at-reboot, target-newer, same-version, installed-as\n"
    "(同一字体已安装: the same face and version under another name, not copied),\n"
    "conflict (字体冲突: the same face in another version under another name; with\n"
    "--replace, or --newer and a newer source, the new file takes its place),\n"
    "not-published and missing (--manifest; expected_sha256 and found_sha256),\n"
    "damaged (reason says which table and what), would-repair, repaired.\n"
    "A byte that is not UTF-8 is written as \\udcNN (Python's surrogateescape).\n"
    "\n"
    "Exit status:\n"
    "     0  every file copied, replaced, ignored, up to date or installed as another\n"
    "     1  something failed: a copy, a replace, a registration, a font conflict, a\n"
    "        damaged font, a removal, the record, or a sub-folder that cannot be read;\n"
    "        with --check: something is out of step\n"
    "     2  bad usage or refused input (missing folder, source = target); nothing done\n"
    "   130  interrupted (Ctrl+C, SIGINT, SIGTERM, SIGHUP, console closed)\n"
    "  3010  done, and a font in use is replaced or removed at the next start\n"
    "        (Windows)\n";

namespace {

// "--name VALUE" or "--name=VALUE"; nothing when `arg` is another option.
std::optional<std::variant<std::string, UsageError>> OptionValue(const std::vector<std::string>& args, size_t& i,
                                                                 std::string_view name) {
  const std::string& arg = args[i];
  std::string value;
  if (arg == name) {
    if (i + 1 >= args.size()) return UsageError{UsageProblem::MissingValue, std::string(name)};
    value = args[++i];
  } else if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
  } else {
    return std::nullopt;
  }
  if (value.empty()) return UsageError{UsageProblem::MissingValue, std::string(name)};
  return value;
}

}  // namespace

std::string UsageError::Text(Language language) const {
  const bool english = language == Language::English;
  switch (problem) {
    case UsageProblem::EmptySource: return english ? "an empty SOURCE was given" : "给出了空的源文件夹";
    case UsageProblem::MissingValue: return detail + (english ? " needs a value" : " 需要一个值");
    case UsageProblem::UnknownOption: return (english ? "unknown option " : "未知选项 ") + detail;
    case UsageProblem::ReplaceAndIgnore:
      return english ? "--replace and --ignore contradict each other: give one" : "--replace 与 --ignore 互相矛盾：只能选一个";
    case UsageProblem::UnknownLanguage:
      return (english ? "unknown language " : "未知语言 ") + detail + (english ? " (en or zh)" : "（en 或 zh）");
    case UsageProblem::NoSource: return english ? "no SOURCE folder given" : "没有给出源文件夹";
    case UsageProblem::UserAndTarget:
      return english ? "--user and --target contradict each other: give one" : "--user 与 --target 互相矛盾：只能选一个";
    case UsageProblem::BadNumber:
      return english ? detail + " needs a whole number, 0 or more" : detail + " 需要一个不小于 0 的整数";
    case UsageProblem::PublishAndManifest:
      return english ? "--publish writes a manifest and --manifest reads one: give one"
                     : "--publish 写出清单，--manifest 读取清单：只能选一个";
  }
  return {};
}

namespace {

// An option that only switches something on: what it switches on (--checksum
// and --newer imply --update).
struct Flag {
  std::string_view name, shortName;
  bool Arguments::*sets;
  bool Arguments::*alsoSets;
};

constexpr Flag kFlags[] = {
    {"--update", "", &Arguments::update, nullptr},
    {"--checksum", "", &Arguments::checksum, &Arguments::update},
    {"--newer", "", &Arguments::newer, &Arguments::update},
    {"--dry-run", "", &Arguments::dryRun, nullptr},
    {"--json", "", &Arguments::json, nullptr},
    {"--quiet", "-q", &Arguments::quiet, nullptr},
    {"--help", "-h", &Arguments::help, nullptr},
    {"--version", "", &Arguments::version, nullptr},
    {"--register", "", &Arguments::registerFonts, nullptr},
    {"--user", "", &Arguments::user, nullptr},
    {"--check", "", &Arguments::check, nullptr},
    {"--prune", "", &Arguments::prune, nullptr},
    {"--publish", "", &Arguments::publish, nullptr},
    {"--verify", "", &Arguments::verify, nullptr},
};

// False when `arg` is no flag.
bool SetFlag(std::string_view arg, Arguments& parsed) {
  for (const Flag& flag : kFlags) {
    if (arg != flag.name && (flag.shortName.empty() || arg != flag.shortName)) continue;
    parsed.*flag.sets = true;
    if (flag.alsoSets != nullptr) parsed.*flag.alsoSets = true;
    return true;
  }
  return false;
}

// An option with a value (--max-delete, --target, --log, --lang, --manifest), stored in
// `parsed`: false when `args[i]` is none of them.
std::variant<bool, UsageError> SetValueOption(const std::vector<std::string>& args, size_t& i, Arguments& parsed) {
  if (auto count = OptionValue(args, i, "--max-delete")) {
    if (auto* error = std::get_if<UsageError>(&*count)) return std::move(*error);
    const std::string& text = std::get<std::string>(*count);
    std::int64_t value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value < 0) {
      return UsageError{UsageProblem::BadNumber, "--max-delete"};
    }
    parsed.maxDelete = value;
    return true;
  }
  for (auto [name, field] : {std::pair{"--target", &parsed.target}, std::pair{"--log", &parsed.log},
                             std::pair{"--lang", &parsed.language}, std::pair{"--manifest", &parsed.manifest}}) {
    auto value = OptionValue(args, i, name);
    if (!value) continue;
    if (auto* error = std::get_if<UsageError>(&*value)) return std::move(*error);
    *field = std::move(std::get<std::string>(*value));
    return true;
  }
  return false;
}

}  // namespace

std::variant<Arguments, UsageError> ParseArguments(const std::vector<std::string>& args) {
  Arguments parsed;
  bool optionsEnded = false;
  bool replace = false, ignore = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (arg.empty()) return UsageError{UsageProblem::EmptySource, ""};
      parsed.sources.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--replace" || arg == "--ignore") {
      (arg == "--replace" ? replace : ignore) = true;
    } else if (!SetFlag(arg, parsed)) {
      auto set = SetValueOption(args, i, parsed);
      if (auto* error = std::get_if<UsageError>(&set)) return std::move(*error);
      if (!std::get<bool>(set)) return UsageError{UsageProblem::UnknownOption, arg};
    }
  }
  if (replace && ignore) return UsageError{UsageProblem::ReplaceAndIgnore, ""};
  if (parsed.user && parsed.target) return UsageError{UsageProblem::UserAndTarget, ""};
  if (parsed.publish && parsed.manifest) return UsageError{UsageProblem::PublishAndManifest, ""};
  if (replace) parsed.policy = SyncPolicy::Replace;
  if (parsed.language && !IsKnownLanguage(*parsed.language)) return UsageError{UsageProblem::UnknownLanguage, *parsed.language};
  if (!parsed.help && !parsed.version && parsed.sources.empty()) return UsageError{UsageProblem::NoSource, ""};
  return parsed;
}

std::optional<std::string> LanguageOption(const std::vector<std::string>& args) {
  std::optional<std::string> language;
  for (size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (auto value = OptionValue(args, i, "--lang"); value && std::holds_alternative<std::string>(*value)) {
      language = std::get<std::string>(*value);
    }
  }
  return language;
}

}  // namespace quorvane::cli
