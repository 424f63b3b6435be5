// A file held as a live copy holds its temporary: locked on POSIX, open
// without sharing on Windows.
#pragma once

#include <memory>
#include <string>

namespace quorvane::testing {

class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool Held() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace quorvane::testing
