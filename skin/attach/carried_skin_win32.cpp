// Carrying the skin library inside the executable means it must become a file
// before Windows can load it. That file is the weak spot, so: a fresh folder
// with a random name that only the current user may touch, created exclusively;
// the library written under a random name and read back before loading; the
// folder held open so no other run removes it while the process lives. The
// module stays loaded until the process ends (windows call into it to the
// last), so its file cannot go before then: each start clears the folders of
// runs that have ended, cleanly or not.
#include "skin/attach/carried_skin.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <array>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/win32_handles.h"
#include "skin/attach/skin_attachment.h"
#include "skin/engine/skin_engine_api.h"

namespace quorvane::skin {
namespace {

// A carried library that became a loaded module, and the files behind it.
class CarriedModule {
 public:
  CarriedModule(std::wstring folder, UniqueKernelHandle folderHandle, std::wstring file)
      : folder_(std::move(folder)), folderHandle_(std::move(folderHandle)), file_(std::move(file)) {}
  CarriedModule(CarriedModule&& other) noexcept
      : folder_(std::exchange(other.folder_, {})),
        folderHandle_(std::move(other.folderHandle_)),
        file_(std::exchange(other.file_, {})),
        kept_(std::exchange(other.kept_, false)) {}
  CarriedModule& operator=(CarriedModule&&) = delete;
  CarriedModule(const CarriedModule&) = delete;
  CarriedModule& operator=(const CarriedModule&) = delete;
  // A library that was never loaded goes at once with its folder.
  ~CarriedModule() {
    if (kept_) return;
    if (!file_.empty()) DeleteFileW(file_.c_str());
    folderHandle_.Reset();
    if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
  }

  // Loaded for good: never released, so nothing of the module can be unloaded
  // under a window or a hook that still calls into it.
  void Keep(UniqueModule module) {
    module.Release();
    kept_ = true;
  }
  const std::wstring& file() const { return file_; }

 private:
  std::wstring folder_;
  UniqueKernelHandle folderHandle_;
  std::wstring file_;
  bool kept_ = false;
};

WrittenLibraryHook writtenLibraryHook = nullptr;

// Holds the kept modules' folders until the process ends.
std::vector<CarriedModule>& LoadedModules() {
  static std::vector<CarriedModule> modules;
  return modules;
}

std::wstring RandomName() {
  std::array<unsigned char, 12> bytes{};
  // From advapi32, a known DLL: a statically imported bcrypt.dll would be
  // looked for beside the executable first.
  if (!RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()))) return {};
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name;
  for (unsigned char byte : bytes) {
    name += kHex[byte >> 4];
    name += kHex[byte & 15];
  }
  return name;
}

// "Only me": full access for the current user, nothing inherited from %TEMP%.
UniqueLocalMemory PrivateDescriptor() {
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return {};
  const UniqueKernelHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<std::byte> buffer(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* sidText = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sidText)) return {};
  const UniqueLocalMemory sid(sidText);
  const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sidText) + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return {};
  return UniqueLocalMemory(descriptor);
}

bool WriteAll(HANDLE file, std::span<const std::byte> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

bool SameBytes(HANDLE file, std::span<const std::byte> expected) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || static_cast<unsigned long long>(size.QuadPart) != expected.size()) return false;
  std::vector<std::byte> chunk(1u << 16);
  while (!expected.empty()) {
    const DWORD want = static_cast<DWORD>(std::min(chunk.size(), expected.size()));
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), want, &got, nullptr) || got == 0) return false;
    if (std::memcmp(chunk.data(), expected.data(), got) != 0) return false;
    expected = expected.subspan(got);
  }
  return true;
}

using AttachFunction = std::uint32_t(WINAPI*)(const void*, std::uint32_t, std::uint32_t, std::uint32_t,
                                              std::uint32_t, std::uint32_t);

// The file work's result: the loaded library's entry (outcome kAttached: ready
// to attach), or why there is none.
struct LoadedLibrary {
  CarryOutcome outcome = CarryOutcome::kLoadFailed;
  AttachFunction attach = nullptr;
};

bool IsImage(std::span<const std::byte> library) {
  return library.size() >= 2 && library[0] == std::byte{'M'} && library[1] == std::byte{'Z'};
}

bool IsUsableSkin(std::span<const std::byte> skin) { return !skin.empty() && skin.size() <= UINT32_MAX; }

// Everything up to the library's entry: no window is touched, so any thread may do it.
LoadedLibrary Load(std::span<const std::byte> library) {
  const std::wstring root = TemporaryRoot();
  auto descriptor = PrivateDescriptor();
  if (root.empty() || !descriptor) return {CarryOutcome::kNoPrivateFolder};
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};

  // Held from just after its creation without delete sharing: a starting run's
  // clean-up takes only folders it can open exclusively, so it never takes ours.
  // If one took the folder in the moment before we held it, try another name.
  std::wstring folder;
  UniqueKernelHandle folderHandle;
  for (int attempt = 0; attempt < 4 && folder.empty(); ++attempt) {
    const std::wstring name = RandomName();
    if (name.empty()) break;
    const std::wstring candidate = root + kSkinFolderPrefix + name;
    if (!CreateDirectoryW(candidate.c_str(), &security)) continue;  // fails if it exists
    folderHandle = UniqueKernelHandle(CreateFileW(candidate.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folderHandle) folder = candidate;
  }
  if (folder.empty()) return {CarryOutcome::kNoPrivateFolder};
  const std::wstring fileName = RandomName();
  CarriedModule carried(folder, std::move(folderHandle), fileName.empty() ? L"" : folder + L"\\" + fileName + L".dll");
  if (carried.file().empty()) return {CarryOutcome::kWriteFailed};

  {
    const UniqueKernelHandle out(CreateFileW(carried.file().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out || !WriteAll(out.Get(), library)) return {CarryOutcome::kWriteFailed};
  }
  if (writtenLibraryHook) writtenLibraryHook(carried.file());
  // Read back through a handle that denies writers until the image is mapped.
  UniqueKernelHandle check(CreateFileW(carried.file().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!check || !SameBytes(check.Get(), library)) return {CarryOutcome::kBytesDiffer};
  UniqueModule module(LoadLibraryExW(carried.file().c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  check.Reset();
  if (!module) return {CarryOutcome::kLoadFailed};

  const FARPROC found = GetProcAddress(module.Get(), kAttachExportName);
  if (!found) return {CarryOutcome::kNoExport};
  carried.Keep(std::move(module));
  {
    static std::mutex modulesLock;
    const std::lock_guard lock(modulesLock);
    LoadedModules().push_back(std::move(carried));
  }
  return {CarryOutcome::kAttached, reinterpret_cast<AttachFunction>(reinterpret_cast<void (*)()>(found))};
}

// On the thread that will own the windows: the hook the library sets is that thread's.
CarryResult CallAttach(const LoadedLibrary& loaded, std::span<const std::byte> skin) {
  if (loaded.outcome != CarryOutcome::kAttached) return {loaded.outcome};
  const std::uint32_t result = loaded.attach(skin.data(), static_cast<std::uint32_t>(skin.size()), kDefaultSkinFlags,
                                             kDefaultSkinAccent, kDefaultSkinLightness, kSkinInterfaceVersion);
  return {result == kSkinResultAttached ? CarryOutcome::kAttached : CarryOutcome::kRefused, result};
}

CarryResult Attach(std::span<const std::byte> library, std::span<const std::byte> skin) {
  if (!IsImage(library)) return {CarryOutcome::kNoCarriedLibrary};
  if (!IsUsableSkin(skin)) return {CarryOutcome::kNoCarriedSkin};
  return CallAttach(Load(library), skin);
}

// The program's own library, from clearing the ended runs' folders to its entry.
LoadedLibrary LoadCarried() noexcept {
  try {
    RemoveLeftovers();
    const auto library = CarriedResource(L"CarriedSkinLibrary");
    if (!IsImage(library)) return {CarryOutcome::kNoCarriedLibrary};
    if (!IsUsableSkin(CarriedResource(L"CarriedSkin"))) return {CarryOutcome::kNoCarriedSkin};
    return Load(library);
  } catch (...) {
    return {CarryOutcome::kLoadFailed};
  }
}

std::future<LoadedLibrary>& Preparation() {
  static std::future<LoadedLibrary> preparation;
  return preparation;
}

// Set once SkinAttachment has begun: from then on nothing is prepared again.
bool attachmentBegun = false;

// A live run holds its folder open without delete sharing, so asking for
// delete access fails then; and while we hold the folder unshared, no run can
// start using it. The listing goes through that same handle for that reason.
void RemoveFolder(const std::wstring& folder) {
  const UniqueKernelHandle held(CreateFileW(folder.c_str(), DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
  if (!held) return;
  std::vector<std::uint64_t> buffer(2048);  // 16 KiB, aligned for the entries
  const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
  FILE_INFO_BY_HANDLE_CLASS listing = FileFullDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(held.Get(), listing, buffer.data(), bytes)) {
    listing = FileFullDirectoryInfo;
    auto* at = reinterpret_cast<const std::byte*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
      if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
        DeleteFileW((folder + L"\\" + name).c_str());
      }
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  SetFileInformationByHandle(held.Get(), FileDispositionInfo, &dispose, sizeof dispose);
}

}  // namespace

std::wstring TemporaryRoot() {
  std::array<wchar_t, MAX_PATH + 2> buffer{};
  const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return {};
  std::wstring root(buffer.data(), length);
  if (root.back() != L'\\') root += L'\\';
  return root;
}

CarryResult AttachLibraryImage(std::span<const std::byte> library, std::span<const std::byte> skin) noexcept {
  try {
    return Attach(library, skin);
  } catch (...) {
    return {CarryOutcome::kLoadFailed};
  }
}

void SetWrittenLibraryHook(WrittenLibraryHook hook) noexcept { writtenLibraryHook = hook; }

std::span<const std::byte> CarriedResource(const wchar_t* name) noexcept {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(self, name, RT_RCDATA);
  if (!resource) return {};
  HGLOBAL loaded = LoadResource(self, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return {};
  return {static_cast<const std::byte*>(bytes), SizeofResource(self, resource)};
}

void RemoveLeftovers() noexcept {
  try {
    const std::wstring root = TemporaryRoot();
    if (root.empty()) return;
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(FindFirstFileW((root + kSkinFolderPrefix + L"*").c_str(), &entry));
    if (!find) return;
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      const std::wstring folder = root + entry.cFileName;
      // A link is removed itself, never followed.
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryW(folder.c_str());
      } else {
        RemoveFolder(folder);
      }
    } while (FindNextFileW(find.Get(), &entry));
  } catch (...) {
  }
}

}  // namespace quorvane::skin

namespace quorvane {

void PrepareSkinAttachment() {
  auto& preparation = skin::Preparation();
  if (skin::attachmentBegun || preparation.valid()) return;
  try {
    preparation = std::async(std::launch::async, skin::LoadCarried);
  } catch (...) {
    // No thread: SkinAttachment does the work itself.
  }
}

bool SkinAttachment() {
  static const bool attached = [] {
    skin::attachmentBegun = true;
    auto& preparation = skin::Preparation();
    const skin::LoadedLibrary loaded = preparation.valid() ? preparation.get() : skin::LoadCarried();
    try {
      return skin::CallAttach(loaded, skin::CarriedResource(L"CarriedSkin")).outcome == skin::CarryOutcome::kAttached;
    } catch (...) {
      return false;
    }
  }();
  return attached;
}

}  // namespace quorvane
