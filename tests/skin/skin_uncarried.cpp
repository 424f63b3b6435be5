// An executable that carries no skin: SkinAttachment must say false, show no
// window and let the program go on (exit 0).
#include <windows.h>

#include <cstdio>

#include "skin/attach/skin_attachment.h"

namespace {

BOOL CALLBACK CountVisible(HWND window, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

}  // namespace

int main() {
  const bool attached = quorvane::SkinAttachment();
  int visible = 0;
  EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&visible));
  std::printf("attached=%d visible windows=%d\n", attached, visible);
  return !attached && visible == 0 ? 0 : 1;
}
