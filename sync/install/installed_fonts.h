// The fonts already installed where a run copies to: the target folder's font
// files and, on Windows, the files that the Fonts values of the scope name.
// Read once, when a run first needs it, and kept current as the run copies
// and removes, so that two files of one collection with the same face are
// told apart within one run too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sync/fonts/font_file.h"
#include "sync/install/font_registration.h"

namespace quorvane {

struct InstalledFont {
  std::string path;
  FontFileInfo info;
};

class InstalledFonts {
 public:
  InstalledFonts(std::string folder, FontScope scope) : folder_(std::move(folder)), scope_(scope) {}

  // The installed files other than `path` that hold a face of `info`, in the
  // order they were found; valid until the next Put. Reads the installed
  // fonts the first time.
  std::vector<const InstalledFont*> Holding(const FontFileInfo& info, std::string_view path);
  // A font file now at `path` (copied, or replaced); only once read.
  void Put(std::string_view path, FontFileInfo info);
  // A font file gone from `path`.
  void Drop(std::string_view path);

  bool Read() const { return read_; }
  // How many font files are known.
  std::size_t Count() const { return byPath_.size(); }

 private:
  void ReadAll();
  void Index(std::size_t slot);
  std::string PathKey(std::string_view path) const;

  std::string folder_;
  FontScope scope_;
  bool read_ = false;
  std::vector<InstalledFont> fonts_;  // a dropped font's slot stays, with an empty path
  std::unordered_map<std::string, std::size_t> byPath_;
  std::unordered_map<std::string, std::vector<std::size_t>> byFace_;
};

}  // namespace quorvane
