// A large export is loaded only as far as the library reaches, and the
// report is the same as with every key loaded.
#include "cli.h"
#include "load_machine.h"
#include "preview.h"
#include "report.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace preview;

namespace {

// The sample machine with software keys around it, some naming the vendor.
const std::string Software = "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Plain]\r\n\"x\"=\"1\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Mixed]\r\n\"before\"=\"1\"\r\n"
                             "\"Device\"=\"USB\\\\VID_2F7A&PID_00A1\\\\6&2c9a1b3&0&1\"\r\n\"after\"=\"1\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\VID_2F7A&PID_1A24]\r\n\"y\"=\"2\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\VID_2F7A&PID_1A24\\Below]\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Root]\r\n\"Id\"=hex(7):72,00,6f,00,6f,00,74,00,"
                             "5c,00,6a,00,71,00,5f,00,70,00,69,00,6c,00,6f,00,74,00,64,00,65,00,63,00,6b,00,00,00,00,00\r\n"
                             "[HKEY_CURRENT_USER\\Software\\JQ]\r\n\"VID_2F7A&PID_00A1\"=dword:1\r\n";

}  // namespace

TEST(SnapshotReach, TheReportIsTheSameWithOnlyTheReachableKeysLoaded)
{
    const std::string text = sampleSnapshot() + Software;
    const TempFile machine(text);
    const TempFile after("");
    for (const std::vector<std::string>& calls :
         {std::vector<std::string>{}, std::vector<std::string>{"--windows", "98", "RemoveUsbDevices"},
          std::vector<std::string>{"--file", "C:\\JQ\\JQDRV2K3.INF", "InitModule", "CreateRootDevice=C:\\JQ",
                                   "UpdateDevices=C:\\JQ", "RemoveRootDevice"}}) {
        std::vector<std::string> args{machine.path, "-q", "--write-reg", after.path};
        args.insert(args.end(), calls.begin(), calls.end());
        const std::string partly = reportOf(args);

        // The same run with every key of the snapshot in the machine.
        const Options options = parseCommandLine(args);
        regfile::Registry snapshot;
        regfile::parse(text, machine.path, snapshot);
        const RunResult whole = run(std::move(snapshot), options.setup, options.calls);
        ReportOptions shown;
        shown.showTrace = false;
        shown.snapshotName = machine.path;
        const std::string wholly = textReport(whole, shown);

        // The one difference: the line saying what was left out.
        const size_t summary = partly.find("\n  snapshot: ");
        ASSERT_NE(summary, std::string::npos) << partly;
        const size_t end = partly.find('\n', summary + 1);
        EXPECT_NE(partly.find("snapshot: 7 distinct keys and 5 value lines beyond the library's reach", summary), std::string::npos)
            << partly.substr(summary, end - summary);
        EXPECT_EQ(partly.substr(0, summary) + partly.substr(end), wholly);

        // And the machine written out is the whole one after the run.
        std::ifstream in(after.path, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(written, regfile::write(whole.after));
    }
    // The traces outside the reach are there, each once.
    const std::string shown = reportOf({machine.path, "-q"});
    for (const char* where : {"HKLM\\SOFTWARE\\Other\\Mixed  value \"Device\"", "HKLM\\SOFTWARE\\Other\\VID_2F7A&PID_1A24\n",
                              "HKLM\\SOFTWARE\\Other\\Root  value \"Id\""})
        EXPECT_NE(shown.find(where), std::string::npos) << where << "\n" << shown;
}

TEST(SnapshotReach, EveryKeyTheLibraryOpensIsWithinReach)
{
    // The trace names every key the library opens; a key outside the reach
    // would be missing from a large snapshot's machine.
    for (const char* within : {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB", "HKLM\\Enum\\USB",
                               "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services", "HKEY_LOCAL_MACHINE\\SYSTEM"})
        EXPECT_TRUE(libraryReaches(within)) << within;
    for (const char* beyond : {"HKEY_LOCAL_MACHINE\\SOFTWARE\\JQ", "HKEY_LOCAL_MACHINE\\SYSTEM\\MountedDevices",
                               "HKEY_CURRENT_USER\\Enum"})
        EXPECT_FALSE(libraryReaches(beyond)) << beyond;

    regfile::Registry snapshot;
    regfile::parse(sampleSnapshot(), "sample.reg", snapshot);
    size_t opened = 0;
    for (sim::WindowsVersion windows : {sim::WindowsVersion::Win98, sim::WindowsVersion::WinXP}) {
        preview::Setup setup;
        setup.windows = windows;
        setup.files = {"C:\\JQ\\JQDRV2K3.INF", "C:\\JQ\\JQDRV2K1.INF"};
        std::vector<Call> calls;
        for (const ExportInfo& e : exportTable())
            calls.push_back(Call{&e, e.readsText ? "C:\\JQ" : ""});
        const RunResult r = run(snapshot.clone(), setup, calls);
        for (const CallOutcome& c : r.calls)
            for (const std::string& line : c.trace) {
                const size_t at = line.find("FileName:");
                if (at == std::string::npos)
                    continue;
                ++opened;
                EXPECT_TRUE(libraryReaches("HKEY_LOCAL_MACHINE\\" + line.substr(at + 9))) << line;
            }
    }
    EXPECT_GT(opened, 20u);
}

TEST(SnapshotReach, KeysLeftOutAreKeptFromTheirFirstValueThatMatters)
{
    regfile::ReadOptions options;
    options.keepKey = [](std::string_view path) { return path.find("Keep") != std::string_view::npos; };
    options.keepValue = [](const regfile::Value& v) { return v.name == "wanted"; };
    regfile::Registry r;
    const regfile::FileInfo info =
        regfile::parse("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Keep]\r\n\"a\"=\"1\"\r\n"
                       "[HKEY_LOCAL_MACHINE\\Drop]\r\n\"a\"=\"1\"\r\n\"a\"=-\r\n\"wanted\"=\"2\"\r\n\"b\"=\"3\"\r\n"
                       "[HKEY_LOCAL_MACHINE\\Drop2]\r\n\"a\"=dword:1\r\n\"bad\"=dword:\r\n"
                       "[-HKEY_LOCAL_MACHINE\\Keep]\r\n[HKEY_LOCAL_MACHINE\\drop2]\r\n",
                       "k.reg", r, options);
    // Drop2 twice, spelt two ways, is one key of three key lines.
    EXPECT_EQ(info.keysLeftOut, 2u);
    EXPECT_EQ(info.keyLinesLeftOut, 3u);
    EXPECT_EQ(info.valuesLeftOut, 2u);
    // Left-out keys are checked all the same.
    ASSERT_EQ(info.warnings.size(), 1u);
    EXPECT_EQ(info.warnings[0].rfind("k.reg:11: dword data without", 0), 0u) << info.warnings[0];
    EXPECT_EQ(r.find("HKLM\\Keep"), nullptr);
    EXPECT_EQ(r.find("HKLM\\Drop2"), nullptr);
    const regfile::Key* drop = r.find("HKLM\\Drop");
    ASSERT_NE(drop, nullptr);
    ASSERT_EQ(drop->values.size(), 2u);
    EXPECT_EQ(drop->values[0].name, "wanted");
    EXPECT_EQ(drop->values[1].name, "b");
}

TEST(SnapshotReach, TheToolReadsWritesAndShowsTextsInTheMachinesCodePage)
{
    // "Эскиз" as a Cyrillic Windows writes it in an ANSI export.
    const TempFile machine("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xDD\xF1\xEA\xE8\xE7]\r\n"
                       "\"VID_2F7A&PID_00A1\"=\"\xC6\"\r\n");
    const TempFile after("");
    const TempFile json("");
    const std::string text = reportOf({machine.path, "-q", "--code-page", "1251", "--write-reg", after.path,
                                       "--json", json.path, "IsWinXp"});
    EXPECT_NE(text.find("    HKLM\\SOFTWARE\\Эскиз  value \"VID_2F7A&PID_00A1\"\n"), std::string::npos) << text;
    std::ifstream in(json.path, std::ios::binary);
    const std::string jsonText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(jsonText.find("\"key\": \"HKLM\\\\SOFTWARE\\\\\\u042d\\u0441\\u043a\\u0438\\u0437\""), std::string::npos)
        << jsonText;
    std::ifstream reg(after.path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(reg)), std::istreambuf_iterator<char>());
    std::string wide;
    for (char16_t c : std::u16string(u"SOFTWARE\\Эскиз]")) {
        wide.push_back(static_cast<char>(c & 0xFF));
        wide.push_back(static_cast<char>(c >> 8));
    }
    EXPECT_NE(written.find(wide), std::string::npos);

    // The default, Windows-1252, shows the same bytes as Western letters.
    EXPECT_NE(reportOf({machine.path, "-q", "IsWinXp"}).find("HKLM\\SOFTWARE\\Ýñêèç  value"), std::string::npos);
}
