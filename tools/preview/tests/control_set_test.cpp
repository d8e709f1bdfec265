// Which control set a snapshot's CurrentControlSet is.
#include "cli.h"
#include "control_sets.h"
#include "tool_run.h"

#include <gtest/gtest.h>

using namespace preview;

namespace {

regfile::Registry machine(const std::string& lines)
{
    regfile::Registry r;
    regfile::parse("REGEDIT4\r\n" + lines, "cs.reg", r);
    return r;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string marker(const regfile::Registry& r)
{
    const regfile::Key* k = r.find("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Mark");
    const regfile::Value* v = k ? k->value("set") : nullptr;
    return v ? std::string(v->data.begin(), v->data.end() - 1) : "(none)";
}

const std::string Sets123 = "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Mark]\r\n\"set\"=\"1\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Mark]\r\n\"set\"=\"2\"\r\n"
                            "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet003\\Services\\Mark]\r\n\"set\"=\"3\"\r\n";

std::string select(int current)
{
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\r\n\"Current\"=dword:0000000" + std::to_string(current) +
           "\r\n\"Default\"=dword:00000001\r\n\"LastKnownGood\"=dword:00000003\r\n";
}

}  // namespace

TEST(ControlSets, TheSetSelectNamesElseTheOnlyElseTheLowestWithAWarning)
{
    const struct {
        const char* what;
        std::string lines;
        std::string standsFor;
        std::string noteHas;
        std::string warningHas;
    } cases[] = {
        {"Select names the set", Sets123 + select(2), "ControlSet002",
         "ControlSet002 stands for CurrentControlSet (HKLM\\SYSTEM\\Select Current = 2)", ""},
        {"no Select, several sets", Sets123, "ControlSet001", "the lowest-numbered of",
         "the snapshot holds the control sets ControlSet001, ControlSet002, ControlSet003 and no "
         "HKLM\\SYSTEM\\Select key to tell the current one; ControlSet001 was used as CurrentControlSet"},
        {"Select names a set not exported", Sets123 + select(5), "ControlSet001", "",
         "HKLM\\SYSTEM\\Select Current = 5 names ControlSet005, which the snapshot lacks; ControlSet001 was used"},
        {"only one set, no Select",
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\controlset002\\Services\\Mark]\r\n\"set\"=\"2\"\r\n", "controlset002",
         "controlset002 stands for CurrentControlSet (the only control set in the snapshot)", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        regfile::Registry r = machine(c.lines);
        const ControlSetChoice choice = resolveControlSets(r);
        EXPECT_EQ(choice.standsFor, c.standsFor);
        EXPECT_NE(choice.note.find(c.noteHas), std::string::npos) << choice.note;
        EXPECT_EQ(marker(r), c.standsFor.substr(c.standsFor.size() - 1));
        EXPECT_EQ(r.find("HKLM\\SYSTEM\\" + c.standsFor), nullptr);
        if (c.warningHas.empty()) {
            EXPECT_TRUE(choice.warnings.empty());
        } else {
            ASSERT_EQ(choice.warnings.size(), 1u);
            EXPECT_NE(choice.warnings[0].find(c.warningHas), std::string::npos) << choice.warnings[0];
        }
        // Written out, the set has its own name again.
        restoreControlSetName(r, choice);
        EXPECT_EQ(r.find("HKLM\\SYSTEM\\CurrentControlSet"), nullptr);
        EXPECT_NE(r.find("HKLM\\SYSTEM\\" + c.standsFor + "\\Services\\Mark"), nullptr);
    }

    // A full export holds the link and the set it points to: one key, read once.
    regfile::Registry both = machine(Sets123 + select(2) +
                                     "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Mark]\r\n\"set\"=\"2\"\r\n");
    const ControlSetChoice choice = resolveControlSets(both);
    EXPECT_EQ(choice.standsFor, "");
    EXPECT_NE(choice.note.find("ControlSet002 is the same key"), std::string::npos) << choice.note;
    EXPECT_EQ(both.find("HKLM\\SYSTEM\\ControlSet002"), nullptr);
    EXPECT_NE(both.find("HKLM\\SYSTEM\\ControlSet001"), nullptr);
    EXPECT_EQ(marker(both), "2");
    // Written out, it is under both names again, as the export held it
    // (the run's CurrentControlSet, which is that set).
    restoreControlSetName(both, choice);
    const regfile::Key* set = both.find("HKLM\\SYSTEM\\ControlSet002\\Services\\Mark");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(*set->value("set"), *both.find("HKLM\\SYSTEM\\CurrentControlSet\\Services\\Mark")->value("set"));

    // Nothing to choose: nothing said.
    for (const std::string& lines : {std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\r\n"),
                                     std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"),
                                     std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSetX\\Enum]\r\n")}) {
        regfile::Registry r = machine(lines);
        const ControlSetChoice none = resolveControlSets(r);
        EXPECT_EQ(none.note, "");
        EXPECT_EQ(none.standsFor, "");
    }
}

TEST(ControlSets, AControlSetExportPreviewsAsTheCurrentControlSetOne)
{
    // What a customer gets exporting HKLM\SYSTEM\ControlSet001: the same
    // machine as the sample's CurrentControlSet export, and the same report.
    const TempFile exported(replaceAll(sampleSnapshot(), "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet",
                                   "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001"));
    const TempFile after("");
    const std::string sample = reportOf({"-q"});
    const std::string report = reportOf({exported.path, "-q", "--write-reg", after.path});
    const std::string changes = sample.substr(sample.find("\nChanges"));
    ASSERT_NE(changes.find("Keys deleted: 24\n"), std::string::npos) << sample;
    EXPECT_EQ(report.substr(report.find("\nChanges")), changes);
    EXPECT_NE(report.find("\n  control set: ControlSet001 stands for CurrentControlSet (the only control set in "
                          "the snapshot)\n"),
              std::string::npos)
        << report;

    regfile::Registry written;
    regfile::load(after.path, written);
    EXPECT_EQ(written.find("HKLM\\SYSTEM\\CurrentControlSet"), nullptr);
    EXPECT_NE(written.find("HKLM\\SYSTEM\\ControlSet001\\Enum\\USB"), nullptr);
    EXPECT_EQ(written.find("HKLM\\SYSTEM\\ControlSet001\\Enum\\USB\\VID_2F7A&PID_C26B"), nullptr);

    // Two sets and no Select: the warning is in the report.
    const TempFile two(replaceAll(sampleSnapshot(), "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet",
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001") +
                   "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Enum]\r\n");
    const std::string warned = reportOf({two.path, "-q"});
    EXPECT_EQ(warned.substr(warned.find("\nChanges"), changes.size() - 1), changes.substr(0, changes.size() - 1));
    EXPECT_NE(warned.find("\nWarnings\n  the snapshot holds the control sets ControlSet001, ControlSet002 and no "
                          "HKLM\\SYSTEM\\Select key"),
              std::string::npos)
        << warned;
}
