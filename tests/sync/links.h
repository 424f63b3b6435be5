// Folder links, which each system makes its own way.
#pragma once

#include <string>

namespace quorvane::testing {

// Makes `link` a link to the folder `target`; false where links cannot be made.
bool MakeFolderLink(const std::string& target, const std::string& link);

}  // namespace quorvane::testing
