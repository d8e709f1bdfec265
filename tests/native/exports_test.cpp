#include "native/fixture.h"

#include "devices/install_state.h"

class ExportsTest : public SimTest {};

TEST_F(ExportsTest, EntryLinesOfTheQueries)
{
    call(InitModule);
    call(IsWin2k);
    call(IsWinMe);
    call(IsWinXp);
    call(IsAdmin);
    call(NeedReboot);
    EXPECT_EQ(trace(), (Lines{"INST2K: initModule", "INST2K: isWin2k", "INST2K: isWinMe",
                              "INST2K: isWinXp", "INST2K: isAdmin", "INST2K: needReboot"}));
}

TEST_F(ExportsTest, SetTargetDirKeepsAtMost255CharactersAndTracesTheResult)
{
    const std::string longFolder = "C:\\" + std::string(297, 'x');
    EXPECT_EQ(call(SetTargetDir, longFolder.c_str()), 0);
    EXPECT_EQ(TargetDir, longFolder.substr(0, 255));
    EXPECT_EQ(trace().back(), "INST2K: setTargetDir - folder:" + longFolder.substr(0, 255));

    EXPECT_EQ(call(SetTargetDir, "C:\\Program Files\\JQ"), 0);
    EXPECT_EQ(TargetDir, "C:\\Program Files\\JQ");

    EXPECT_EQ(call(SetTargetDir, nullptr), 0) << "a null text counts as the empty text";
    EXPECT_EQ(TargetDir, "");
}

TEST_F(ExportsTest, InitModuleClearsTheStateAndNothingElseClearsTheRestartFlag)
{
    call(SetTargetDir, "C:\\JQ");
    RebootRequired = true;
    EXPECT_EQ(call(NeedReboot), 1);
    EXPECT_EQ(call(NeedReboot), 1) << "asking does not clear the flag";
    EXPECT_EQ(call(InitModule), 1);
    EXPECT_EQ(call(NeedReboot), 0);
    EXPECT_EQ(TargetDir, "");
}

TEST_F(ExportsTest, FreshLoadForgetsEverything)
{
    call(InitModule);
    call(SetTargetDir, "C:\\JQ");
    RebootRequired = true;
    moduleLoad();
    EXPECT_EQ(TargetDir, "");
    EXPECT_EQ(call(NeedReboot), 0);
    EXPECT_EQ(call(IsWinXp), 0) << "the OS facts are unread again";
}

TEST_F(ExportsTest, CleaningExportsTurnAwayANonAdministrator)
{
    m.setAdministrator(false);
    m.createKey("HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_2F7A&PID_1A24\\1");
    const auto before = m.allKeys();
    EXPECT_EQ(call(RemoveUsbDevices), 2);
    EXPECT_EQ(call(RemovePedalDevices), 2);
    EXPECT_EQ(call(RemoveAuxDevices), 2);
    EXPECT_EQ(m.allKeys(), before);
    EXPECT_EQ(trace(), (Lines{"INST2K: removeUsbDevices", "DELKEYS: cleanDeviceKeys",
                              "INST2K: removePedalDevices", "DELKEYS: cleanDeviceKeys",
                              "INST2K: removeAuxDevices", "DELKEYS: cleanDeviceKeys"}));
}

TEST_F(ExportsTest, TextArgumentsAreNeverReadAsFormatDirectives)
{
    EXPECT_EQ(call(SetTargetDir, "C:\\100%s"), 0);
    EXPECT_EQ(trace().back(), "INST2K: setTargetDir - folder:C:\\100%s");
}

// An error inside a hook reaches the trace, not the host: the first hook
// then stops the uninstall, the second still answers 0. (A dialog that the
// script leaves unanswered raises one in the simulation.)
TEST_F(ExportsTest, HooksAnswerSafelyWhenTheirWorkRaisesAnError)
{
    m.setAdministrator(false);
    EXPECT_EQ(call(UninstInitialize), -1);
    EXPECT_EQ(trace().back().rfind("  I2K: Error caught at the export - ", 0), 0u) << trace().back();
    m.setAdministrator(true);
    reload();
    EXPECT_EQ(call(UninstUnInitialize), 0);
    EXPECT_EQ(trace().back().rfind("  I2K: Error caught at the export - ", 0), 0u) << trace().back();
}

// An error in NeedReboot still answers whether a restart is needed.
TEST_F(ExportsTest, NeedRebootAnswersTheFlagWhenMemoryRunsOut)
{
    for (const bool flag : {false, true}) {
        RebootRequired = flag;
        m.faults.failAllocation(1);
        EXPECT_EQ(call(NeedReboot), flag ? 1 : 0);
        EXPECT_FALSE(m.faults.allocationFaultPending()) << "the allocation failed";
        m.faults.failAllocation(0);
    }
    EXPECT_EQ(trace().back(), "  I2K: Error caught at the export - std::bad_alloc");
}
