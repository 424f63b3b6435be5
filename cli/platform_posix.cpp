#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/platform.h"

namespace quorvane::cli {

std::string DefaultTargetFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/fonts";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != 0) {
    return std::string(home) + "/.local/share/fonts";
  }
  return {};
}

void Write(Stream stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream == Stream::Out ? stdout : stderr);
}

bool IsTerminal(Stream stream) { return ::isatty(stream == Stream::Out ? 1 : 2) != 0; }

}  // namespace quorvane::cli
