#include <unistd.h>

#include "links.h"

namespace quorvane::testing {

bool MakeFolderLink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

}  // namespace quorvane::testing
