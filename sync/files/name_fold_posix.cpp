#include "sync/files/name_fold.h"

namespace quorvane {

// POSIX file systems compare the bytes.
std::string NameKey(std::string_view name) { return std::string(name); }

}  // namespace quorvane
