#include "cleaning/jqpids.h"
#include "native/fixture.h"
#include "native/machine_builders.h"

#include <algorithm>
#include <iterator>

namespace {

using sim::DialogAnswer;

const char* const AdministratorQuestion =
    "You do not appear to be logged in with full administrative priveleges. Trying to uninstall "
    "the Pilotdeck without full administrative priveleges may result in a failure of the "
    "uninstall to function correctly. If you are not sure you have these priveleges you should "
    "click \"No\" and log in again with full priveleges. If you are you have such priveleges "
    "click \"Yes\" to proceed. Do you have full administrative priveleges?";
const char* const UnplugQuestion =
    "Before uninstalling the Pilotdeck, it is highly recommended that you unplug all JQ USB "
    "devices to ensure that all drivers, etc. are properly removed. If there are JQ USB devices "
    "currently connected click \"No\", unplug the devices, and restart the uninstall. Have all "
    "the devices been unpluged?";
const char* const ClosingMessage =
    "Removal of the Pilotdeck software is complete. To finish the uninstall and unload the "
    "drivers from memory it is necessary to restart Windows. It is highly recommended that you "
    "RESTART WINDOWS as soon as possible after this program exits.";

const char* const Entry = "JQINST2K: UninstInitialize";
const char* const Exit = "  I2K: Exiting UninstUnInitialize";
const char* const Proceed = "  I2K: Returning 0";
const char* const Stop = "  I2K: Returning -1";

}  // namespace

class UninstallHooksTest : public SimTest {
protected:
    // Every dialog: caption, icon, no parent, the text, and its buttons.
    void expectDialog(size_t index, const char* text)
    {
        ASSERT_LT(index, m.dialogs.shown.size());
        const sim::DialogRecord& d = m.dialogs.shown[index];
        EXPECT_EQ(d.caption, "Information");
        EXPECT_EQ(d.text, text);
        EXPECT_TRUE(d.informationIcon);
        EXPECT_FALSE(d.hasParent);
        const bool closing = text == ClosingMessage;
        EXPECT_EQ(d.buttons(), closing ? Lines{"OK"} : (Lines{"&Yes", "&No"}));
        EXPECT_EQ(d.defaultButton(), closing ? "OK" : "&Yes");
    }

    void freshMachine(bool administrator)
    {
        m.reset();
        m.setAdministrator(administrator);
        reload();
    }
};

TEST_F(UninstallHooksTest, InitializeAsksTheQuestionsAndAnswersProceedOrStop)
{
    using A = DialogAnswer;
    struct Case {
        bool administrator;
        std::vector<A> answers;
        LONG result;
        Lines trace;
    };
    const Case cases[] = {
        // An administrator is asked only about the devices; only Yes goes on.
        {true, {A::Yes}, 0, {Entry, "  I98: Test Message returned:6", Proceed}},
        {true, {A::Enter}, 0, {Entry, "  I98: Test Message returned:6", Proceed}},
        {true, {A::No}, -1, {Entry, "  I98: Test Message returned:7", Stop}},
        {true, {A::Escape}, -1, {Entry, "  I98: Test Message returned:7", Stop}},
        {true, {A::CloseBox}, -1, {Entry, "  I98: Test Message returned:2", Stop}},
        // A user is asked for administrator rights first; only No stops there,
        // and then without another line.
        {false, {A::No}, -1, {Entry}},
        {false, {A::Escape}, -1, {Entry}},
        {false, {A::Yes, A::Yes}, 0, {Entry, "  I98: Test Message returned:6", Proceed}},
        {false, {A::Enter, A::Enter}, 0, {Entry, "  I98: Test Message returned:6", Proceed}},
        {false, {A::CloseBox, A::Yes}, 0, {Entry, "  I98: Test Message returned:6", Proceed}},
        {false, {A::Yes, A::No}, -1, {Entry, "  I98: Test Message returned:7", Stop}},
        {false, {A::Yes, A::CloseBox}, -1, {Entry, "  I98: Test Message returned:2", Stop}},
    };
    for (const Case& c : cases) {
        std::string name = c.administrator ? "administrator:" : "user:";
        for (A a : c.answers)
            name += std::string(" ") + sim::dialogAnswerName(a);
        SCOPED_TRACE(name);
        freshMachine(c.administrator);
        m.dialogs.answers.assign(c.answers.begin(), c.answers.end());
        EXPECT_EQ(call(UninstInitialize), c.result);
        EXPECT_EQ(trace(), c.trace);
        ASSERT_EQ(m.dialogs.shown.size(), c.answers.size());
        if (c.administrator) {
            expectDialog(0, UnplugQuestion);
        } else {
            expectDialog(0, AdministratorQuestion);
            if (c.answers.size() == 2)
                expectDialog(1, UnplugQuestion);
        }
    }
}

TEST_F(UninstallHooksTest, InitializeOnNineXAsksEveryUserOnlyAboutTheDevices)
{
    m.setWindows(sim::WindowsVersion::Win98);
    m.setAdministrator(false);
    reload();
    m.dialogs.answers = {DialogAnswer::Yes};
    EXPECT_EQ(call(UninstInitialize), 0);
    ASSERT_EQ(m.dialogs.shown.size(), 1u);
    expectDialog(0, UnplugQuestion);
}

TEST_F(UninstallHooksTest, InitializeStopsWhenAQuestionCannotBeShown)
{
    // A question nobody saw is no answer: unlike the close box (the cases
    // above), a failed dialog stops the uninstall at either question.
    const char* const Failed = "  I2K: Message dialog failed - tVal:8";
    struct Case {
        const char* name;
        bool administrator;
        int failingCall;  // 0: every dialog fails
        LONG result;
        Lines trace;
        size_t dialogsShown;
    };
    const Case cases[] = {
        {"user, the first question alone fails", false, 1, -1, {Entry, Failed}, 0},
        {"user, every dialog fails", false, 0, -1, {Entry, Failed}, 0},
        {"user, the second question fails", false, 2, -1,
         {Entry, Failed, "  I98: Test Message returned:FFFFFFFF", Stop}, 1},
        {"administrator, the only question fails", true, 0, -1,
         {Entry, Failed, "  I98: Test Message returned:FFFFFFFF", Stop}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshMachine(c.administrator);
        m.faults.fail("DialogBoxIndirectParamA", ERROR_NOT_ENOUGH_MEMORY, c.failingCall);
        // Answers that would let the uninstall go on, were the questions shown.
        m.dialogs.answers = {DialogAnswer::Yes, DialogAnswer::Yes};
        EXPECT_EQ(call(UninstInitialize), c.result);
        EXPECT_EQ(trace(), c.trace);
        EXPECT_EQ(m.dialogs.shown.size(), c.dialogsShown);
        EXPECT_EQ(m.callCount("DialogBoxIndirectParamA"), c.failingCall == 2 ? 2 : 1)
            << "nothing is asked after a question that could not be shown";
    }
}

TEST_F(UninstallHooksTest, UnInitializeRemovesTheRootDeviceAndAlwaysShowsTheClosingMessage)
{
    for (DialogAnswer answer :
         {DialogAnswer::Ok, DialogAnswer::Enter, DialogAnswer::Escape, DialogAnswer::CloseBox}) {
        SCOPED_TRACE(sim::dialogAnswerName(answer));
        freshMachine(true);
        m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"},
                     "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "", true});
        m.dialogs.answers = {answer};
        EXPECT_EQ(call(UninstUnInitialize, nullptr, reinterpret_cast<HWND>(0x1234)), 0);
        EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0000"));
        ASSERT_EQ(m.dialogs.shown.size(), 1u);
        expectDialog(0, ClosingMessage);
        const Lines lines = trace();
        EXPECT_EQ(lines.at(0), "INST2K: UninstUnInitialize");
        EXPECT_EQ(lines.at(1), "DELKEYS: cleanDeviceKeys");
        EXPECT_EQ(lines.back(), Exit);
    }

    // Not even a closing message that cannot be shown changes the result.
    freshMachine(true);
    m.faults.fail("DialogBoxIndirectParamA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(call(UninstUnInitialize), 0);
    EXPECT_EQ(trace().back(), "  I2K: Message dialog failed - tVal:8");
}

TEST_F(UninstallHooksTest, UnInitializeForUserCleansNothingButStillScansAndTellsToRestart)
{
    freshMachine(false);
    const std::string vendorKey = "HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_2F7A&PID_0001\\6&1";
    m.createKey(vendorKey);
    m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"},
                 "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "", true});
    m.dialogs.answers = {DialogAnswer::Ok};
    EXPECT_EQ(call(UninstUnInitialize), 0);
    EXPECT_TRUE(m.keyExists(vendorKey));
    EXPECT_FALSE(m.deviceExists("ROOT\\SYSTEM\\0000"));
    expectDialog(0, ClosingMessage);
    const Lines lines = trace();
    EXPECT_EQ(lines.at(1), "DELKEYS: cleanDeviceKeys");
    EXPECT_EQ(lines.at(2), "  I2K: Got DeviceInfoSet Handle!") << "the scan follows at once";
    EXPECT_EQ(lines.back(), Exit);
}

TEST_F(UninstallHooksTest, ErrorThatEndsTheCleaningRunIsTracedAndTheRemovalGoesOn)
{
    // Memory that runs out inside the cleaning run ends it with an error;
    // the device scan and the closing message still follow. Running out in
    // the scan ends the scan alone.
    bool stopped = false, scanStopped = false;
    for (long nth = 1;; ++nth) {
        reload();
        if (!m.deviceExists("ROOT\\SYSTEM\\0000"))
            m.addDevice({"ROOT\\SYSTEM\\0000", {"root\\jq_pilotdeck"},
                         "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "", true});
        clearTrace();
        m.dialogs.shown.clear();
        m.dialogs.answers = {DialogAnswer::Ok};
        m.faults.failAllocation(nth);
        const LONG result = call(UninstUnInitialize);
        const bool failed = !m.faults.allocationFaultPending();
        m.faults.failAllocation(0);
        if (!failed)
            break;  // every allocation has failed once
        const Lines lines = trace();
        const auto error = std::find(lines.begin(), lines.end(),
                                     "  I2K: Cleaning run stopped by error - std::bad_alloc");
        if (std::find(lines.begin(), lines.end(),
                      "  I2K: Root device scan stopped by error - std::bad_alloc") != lines.end()) {
            scanStopped = true;
            EXPECT_EQ(result, 0);
            expectDialog(0, ClosingMessage);
        }
        if (error == lines.end())
            continue;
        stopped = true;
        EXPECT_EQ(result, 0);
        expectDialog(0, ClosingMessage);
        EXPECT_NE(std::find(error, lines.end(), "  I2K: Got DeviceInfoSet Handle!"), lines.end());
        EXPECT_EQ(lines.back(), Exit);
    }
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(scanStopped);
}

// The hook's cleaning run uses the long USB list with the aux devices, and
// leaves the game-port (analog) devices alone: a settings key of each kind
// of id shows which lists it ran with.
TEST_F(UninstallHooksTest, UnInitializeCleansTheLongUsbListAndTheAuxDevicesOnly)
{
    const auto in = [](const char* id, const char* const* list, size_t count) {
        return std::any_of(list, list + count, [id](const char* entry) { return std::string(entry) == id; });
    };
    const auto firstOnlyIn = [&](const char* const* list, size_t count, auto... others) {
        for (size_t i = 0; i < count; ++i)
            if (!(in(list[i], others.first, others.second) || ...))
                return std::string(list[i]);
        return std::string();
    };
    using L = std::pair<const char* const*, size_t>;
    const L usb{UsbVidPids, UsbVidPidCount}, shortUsb{UsbVidPidsShort, UsbVidPidShortCount},
        analog{AnalogVidPids, AnalogVidPidCount}, aux{AuxVidPids, AuxVidPidCount};
    const std::string longUsbOnly = firstOnlyIn(usb.first, usb.second, shortUsb, aux, analog);
    const std::string auxOnly = firstOnlyIn(aux.first, aux.second, usb, analog);
    const std::string analogOnly = firstOnlyIn(analog.first, analog.second, usb, aux);
    ASSERT_FALSE(longUsbOnly.empty() || auxOnly.empty() || analogOnly.empty());

    for (const std::string& id : {longUsbOnly, auxOnly, analogOnly})
        m.createKey(builders::join(builders::SettingsNt, id));
    m.dialogs.answers = {DialogAnswer::Ok};
    EXPECT_EQ(call(UninstUnInitialize), 0);
    EXPECT_FALSE(m.keyExists(builders::join(builders::SettingsNt, longUsbOnly)));
    EXPECT_FALSE(m.keyExists(builders::join(builders::SettingsNt, auxOnly)));
    EXPECT_TRUE(m.keyExists(builders::join(builders::SettingsNt, analogOnly)));
}

