#include "sync/files/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <utility>

#include "base/unique_handle.h"

namespace quorvane {

namespace {
// bcrypt.dll is no known DLL: imported, a copy planted beside the program
// would be loaded in its place. It is taken from the system folder instead.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
  decltype(&BCryptCreateHash) create = nullptr;
  decltype(&BCryptHashData) data = nullptr;
  decltype(&BCryptFinishHash) finish = nullptr;
  decltype(&BCryptDestroyHash) destroy = nullptr;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function& function) {
  if (const FARPROC found = GetProcAddress(module, name)) {
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  }
}

// Loaded once and never unloaded: hashes are made to the end of the process.
const Cng* Functions() {
  static const Cng cng = [] {
    Cng loaded;
    if (const HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      Find(module, "BCryptOpenAlgorithmProvider", loaded.open);
      Find(module, "BCryptCreateHash", loaded.create);
      Find(module, "BCryptHashData", loaded.data);
      Find(module, "BCryptFinishHash", loaded.finish);
      Find(module, "BCryptDestroyHash", loaded.destroy);
    }
    return loaded;
  }();
  return cng.open && cng.create && cng.data && cng.finish && cng.destroy ? &cng : nullptr;
}

constexpr NTSTATUS kNoCng = static_cast<NTSTATUS>(0xC0000135);  // STATUS_DLL_NOT_FOUND

struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle hash) { return hash != nullptr; }
  static void Close(Handle hash) { Functions()->destroy(hash); }
};

// The provider, opened once: opening it costs more than hashing a small font.
BCRYPT_ALG_HANDLE Provider(NTSTATUS& status) {
  static const auto opened = [] {
    BCRYPT_ALG_HANDLE provider = nullptr;
    const Cng* cng = Functions();
    const NTSTATUS result = cng ? cng->open(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) : kNoCng;
    return std::pair{provider, result};
  }();
  status = opened.second;
  return opened.first;
}
}  // namespace

struct Sha256::State {
  UniqueHandle<HashTraits> hash;
  NTSTATUS status = 0;  // the first failure's

  bool Check(NTSTATUS result) {
    if (status == 0 && !BCRYPT_SUCCESS(result)) status = result;
    return BCRYPT_SUCCESS(result);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  NTSTATUS opened = 0;
  const BCRYPT_ALG_HANDLE provider = Provider(opened);
  if (!state_->Check(opened)) return;
  // Since Windows 7 the system keeps the hash object itself.
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (state_->Check(Functions()->create(provider, &hash, nullptr, 0, nullptr, 0, 0))) state_->hash.Reset(hash);
}

Sha256::~Sha256() = default;

void Sha256::Add(std::span<const std::byte> bytes) {
  // BCryptHashData takes a ULONG length: a span past 4 GiB goes in parts.
  while (state_->status == 0 && !bytes.empty()) {
    const auto part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
    auto* data = reinterpret_cast<PUCHAR>(const_cast<std::byte*>(bytes.data()));
    state_->Check(Functions()->data(state_->hash.Get(), data, part, 0));
    bytes = bytes.subspan(part);
  }
}

std::optional<Sha256::Digest> Sha256::Finish() {
  Digest digest;
  if (state_->status != 0 ||
      !state_->Check(Functions()->finish(state_->hash.Get(), reinterpret_cast<PUCHAR>(digest.data()),
                                      static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

int Sha256::Error() const { return static_cast<int>(state_->status); }

}  // namespace quorvane
