// Traits of the POSIX handles the core holds.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include "base/unique_handle.h"

namespace quorvane {

struct FileDescriptorTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static bool IsValid(Handle fd) { return fd >= 0; }
  static void Close(Handle fd) { ::close(fd); }
};
using UniqueFd = UniqueHandle<FileDescriptorTraits>;

struct DirectoryStreamTraits {
  using Handle = DIR*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle dir) { return dir != nullptr; }
  static void Close(Handle dir) { ::closedir(dir); }
};
using UniqueDir = UniqueHandle<DirectoryStreamTraits>;

}  // namespace quorvane
