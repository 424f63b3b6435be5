#include <unistd.h>

#include <cstdio>

#include "cli/platform.h"

namespace quorvane::cli {

void Write(Stream stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream == Stream::Out ? stdout : stderr);
}

bool IsTerminal(Stream stream) { return ::isatty(stream == Stream::Out ? 1 : 2) != 0; }

}  // namespace quorvane::cli
