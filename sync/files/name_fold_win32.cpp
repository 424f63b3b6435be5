#include <windows.h>

#include "base/text.h"
#include "sync/files/name_fold.h"

namespace quorvane {

// NTFS compares names by its upper-case table, which is the invariant
// locale's simple upper-casing: no letter changes its length, none depends on a
// language (no Turkish dotless i).
std::string NameKey(std::string_view name) {
  std::wstring wide = Widen(name);
  if (wide.empty()) return {};
  std::wstring upper(wide.size(), L'\0');
  const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                                    upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (written != static_cast<int>(wide.size())) return Narrow(wide);
  return Narrow(upper);
}

}  // namespace quorvane
