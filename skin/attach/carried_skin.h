// The steps behind SkinAttachment, open to the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quorvane::skin {

enum class CarryOutcome {
  kAttached,
  kNoCarriedLibrary,
  kNoCarriedSkin,
  kNoPrivateFolder,
  kWriteFailed,
  kBytesDiffer,
  kLoadFailed,
  kNoExport,
  kRefused,  // Skin_AttachRes gave a non-zero result
};

// Every temporary folder of ours starts with this, so a later start can find
// what a crashed run left behind.
inline constexpr wchar_t kSkinFolderPrefix[] = L"quorvane-skin-";

struct CarryResult {
  CarryOutcome outcome = CarryOutcome::kNoCarriedLibrary;
  std::uint32_t attachResult = 0;  // what Skin_AttachRes gave, when it was called
};

// Writes `library` to a fresh private folder, loads it and calls its
// Skin_AttachRes with `skin`; a loaded module stays loaded until the process
// ends, and its file is deleted then. Never throws.
CarryResult AttachLibraryImage(std::span<const std::byte> library, std::span<const std::byte> skin) noexcept;

// A read-only RCDATA resource of the executable, empty when it is not there.
std::span<const std::byte> CarriedResource(const wchar_t* name) noexcept;

// Runs between writing the library's file and reading it back, so a test can
// play someone who changes the file in that moment. Null outside tests.
using WrittenLibraryHook = void (*)(const std::wstring& file);
void SetWrittenLibraryHook(WrittenLibraryHook hook) noexcept;

// Removes the folders of earlier runs that are no longer in use.
void RemoveLeftovers() noexcept;

// The folder that holds our temporary folders (the user's temporary folder).
std::wstring TemporaryRoot();

}  // namespace quorvane::skin
