// Move-only owners of Windows handles: a copyable wrapper would close twice.
#pragma once

#include <windows.h>

#include <utility>

namespace quorvane {

template <typename Handle, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  Handle Release() { return std::exchange(handle_, nullptr); }
  void Reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline void DestroyWindowIfAlive(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
}
inline void DeleteFont(HFONT font) { DeleteObject(font); }
inline void DestroyIconHandle(HICON icon) { DestroyIcon(icon); }
inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }

using UniqueWindow = UniqueHandle<HWND, &DestroyWindowIfAlive>;
using UniqueFont = UniqueHandle<HFONT, &DeleteFont>;
using UniqueIcon = UniqueHandle<HICON, &DestroyIconHandle>;
using UniqueKernelHandle = UniqueHandle<HANDLE, &CloseKernelHandle>;

}  // namespace quorvane
