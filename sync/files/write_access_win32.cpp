#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string_view>

#include "sync/files/write_access.h"

namespace quorvane {
namespace {

bool IsTrustedInstaller(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return false;
  const bool is = std::wstring_view(text) == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  LocalFree(text);
  return is;
}

bool Trusted(PSID sid, PSID account, TrustedSet trusted) {
  if ((account != nullptr && EqualSid(sid, account)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
      IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
    return true;
  }
  return trusted == TrustedSet::AdministrationAndSystem &&
         (IsWellKnownSid(sid, WinCreatorOwnerRightsSid) || IsTrustedInstaller(sid));
}

bool IsAllowedAce(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

}  // namespace

// Writing a file's data is adding a file to a folder, and appending adding a
// sub-folder: one mask serves both.
bool OnlyTrustedMayWrite(void* owner, void* dacl, void* account, TrustedSet trusted) {
  // A null DACL lets everyone in.
  if (owner == nullptr || !Trusted(owner, account, trusted) || dacl == nullptr) return false;
  const auto* list = static_cast<const ACL*>(dacl);
  constexpr ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  // Deny entries are not weighed: one can only take a right away, so leaving
  // them out can make the answer stricter, never looser.
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(list), i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || !IsAllowedAce(header->AceType)) continue;
    // Every allowed entry has its mask right after the header; only the plain
    // one is read further, any other that writes is refused.
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWrites) == 0) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    if (!Trusted(const_cast<DWORD*>(&allowed->SidStart), account, trusted)) return false;
  }
  return true;
}

bool OnlyTrustedMayWrite(void* handle, void* account, TrustedSet trusted) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const std::unique_ptr<void, decltype(&LocalFree)> freed(descriptor, LocalFree);
  return OnlyTrustedMayWrite(owner, dacl, account, trusted);
}

}  // namespace quorvane
