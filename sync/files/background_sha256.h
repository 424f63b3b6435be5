// A copy's SHA-256, computed on a thread of its own from the very blocks the
// copy writes: the copy loop, and the files after it, do not wait for the
// hash on a machine with a core to spare. The copy reads each block into
// Block(), writes it, and hands it over with Add(); Finish() gives the digest
// to come. Blocks come from a pool shared by all copies, so that memory stays
// bounded however far the copies run ahead of the hash.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "sync/files/sha256.h"

namespace quorvane {

class BackgroundSha256 {
 public:
  static constexpr std::size_t kBlockSize = 256 << 10;

  BackgroundSha256();
  // Unfinished, the hash is abandoned: its blocks still waiting are not hashed.
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  // A block to read into; waits while too many blocks wait for the hash.
  // It stays the caller's until Add().
  std::span<std::byte> Block();
  // The first `filled` bytes of the last Block(), which the caller no longer touches.
  void Add(std::size_t filled);
  // The digest of all that was added. Nothing may be added after it.
  PendingSha256 Finish();

  struct Job;  // what the hashing thread keeps of one copy

 private:
  std::shared_ptr<Job> job_;
  std::byte* block_ = nullptr;  // taken by Block(), not yet added
};

}  // namespace quorvane
