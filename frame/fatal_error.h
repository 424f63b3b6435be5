// The frame's one way of failing: a single message box without owner, then the
// process ends with exit code -1 and no handler runs after it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::string_view kLayoutLoadFailed = "载入窗口模板数据段出错!";
inline constexpr std::string_view kStartWindowFailed = "载入启动窗口失败";
inline constexpr std::string_view kFatalErrorTitle = "错误";
inline constexpr int kFatalExitCode = -1;

struct FatalError {
  std::optional<long> code;
  std::string text{};
};

// "运行时出错!", then the code part and the text part when present.
std::string FatalErrorText(const FatalError& error);

// "分配 N 字节内存失败!" for a request of N bytes.
std::string OutOfMemoryText(std::size_t bytes);

// Where fatal errors are shown; tests put a recorder here instead of the box.
using FatalErrorPresenter = void (*)(std::string_view text);
void SetFatalErrorPresenter(FatalErrorPresenter presenter);

void PresentFatalError(const FatalError& error);

// Shows the error and ends the process at once, for failures with no caller to
// return to (a memory request).
[[noreturn]] void TerminateWithFatalError(const FatalError& error);

// Memory from the process heap; a failed request is fatal and never returns null.
void* AllocateOrTerminate(std::size_t bytes);
void ReleaseAllocation(void* block) noexcept;

}  // namespace quorvane
