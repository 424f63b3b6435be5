// Whether a file or folder is kept from other accounts: owned by a trusted
// account, with no entry of its access list that lets anyone else write to it.
// Windows only: POSIX callers read the owner and mode themselves.
#pragma once

namespace quorvane {

// Who may own the object and hold write entries in its access list.
enum class TrustedSet {
  // SYSTEM, Administrators and the account itself.
  Administration,
  // Those, OWNER RIGHTS (the owner, checked apart) and TrustedInstaller: as a
  // folder Windows made for itself carries them.
  AdministrationAndSystem,
};

// `handle` is a HANDLE opened with READ_CONTROL; `account` the SID (a PSID)
// of the account the process runs as, or null to trust no account of its own.
bool OnlyTrustedMayWrite(void* handle, void* account, TrustedSet trusted);

// The same over a security descriptor's owner (a PSID) and DACL (a PACL), as
// read from an object.
bool OnlyTrustedMayWrite(void* owner, void* dacl, void* account, TrustedSet trusted);

}  // namespace quorvane
