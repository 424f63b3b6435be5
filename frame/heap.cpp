// Every allocation of the program comes from the process heap, and a request
// the heap refuses is the frame's fatal error rather than an exception.
#include <cstddef>
#include <cstdint>
#include <new>

#include "frame/fatal_error.h"

namespace {

// Over-aligned blocks keep the heap block's own address just below the aligned one.
void* AllocateAligned(std::size_t bytes, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  auto* raw = static_cast<std::byte*>(quorvane::AllocateOrTerminate(bytes + align + sizeof(void*)));
  const auto address = reinterpret_cast<std::uintptr_t>(raw + sizeof(void*));
  auto* aligned = reinterpret_cast<std::byte*>((address + align - 1) & ~(std::uintptr_t{align} - 1));
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return aligned;
}

void ReleaseAligned(void* block) noexcept {
  if (block != nullptr) quorvane::ReleaseAllocation(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t bytes) { return quorvane::AllocateOrTerminate(bytes); }
void* operator new[](std::size_t bytes) { return quorvane::AllocateOrTerminate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return quorvane::AllocateOrTerminate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return quorvane::AllocateOrTerminate(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }
void* operator new[](std::size_t bytes, std::align_val_t alignment) { return AllocateAligned(bytes, alignment); }

void operator delete(void* block) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete[](void* block) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete(void* block, std::size_t) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete[](void* block, std::size_t) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { quorvane::ReleaseAllocation(block); }
void operator delete(void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { ReleaseAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { ReleaseAligned(block); }
