// The system's own words for its error codes: errno on POSIX, GetLastError on
// Windows. One function, so every front end says "why" the same way.
#pragma once

#include <string>

namespace quorvane {

// The language the program speaks. Chinese asks the system for its own words,
// in whatever language it is set to; English asks for English where the system
// has it.
enum class Language { Chinese, English };

// The calling thread's last error code.
int LastSystemError();

// A short text for `code`, without a trailing line break: "拒绝访问。",
// "No space left on device". An unknown code still gives a text naming it.
std::string SystemErrorText(int code, Language language = Language::Chinese);

}  // namespace quorvane
