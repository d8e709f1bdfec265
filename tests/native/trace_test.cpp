#include "native/fixture.h"

class TraceTest : public SimTest {};

TEST_F(TraceTest, SwitchOffWritesNothingWhateverTheArguments)
{
    TraceEnabled = false;
    TraceMsg("INST2K: isWin2k");
    TraceFmt("%s %d %x", "text", -5, 259);
    TraceFmt("%s", 42);  // mismatched, but never looked at while off
    EXPECT_TRUE(m.debugger.texts.empty());
}

TEST_F(TraceTest, MessageIsTheTextAndOneLineFeed)
{
    TraceMsg("INST2K: isWin2k");
    ASSERT_EQ(m.debugger.texts.size(), 1u);
    EXPECT_EQ(m.debugger.texts[0], "INST2K: isWin2k\n");
}

TEST_F(TraceTest, MessageWithPercentIsWrittenUnchanged)
{
    TraceMsg("100%s sure");
    EXPECT_EQ(m.debugger.texts.at(0), "100%s sure\n");
}

TEST_F(TraceTest, DirectivesFormatIntegersAndTexts)
{
    TraceFmt("  I2K: EnumDevInfo Error - tVal:%x", 259);
    TraceFmt("  I2K: EnumDevInfo Error - tVal:%x", -1);
    TraceFmt("%d|%d|%x|%d", -5, 0, 0, 2147483647);
    TraceFmt("%x", static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    TraceFmt("%d", -2147483647 - 1);
    TraceFmt("INST2K: setPathString - folder: \"%s\"  file: \"%s\"", "C:\\x", "A.INF");
    EXPECT_EQ(m.debugger.texts, (Lines{"  I2K: EnumDevInfo Error - tVal:103\n",
                                    "  I2K: EnumDevInfo Error - tVal:FFFFFFFF\n",
                                    "-5|0|0|2147483647\n", "E000020B\n", "-2147483648\n",
                                    "INST2K: setPathString - folder: \"C:\\x\"  file: \"A.INF\"\n"}));
}

TEST_F(TraceTest, LongTextArgumentIsWrittenWhole)
{
    const std::string id(255, 'A');
    TraceFmt("DELKEYS: checkDeviceId:%s", id);
    EXPECT_EQ(m.debugger.texts.at(0), "DELKEYS: checkDeviceId:" + id + "\n");
}

TEST_F(TraceTest, OtherPercentSequencesAreCopied)
{
    TraceFmt("50% of %q and %");
    EXPECT_EQ(m.debugger.texts.at(0), "50% of %q and %\n");
}

TEST_F(TraceTest, MismatchedArgumentsAreTheCallersFault)
{
    EXPECT_THROW(TraceFmt("%s"), ETraceFormatError);
    EXPECT_THROW(TraceFmt("%d", "text"), ETraceFormatError);
    EXPECT_THROW(TraceFmt("%s", 3), ETraceFormatError);
    EXPECT_THROW(TraceFmt("none", 3), ETraceFormatError);
    EXPECT_TRUE(m.debugger.texts.empty());

    // The error names the fault and the format, for whoever reads it in
    // the trace line of the export that caught it.
    const auto message = [](auto write) {
        try {
            write();
        } catch (const ETraceFormatError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([] { TraceFmt("a %s"); }), "trace format has more directives than arguments: a %s");
    EXPECT_EQ(message([] { TraceFmt("b %d", "text"); }), "trace argument of the wrong kind for %d in: b %d");
    EXPECT_EQ(message([] { TraceFmt("c", 3); }), "trace format has fewer directives than arguments: c");
}

TEST_F(TraceTest, ModuleLoadTurnsTheSwitchOff)
{
    moduleLoad();
    EXPECT_FALSE(TraceEnabled);
    call(IsWin2k);
    EXPECT_TRUE(m.debugger.texts.empty());
}
