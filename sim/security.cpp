// Access tokens and SIDs, laid out in memory as Windows lays them out.
#include "sim_internal.h"

#include <cstring>
#include <sstream>

using sim::machine;

namespace {

// A SID as bytes: revision, sub-authority count, six authority bytes, then
// the sub-authorities as 32-bit numbers.
std::vector<BYTE> sidBytes(const BYTE authority[6], const std::vector<DWORD>& subs)
{
    std::vector<BYTE> bytes(8 + 4 * subs.size());
    bytes[0] = 1;
    bytes[1] = static_cast<BYTE>(subs.size());
    std::memcpy(&bytes[2], authority, 6);
    for (size_t i = 0; i < subs.size(); ++i)
        std::memcpy(&bytes[8 + 4 * i], &subs[i], 4);
    return bytes;
}

// "S-1-5-32-544" as bytes.
std::vector<BYTE> parseSid(const std::string& text)
{
    std::vector<DWORD> numbers;
    std::stringstream in(text.substr(2));
    std::string part;
    while (std::getline(in, part, '-'))
        numbers.push_back(static_cast<DWORD>(std::stoul(part)));
    BYTE authority[6] = {0, 0, 0, 0, 0, static_cast<BYTE>(numbers.at(1))};
    return sidBytes(authority, std::vector<DWORD>(numbers.begin() + 2, numbers.end()));
}

size_t sidLength(PSID sid) { return 8 + 4 * static_cast<const BYTE*>(sid)[1]; }

// A token handle carries the rights it was opened with: reading the groups
// needs TOKEN_QUERY.
struct OpenedToken {
    sim::Token token;
    DWORD access = 0;
};

BOOL openToken(const sim::Token& token, DWORD access, PHANDLE out)
{
    *out = machine().addHandle(sim::HandleKind::Token, "token",
                               std::make_shared<OpenedToken>(OpenedToken{token, access}));
    return TRUE;
}

}  // namespace

BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf,
                            PHANDLE TokenHandle)
{
    const sim::Answer outcome{__func__};
    sim::CallRecord record{"OpenThreadToken", nullptr, DesiredAccess};
    record.option = OpenAsSelf;
    if (sim::failWithInjectedFault(std::move(record)))
        return outcome(FALSE);
    sim::Machine& m = machine();
    if (!TokenHandle || ThreadHandle != GetCurrentThread())
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    if (m.security.threadTokenError)
        return outcome(sim::failWith(m.security.threadTokenError, FALSE));
    if (!m.security.threadToken)
        return outcome(sim::failWith(ERROR_NO_TOKEN, FALSE));
    return outcome(openToken(*m.security.threadToken, DesiredAccess, TokenHandle));
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault(sim::CallRecord{"OpenProcessToken", nullptr, DesiredAccess}))
        return outcome(FALSE);
    sim::Machine& m = machine();
    if (!TokenHandle || ProcessHandle != GetCurrentProcess())
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    if (m.security.processTokenError)
        return outcome(sim::failWith(m.security.processTokenError, FALSE));
    return outcome(openToken(m.security.processToken, DesiredAccess, TokenHandle));
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS infoClass,
                                LPVOID info, DWORD infoLength, PDWORD returnLength)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("GetTokenInformation"))
        return outcome(FALSE);
    sim::Handle* h = machine().findHandle(TokenHandle, sim::HandleKind::Token);
    if (!h || !returnLength)
        return outcome(sim::failWith(ERROR_INVALID_HANDLE, FALSE));
    if (infoClass != TokenGroups)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));
    if (!info && infoLength != 0)
        return outcome(sim::failWith(ERROR_NOACCESS, FALSE));  // Windows probes the buffer it is told of
    const auto& opened = *static_cast<const OpenedToken*>(h->payload.get());
    if (!(opened.access & TOKEN_QUERY))
        return outcome(sim::failWith(ERROR_ACCESS_DENIED, FALSE));
    const sim::Token& token = opened.token;

    std::vector<std::vector<BYTE>> sids;
    for (const sim::TokenGroup& g : token.groups)
        sids.push_back(parseSid(g.sid));
    const size_t header = offsetof(TOKEN_GROUPS, Groups) + sids.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t needed = header;
    for (const auto& s : sids)
        needed += s.size();
    *returnLength = static_cast<DWORD>(needed);
    if (!info || infoLength < needed)
        return outcome(sim::failWith(ERROR_INSUFFICIENT_BUFFER, FALSE));

    auto* groups = static_cast<TOKEN_GROUPS*>(info);
    groups->GroupCount = static_cast<DWORD>(sids.size());
    BYTE* next = static_cast<BYTE*>(info) + header;
    for (size_t i = 0; i < sids.size(); ++i) {
        std::memcpy(next, sids[i].data(), sids[i].size());
        groups->Groups[i].Sid = next;
        groups->Groups[i].Attributes = token.groups[i].attributes;
        next += sids[i].size();
    }
    return outcome(TRUE);
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0,
                                     DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                     DWORD s7, PSID* pSid)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault(sim::CallRecord{"AllocateAndInitializeSid", nullptr, count}))
        return outcome(FALSE);
    if (!authority || !pSid || count > 8)
        return outcome(sim::failWith(ERROR_INVALID_PARAMETER, FALSE));
    const DWORD all[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
    auto bytes = std::make_shared<std::vector<BYTE>>(
        sidBytes(authority->Value, std::vector<DWORD>(all, all + count)));
    *pSid = bytes->data();
    machine().addHandle(sim::HandleKind::Sid, "SID", bytes, *pSid);
    return outcome(TRUE);
}

BOOL WINAPI EqualSid(PSID a, PSID b)
{
    const sim::Answer outcome{__func__};
    if (!a || !b)
        return outcome(FALSE);
    size_t n = sidLength(a);
    return outcome(n == sidLength(b) && std::memcmp(a, b, n) == 0);
}

PVOID WINAPI FreeSid(PSID pSid)
{
    const sim::Answer outcome{__func__};
    machine().record(sim::CallRecord{"FreeSid"});
    // Windows returns NULL on success and the SID when it was not freed.
    return outcome(machine().closeHandle(pSid, sim::HandleKind::Sid) ? nullptr : pSid);
}
