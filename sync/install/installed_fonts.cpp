#include "sync/install/installed_fonts.h"

#include <algorithm>
#include <variant>

#include "sync/files/ascii.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_identity.h"

namespace quorvane {
namespace {

// The keys under which a file's faces are found: candidates only, which
// SameFace then confirms. A face is never the same without its full name.
std::vector<std::string> FaceKeys(const FontFileInfo& info) {
  std::vector<std::string> keys;
  if (info.format == FontFormat::WindowsBitmap) {
    keys.push_back("fon\n" + info.description);
    return keys;
  }
  for (const FontFace& face : info.faces) keys.push_back("full\n" + FoldedAscii(face.fullName));
  return keys;
}

}  // namespace

std::string InstalledFonts::PathKey(std::string_view path) const {
  // Windows' names ignore case; nothing here depends on more than ASCII's.
  return kPathSeparator == '\\' ? FoldedAscii(path) : std::string(path);
}

void InstalledFonts::ReadAll() {
  read_ = true;
  std::vector<FolderEntry> entries;
  (void)ListFolder(folder_, entries);  // an unreadable folder has nothing installed that we can see
  for (const FolderEntry& entry : entries) {
    if (entry.kind != EntryKind::File || FontPatternIndex(entry.name) < 0) continue;
    const std::string path = JoinPath(folder_, entry.name);
    FontReadResult read = ReadFontFile(path);
    if (auto* info = std::get_if<FontFileInfo>(&read)) Put(path, std::move(*info));
  }
  // What the registry installs from elsewhere counts too: its face is on this machine.
  for (const FontsEntry& value : ReadFontsValues(scope_)) {
    if (byPath_.contains(PathKey(value.file))) continue;
    FontReadResult read = ReadFontFile(value.file);
    if (auto* info = std::get_if<FontFileInfo>(&read)) Put(value.file, std::move(*info));
  }
}

void InstalledFonts::Index(std::size_t slot) {
  for (std::string& key : FaceKeys(fonts_[slot].info)) {
    std::vector<std::size_t>& slots = byFace_[std::move(key)];
    if (std::find(slots.begin(), slots.end(), slot) == slots.end()) slots.push_back(slot);
  }
}

std::vector<const InstalledFont*> InstalledFonts::Holding(const FontFileInfo& info, std::string_view path) {
  if (!read_) ReadAll();
  const std::string self = PathKey(path);
  std::vector<const InstalledFont*> holding;
  for (const std::string& key : FaceKeys(info)) {
    const auto found = byFace_.find(key);
    if (found == byFace_.end()) continue;
    for (const std::size_t slot : found->second) {
      const InstalledFont& font = fonts_[slot];
      if (font.path.empty() || PathKey(font.path) == self) continue;
      if (std::find(holding.begin(), holding.end(), &font) != holding.end()) continue;
      if (ShareAFace(info, font.info)) holding.push_back(&font);
    }
  }
  return holding;
}

void InstalledFonts::Put(std::string_view path, FontFileInfo info) {
  if (!read_) return;  // read with the rest, when first needed
  const std::string key = PathKey(path);
  if (const auto known = byPath_.find(key); known != byPath_.end()) {
    fonts_[known->second].info = std::move(info);
    Index(known->second);
    return;
  }
  fonts_.push_back({std::string(path), std::move(info)});
  byPath_.emplace(key, fonts_.size() - 1);
  Index(fonts_.size() - 1);
}

void InstalledFonts::Drop(std::string_view path) {
  const auto known = byPath_.find(PathKey(path));
  if (known == byPath_.end()) return;
  fonts_[known->second].path.clear();
  byPath_.erase(known);
}

}  // namespace quorvane
