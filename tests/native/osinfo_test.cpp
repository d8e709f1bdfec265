#include "native/fixture.h"

#include "support/errors.h"
#include "support/handle_owners.h"
#include "support/osinfo.h"

using sim::WindowsVersion;

class OsInfoTest : public SimTest {
protected:
    struct Answers {
        LONG win2k, winMe, winXp, admin;
    };
    Answers answersOn(WindowsVersion v)
    {
        m.setWindows(v);
        reload();
        EXPECT_EQ(call(InitModule), 1);
        return {call(IsWin2k), call(IsWinMe), call(IsWinXp), call(IsAdmin)};
    }
};

// The rules go by the version numbers alone: NT 4.0, of the NT platform, has
// the major version 4 and so goes with the 9x family, and 5.2 is "Win2k" but
// not XP. Each Windows is asked for a user who is not an administrator, and
// an administrator's cleaning shows which family's road it takes.
TEST_F(OsInfoTest, VersionAnswersAndRoadForEachWindows)
{
    struct Row {
        WindowsVersion v;
        LONG win2k, winMe, winXp, admin;
        const char* road;
    } rows[] = {
        {WindowsVersion::Win95, 0, 0, 0, 1, "  Deletinge W9x Enum Keys"},
        {WindowsVersion::Win98, 0, 0, 0, 1, "  Deletinge W9x Enum Keys"},
        {WindowsVersion::WinMe, 0, 1, 0, 1, "  Deletinge W9x Enum Keys"},
        {WindowsVersion::NT4, 0, 0, 0, 1, "  Deletinge W9x Enum Keys"},
        {WindowsVersion::Win2000, 1, 0, 0, 0, "  Deletinge W2k Enum Keys"},
        {WindowsVersion::WinXP, 1, 0, 1, 0, "  Deletinge W2k Enum Keys"},
        {WindowsVersion::Server2003, 1, 0, 0, 0, "  Deletinge W2k Enum Keys"},
        {WindowsVersion::Vista, 0, 0, 0, 0, "  Deletinge W2k Enum Keys"},
        {WindowsVersion::Win7, 0, 0, 0, 0, "  Deletinge W2k Enum Keys"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.v));
        m.setAdministrator(false);
        Answers a = answersOn(r.v);
        EXPECT_EQ(a.win2k, r.win2k);
        EXPECT_EQ(a.winMe, r.winMe);
        EXPECT_EQ(a.winXp, r.winXp);
        EXPECT_EQ(a.admin, r.admin);
        m.setAdministrator(true);  // the NT family cleans for an administrator only
        reload();
        clearTrace();
        call(RemoveUsbDevices);
        const std::vector<std::string> lines = trace();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], r.road);
    }
}

TEST_F(OsInfoTest, NineXFamilyCountsEveryUserAsAdministratorWithoutAskingTheToken)
{
    m.setAdministrator(false);
    for (WindowsVersion v : {WindowsVersion::Win95, WindowsVersion::Win98, WindowsVersion::WinMe}) {
        m.calls.clear();
        EXPECT_EQ(answersOn(v).admin, 1);
        EXPECT_EQ(m.callCount("OpenThreadToken"), 0);
        EXPECT_EQ(m.callCount("OpenProcessToken"), 0);
    }
    EXPECT_EQ(answersOn(WindowsVersion::WinXP).admin, 0);
    EXPECT_EQ(answersOn(WindowsVersion::Win7).admin, 0);
}

TEST_F(OsInfoTest, QueriesAnswerNoUntilTheFactsAreRead)
{
    EXPECT_EQ(call(IsWinXp), 0);
    EXPECT_EQ(call(IsWin2k), 0);
    EXPECT_FALSE(osIsAdmin());
    EXPECT_EQ(m.callCount("GetVersionExA"), 0) << "the queries must not read the facts";
    EXPECT_EQ(call(IsAdmin), 1);  // IsAdmin reads them
    EXPECT_EQ(call(IsWinXp), 1);

    m.setWindows(WindowsVersion::WinMe);
    reload();
    EXPECT_FALSE(osIsAdmin()) << "a load forgets the facts read before it";
    EXPECT_FALSE(osIsVersion4());
    EXPECT_EQ(call(IsWinMe), 0);
    EXPECT_EQ(call(IsAdmin), 1);
    EXPECT_TRUE(osIsVersion4());
    EXPECT_EQ(call(IsWinMe), 1);
}

TEST_F(OsInfoTest, FactsAreReadOnceEvenWhenTheReadFailed)
{
    m.faults.fail("GetVersionExA", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(call(InitModule), 0);
    EXPECT_EQ(call(IsWin2k), 0);
    EXPECT_EQ(call(IsWinXp), 0);
    // Major version 0 is not 4: the token decides, and this user is an administrator.
    EXPECT_EQ(call(IsAdmin), 1);
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(m.callCount("GetVersionExA"), 1);

    // IsAdmin answers no when its own read failed, and yes from then on.
    reload();
    EXPECT_EQ(call(IsAdmin), 0);
    EXPECT_EQ(call(IsAdmin), 1);
}

// Asked for querying only, the thread's token as the process itself sees
// it; everything built is released, the SID last.
TEST_F(OsInfoTest, TokenIsOpenedForQueryingAndReleasedBeforeTheSid)
{
    m.security.threadToken = sim::Token{{{sim::AdministratorsSid}}};
    EXPECT_TRUE(tokenIsAdmin());
    const auto thread = m.callsOf("OpenThreadToken");
    ASSERT_EQ(thread.size(), 1u);
    EXPECT_EQ(thread[0].flags, static_cast<DWORD>(TOKEN_QUERY));
    EXPECT_TRUE(thread[0].option);
    std::vector<std::string> order;
    for (const sim::CallRecord& r : m.calls)
        order.push_back(r.call);
    // The groups' size first (told by the error), then the groups
    // themselves, then the match.
    EXPECT_EQ(order, (std::vector<std::string>{"GetCurrentThread", "OpenThreadToken", "GetCurrentThread",
                                               "AllocateAndInitializeSid", "GetTokenInformation",
                                               "GetLastError", "GetTokenInformation", "EqualSid",
                                               "CloseHandle", "FreeSid"}));
    const auto info = m.callsOf("GetTokenInformation");
    ASSERT_EQ(info.size(), 2u);
    EXPECT_FALSE(info[0].result);
    EXPECT_EQ(info[0].error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_TRUE(info[1].result);
    EXPECT_TRUE(m.callsOf("EqualSid").at(0).result);
    for (const sim::CallRecord& r : m.calls)
        EXPECT_TRUE(r.returned) << r.call;

    m.calls.clear();
    m.security.threadToken.reset();
    EXPECT_TRUE(tokenIsAdmin());
    const auto process = m.callsOf("OpenProcessToken");
    ASSERT_EQ(process.size(), 1u);
    EXPECT_EQ(process[0].flags, static_cast<DWORD>(TOKEN_QUERY));
    EXPECT_EQ(m.calls.back().call, "FreeSid");
}

TEST_F(OsInfoTest, AdministratorsGroupCountsWhateverItsAttributes)
{
    for (DWORD attributes : {DWORD(SE_GROUP_ENABLED), DWORD(0), DWORD(SE_GROUP_USE_FOR_DENY_ONLY)}) {
        m.setAdministrator(false);
        m.security.processToken.groups.push_back({sim::AdministratorsSid, attributes});
        EXPECT_TRUE(tokenIsAdmin()) << attributes;
    }
    m.setAdministrator(false);
    m.security.processToken.groups.push_back({"S-1-5-32-545", SE_GROUP_ENABLED});
    EXPECT_FALSE(tokenIsAdmin());
    m.security.processToken.groups.clear();
    EXPECT_FALSE(tokenIsAdmin());
}

TEST_F(OsInfoTest, ThreadTokenComesFirstAndOnlyNoTokenFallsBackToTheProcess)
{
    m.setAdministrator(false);
    m.security.threadToken = sim::Token{{{sim::AdministratorsSid}}};
    EXPECT_TRUE(tokenIsAdmin()) << "an impersonating thread is judged by its own token";

    m.setAdministrator(true);
    m.security.threadToken = sim::Token{{{sim::UsersSid}}};
    EXPECT_FALSE(tokenIsAdmin());

    m.security.threadToken.reset();  // ERROR_NO_TOKEN: the process token decides
    EXPECT_TRUE(tokenIsAdmin());

    m.security.threadTokenError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(tokenIsAdmin());
    EXPECT_EQ(m.callCount("OpenProcessToken"), 1) << "only the earlier call opened it";

    m.security.threadTokenError = 0;
    m.security.processTokenError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(tokenIsAdmin());
}

TEST_F(OsInfoTest, FailuresInsideTheTokenCheckLeaveANonAdministratorAndCloseEverything)
{
    // The fixture checks afterwards that no token or SID is left open.
    m.faults.fail("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_THROW(tokenIsAdmin(), EOSError);
    m.faults.clear();

    m.faults.fail("GetTokenInformation", ERROR_ACCESS_DENIED, 2);
    EXPECT_THROW(tokenIsAdmin(), EOSError);
    m.faults.clear();

    m.faults.fail("GetTokenInformation", ERROR_ACCESS_DENIED, 1);  // the size query
    EXPECT_FALSE(tokenIsAdmin());
    m.faults.clear();

    // Through the export: the error does not escape, the version stands, the
    // user is no administrator, and later reads answer from the same facts.
    m.faults.fail("GetTokenInformation", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(call(IsAdmin), 0);
    EXPECT_EQ(call(IsWinXp), 1);
    EXPECT_EQ(m.callCount("GetVersionExA"), 1);
}

// A handle owner handed out for a new handle closes the one it held.
TEST_F(OsInfoTest, OwnerClosesItsHandleBeforeReceivingAnother)
{
    TokenHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    EXPECT_EQ(m.openHandleCount(sim::HandleKind::Token), 1u);
}

// The numbers beside those of the machines above, where a rule could be
// read too loosely: Windows Me is 4.90 and XP 5.1 only with their major
// version; the JoystickSettings key is DINPUT.DLL's on major version 5
// only. The platform id decides one thing alone: on the NT platform, NT 4.0
// included, every key is opened as a link would be seen, itself; on the 9x
// platform the options stay zero.
TEST_F(OsInfoTest, BoundaryVersionsAndThePlatformId)
{
    const DWORD Nt = VER_PLATFORM_WIN32_NT, W9x = VER_PLATFORM_WIN32_WINDOWS;
    struct Row {
        DWORD major, minor, platform;
        LONG win2k, winMe, winXp, admin;
        bool nineXRoad, dinputSettings;
    } rows[] = {
        {3, 51, Nt, 0, 0, 0, 0, false, false},  {4, 0, Nt, 0, 0, 0, 1, true, false},
        {4, 0, W9x, 0, 0, 0, 1, true, false},   {4, 1, W9x, 0, 0, 0, 1, true, false},
        {4, 89, W9x, 0, 0, 0, 1, true, false},  {4, 91, W9x, 0, 0, 0, 1, true, false},
        {5, 0, Nt, 1, 0, 0, 0, false, true},    {5, 2, Nt, 1, 0, 0, 0, false, true},
        {5, 90, Nt, 1, 0, 0, 0, false, true},   {6, 0, Nt, 0, 0, 0, 0, false, false},
        {6, 1, Nt, 0, 0, 0, 0, false, false},   {10, 0, Nt, 0, 0, 0, 0, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.major) + "." + std::to_string(r.minor) +
                     (r.platform == Nt ? " NT" : " 9x"));
        m.reset();
        m.setWindows(r.platform == Nt ? WindowsVersion::WinXP : WindowsVersion::Win98);
        m.os.version.dwMajorVersion = r.major;
        m.os.version.dwMinorVersion = r.minor;
        m.setAdministrator(false);
        reload();
        EXPECT_EQ(call(IsAdmin), r.admin);
        EXPECT_EQ(call(IsWin2k), r.win2k);
        EXPECT_EQ(call(IsWinMe), r.winMe);
        EXPECT_EQ(call(IsWinXp), r.winXp);

        m.setAdministrator(true);
        reload();
        clearTrace();
        m.calls.clear();
        call(RemoveUsbDevices);
        const std::vector<std::string> lines = trace();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[2], r.nineXRoad ? "  Deletinge W9x Enum Keys" : "  Deletinge W2k Enum Keys");
        bool dinput = false;
        const auto opens = m.callsOf("RegOpenKeyExA");
        ASSERT_FALSE(opens.empty());
        for (const sim::CallRecord& open : opens) {
            dinput = dinput || open.text.find("DINPUT.DLL") != std::string::npos;
            EXPECT_EQ(open.size, r.platform == Nt ? DWORD(REG_OPTION_OPEN_LINK) : 0u) << open.text;
        }
        EXPECT_EQ(dinput, r.dinputSettings);
    }
}
