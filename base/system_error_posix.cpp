#include <locale.h>
#include <string.h>

#include <cerrno>

#include "base/system_error.h"

namespace quorvane {

int LastSystemError() { return errno; }

// strerror_l with a locale of its own: the process keeps its "C" locale for
// everything else, and the text is still the user's language.
std::string SystemErrorText(int code, Language language) {
  const char* name = language == Language::English ? "C" : "";
  locale_t locale = newlocale(LC_MESSAGES_MASK, name, static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) locale = newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(0));
  std::string text = locale != static_cast<locale_t>(0) ? strerror_l(code, locale) : "";
  if (locale != static_cast<locale_t>(0)) freelocale(locale);
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

}  // namespace quorvane
