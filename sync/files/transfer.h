// The bookkeeping of one copy's byte loop, shared by both file-operation
// backends: how far it got, and whether it ended done, failed or abandoned on
// the caller's word, and what it learned of the bytes on the way (their hash,
// the caller's check). Each backend's TransferLoop adds only its system calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "sync/files/background_sha256.h"
#include "sync/files/file_error.h"
#include "sync/files/file_ops.h"

namespace quorvane {

struct Transfer {
  FileResult result;
  bool abandoned = false;
  std::uint64_t bytes = 0;
  PendingSha256 sha256{};
  std::optional<std::string> refusal{};  // the caller's check refused the bytes
};

class TransferProgress {
 protected:
  TransferProgress(std::uint64_t total, const CopyOptions& options) : total_(total), options_(options) {
    if (options.hash) hash_.emplace();
  }

  // Tells the caller how far the copy is; false when it says stop.
  bool Continue() const { return !options_.progress || options_.progress(transfer_.bytes, total_); }
  // The bytes must pass through this process to be hashed or checked.
  bool Inspects() const { return options_.hash || options_.check != nullptr; }
  // Where to read the next block: one the hashing thread takes over in
  // Moved(), so that the copy goes on while it hashes.
  std::span<std::byte> Block() {
    if (hash_) return hash_->Block();
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::byte[]>(kBufferSize);
    return {buffer_.get(), kBufferSize};
  }
  // Bytes copied without passing through this process (only when !Inspects()).
  void Moved(std::uint64_t bytes) { transfer_.bytes += bytes; }
  // Bytes written, in order: the start of the last Block().
  void Moved(std::span<const std::byte> bytes) {
    if (options_.check) options_.check->Feed(bytes);
    if (hash_) hash_->Add(bytes.size());
    transfer_.bytes += bytes.size();
  }
  Transfer Done() {
    if (hash_) transfer_.sha256 = hash_->Finish();
    if (options_.check) transfer_.refusal = options_.check->Finish(transfer_.sha256);
    return std::move(transfer_);
  }
  Transfer Fail(FileResult result) {
    transfer_.result = std::move(result);
    return std::move(transfer_);
  }
  Transfer Abandon() {
    transfer_.abandoned = true;
    return std::move(transfer_);
  }

 private:
  static constexpr std::size_t kBufferSize = 1 << 20;
  std::uint64_t total_;
  const CopyOptions& options_;
  std::optional<BackgroundSha256> hash_;
  std::unique_ptr<std::byte[]> buffer_;
  Transfer transfer_;
};

// A copy whose bytes the caller's check refused: its temporary goes, nothing changed.
inline CopyResult Refused(Transfer&& transfer) {
  return {.status = CopyStatus::Refused,
          .bytes = transfer.bytes,
          .sha256 = std::move(transfer.sha256),
          .refusal = std::move(transfer.refusal)};
}

}  // namespace quorvane
