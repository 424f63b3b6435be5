// The resources every executable of ours carries: manifest, icon and version.
#include <windows.h>

#include <gtest/gtest.h>

#include "quorvane_version.h"

#include <string>
#include <string_view>

namespace quorvane {
namespace {

std::string_view ResourceText(const wchar_t* name, const wchar_t* type) {
  HRSRC found = FindResourceW(nullptr, name, type);
  if (found == nullptr) return {};
  const auto* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return {data, SizeofResource(nullptr, found)};
}

TEST(Resources, ManifestAsksForCommonControls6DpiAwarenessAndAnExecutionLevel) {
  const std::string_view manifest = ResourceText(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string_view::npos);
  EXPECT_NE(manifest.find("<dpiAware>true</dpiAware>"), std::string_view::npos);
  EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string_view::npos);
  for (const char* os : {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
                         "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
    EXPECT_NE(manifest.find(os), std::string_view::npos) << os;
  }
}

TEST(Resources, IconIsOne32By32ImageWithAlpha) {
  const std::string_view group = ResourceText(L"DEFAULT_ICON", MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_EQ(group.size(), 6u + 14u);  // one directory entry
  HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), L"DEFAULT_ICON", IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 32);
  EXPECT_EQ(bitmap.bmHeight, 32);
  EXPECT_EQ(bitmap.bmBitsPixel, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
}

// The resource script takes the version from CMake: the numbers and both texts
// must come through windres as the project's.
TEST(Resources, VersionIsTheProjects) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(QUORVANE_VERSION_MINOR, QUORVANE_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, QUORVANE_VERSION_PATCH));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  for (const wchar_t* name :
       {L"\\StringFileInfo\\080404B0\\FileVersion", L"\\StringFileInfo\\080404B0\\ProductVersion"}) {
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), name, reinterpret_cast<void**>(&text), &length)) << name;
    EXPECT_EQ(std::wstring(text), L"" QUORVANE_VERSION_TEXT) << name;
  }
}

}  // namespace
}  // namespace quorvane
