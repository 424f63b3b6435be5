#include <span>
#include <string_view>
#include <variant>

#include "fuzz_targets.h"
#include "sync/run/manifest.h"

namespace quorvane::fuzz {

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

int FuzzManifest(const std::uint8_t* data, std::size_t size) {
  const auto parsed = ParseManifest(std::string_view(reinterpret_cast<const char*>(data), size));
  if (const auto* refused = std::get_if<ManifestRefusal>(&parsed)) {
    Check(!refused->why.empty() && refused->why.find('\n') == std::string::npos);
    return 0;
  }
  // What was accepted is written again as the same entries.
  const auto& entries = std::get<std::vector<ManifestEntry>>(parsed);
  const auto again = ParseManifest(FormatManifest(entries).value());
  Check(std::holds_alternative<std::vector<ManifestEntry>>(again) &&
        std::get<std::vector<ManifestEntry>>(again) == entries);
  return 0;
}

}  // namespace quorvane::fuzz
