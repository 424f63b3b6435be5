#include <cstdlib>

#include "sync/install/font_folder.h"

namespace quorvane {

// fontconfig's own order: an absolute XDG_DATA_HOME, else ~/.local/share.
std::string SystemFontFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/fonts";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != 0) {
    return std::string(home) + "/.local/share/fonts";
  }
  return {};
}

}  // namespace quorvane
