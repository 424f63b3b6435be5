#include "sync/files/sha256.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "base/unique_handle.h"

namespace quorvane {

namespace {
struct DigestContextTraits {
  using Handle = EVP_MD_CTX*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle context) { return context != nullptr; }
  static void Close(Handle context) { EVP_MD_CTX_free(context); }
};
}  // namespace

struct Sha256::State {
  UniqueHandle<DigestContextTraits> context{EVP_MD_CTX_new()};
  int error = 0;  // libcrypto's own code, from its queue: it sets no errno

  bool Check(bool succeeded) {
    if (!succeeded && error == 0) error = static_cast<int>(ERR_get_error() | 1);
    return succeeded;
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->Check(state_->context && EVP_DigestInit_ex(state_->context.Get(), EVP_sha256(), nullptr) == 1);
}

Sha256::~Sha256() = default;

void Sha256::Add(std::span<const std::byte> bytes) {
  if (state_->error != 0 || bytes.empty()) return;
  state_->Check(EVP_DigestUpdate(state_->context.Get(), bytes.data(), bytes.size()) == 1);
}

std::optional<Sha256::Digest> Sha256::Finish() {
  if (state_->error != 0) return std::nullopt;
  Digest digest;
  unsigned length = 0;
  const bool finished =
      EVP_DigestFinal_ex(state_->context.Get(), reinterpret_cast<unsigned char*>(digest.data()), &length) == 1;
  if (!state_->Check(finished && length == digest.size())) return std::nullopt;
  return digest;
}

int Sha256::Error() const { return state_->error; }

}  // namespace quorvane
