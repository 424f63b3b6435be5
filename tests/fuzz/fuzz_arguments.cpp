#include <string>
#include <vector>

#include "cli/arguments.h"
#include "fuzz_targets.h"

namespace quorvane::fuzz {

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

int FuzzArguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  const auto parsed = cli::ParseArguments(args);
  if (const auto* arguments = std::get_if<cli::Arguments>(&parsed)) {
    Check(arguments->help || !arguments->sources.empty());
    for (const std::string& source : arguments->sources) Check(!source.empty());
    if (arguments->target) Check(!arguments->target->empty());
    Check(!arguments->checksum || arguments->update);
  } else {
    Check(!std::get<cli::UsageError>(parsed).Text(Language::English).empty());
  }
  return 0;
}

}  // namespace quorvane::fuzz
