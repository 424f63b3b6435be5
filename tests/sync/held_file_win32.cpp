#include <windows.h>

#include "base/text.h"
#include "held_file.h"

namespace quorvane::testing {

struct HeldFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
};

HeldFile::HeldFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
  handle_->file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
}

HeldFile::~HeldFile() {
  if (handle_->file != INVALID_HANDLE_VALUE) CloseHandle(handle_->file);
}

bool HeldFile::Held() const { return handle_->file != INVALID_HANDLE_VALUE; }

}  // namespace quorvane::testing
