#include "base/system_error.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace quorvane {
namespace {

#ifdef _WIN32
constexpr int kAccessDenied = ERROR_ACCESS_DENIED;
constexpr int kDiskFull = ERROR_DISK_FULL;
#else
constexpr int kAccessDenied = EACCES;
constexpr int kDiskFull = ENOSPC;
#endif

TEST(SystemErrorTest, GivesTheSystemsOwnShortTextPerCode) {
  const std::string denied = SystemErrorText(kAccessDenied, Language::English);
  const std::string full = SystemErrorText(kDiskFull, Language::English);
  EXPECT_NE(denied, full);
  EXPECT_NE(denied.find("denied"), std::string::npos) << denied;  // "Access is denied." / "Permission denied"
  for (const std::string& text : {denied, full, SystemErrorText(kAccessDenied)}) {
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
  }
}

TEST(SystemErrorTest, AnUnknownCodeStillGetsAText) {
  EXPECT_FALSE(SystemErrorText(987654).empty());
}

}  // namespace
}  // namespace quorvane
