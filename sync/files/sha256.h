// SHA-256 of bytes handed over in order, as a copy reads them. The system's
// own implementation does the work (CNG on Windows, OpenSSL's libcrypto
// elsewhere): a hash that records what was installed is no place for our own.
#pragma once

#include <array>
#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "sync/files/file_error.h"

namespace quorvane {

class Sha256 {
 public:
  using Digest = std::array<std::byte, 32>;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(std::span<const std::byte> bytes);
  // The digest of all that was added; nothing when the system's hash failed,
  // whose code Error() then gives. Add nothing after it.
  std::optional<Digest> Finish();
  int Error() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A digest that may still be being computed (on the hashing thread, see
// BackgroundSha256): Get() waits for it. Empty when none was asked for; Get()
// gives nothing then, or when the system's hash failed.
class PendingSha256 {
 public:
  PendingSha256() = default;
  explicit PendingSha256(std::shared_future<std::optional<Sha256::Digest>> future) : future_(std::move(future)) {}

  explicit operator bool() const { return future_.valid(); }
  std::optional<Sha256::Digest> Get() const { return future_.valid() ? future_.get() : std::nullopt; }

 private:
  std::shared_future<std::optional<Sha256::Digest>> future_;
};

// Lowercase hexadecimal, as sha256sum prints it.
std::string HexOf(const Sha256::Digest& digest);

// The SHA-256 of a whole file, read a piece at a time, and how many bytes it read.
struct FileHash {
  Sha256::Digest sha256{};
  std::uint64_t size = 0;
};
std::variant<FileHash, FileError> HashFile(std::string_view path);

}  // namespace quorvane
