#include <algorithm>
#include <span>
#include <variant>

#include "fuzz_targets.h"
#include "sync/fonts/font_file.h"
#include "sync/fonts/font_identity.h"

namespace quorvane::fuzz {

namespace {
void Check(bool condition) {
  if (!condition) __builtin_trap();
}
}  // namespace

int FuzzFontFile(const std::uint8_t* data, std::size_t size) {
  const FontReadResult result = ParseFontBytes(std::span(reinterpret_cast<const std::byte*>(data), size));
  if (const auto* info = std::get_if<FontFileInfo>(&result)) {
    const bool bitmap = info->format == FontFormat::WindowsBitmap;
    Check(!info->faces.empty());
    Check(info->faces.size() == 1 || bitmap || info->format == FontFormat::Collection);
    Check(bitmap || info->description.empty());
    for (const FontFace& face : info->faces) {
      Check(!face.family.empty() && !face.style.empty() && !face.fullName.empty());
      Check(face.family.find('\0') == std::string::npos && face.fullName.find('\0') == std::string::npos);
      Check(bitmap != face.pointSizes.empty());
      // Names stop at a NUL, as Windows reads them; a bitmap face has no version to tell.
      Check(face.versionText.find('\0') == std::string::npos && face.postScriptName.find('\0') == std::string::npos);
      Check(!bitmap || (face.versionText.empty() && face.postScriptName.empty() && !face.fontRevision));
      // Versions compare as an order: a face is its own version's equal.
      const auto self = CompareVersions(face, face);
      Check(!self || *self == 0);
      Check(std::adjacent_find(face.pointSizes.begin(), face.pointSizes.end(), std::greater_equal<>()) ==
            face.pointSizes.end());
    }
  } else if (const auto* notAFont = std::get_if<NotAFont>(&result)) {
    Check(!notAFont->why.empty());
    Check(NotAFontText(*notAFont) == "not a font: " + notAFont->why);
  } else {
    // Bytes in memory never fail to read.
    Check(false);
  }
  return 0;
}

}  // namespace quorvane::fuzz
