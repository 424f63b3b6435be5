// SHA-256 of bytes handed over in order, as a copy reads them. The system's
// own implementation does the work (CNG on Windows, OpenSSL's libcrypto
// elsewhere): a hash that records what was installed is no place for our own.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// Lowercase hexadecimal, as sha256sum prints it.
std::string HexOf(const Sha256::Digest& digest);

// The SHA-256 of a whole file, read a piece at a time; nothing when it cannot
// be read whole or hashed.
std::optional<Sha256::Digest> Sha256OfFile(std::string_view path);

}  // namespace quorvane
