#include <windows.h>

#include <iterator>

#include "base/system_error.h"
#include "base/text.h"

namespace quorvane {

int LastSystemError() { return static_cast<int>(GetLastError()); }

std::string SystemErrorText(int code, Language language) {
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  wchar_t buffer[512];
  DWORD length = 0;
  if (language == Language::English) {
    length = FormatMessageW(kFlags, nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  }
  // The user's own language, or whatever the system has for this code.
  if (length == 0) {
    length = FormatMessageW(kFlags, nullptr, static_cast<DWORD>(code), 0, buffer,
                            static_cast<DWORD>(std::size(buffer)), nullptr);
  }
  while (length > 0 && (buffer[length - 1] == L' ' || buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n')) {
    --length;
  }
  if (length == 0) return "error " + std::to_string(static_cast<unsigned long>(code));
  return Narrow(std::wstring_view(buffer, length));
}

}  // namespace quorvane
