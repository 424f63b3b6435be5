// Carrying and attaching under Wine. This executable carries the real engine
// and the default skin; it also runs itself as a child (--attach-and-exit,
// --attach-and-crash) to see what a whole process leaves in its temporary folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "skin/attach/carried_skin.h"
#include "skin/attach/skin_attachment.h"
#include "skin/default_skin_text.h"
#include "skin/engine/skin_engine_api.h"
#include "skin_probe_call.h"
#include "skin_test_window.h"

namespace quorvane::skin {
namespace {

std::wstring BinFolder() {
  wchar_t path[MAX_PATH];
  std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::vector<std::byte> ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::vector<char> chars{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::byte> bytes(chars.size());
  std::transform(chars.begin(), chars.end(), bytes.begin(), [](char c) { return static_cast<std::byte>(c); });
  return bytes;
}

std::span<const std::byte> Bytes(std::string_view text) { return std::as_bytes(std::span(text.data(), text.size())); }

// Names in `folder` matching `pattern`, "." and ".." left out.
std::vector<std::wstring> Entries(const std::wstring& folder, const std::wstring& pattern = L"*") {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + pattern).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> OurFolders() { return Entries(TemporaryRoot(), std::wstring(kSkinFolderPrefix) + L"*"); }

BOOL CALLBACK CountVisibleWindow(HWND window, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int VisibleWindowsOfThisProcess() {
  int count = 0;
  EnumWindows(CountVisibleWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

// Runs this executable with `argument` and TEMP/TMP pointing at `temp`; its exit code.
// This executable again, in one of the child modes of main(), with its
// temporary folder at temp; the process handle, or null.
HANDLE StartChild(const std::wstring& argument, const std::wstring& temp) {
  std::wstring environment;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    if (_wcsnicmp(entry, L"TEMP=", 5) != 0 && _wcsnicmp(entry, L"TMP=", 4) != 0) environment += text + L'\0';
  }
  FreeEnvironmentStringsW(block);
  environment += L"TEMP=" + temp + L'\0' + L"TMP=" + temp + L'\0';
  environment += L'\0';

  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(path) + L"\" " + argument;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD WaitChild(HANDLE process) {
  if (!process) return 0xFFFFFFFF;
  WaitForSingleObject(process, 60000);
  DWORD code = 0xFFFFFFFE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

DWORD RunChild(const std::wstring& argument, const std::wstring& temp) {
  return WaitChild(StartChild(argument, temp));
}

class PrivateTemp {
 public:
  PrivateTemp() {
    path_ = TemporaryRoot() + L"quorvane-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter_++) + L"\\";
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  // The children have ended, so the libraries they left can go with their folders.
  ~PrivateTemp() {
    for (const std::wstring& name : Entries(path_)) {
      const std::wstring folder = path_ + name + L"\\";
      for (const std::wstring& file : Entries(folder)) DeleteFileW((folder + file).c_str());
      RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  std::wstring path_;
};

TEST(CarriedSkin, ResourcesHoldTheBuiltLibraryAndSkinExactly) {
  const auto library = CarriedResource(L"CarriedSkinLibrary");
  const auto built = ReadFile(BinFolder() + L"quorvane_skin.dll");
  ASSERT_GT(built.size(), 1024u);
  ASSERT_EQ(library.size(), built.size());
  EXPECT_TRUE(std::equal(library.begin(), library.end(), built.begin()));
  const auto skin = CarriedResource(L"CarriedSkin");
  ASSERT_EQ(skin.size(), kDefaultSkinText.size());
  EXPECT_TRUE(std::equal(skin.begin(), skin.end(), Bytes(kDefaultSkinText).begin()));
  EXPECT_TRUE(CarriedResource(L"NoSuchResource").empty());
}

TEST(CarriedSkin, AttachmentSkinsTheProgramsWindowsOnce) {
  ASSERT_TRUE(SkinAttachment());
  const auto folders = OurFolders();
  EXPECT_TRUE(SkinAttachment()) << "a second call reports the first result";
  EXPECT_EQ(OurFolders(), folders) << "and loads nothing again";

  const testing::ToolLikeWindow w = testing::BuildToolLikeWindow(2);
  ShowWindow(w.window, SW_SHOWNOACTIVATE);
  EXPECT_EQ(testing::Hex(testing::Rendering::Of(w.window).At(4, 60)), "#F4F5F7");
  DestroyWindow(w.window);
}

TEST(CarriedSkin, BrokenOrForeignLibrariesFailQuietly) {
  const auto engine = CarriedResource(L"CarriedSkinLibrary");
  const std::vector<std::byte> truncated(engine.begin(), engine.begin() + 4096);
  std::vector<std::byte> garbage(20000, std::byte{0x5A});
  garbage[0] = std::byte{'M'};
  garbage[1] = std::byte{'Z'};
  const auto noExport = ReadFile(BinFolder() + L"skin_no_export.dll");
  ASSERT_FALSE(noExport.empty());
  const std::string_view notAnImage = "QVSKIN 1 0\nend\n";

  const auto foldersBefore = OurFolders();
  const int windowsBefore = VisibleWindowsOfThisProcess();
  EXPECT_EQ(AttachLibraryImage(truncated, Bytes(kDefaultSkinText)).outcome, CarryOutcome::kLoadFailed);
  EXPECT_EQ(AttachLibraryImage(garbage, Bytes(kDefaultSkinText)).outcome, CarryOutcome::kLoadFailed);
  EXPECT_EQ(AttachLibraryImage(noExport, Bytes(kDefaultSkinText)).outcome, CarryOutcome::kNoExport);
  EXPECT_EQ(AttachLibraryImage(Bytes(notAnImage), Bytes(kDefaultSkinText)).outcome, CarryOutcome::kNoCarriedLibrary);
  EXPECT_EQ(AttachLibraryImage({}, Bytes(kDefaultSkinText)).outcome, CarryOutcome::kNoCarriedLibrary);
  EXPECT_EQ(AttachLibraryImage(engine, {}).outcome, CarryOutcome::kNoCarriedSkin);
  EXPECT_EQ(VisibleWindowsOfThisProcess(), windowsBefore) << "no message appeared";
  EXPECT_EQ(OurFolders(), foldersBefore) << "failed attempts leave no folder behind";
}

TEST(CarriedSkin, ALibraryChangedOnDiskBeforeLoadingIsRefused) {
  const auto engine = CarriedResource(L"CarriedSkinLibrary");
  const auto foldersBefore = OurFolders();
  SetWrittenLibraryHook([](const std::wstring& file) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    SetFilePointer(handle, 1000, nullptr, FILE_BEGIN);
    DWORD written = 0;
    WriteFile(handle, "\xCC", 1, &written, nullptr);
    CloseHandle(handle);
  });
  const CarryResult result = AttachLibraryImage(engine, Bytes(kDefaultSkinText));
  SetWrittenLibraryHook(nullptr);
  EXPECT_EQ(result.outcome, CarryOutcome::kBytesDiffer);
  EXPECT_EQ(OurFolders(), foldersBefore) << "the changed file and its folder are gone";
}

TEST(CarriedSkin, TheLibraryGetsTheExactSkinAndTheDefaults) {
  const auto probe = ReadFile(BinFolder() + L"skin_probe.dll");
  ASSERT_FALSE(probe.empty());
  const std::string buffer(4000, 'q');
  const auto skin = Bytes(buffer).subspan(17, 997);  // neither start nor end is a round number

  SetEnvironmentVariableW(L"QUORVANE_PROBE_RESULT", nullptr);
  const CarryResult attached = AttachLibraryImage(probe, skin);
  EXPECT_EQ(attached.outcome, CarryOutcome::kAttached);
  const auto call = testing::LastProbeCall();
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->address, reinterpret_cast<std::uintptr_t>(skin.data()));
  EXPECT_EQ(call->length, 997u);
  EXPECT_EQ(call->flags, kDefaultSkinFlags);
  EXPECT_EQ(call->accent, kDefaultSkinAccent);
  EXPECT_EQ(call->lightness, kDefaultSkinLightness);
  EXPECT_EQ(call->interfaceVersion, kSkinInterfaceVersion);

  SetEnvironmentVariableW(L"QUORVANE_PROBE_RESULT", L"7");
  const CarryResult refused = AttachLibraryImage(probe, skin);
  SetEnvironmentVariableW(L"QUORVANE_PROBE_RESULT", nullptr);
  EXPECT_EQ(refused.outcome, CarryOutcome::kRefused);
  EXPECT_EQ(refused.attachResult, 7u);
}

TEST(CarriedSkin, LoadedLibraryLivesInAFreshFolderOfItsOwn) {
  const auto before = OurFolders();
  const auto probe = ReadFile(BinFolder() + L"skin_probe.dll");
  ASSERT_EQ(AttachLibraryImage(probe, Bytes(kDefaultSkinText)).outcome, CarryOutcome::kAttached);
  auto after = OurFolders();
  std::vector<std::wstring> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  ASSERT_EQ(added.size(), 1u);
  EXPECT_GE(added[0].size(), wcslen(kSkinFolderPrefix) + 24) << "a random name, not a guessable one";
  const std::wstring folder = TemporaryRoot() + added[0] + L"\\";
  const auto files = Entries(folder);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(ReadFile(folder + files[0]), probe);
  EXPECT_FALSE(DeleteFileW((folder + files[0]).c_str())) << "a loaded module's file cannot go away";

  RemoveLeftovers();
  EXPECT_EQ(Entries(folder).size(), 1u) << "clean-up spares folders in use";
}

// The library stays loaded to the process's end, so its folder outlives the
// process, cleanly ended or not; the next start removes it. Never more than
// the last run's folder stays.
TEST(CarriedSkin, EndedRunsLeaveOneFolderThatTheNextStartRemoves) {
  PrivateTemp temp;
  const std::wstring ours = std::wstring(kSkinFolderPrefix) + L"*";
  ASSERT_EQ(RunChild(L"--attach-and-exit", temp.path()), 0u);
  const auto first = Entries(temp.path(), ours);
  EXPECT_EQ(first.size(), 1u) << "the library is still loaded when the process ends";
  EXPECT_EQ(Entries(temp.path()).size(), first.size()) << "nothing else of ours";

  ASSERT_EQ(RunChild(L"--attach-and-crash", temp.path()), 3u);
  const auto second = Entries(temp.path(), ours);
  EXPECT_EQ(second.size(), 1u) << "the crashed run's start removed the first run's folder";
  EXPECT_NE(second, first);
  ASSERT_EQ(RunChild(L"--attach-and-exit", temp.path()), 0u);
  const auto third = Entries(temp.path(), ours);
  EXPECT_EQ(third.size(), 1u);
  EXPECT_NE(third, second) << "the crashed run's folder went at the next start";
}

// The program prepares the skin's files while it builds its frame: its
// windows are skinned all the same, and it leaves what a run always leaves.
TEST(CarriedSkin, APreparedAttachmentSkinsAndLeavesOneFolder) {
  PrivateTemp temp;
  const std::wstring ours = std::wstring(kSkinFolderPrefix) + L"*";
  ASSERT_EQ(RunChild(L"--attach-and-exit", temp.path()), 0u);
  const auto before = Entries(temp.path(), ours);
  ASSERT_EQ(RunChild(L"--prepare-attach-and-exit", temp.path()), 0u) << "attached, and the window skinned";
  const auto after = Entries(temp.path(), ours);
  EXPECT_EQ(after.size(), 1u) << "the earlier run's folder went, this run's stays";
  EXPECT_NE(after, before);
  EXPECT_EQ(Entries(temp.path()).size(), after.size()) << "nothing else of ours";
}

TEST(CarriedSkin, NothingIsPreparedOnceAttached) {
  ASSERT_TRUE(SkinAttachment());
  const auto folders = OurFolders();
  PrepareSkinAttachment();
  EXPECT_TRUE(SkinAttachment());
  EXPECT_EQ(OurFolders(), folders) << "no second library written or loaded";
}

// Each start clears what crashed runs left; it must never take the folder of
// a run that is starting beside it.
TEST(CarriedSkin, RunsStartingTogetherAllAttach) {
  // Another run's start at the worst moment: the library written, not yet loaded.
  SetWrittenLibraryHook([](const std::wstring&) { RemoveLeftovers(); });
  const CarryResult result = AttachLibraryImage(ReadFile(BinFolder() + L"skin_probe.dll"), Bytes(kDefaultSkinText));
  SetWrittenLibraryHook(nullptr);
  EXPECT_EQ(result.outcome, CarryOutcome::kAttached);

  PrivateTemp temp;
  std::vector<HANDLE> children;
  for (int i = 0; i < 8; ++i) children.push_back(StartChild(L"--attach-and-exit", temp.path()));
  for (std::size_t i = 0; i < children.size(); ++i) EXPECT_EQ(WaitChild(children[i]), 0u) << "run " << i;
  // Each run's folder outlives it; a start clears only ended runs' folders.
  EXPECT_LE(Entries(temp.path()).size(), children.size());
  ASSERT_EQ(RunChild(L"--attach-and-exit", temp.path()), 0u);
  EXPECT_EQ(Entries(temp.path()).size(), 1u) << "a later start removed every ended run's folder";
}

}  // namespace
}  // namespace quorvane::skin

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--prepare-attach-and-exit") {
    // As the program starts: the files are prepared while a first window is made.
    quorvane::PrepareSkinAttachment();
    quorvane::PrepareSkinAttachment();
    const HWND early = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    const bool attached = quorvane::SkinAttachment();
    const auto w = quorvane::skin::testing::BuildToolLikeWindow(1);
    ShowWindow(w.window, SW_SHOWNOACTIVATE);
    const bool skinned =
        quorvane::skin::testing::Hex(quorvane::skin::testing::Rendering::Of(w.window).At(4, 60)) == "#F4F5F7";
    DestroyWindow(w.window);
    DestroyWindow(early);
    return attached && skinned ? 0 : 1;
  }
  if (mode == "--attach-and-exit" || mode == "--attach-and-crash") {
    const bool attached = quorvane::SkinAttachment();
    const auto w = quorvane::skin::testing::BuildToolLikeWindow(1);
    DestroyWindow(w.window);
    if (mode == "--attach-and-crash") TerminateProcess(GetCurrentProcess(), 3);
    return attached ? 0 : 1;
  }
  // A temporary folder of its own, so other tests running beside this one
  // cannot add or remove skin folders under its eyes. Registered before any
  // module is carried, the removal runs after they have been released.
  static std::wstring temp;
  temp = quorvane::skin::TemporaryRoot() + L"quorvane-attach-test-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(temp.c_str(), nullptr);
  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());
  std::atexit([] { RemoveDirectoryW(temp.c_str()); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
