#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "held_file.h"

namespace quorvane::testing {

struct HeldFile::Handle {
  int fd = -1;
};

HeldFile::HeldFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
  handle_->fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (handle_->fd >= 0 && ::flock(handle_->fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(handle_->fd);
    handle_->fd = -1;
  }
}

HeldFile::~HeldFile() {
  if (handle_->fd >= 0) ::close(handle_->fd);
}

bool HeldFile::Held() const { return handle_->fd >= 0; }

}  // namespace quorvane::testing
