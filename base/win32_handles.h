// Traits of the Windows handles the program holds, one per way of closing.
#pragma once

#include <windows.h>

#include "base/unique_handle.h"

namespace quorvane {

// Kernel objects: files say INVALID_HANDLE_VALUE for none, most others null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(Handle handle) { FindClose(handle); }
};
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;

// A window may already be gone with its parent; destroying it again is a no-op.
struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle window) { return window != nullptr; }
  static void Close(Handle window) {
    if (IsWindow(window)) DestroyWindow(window);
  }
};
using UniqueWindow = UniqueHandle<WindowTraits>;

template <typename Object>
struct GdiObjectTraits {
  using Handle = Object;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle object) { return object != nullptr; }
  static void Close(Handle object) { DeleteObject(object); }
};
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueRegion = UniqueHandle<GdiObjectTraits<HRGN>>;

struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle icon) { return icon != nullptr; }
  static void Close(Handle icon) { DestroyIcon(icon); }
};
using UniqueIcon = UniqueHandle<IconTraits>;

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle module) { return module != nullptr; }
  static void Close(Handle module) { FreeLibrary(module); }
};
using UniqueModule = UniqueHandle<ModuleTraits>;

// Memory the system handed out with LocalAlloc (security descriptors, SID texts).
struct LocalMemoryTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle memory) { return memory != nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle key) { return key != nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;

// A DC from GetDC or GetWindowDC goes back to the window it came from.
struct WindowDcTraits {
  using Handle = HDC;
  HWND window = nullptr;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle dc) { return dc != nullptr; }
  void Close(Handle dc) const { ReleaseDC(window, dc); }
};
using UniqueWindowDc = UniqueHandle<WindowDcTraits>;

inline UniqueWindowDc ClientDc(HWND window) { return UniqueWindowDc(GetDC(window), {window}); }
inline UniqueWindowDc WholeWindowDc(HWND window) { return UniqueWindowDc(GetWindowDC(window), {window}); }

struct MemoryDcTraits {
  using Handle = HDC;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle dc) { return dc != nullptr; }
  static void Close(Handle dc) { DeleteDC(dc); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// An object selected into a DC for one scope: what it displaced goes back.
struct SelectionTraits {
  using Handle = HGDIOBJ;
  HDC dc = nullptr;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle previous) { return previous != nullptr && previous != HGDI_ERROR; }
  void Close(Handle previous) const { SelectObject(dc, previous); }
};
using ScopedSelection = UniqueHandle<SelectionTraits>;

inline ScopedSelection SelectInto(HDC dc, HGDIOBJ object) {
  return ScopedSelection(object != nullptr ? SelectObject(dc, object) : nullptr, {dc});
}

// A DC's whole state (origin, clip, colours, objects) saved for one scope.
struct SavedDcTraits {
  using Handle = int;
  HDC dc = nullptr;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle saved) { return saved != 0; }
  void Close(Handle saved) const { RestoreDC(dc, saved); }
};
using ScopedSavedDc = UniqueHandle<SavedDcTraits>;

inline ScopedSavedDc SaveDcState(HDC dc) { return ScopedSavedDc(SaveDC(dc), {dc}); }

}  // namespace quorvane
