// The OS facts: what the module reads of the version and the caller's token
// is what the platform itself reports.
#include "contract/contract_fixture.h"

#include "host/exports.h"
#include "host/module_load.h"
#include "support/osinfo.h"

class OsFactsContract : public ContractTest {};

TEST_F(OsFactsContract, VersionQueriesFollowWhatThePlatformReports)
{
    moduleLoad();
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));

    EXPECT_FALSE(osIsWin2k()) << "nothing is read before the first initOsInfo";
    EXPECT_EQ(InitModule(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(osIsVersion4(), version.dwMajorVersion == 4);
    EXPECT_EQ(osIsWin2k(), version.dwMajorVersion == 5);
    EXPECT_EQ(osIsWinXp(), version.dwMajorVersion == 5 && version.dwMinorVersion == 1);
    EXPECT_EQ(osIsWinMe(), version.dwMajorVersion == 4 && version.dwMinorVersion == 90);
}

// Both the simulated machine and Wine's user belong to the Administrators
// group; the check must find it in the real token's group list and close
// what it opened (the simulator counts that at the end of the case).
TEST_F(OsFactsContract, AdministratorIsFoundInTheTokensGroups)
{
    moduleLoad();
    EXPECT_TRUE(tokenIsAdmin());
    EXPECT_EQ(IsAdmin(nullptr, nullptr, nullptr), 1);
}
