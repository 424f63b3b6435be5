#include <string>
#include <string_view>

#include "fuzz_targets.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_file.h"
#include "sync/run/sync_types.h"

namespace quorvane::fuzz {

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

int FuzzPaths(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view name = input.substr(0, split);
  const std::string_view pattern = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  const bool matches = MatchesPattern(name, pattern);
  Check(MatchesPattern(name, "*"));
  if (pattern.find_first_of("*?") == std::string_view::npos && name == pattern) Check(matches);
  if (pattern.empty()) Check(matches == name.empty());

  const std::string joined = JoinPath(name, pattern);
  Check(joined.starts_with(name) && joined.ends_with(pattern));
  Check(joined.size() == name.size() + pattern.size() || joined.size() == name.size() + pattern.size() + 1);

  const int index = FontPatternIndex(name);
  Check(index >= -1 && index < static_cast<int>(FontFilePatterns.size()));
  if (index >= 0) Check(MatchesPattern(name, FontFilePatterns[static_cast<size_t>(index)]));
  return 0;
}

}  // namespace quorvane::fuzz
