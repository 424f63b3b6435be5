#include <windows.h>

#include "base/text.h"
#include "links.h"

namespace quorvane::testing {

bool MakeFolderLink(const std::string& target, const std::string& link) {
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  return CreateSymbolicLinkW(Widen(link).c_str(), Widen(target).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged) != 0;
}

}  // namespace quorvane::testing
