#include <algorithm>
#include <span>
#include <string>
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

namespace {

// A refusal is one line; what was accepted is written again as the same entries.
void CheckParse(std::string_view text) {
  const auto parsed = ParseManifest(text);
  if (const auto* refused = std::get_if<ManifestRefusal>(&parsed)) {
    Check(!refused->why.empty() && refused->why.find('\n') == std::string::npos);
    return;
  }
  const auto& entries = std::get<std::vector<ManifestEntry>>(parsed);
  const auto again = ParseManifest(FormatManifest(entries).value());
  Check(std::holds_alternative<std::vector<ManifestEntry>>(again) &&
        std::get<std::vector<ManifestEntry>>(again) == entries);
}

}  // namespace

int FuzzManifest(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckParse(input);
  // The input as the body of a manifest whose end line fits it, so that the
  // lines behind the checksum are reached too.
  std::string text(input);
  Sha256 hash;
  hash.Add(std::as_bytes(std::span(text)));
  const auto lines = std::count(text.begin(), text.end(), '\n');
  text += "end\t" + std::to_string(lines > 0 ? lines - 1 : 0) + "\t" + HexOf(hash.Finish().value()) + "\n";
  CheckParse(text);
  return 0;
}

}  // namespace quorvane::fuzz
