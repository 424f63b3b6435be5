#include "frame/fatal_error.h"

#include <windows.h>

#include <cstdio>
#include <iterator>

#include "base/text.h"

namespace quorvane {
namespace {

constexpr std::string_view kFatalHeading = "运行时出错!\r\n\r\n";
constexpr std::string_view kCodeLabel = "错误代码：";
constexpr std::string_view kTextLabel = "错误信息：";

void ShowFatalBox(std::string_view text) {
  MessageBoxW(nullptr, Widen(text).c_str(), Widen(kFatalErrorTitle).c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

FatalErrorPresenter presenter = &ShowFatalBox;

// The out-of-memory path composes into fixed buffers: asking the heap for the
// text of its own failure could fail again.
constexpr std::size_t kOutOfMemoryBufferSize = 160;

int ComposeOutOfMemory(std::size_t bytes, char* buffer, std::size_t size) {
  return std::snprintf(buffer, size, "分配 %llu 字节内存失败!", static_cast<unsigned long long>(bytes));
}

[[noreturn]] void TerminateOutOfMemory(std::size_t bytes) {
  char text[kOutOfMemoryBufferSize];
  ComposeOutOfMemory(bytes, text, sizeof text);
  char full[kOutOfMemoryBufferSize * 2];
  std::snprintf(full, sizeof full, "%.*s%.*s%s\r\n", static_cast<int>(kFatalHeading.size()), kFatalHeading.data(),
                static_cast<int>(kTextLabel.size()), kTextLabel.data(), text);
  if (presenter != &ShowFatalBox) {
    presenter(full);
  } else {
    wchar_t wide[kOutOfMemoryBufferSize * 2];
    const int length = MultiByteToWideChar(CP_UTF8, 0, full, -1, wide, static_cast<int>(std::size(wide)));
    wide[length > 0 ? length - 1 : 0] = L'\0';
    MessageBoxW(nullptr, wide, L"错误", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }
  ExitProcess(static_cast<UINT>(kFatalExitCode));
}

}  // namespace

std::string FatalErrorText(const FatalError& error) {
  std::string text(kFatalHeading);
  if (error.code) {
    text.append(kCodeLabel).append(std::to_string(*error.code)).append("\r\n\r\n");
  }
  if (!error.text.empty()) {
    text.append(kTextLabel).append(error.text).append("\r\n");
  }
  return text;
}

std::string OutOfMemoryText(std::size_t bytes) {
  char text[kOutOfMemoryBufferSize];
  ComposeOutOfMemory(bytes, text, sizeof text);
  return text;
}

void SetFatalErrorPresenter(FatalErrorPresenter replacement) {
  presenter = replacement != nullptr ? replacement : &ShowFatalBox;
}

void PresentFatalError(const FatalError& error) { presenter(FatalErrorText(error)); }

void TerminateWithFatalError(const FatalError& error) {
  PresentFatalError(error);
  ExitProcess(static_cast<UINT>(kFatalExitCode));
}

void* AllocateOrTerminate(std::size_t bytes) {
  // A zero-byte request still gets a unique block, as operator new promises.
  void* block = HeapAlloc(GetProcessHeap(), 0, bytes == 0 ? 1 : bytes);
  if (block == nullptr) TerminateOutOfMemory(bytes);
  return block;
}

void ReleaseAllocation(void* block) noexcept {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace quorvane
