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
        m.callCounts.clear();
        EXPECT_EQ(answersOn(v).admin, 1);
        EXPECT_EQ(m.callCounts.count("OpenThreadToken"), 0u);
        EXPECT_EQ(m.callCounts.count("OpenProcessToken"), 0u);
    }
    EXPECT_EQ(answersOn(WindowsVersion::WinXP).admin, 0);
    EXPECT_EQ(answersOn(WindowsVersion::Win7).admin, 0);
}

TEST_F(OsInfoTest, QueriesAnswerNoUntilTheFactsAreRead)
{
    EXPECT_EQ(call(IsWinXp), 0);
    EXPECT_EQ(call(IsWin2k), 0);
    EXPECT_FALSE(osIsAdmin());
    EXPECT_EQ(m.callCounts.count("GetVersionExA"), 0u) << "the queries must not read the facts";
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
    m.failCall("GetVersionExA", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(call(InitModule), 0);
    EXPECT_EQ(call(IsWin2k), 0);
    EXPECT_EQ(call(IsWinXp), 0);
    // Major version 0 is not 4: the token decides, and this user is an administrator.
    EXPECT_EQ(call(IsAdmin), 1);
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(m.callCounts["GetVersionExA"], 1);

    // IsAdmin answers no when its own read failed, and yes from then on.
    reload();
    EXPECT_EQ(call(IsAdmin), 0);
    EXPECT_EQ(call(IsAdmin), 1);
}

// Asked for querying only, the thread's token as the process itself sees
// it; everything built is released, the SID last.
TEST_F(OsInfoTest, TokenIsOpenedForQueryingAndReleasedBeforeTheSid)
{
    m.threadToken = sim::Token{{{sim::AdministratorsSid}}};
    EXPECT_TRUE(tokenIsAdmin());
    const auto thread = m.callsOf("OpenThreadToken");
    ASSERT_EQ(thread.size(), 1u);
    EXPECT_EQ(thread[0].flags, static_cast<DWORD>(TOKEN_QUERY));
    EXPECT_TRUE(thread[0].option);
    std::vector<std::string> order;
    for (const sim::CallRecord& r : m.calls)
        order.push_back(r.call);
    EXPECT_EQ(order, (std::vector<std::string>{"OpenThreadToken", "AllocateAndInitializeSid",
                                               "CloseHandle", "FreeSid"}));

    m.calls.clear();
    m.threadToken.reset();
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
        m.processToken.groups.push_back({sim::AdministratorsSid, attributes});
        EXPECT_TRUE(tokenIsAdmin()) << attributes;
    }
    m.setAdministrator(false);
    m.processToken.groups.push_back({"S-1-5-32-545", SE_GROUP_ENABLED});
    EXPECT_FALSE(tokenIsAdmin());
    m.processToken.groups.clear();
    EXPECT_FALSE(tokenIsAdmin());
}

TEST_F(OsInfoTest, ThreadTokenComesFirstAndOnlyNoTokenFallsBackToTheProcess)
{
    m.setAdministrator(false);
    m.threadToken = sim::Token{{{sim::AdministratorsSid}}};
    EXPECT_TRUE(tokenIsAdmin()) << "an impersonating thread is judged by its own token";

    m.setAdministrator(true);
    m.threadToken = sim::Token{{{sim::UsersSid}}};
    EXPECT_FALSE(tokenIsAdmin());

    m.threadToken.reset();  // ERROR_NO_TOKEN: the process token decides
    EXPECT_TRUE(tokenIsAdmin());

    m.threadTokenError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(tokenIsAdmin());
    EXPECT_EQ(m.callCounts["OpenProcessToken"], 1) << "only the earlier call opened it";

    m.threadTokenError = 0;
    m.processTokenError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(tokenIsAdmin());
}

TEST_F(OsInfoTest, FailuresInsideTheTokenCheckLeaveANonAdministratorAndCloseEverything)
{
    // The fixture checks afterwards that no token or SID is left open.
    m.failCall("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_THROW(tokenIsAdmin(), EOSError);
    m.clearFaults();

    m.failCall("GetTokenInformation", ERROR_ACCESS_DENIED, 2);
    EXPECT_THROW(tokenIsAdmin(), EOSError);
    m.clearFaults();

    m.failCall("GetTokenInformation", ERROR_ACCESS_DENIED, 1);  // the size query
    EXPECT_FALSE(tokenIsAdmin());
    m.clearFaults();

    // Through the export: the error does not escape, the version stands, the
    // user is no administrator, and later reads answer from the same facts.
    m.failCall("GetTokenInformation", ERROR_ACCESS_DENIED, 2);
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(call(IsAdmin), 0);
    EXPECT_EQ(call(IsWinXp), 1);
    EXPECT_EQ(m.callCounts["GetVersionExA"], 1);
}

// A handle owner handed out for a new handle closes the one it held.
TEST_F(OsInfoTest, OwnerClosesItsHandleBeforeReceivingAnother)
{
    TokenHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()));
    EXPECT_EQ(m.openHandleCount(sim::HandleKind::Token), 1u);
}
