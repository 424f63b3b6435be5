// What the frame does to the process before it builds any window.
#include "frame/startup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

TEST(Startup, TheExecutablesFolderBecomesTheCurrentDirectory) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring expected(path);
  expected.resize(expected.rfind(L'\\'));
  EXPECT_EQ(ExecutableFolder(), expected);
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(L"C:\\");
  ASSERT_TRUE(EnterExecutableFolder());
  wchar_t now[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, now);
  EXPECT_EQ(std::wstring(now), expected);
  SetCurrentDirectoryW(before);
}

TEST(Startup, DllSearchLeavesOutTheCurrentDirectory) {
  ASSERT_TRUE(RestrictDllSearch());
  wchar_t folder[MAX_PATH] = L"unchanged";
  EXPECT_EQ(GetDllDirectoryW(MAX_PATH, folder), 0u);
  EXPECT_STREQ(folder, L"");
  // A DLL that sits only in the current directory is no longer found there.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring planted = std::wstring(temp) + L"qvprobe.dll";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), planted.c_str(), FALSE));
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(temp);
  EXPECT_EQ(LoadLibraryW(L"qvprobe.dll"), nullptr);
  EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr);
  SetCurrentDirectoryW(before);
  DeleteFileW(planted.c_str());
}

}  // namespace
}  // namespace quorvane
