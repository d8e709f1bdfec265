#include "support/osinfo.h"

#include "platform/win32.h"
#include "support/errors.h"
#include "support/handle_owners.h"

#include <vector>

namespace {

OSVERSIONINFOA versionRecord;
bool adminFlag;
bool pending = true;  // nothing read yet, also before the load-time initialisation runs

}  // namespace

void osInfoLoad()
{
    versionRecord = OSVERSIONINFOA{};
    adminFlag = false;
    pending = true;
}

bool initOsInfo()
{
    if (!pending)
        return true;
    pending = false;  // a failed read is not retried

    versionRecord.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    const bool versionRead = GetVersionExA(&versionRecord) != 0;

    if (osIsVersion4()) {
        adminFlag = true;  // the 9x family has no accounts to tell apart
    } else {
        try {
            adminFlag = tokenIsAdmin();
        } catch (const EOSError&) {
            // The group list could not be read: the user does not count as
            // an administrator, and the facts stay read.
            adminFlag = false;
        } catch (...) {
            // Nothing was judged (memory ran out): the next call reads the
            // facts again rather than keep "no administrator" for the load.
            pending = true;
            throw;
        }
    }
    return versionRead;
}

bool osIsVersion4() { return versionRecord.dwMajorVersion == 4; }
bool osIsWinMe() { return versionRecord.dwMajorVersion == 4 && versionRecord.dwMinorVersion == 90; }
bool osIsWin2k() { return versionRecord.dwMajorVersion == 5; }
bool osIsWinXp() { return versionRecord.dwMajorVersion == 5 && versionRecord.dwMinorVersion == 1; }
bool osIsAdmin() { return adminFlag; }

bool tokenIsAdmin()
{
    // Declared in the reverse of their release order: group list, token, SID.
    SidHandle adminSid;
    TokenHandle token;
    std::vector<BYTE> groupBuffer;

    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.receive())) {
        if (GetLastError() != ERROR_NO_TOKEN)
            return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
            return false;
    }

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, adminSid.receive()))
        throw EOSError("the Administrators SID could not be built", GetLastError());

    DWORD needed = 0;
    if (GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(DWORD))
        return false;  // no size to go by: not judged an administrator

    groupBuffer.assign(needed, 0);
    if (!GetTokenInformation(token.get(), TokenGroups, groupBuffer.data(), needed, &needed))
        throw EOSError("the token's group list could not be read", GetLastError());

    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBuffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i)
        if (EqualSid(groups->Groups[i].Sid, adminSid.get()))
            return true;  // enabled, disabled or deny-only alike
    return false;
}
