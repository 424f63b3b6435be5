// What the command-line tool needs of its platform.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::cli {

enum class Stream { Out, Err };

// Writes UTF-8 text; on a Windows console as wide text, so Chinese shows right.
void Write(Stream stream, std::string_view text);
bool IsTerminal(Stream stream);

}  // namespace quorvane::cli
