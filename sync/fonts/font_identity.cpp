#include "sync/fonts/font_identity.h"

#include <algorithm>

#include "sync/files/ascii.h"

namespace quorvane {
namespace {

bool SameFolded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

bool IsBitmap(const FontFileInfo& info) { return info.format == FontFormat::WindowsBitmap; }

}  // namespace

std::vector<std::uint32_t> VersionNumbers(std::string_view text) {
  std::vector<std::uint32_t> numbers;
  const size_t start = text.find_first_of("0123456789");
  if (start == std::string_view::npos) return numbers;
  std::uint64_t number = 0;
  bool inNumber = false;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      // A version part beyond 32 bits is not a version any font writes; it saturates.
      number = std::min<std::uint64_t>(number * 10 + static_cast<unsigned>(c - '0'), UINT32_MAX);
      inNumber = true;
    } else if (c == '.' && inNumber) {
      numbers.push_back(static_cast<std::uint32_t>(number));
      number = 0;
      inNumber = false;
    } else {
      break;
    }
  }
  if (inNumber) numbers.push_back(static_cast<std::uint32_t>(number));
  return numbers;
}

std::optional<std::strong_ordering> CompareVersions(const FontFace& a, const FontFace& b) {
  if (a.fontRevision && b.fontRevision && *a.fontRevision != *b.fontRevision) {
    return *a.fontRevision <=> *b.fontRevision;
  }
  std::vector<std::uint32_t> first = VersionNumbers(a.versionText), second = VersionNumbers(b.versionText);
  if (first.empty() || second.empty()) {
    // Equal revisions and no text to tell them apart: the same version.
    if (a.fontRevision && b.fontRevision) return std::strong_ordering::equal;
    return std::nullopt;
  }
  // "1.2" and "1.2.0" are one version.
  const size_t length = std::max(first.size(), second.size());
  first.resize(length);
  second.resize(length);
  return first <=> second;
}

bool SameFace(const FontFace& a, const FontFace& b) {
  return !a.fullName.empty() && SameFolded(a.fullName, b.fullName) && a.postScriptName == b.postScriptName;
}

bool ShareAFace(const FontFileInfo& a, const FontFileInfo& b) {
  if (IsBitmap(a) || IsBitmap(b)) return IsBitmap(a) && IsBitmap(b) && a.description == b.description;
  for (const FontFace& face : a.faces) {
    if (std::any_of(b.faces.begin(), b.faces.end(), [&](const FontFace& other) { return SameFace(face, other); })) {
      return true;
    }
  }
  return false;
}

bool HoldsEveryFace(const FontFileInfo& whole, const FontFileInfo& part) {
  if (IsBitmap(whole) || IsBitmap(part)) return ShareAFace(whole, part);
  const auto held = [&](const FontFace& face) {
    return std::any_of(whole.faces.begin(), whole.faces.end(), [&](const FontFace& own) {
      return SameFace(face, own);
    });
  };
  return std::all_of(part.faces.begin(), part.faces.end(), held);
}

std::optional<std::strong_ordering> CompareFileVersions(const FontFileInfo& a, const FontFileInfo& b) {
  if (IsBitmap(a) && IsBitmap(b)) {
    if (a.description == b.description) return std::strong_ordering::equal;
    return std::nullopt;
  }
  // The faces they share decide; the first shared one stands for the file.
  // Files that share none are no versions of one font.
  for (const FontFace& face : a.faces) {
    for (const FontFace& other : b.faces) {
      if (SameFace(face, other)) return CompareVersions(face, other);
    }
  }
  return std::nullopt;
}

std::string_view VersionTextOf(const FontFileInfo& info) {
  return info.faces.empty() ? std::string_view() : std::string_view(info.faces.front().versionText);
}

}  // namespace quorvane
