// UTF-8 inside, UTF-16 at the Windows call: the one pair of conversions.
#pragma once

#ifdef _WIN32
#include <string>
#include <string_view>

namespace quorvane {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace quorvane
#endif
