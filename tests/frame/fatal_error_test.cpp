#include "frame/fatal_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace quorvane {
namespace {

TEST(FatalErrorText, TextOnly) {
  EXPECT_EQ(FatalErrorText({.code = std::nullopt, .text = std::string(kLayoutLoadFailed)}),
            "运行时出错!\r\n\r\n错误信息：载入窗口模板数据段出错!\r\n");
  EXPECT_EQ(FatalErrorText({.code = std::nullopt, .text = std::string(kStartWindowFailed)}),
            "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
}

TEST(FatalErrorText, CodeAndText) {
  EXPECT_EQ(FatalErrorText({.code = 1407, .text = "x"}), "运行时出错!\r\n\r\n错误代码：1407\r\n\r\n错误信息：x\r\n");
  EXPECT_EQ(FatalErrorText({.code = -2, .text = ""}), "运行时出错!\r\n\r\n错误代码：-2\r\n\r\n");
  EXPECT_EQ(FatalErrorText({}), "运行时出错!\r\n\r\n");
}

TEST(FatalErrorText, OutOfMemoryCountsTheBytes) {
  EXPECT_EQ(OutOfMemoryText(0), "分配 0 字节内存失败!");
  EXPECT_EQ(OutOfMemoryText(4096), "分配 4096 字节内存失败!");
  EXPECT_EQ(OutOfMemoryText(SIZE_MAX), "分配 " + std::to_string(SIZE_MAX) + " 字节内存失败!");
}

void PrintToStandardError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

TEST(FatalErrorDeathTest, RefusedMemoryRequestShowsItsSizeAndEndsWithMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::size_t huge = SIZE_MAX / 2;
  EXPECT_EXIT(
      {
        SetFatalErrorPresenter(&PrintToStandardError);
        AllocateOrTerminate(huge);
        std::fputs("still running", stderr);
      },
      testing::ExitedWithCode(kFatalExitCode), std::to_string(huge));
}

TEST(FatalErrorDeathTest, FatalErrorEndsTheProcessAfterShowingTheText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetFatalErrorPresenter(&PrintToStandardError);
        TerminateWithFatalError({.code = 7, .text = "boom"});
      },
      testing::ExitedWithCode(kFatalExitCode), "boom");
}

}  // namespace
}  // namespace quorvane
