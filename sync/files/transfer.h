// The bookkeeping of one copy's byte loop, shared by both file-operation
// backends: how far it got, and whether it ended done, failed or abandoned on
// the caller's word. Each backend's TransferLoop adds only its system calls.
#pragma once

#include <cstdint>
#include <utility>

#include "sync/files/file_error.h"
#include "sync/files/file_ops.h"

namespace quorvane {

struct Transfer {
  FileResult result;
  bool abandoned = false;
  std::uint64_t bytes = 0;
};

class TransferProgress {
 protected:
  TransferProgress(std::uint64_t total, const CopyOptions& options) : total_(total), options_(options) {}

  // Tells the caller how far the copy is; false when it says stop.
  bool Continue() const { return !options_.progress || options_.progress(transfer_.bytes, total_); }
  void Moved(std::uint64_t bytes) { transfer_.bytes += bytes; }
  Transfer Done() { return std::move(transfer_); }
  Transfer Fail(FileResult result) {
    transfer_.result = std::move(result);
    return std::move(transfer_);
  }
  Transfer Abandon() {
    transfer_.abandoned = true;
    return std::move(transfer_);
  }

 private:
  std::uint64_t total_;
  const CopyOptions& options_;
  Transfer transfer_;
};

}  // namespace quorvane
