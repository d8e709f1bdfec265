// The registry access layer on the simulator: trace lines, failures of the
// store and the order of deletions. Cases that hold on Wine too are among the
// contract cases.
#include "native/fixture.h"
#include "support/errors.h"
#include "support/winreg.h"

#include <algorithm>
#include <set>

namespace {

const char* const Base = "Software\\JQ";
const char* const BasePath = "HKLM\\Software\\JQ";

std::string under(const std::string& path) { return std::string(BasePath) + "\\" + path; }

Lines names(const TStringList& list)
{
    Lines out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(list[i]);
    return out;
}

}  // namespace

class WinRegTest : public SimTest {
protected:
    std::unique_ptr<TWinRegistry> openBase()
    {
        m.createKey(BasePath);
        auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, Base);
        EXPECT_FALSE(WinRegOpenFailed);
        clearTrace();
        return registry;
    }
};

TEST_F(WinRegTest, ConstructionTracesAndSetsTheFlagAndReleaseFlushesOnlyAnOpenKey)
{
    m.createKey(BasePath);
    auto failed = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, "Software\\Missing");
    EXPECT_TRUE(WinRegOpenFailed);
    auto opened = TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, Base);
    EXPECT_FALSE(WinRegOpenFailed);
    EXPECT_EQ(trace(), (Lines{"WINREG: OpenWithKey - FileName:Software\\Missing",
                              "  WR: OpenKey FAILED!",
                              "WINREG: OpenWithKeyReadOnly - FileName:Software\\JQ",
                              "  WR: OpenKey SUCCEEDED!"}));
    EXPECT_EQ(failed->FileName(), "Software\\Missing");
    EXPECT_FALSE(m.keyExists("HKLM\\Software\\Missing"));

    failed.reset();
    EXPECT_EQ(m.callCount("RegFlushKey") + m.callCount("RegCloseKey"), 0);
    opened.reset();
    EXPECT_EQ(m.callCount("RegFlushKey"), 1);
    EXPECT_EQ(m.callCount("RegCloseKey"), 1);
}

TEST_F(WinRegTest, LeadingBackslashResolvesFromTheRoot)
{
    m.setString("HKLM\\Software\\Other", "Name", "from the root");
    m.setString(under("Software\\Other"), "Name", "from the open key");
    auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, "\\Software\\JQ");
    ASSERT_FALSE(WinRegOpenFailed);
    EXPECT_EQ(registry->ReadString("\\Software\\Other", "Name", ""), "from the root");
    EXPECT_EQ(registry->ReadString("Software\\Other", "Name", ""), "from the open key");
    registry->eraseSection("\\Software\\Other");
    EXPECT_FALSE(m.keyExists("HKLM\\Software\\Other"));
    EXPECT_TRUE(m.keyExists(under("Software\\Other")));
}

TEST_F(WinRegTest, NameThatCannotBeEnumeratedIsSkipped)
{
    for (const char* name : {"A", "B", "C"})
        m.createKey(under(name));
    m.setString(under("A"), "One", "1");
    m.setString(under("A"), "Two", "2");
    auto registry = openBase();

    TStringList list;
    m.faults.fail("RegEnumKeyExA", ERROR_MORE_DATA, 2);
    registry->ReadSections(list);
    EXPECT_EQ(names(list), (Lines{"A", "C"}));
    m.faults.fail("RegEnumValueA", ERROR_NO_MORE_ITEMS, 1);
    registry->ReadSection("A", list);
    EXPECT_EQ(names(list), (Lines{"Two"}));
    // One enumeration per name counted, none past the last.
    EXPECT_EQ(m.callCount("RegEnumKeyExA"), 3);
    EXPECT_EQ(m.callCount("RegEnumValueA"), 2);
}

TEST_F(WinRegTest, ReadStringReportsAFetchThatFailsAndKeepsTheObjectUsable)
{
    m.setString(under("Sub"), "Name", "text");
    m.setValue(under("Sub"), "Unterminated", REG_SZ, {'a', 'b', 'c'});
    auto registry = openBase();
    m.faults.fail("RegQueryValueExA", ERROR_CANTREAD, 2);  // the size query passes, the fetch fails
    try {
        registry->ReadString("Sub", "Name", "x");
        ADD_FAILURE() << "no error raised";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to get data for 'Name'");
    }
    EXPECT_EQ(m.openHandleCount(sim::HandleKind::Key), 1u);
    EXPECT_EQ(registry->ReadString("Sub", "Name", "x"), "text");
    EXPECT_EQ(registry->ReadString("Sub", "Unterminated", "x"), "abc");
    EXPECT_TRUE(trace().empty());
}

// S has children A and B; A has A1 (with child A1x) and A2. Deepest first and
// highest index first, the deletions run B, A2, A1x, A1, A, S.
class EraseSectionTest : public WinRegTest {
protected:
    void seedTree()
    {
        m.createKey(under("S\\A\\A1\\A1x"));
        m.createKey(under("S\\A\\A2"));
        m.setString(under("S\\B"), "Value", "v");
        m.createKey(under("Keep"));
    }
    std::set<std::string> remaining()
    {
        std::vector<std::string> all = m.allKeys(BasePath);
        std::set<std::string> actual(all.begin(), all.end());
        actual.erase(under("Keep"));
        return actual;
    }
    std::set<std::string> keys(std::initializer_list<const char*> list)
    {
        std::set<std::string> out;
        for (const char* k : list)
            out.insert(under(k));
        return out;
    }
};

TEST_F(EraseSectionTest, TracesFirstThenDeletesDeepestAndHighestIndexFirst)
{
    seedTree();
    auto registry = openBase();
    registry->eraseSection("S");
    EXPECT_EQ(remaining(), keys({}));
    EXPECT_TRUE(m.keyExists(under("Keep")));
    EXPECT_EQ(trace(),
              (Lines{"WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:Software\\JQ|S"}));

    // Refusing the Nth deletion leaves the Nth key of the order, and
    // everything above it, in place.
    const std::vector<std::set<std::string>> expected = {
        keys({"S", "S\\B"}),
        keys({"S", "S\\A", "S\\A\\A2"}),
        keys({"S", "S\\A", "S\\A\\A1", "S\\A\\A1\\A1x"}),
        keys({"S", "S\\A", "S\\A\\A1"}),
        keys({"S", "S\\A"}),
        keys({"S"}),
    };
    for (size_t n = 0; n < expected.size(); ++n) {
        SCOPED_TRACE("refused deletion " + std::to_string(n + 1));
        registry.reset();
        m.reset();
        seedTree();
        registry = openBase();
        m.faults.fail("RegDeleteKeyA", ERROR_ACCESS_DENIED, static_cast<int>(n + 1));
        registry->eraseSection("S");
        EXPECT_EQ(remaining(), expected[n]);
    }
}

TEST_F(EraseSectionTest, ChildThatCannotBeEnumeratedIsLeftWithItsParent)
{
    seedTree();
    auto registry = openBase();
    m.faults.fail("RegEnumKeyExA", ERROR_MORE_DATA, 1);  // S's highest index: B
    registry->eraseSection("S");
    EXPECT_EQ(remaining(), keys({"S", "S\\B"}));
}

TEST_F(EraseSectionTest, MissingOrEmptySubkeyOnlyTraces)
{
    seedTree();
    auto registry = openBase();
    registry->eraseSection("Missing");
    registry->eraseSection("");
    EXPECT_EQ(remaining(), keys({"S", "S\\A", "S\\A\\A1", "S\\A\\A1\\A1x", "S\\A\\A2", "S\\B"}));
    EXPECT_EQ(trace(), (Lines{"WINREG: eraseSection - DEBUG OFF",
                              "  WR: Deleting Key:Software\\JQ|Missing",
                              "WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:Software\\JQ|"}));
}

TEST_F(WinRegTest, DeleteKeyTracesOnlyForAnExistingSubkeyAndCutsTheTraceText)
{
    const std::string longKey(200, 'K');
    const std::string longSub(100, 's');
    const std::string path = std::string(Base) + "\\" + longKey;
    m.setString("HKLM\\" + path + "\\" + longSub, "Value", "v");
    auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, path);
    ASSERT_FALSE(WinRegOpenFailed);
    clearTrace();

    registry->DeleteKey("Missing", "Value");
    EXPECT_TRUE(trace().empty());
    const std::string cut = (path + "|" + longSub).substr(0, 255);
    registry->DeleteKey(longSub, "Value");
    registry->eraseSection(longSub);
    EXPECT_EQ(trace(), (Lines{"WINREG: DeleteKey - DEBUG OFF", "  WR: Deleting:" + cut,
                              "WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:" + cut}));
}

TEST_F(WinRegTest, FailedObjectDoesNothing)
{
    m.setString("HKLM\\Sub", "Name", "under the root");
    auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, "Software\\Missing");
    ASSERT_TRUE(WinRegOpenFailed);
    clearTrace();
    m.calls.clear();

    TStringList list;
    list.append("stale");
    registry->ReadSection("Sub", list);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(registry->ReadString("Sub", "Name", "default"), "default");
    registry->eraseSection("Sub");
    registry->DeleteKey("Sub", "Name");

    EXPECT_TRUE(m.valueExists("HKLM\\Sub", "Name"));
    EXPECT_TRUE(trace().empty());
    EXPECT_TRUE(m.calls.empty());
}

// Every open of a changing object asks for KEY_ALL_ACCESS exactly, and on
// NT to see a link as itself; both deletions trace their two lines (the
// value's with its "|value" part) before the store is touched; a subkey that
// will not open is deleted all the same, once a second open, with only the
// rights to tell a link and delete, shows it is no link; release flushes the
// key before it closes it. On the 9x family the options stay zero.
TEST_F(WinRegTest, RightsTraceAndCallOrderOfTheChangingCalls)
{
    m.setString(under("Sub"), "Value", "v");
    m.createKey(under("Leaf"));
    size_t mark = 0;
    {
        auto registry = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, Base);
        clearTrace();
        mark = m.calls.size();
        registry->DeleteKey("Sub", "Value");
        m.faults.fail("RegOpenKeyExA", ERROR_ACCESS_DENIED, 1);
        registry->eraseSection("Leaf");
    }
    EXPECT_EQ(trace(), (Lines{"WINREG: DeleteKey - DEBUG OFF", "  WR: Deleting:Software\\JQ|Sub|Value",
                              "WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:Software\\JQ|Leaf"}));
    EXPECT_FALSE(m.valueExists(under("Sub"), "Value"));
    EXPECT_FALSE(m.keyExists(under("Leaf")));
    std::vector<std::pair<std::string, size_t>> changes;
    for (size_t i = mark; i < m.calls.size(); ++i)
        if (m.calls[i].call == "RegDeleteValueA" || m.calls[i].call == "RegDeleteKeyA")
            changes.emplace_back(m.calls[i].call, m.calls[i].traceLines);
    EXPECT_EQ(changes, (std::vector<std::pair<std::string, size_t>>{{"RegDeleteValueA", 2}, {"RegDeleteKeyA", 4}}));
    ASSERT_GE(m.calls.size(), 2u);
    EXPECT_EQ(m.calls[m.calls.size() - 2].call, "RegFlushKey");
    EXPECT_EQ(m.calls.back().call, "RegCloseKey");
    const std::vector<sim::CallRecord> opens = m.callsOf("RegOpenKeyExA");
    ASSERT_EQ(opens.size(), 4u);
    for (const sim::CallRecord& r : opens) {
        const REGSAM rights = r.text == "Leaf" && &r == &opens.back()
                                  ? static_cast<REGSAM>(DELETE | KEY_QUERY_VALUE)
                                  : static_cast<REGSAM>(KEY_ALL_ACCESS);
        EXPECT_EQ(r.flags, rights) << r.text;
        EXPECT_EQ(r.size, static_cast<DWORD>(REG_OPTION_OPEN_LINK)) << "the options of " << r.text;
    }
    m.calls.clear();
    m.setWindows(sim::WindowsVersion::Win98);
    reload();
    auto fromRoot = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, "\\Software\\JQ");
    fromRoot->eraseSection("Sub");
    EXPECT_FALSE(m.keyExists(under("Sub")));
    ASSERT_EQ(m.callsOf("RegOpenKeyExA").size(), 2u);
    for (const sim::CallRecord& r : m.callsOf("RegOpenKeyExA"))
        EXPECT_EQ(r.size, 0u) << "the reserved options of " << r.text;
}

// NT counts name lengths in characters; with a double-byte code page a name
// needs up to twice as many bytes, and is read whole. The rule is read once.
TEST_F(WinRegTest, DoubleByteNamesAreReadWhole)
{
    // Read on the first walk of a load: a fresh load reads it again.
    {
        TStringList none;
        openBase()->ReadSections(none);
    }
    m.os.dbcsEnabled = true;
    reload();
    const std::string wide = "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8";  // five characters in ten bytes
    m.createKey(under(wide));
    m.setString(under("V"), wide, "v");
    auto registry = openBase();
    TStringList list;
    registry->ReadSections(list);
    EXPECT_EQ(names(list), (Lines{"V", wide}));
    registry->ReadSection("V", list);
    EXPECT_EQ(names(list), (Lines{wide}));
    EXPECT_EQ(m.callCount("GetSystemMetrics"), 2);
}

// One key name or not, by the machine's code page: a backslash is a
// separator unless it is the second byte of a double-byte character.
TEST_F(WinRegTest, OneKeyNameByCodePage)
{
    const struct {
        UINT codePage;
        std::string name;
        bool one;
    } cases[] = {
        {1252, "A", true},           {1252, "", false},
        {1252, "A\\B", false},       {1252, "\xE9\\B", false},  // é, then a separator
        {932, "\x83\x5C", true},     {932, "\x83\x5C\\B", false},
        {936, "\x81\x5C" "A", true}, {936, "A\\", false},
    };
    for (const auto& c : cases) {
        m.setCodePage(c.codePage);
        reload();
        EXPECT_EQ(isOneKeyName(c.name), c.one) << c.codePage << " " << c.name;
    }
}

// A name that is not one key name is never opened, read or deleted, even
// where the keys it would name exist; a parent that did not open opens
// nothing. Each says so in the trace and sets the failure flag.
TEST_F(WinRegTest, NameThatIsNotOneKeyIsNeverOpened)
{
    m.setString(under("A\\B"), "V", "nested");
    auto registry = openBase();
    auto child = TWinRegistry::OpenWithKey(*registry, KeyName("A\\B"));
    EXPECT_TRUE(WinRegOpenFailed);
    EXPECT_FALSE(child->isOpen());
    EXPECT_EQ(registry->ReadString(KeyName("A\\B"), "V", "none"), "none");
    registry->eraseSection(KeyName("A\\B"));
    EXPECT_TRUE(m.keyExists(under("A\\B")));
    EXPECT_EQ(trace(), (Lines{"WINREG: OpenWithKey - FileName:Software\\JQ\\A\\B",
                              "  WR: Not one key name, left:A\\B", "  WR: OpenKey FAILED!",
                              "WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:Software\\JQ|A\\B",
                              "  WR: Not one key name, left:A\\B"}));

    clearTrace();
    child = TWinRegistry::OpenWithKey(*registry, KeyName("A"));
    EXPECT_FALSE(WinRegOpenFailed);
    auto missing = TWinRegistry::OpenWithKey(HKEY_LOCAL_MACHINE, "Software\\Missing");
    auto below = TWinRegistry::OpenWithKey(*missing, KeyName("A"));
    EXPECT_TRUE(WinRegOpenFailed);
    EXPECT_EQ(trace(), (Lines{"WINREG: OpenWithKey - FileName:Software\\JQ\\A", "  WR: OpenKey SUCCEEDED!",
                              "WINREG: OpenWithKey - FileName:Software\\Missing", "  WR: OpenKey FAILED!",
                              "WINREG: OpenWithKey - FileName:Software\\Missing\\A",
                              "  WR: OpenKey FAILED!"}));

    // A read-only object from the root asks for reading only.
    m.calls.clear();
    auto readOnly = TWinRegistry::OpenWithKeyReadOnly(HKEY_LOCAL_MACHINE, "\\Software\\JQ");
    EXPECT_FALSE(WinRegOpenFailed);
    EXPECT_EQ(readOnly->ReadString("A\\B", "V", ""), "nested");
    const auto opens = m.callsOf("RegOpenKeyExA");
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens[0].flags, static_cast<DWORD>(KEY_READ));
}

// The walk's calls: one enumeration per child; a key whose count cannot be
// read is entered with none; a child whose open fails is still deleted by
// its name on both families, but on NT one that will not open at all (it
// may be a link) is left and named; a child whose name begins with a zero
// reads as empty and is left, with its parents.
TEST_F(EraseSectionTest, WalkCallsAndTheChildrenItCannotName)
{
    seedTree();
    auto registry = openBase();
    registry->eraseSection("S");
    EXPECT_EQ(m.callCount("RegEnumKeyExA"), 5);

    const auto again = [&](sim::WindowsVersion version) {
        registry.reset();
        onWindows(version);
        seedTree();
        registry = openBase();
    };
    again(sim::WindowsVersion::WinXP);
    m.faults.fail("RegQueryInfoKeyA", ERROR_ACCESS_DENIED, 1);
    registry->eraseSection("S");
    EXPECT_EQ(remaining(), keys({"S", "S\\A", "S\\A\\A1", "S\\A\\A1\\A1x", "S\\A\\A2", "S\\B"}));
    EXPECT_EQ(m.callCount("RegEnumKeyExA"), 0);

    for (const auto version : {sim::WindowsVersion::Win98, sim::WindowsVersion::WinXP}) {
        again(version);
        m.faults.fail("RegOpenKeyExA", ERROR_ACCESS_DENIED, 2);  // S opens, B does not
        registry->eraseSection("S");
        EXPECT_EQ(remaining(), keys({})) << static_cast<int>(version);
    }
    again(sim::WindowsVersion::WinXP);  // a link is deleted as itself then, its target kept
    m.createKey(under("T\\Kept"));
    m.createLink(under("S\\L"), under("T"));
    m.faults.fail("RegOpenKeyExA", ERROR_ACCESS_DENIED, 2);  // S opens, L (the highest index) does not
    registry->eraseSection("S");
    EXPECT_EQ(remaining(), keys({"T", "T\\Kept"}));
    EXPECT_TRUE(traced("  WR: Link, not followed:L"));

    again(sim::WindowsVersion::WinXP);
    m.findKey(under("S\\B"))->readable = false;
    registry->eraseSection("S");
    EXPECT_EQ(remaining(), keys({"S", "S\\B"}));
    EXPECT_EQ(trace().back(), "  WR: Key did not open, left:B");

    again(sim::WindowsVersion::WinXP);
    m.createKey(under("S\\B\\") + std::string(1, '\0') + "z");
    clearTrace();
    registry->eraseSection("S");
    EXPECT_TRUE(m.keyExists(under("S\\B")));
    EXPECT_FALSE(m.keyExists(under("S\\A")));
    EXPECT_EQ(trace(), (Lines{"WINREG: eraseSection - DEBUG OFF", "  WR: Deleting Key:Software\\JQ|S"}));
}
