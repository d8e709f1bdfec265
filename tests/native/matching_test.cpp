#include "native/fixture.h"

#include "cleaning/cleaning_state.h"
#include "cleaning/jqpids.h"
#include "cleaning/matching.h"

#include <algorithm>
#include <random>

namespace {

const std::string UsbOnlyId = UsbVidPids[0];  // in neither the pedal nor the short list
const std::string PedalId = PedalVidPids[1];
const std::string ShortId = UsbVidPidsShort[17];
const std::string AnalogId = AnalogVidPids[3];
const std::string AuxId = AuxVidPids[2];

std::string compareLine(const std::string& entry, const std::string& current)
{
    return "  EU: Doing Compare:  List:" + entry + ":  Current:" + current + ":";
}

size_t linesStarting(const Lines& lines, const std::string& prefix)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.rfind(prefix, 0) == 0;
    }));
}

}  // namespace

class Matching : public SimTest {
protected:
    void setMode(bool pedal, bool analog, bool aux, bool shortList)
    {
        PedalMode = pedal;
        AnalogMode = analog;
        AuxFallback = aux;
        UseShortUsbList = shortList;
    }
};

TEST_F(Matching, UpperCaseIdAndDriverClass)
{
    EXPECT_EQ(upperCaseId(""), "");
    EXPECT_EQ(upperCaseId("usb\\vid_2f7a&pid_a57e&mi_00 az`{@["), "USB\\VID_2F7A&PID_A57E&MI_00 AZ`{@[");
    EXPECT_EQ(upperCaseId("pi\xe9" "ce\xe0\xff"), "PI\xe9" "CE\xe0\xff");  // bytes above 127 kept

    for (const char* ours : {"media\\0003", "HIDCLASS\\0001", "USBHID\\0001", "mouse\\0010", "Jovex\\0000",
                             "keyboard\\0002"})
        EXPECT_TRUE(checkDriverClass(ours)) << ours;
    // A class name counts only with the backslash that ends it.
    for (const char* other : {"Ports\\0002", "", "MEDIA/0003", "HIDDEN\\0001", "HIDCLASSIC\\0001", "MEDIAS\\0003",
                              "JOVEXPAD\\0001", "KEYBOARDS\\0001", "MOUSEPAD\\0001"})
        EXPECT_FALSE(checkDriverClass(other)) << other;
}

TEST_F(Matching, ListChecksTraceEachCompareUntilTheFirstMatch)
{
    const std::string id = "usb\\vid_2f7a&pid_27af\\5&2b&0&1";  // entry 2 of the long list
    const std::string upper = upperCaseId(id);
    EXPECT_TRUE(checkDeviceId(id));
    EXPECT_EQ(trace(), (Lines{"DELKEYS: checkDeviceId:" + id, "  EU: nVidPids:85",
                              compareLine(UsbVidPids[0], upper), compareLine(UsbVidPids[1], upper),
                              compareLine(UsbVidPids[2], upper), "  EU: Found It!"}));

    // A miss compares the whole list and ends without a closing line.
    struct Case {
        bool (*check)(const std::string&);
        bool shortList;
        std::string name;
        int highest;
    };
    for (const Case& c : {Case{checkDeviceId, true, "checkDeviceId", 17}, Case{checkAnalogId, false, "checkAnalogId", 15},
                          Case{checkPedalId, false, "checkPedalId", 5}, Case{checkAuxDeviceId, false, "checkAuxDeviceId", 2}}) {
        clearTrace();
        UseShortUsbList = c.shortList;
        EXPECT_FALSE(c.check("x"));
        const Lines lines = trace();
        ASSERT_EQ(lines.size(), static_cast<size_t>(c.highest) + 3) << c.name;
        EXPECT_EQ(lines[0], "DELKEYS: " + c.name + ":x");
        EXPECT_EQ(lines[1], "  EU: nVidPids:" + std::to_string(c.highest));
        EXPECT_EQ(linesStarting(lines, "  EU: Doing Compare:  List:VID_2F7A&PID_"), lines.size() - 2);
    }
}

TEST_F(Matching, SixteenCharactersOrFewerNeverMatchInAnyMode)
{
    for (int mode = 0; mode < 16; ++mode) {
        setMode(mode & 1, mode & 2, mode & 4, mode & 8);
        EXPECT_FALSE(checkId(PedalId.substr(0, 16))) << mode;
        EXPECT_FALSE(checkId(AuxId.substr(0, 16))) << mode;
        EXPECT_FALSE(checkId("")) << mode;
    }
    EXPECT_TRUE(trace().empty());
    EXPECT_FALSE(IdMatchFound);
    EXPECT_TRUE(checkId(AuxId));  // the last mode has the aux fall-back: 17 characters match
}

TEST_F(Matching, UsbModeFindsIdsInAnyCaseAndPositionInTheChosenList)
{
    setMode(false, false, false, false);
    EXPECT_TRUE(checkId("vid_2f7a&pid_00a1"));
    EXPECT_TRUE(checkId(UsbOnlyId + "&MI_00"));
    EXPECT_TRUE(checkId("USB\\" + UsbOnlyId + "\\6&3A1B2C&0&1"));
    EXPECT_FALSE(checkId("VID_2F7A&PID_00A2\\1"));
    EXPECT_FALSE(checkId(AnalogId));
    EXPECT_FALSE(checkId(AuxId));
    for (const char* pedal : PedalVidPids)
        EXPECT_TRUE(checkId(std::string("HID\\") + pedal)) << pedal;

    UseShortUsbList = true;
    for (const char* pedal : PedalVidPids)
        EXPECT_FALSE(checkId(std::string("HID\\") + pedal)) << pedal;
    EXPECT_FALSE(checkId(UsbOnlyId));
    EXPECT_TRUE(checkId(ShortId));
}

TEST_F(Matching, PedalModeOutranksAnalogModeWhichOutranksUsb)
{
    setMode(true, true, false, false);
    EXPECT_TRUE(checkId(PedalId));
    EXPECT_FALSE(checkId(AnalogId));
    EXPECT_FALSE(checkId(UsbOnlyId));
    EXPECT_EQ(linesStarting(trace(), "DELKEYS: checkPedalId:"), 3u);
    EXPECT_EQ(linesStarting(trace(), "DELKEYS: "), 3u);  // no other list was consulted

    setMode(false, true, false, false);
    EXPECT_TRUE(checkId("gameport\\" + AnalogId + "\\0"));
    EXPECT_FALSE(checkId(PedalId));
    EXPECT_FALSE(checkId(ShortId));
}

TEST_F(Matching, AuxListIsTriedOnlyAfterAWholeMissOfTheModesList)
{
    setMode(false, false, true, false);
    const std::string id = "USB\\" + AuxId;
    EXPECT_TRUE(checkId(id));
    Lines expected = {"DELKEYS: checkDeviceId:" + id, "  EU: nVidPids:85"};
    for (const char* entry : UsbVidPids)
        expected.push_back(compareLine(entry, id));
    expected.insert(expected.end(), {"DELKEYS: checkAuxDeviceId:" + id, "  EU: nVidPids:2"});
    for (const char* entry : AuxVidPids)
        expected.push_back(compareLine(entry, id));
    expected.push_back("  EU: Found It!");
    EXPECT_EQ(trace(), expected);

    clearTrace();
    EXPECT_TRUE(checkId(UsbOnlyId));  // a hit in the mode's list needs no aux check
    EXPECT_EQ(linesStarting(trace(), "DELKEYS: checkAuxDeviceId:"), 0u);

    setMode(true, false, true, false);
    EXPECT_TRUE(checkId(AuxId));
    EXPECT_FALSE(checkId(UsbOnlyId));  // pedal list, then aux list: both miss
}

TEST_F(Matching, IdMatchFoundIsSetByAMatchAndNeverCleared)
{
    setMode(false, false, false, false);
    EXPECT_FALSE(checkId(AnalogId));
    EXPECT_TRUE(checkDeviceId(UsbOnlyId));  // a list check alone records nothing
    EXPECT_FALSE(IdMatchFound);
    EXPECT_TRUE(checkId(UsbOnlyId));
    EXPECT_FALSE(checkId(AnalogId));
    EXPECT_TRUE(IdMatchFound);
}

namespace {

// The matching rule stated plainly: an entry of the mode's list, else (with
// the aux fall-back) of the aux list, anywhere in the id with a to z folded.
bool listHolds(const std::string& upper, const char* const* list, size_t count)
{
    return std::any_of(list, list + count,
                       [&](const char* entry) { return upper.find(entry) != std::string::npos; });
}

bool ruleAnswer(const std::string& id)
{
    std::string upper = id;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    if (upper.size() < 17)
        return false;
    bool match = PedalMode ? listHolds(upper, PedalVidPids, PedalVidPidCount)
                 : AnalogMode ? listHolds(upper, AnalogVidPids, AnalogVidPidCount)
                 : UseShortUsbList ? listHolds(upper, UsbVidPidsShort, UsbVidPidShortCount)
                                   : listHolds(upper, UsbVidPids, UsbVidPidCount);
    return match || (AuxFallback && listHolds(upper, AuxVidPids, AuxVidPidCount));
}

// Ids made of pieces that sit near the rule's edges: entries of any list in
// any case, the vendor's prefix with or without digits behind it, one
// character off, cut short, repeated, with bytes above 127 around them.
std::string randomId(std::mt19937& random)
{
    const std::vector<const char*> entries(UsbVidPids, UsbVidPids + UsbVidPidCount);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::string id;
    const size_t pieces = pick(6);
    for (size_t p = 0; p < pieces; ++p) {
        const char* const* lists[] = {UsbVidPids, AnalogVidPids, AuxVidPids, PedalVidPids};
        const size_t sizes[] = {UsbVidPidCount, AnalogVidPidCount, AuxVidPidCount, PedalVidPidCount};
        const size_t list = pick(4);
        std::string piece = lists[list][pick(sizes[list])];
        switch (pick(7)) {
        case 0: piece = piece.substr(0, 13); break;                       // the prefix alone
        case 1: piece[pick(piece.size())] ^= static_cast<char>(1 << pick(7)); break;  // one off
        case 2: piece.resize(13 + pick(4)); break;                       // digits cut short
        case 3: for (char& c : piece) if (random() % 2 && c >= 'A' && c <= 'Z') c += 32; break;
        case 4: piece = std::string(1, static_cast<char>(0x80 + pick(128))) + piece; break;
        case 5: piece = "\\" + piece + "&MI_0" + std::to_string(pick(10)); break;
        default: break;
        }
        id += piece;
        for (size_t filler = pick(4); filler > 0; --filler)
            id += static_cast<char>(1 + pick(255));
    }
    if (pick(8) == 0)  // the longest id, the vendor's text at its very end
        id = std::string(255 - 17, 'v') + entries[pick(entries.size())];
    return id.substr(0, 255);
}

}  // namespace

TEST_F(Matching, SwitchOffGivesTheAnswersAndMatchFlagOfTheTracedListOrderScan)
{
    std::mt19937 random(20261208);
    size_t matches = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string id = randomId(random);
        const int mode = round % 16;
        setMode(mode & 1, mode & 2, mode & 4, mode & 8);
        const bool foundBefore = random() % 2;

        TraceEnabled = true;
        IdMatchFound = foundBefore;
        const bool scanned = checkId(id);
        const bool scannedFlag = IdMatchFound;
        clearTrace();

        TraceEnabled = false;
        IdMatchFound = foundBefore;
        const bool fast = checkId(id);
        ASSERT_EQ(fast, scanned) << "mode " << mode << ", id " << ::testing::PrintToString(id);
        ASSERT_EQ(fast, ruleAnswer(id)) << "mode " << mode << ", id " << ::testing::PrintToString(id);
        ASSERT_EQ(IdMatchFound, scannedFlag) << ::testing::PrintToString(id);
        EXPECT_TRUE(trace().empty());
        matches += fast;
    }
    // Both answers must be common, or the comparison proves little.
    EXPECT_GT(matches, 4000u);
    EXPECT_LT(matches, 16000u);
}

TEST_F(Matching, SwitchOffMatchesEveryEntryOfTheChosenListInEitherCaseAndNoOther)
{
    TraceEnabled = false;
    setMode(false, false, false, false);
    for (const char* entry : UsbVidPids) {
        EXPECT_TRUE(checkId(lower(entry))) << entry;
        EXPECT_TRUE(checkId("vid_2f7a&pid_" + lower(entry) + "#" + entry)) << entry;
        std::string cut = std::string("VID_2F7A&PID_") + entry;  // the prefix twice, digits once
        EXPECT_TRUE(checkId(cut)) << entry;
        cut.pop_back();
        EXPECT_FALSE(checkId(cut)) << entry;
    }
    for (const char* entry : AnalogVidPids)
        EXPECT_FALSE(checkId(entry)) << entry;
    setMode(false, true, false, false);
    for (const char* entry : AnalogVidPids)
        EXPECT_TRUE(checkId(lower(entry))) << entry;
}
