// One owner for every kind of handle: move-only, since a copy would close
// twice, and closed exactly once. A traits type says what the handle is, what
// its "none" value is and how it is closed. Traits may carry state, as a
// unique_ptr's deleter may: the window a DC came from, the DC an object was
// selected into.
#pragma once

#include <utility>

namespace quorvane {

template <typename Traits>
class UniqueHandle : private Traits {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle handle, Traits traits = Traits{}) noexcept
      : Traits(std::move(traits)), handle_(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept
      : Traits(std::move(static_cast<Traits&>(other))), handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());  // the old handle closes with its own traits
      static_cast<Traits&>(*this) = std::move(static_cast<Traits&>(other));
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const noexcept { return handle_; }
  bool Valid() const noexcept { return Traits::IsValid(handle_); }
  explicit operator bool() const noexcept { return Valid(); }

  // Gives the handle up without closing it.
  Handle Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the handle held, if any, and holds `handle` instead.
  void Reset(Handle handle = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

 private:
  Handle handle_;
};

}  // namespace quorvane
