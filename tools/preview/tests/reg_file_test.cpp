#include "reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace regfile;

namespace regfile {
void PrintTo(const Value& v, std::ostream* os)
{
    *os << "\"" << v.name << "\" type " << v.type << " [" << v.data.size() << " bytes]";
    for (uint8_t b : v.data)
        *os << ' ' << static_cast<int>(b);
}
}  // namespace regfile

namespace {

std::string utf16(const std::string& latin1)
{
    std::string bytes = "\xFF\xFE";
    for (char c : latin1) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Every key, value name, type and data of two registries agree.
void expectSameKey(const Key& a, const Key& b, const std::string& path)
{
    ASSERT_EQ(a.values.size(), b.values.size()) << path;
    for (const Value& v : a.values) {
        const Value* w = b.value(v.name);
        ASSERT_NE(w, nullptr) << path << " value " << v.name;
        EXPECT_EQ(v, *w) << path << " value " << v.name;
    }
    const auto as = a.children();
    const auto bs = b.children();
    ASSERT_EQ(as.size(), bs.size()) << path;
    for (size_t i = 0; i < as.size(); ++i) {
        EXPECT_EQ(as[i]->name, bs[i]->name) << path;
        expectSameKey(*as[i], *bs[i], path + "\\" + as[i]->name);
    }
}

// One of each kind of value regedit writes, with the awkward cases: texts
// that need escapes or hex(1):, data of the wrong size, long hex data.
void fillEveryType(Registry& r)
{
    Key& k = r.create("HKEY_LOCAL_MACHINE\\SOFTWARE\\Test [x] \\Sub key");
    k.set(stringValue("", "default text"));
    k.set(stringValue("plain", "C:\\Program Files\\JQ"));
    k.set(stringValue("quote \"and\" \\slash", "say \"hi\" \\\\server\\share"));
    k.set(stringValue("latin1", "caf\xE9 \xFF"));
    k.set(stringValue("empty", ""));
    k.set(binaryValue("no zero", bytesOf("abc"), REG_SZ));
    k.set(binaryValue("inner zero", bytesOf(std::string("a\0b\0", 4)), REG_SZ));
    k.set(binaryValue("line break", bytesOf(std::string("one\r\ntwo\0", 9)), REG_SZ));
    k.set(binaryValue("no data", {}, REG_SZ));
    k.set(stringValue("expand", "%SystemRoot%\\system32\\drivers\\jq.sys", REG_EXPAND_SZ));
    k.set(multiStringValue("multi", {"USB\\VID_2F7A&PID_00A1&REV_0100", "USB\\VID_2F7A&PID_00A1"}));
    k.set(multiStringValue("multi empty", {}));
    k.set(dwordValue("dword", 0xDEADBEEF));
    k.set(binaryValue("short dword", {1, 2, 3}, REG_DWORD));
    std::vector<uint8_t> longData;
    for (int i = 0; i < 300; ++i)
        longData.push_back(static_cast<uint8_t>(i * 7));
    k.set(binaryValue("binary", longData));
    k.set(binaryValue("empty binary", {}));
    k.set(binaryValue("none", {0xAA}, REG_NONE));
    k.set(binaryValue("qword", {1, 2, 3, 4, 5, 6, 7, 8}, REG_QWORD));
    k.set(binaryValue("odd type", {9}, 0x123));
    r.create("HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty");
    r.create("HKEY_CURRENT_USER\\Software\\JQ").set(dwordValue("x", 1));
}

}  // namespace

TEST(RegFile, EveryValueTypeSurvivesEachFormatAndEncoding)
{
    Registry original;
    fillEveryType(original);
    const struct {
        Format format;
        Encoding encoding;
    } kinds[] = {{Format::Version5, Encoding::Utf16Le},
                 {Format::Version5, Encoding::Ansi},
                 {Format::Version5, Encoding::Utf8},
                 {Format::Regedit4, Encoding::Ansi}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind.format) * 10 + static_cast<int>(kind.encoding));
        const std::string bytes = write(original, WriteOptions{kind.format, kind.encoding});
        Registry back;
        const FileInfo info = parse(bytes, "t.reg", back);
        EXPECT_EQ(info.format, kind.format);
        EXPECT_EQ(info.encoding, kind.encoding);
        ASSERT_EQ(original.roots.size(), back.roots.size());
        for (const auto& [name, root] : original.roots) {
            ASSERT_NE(back.root(name), nullptr) << name;
            expectSameKey(*root, *back.root(name), name);
        }
        // Writing what was read gives the same file again.
        EXPECT_EQ(write(back, WriteOptions{kind.format, kind.encoding}), bytes);
    }
}

TEST(RegFile, WritesWhatRegeditWrites)
{
    Registry r;
    Key& k = r.create("HKLM\\SOFTWARE\\JQ");
    k.set(stringValue("", "x"));
    k.set(stringValue("Path", "C:\\JQ \"1\""));
    k.set(dwordValue("Count", 10));
    k.set(stringValue("Image", "a", REG_EXPAND_SZ));
    std::vector<uint8_t> data(40, 0xAB);
    k.set(binaryValue("Data", data));

    const std::string text = write(r, WriteOptions{Format::Version5, Encoding::Ansi});
    const std::string expectedStart =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\JQ]\r\n"
        "@=\"x\"\r\n"
        "\"Path\"=\"C:\\\\JQ \\\"1\\\"\"\r\n"
        "\"Count\"=dword:0000000a\r\n"
        "\"Image\"=hex(2):61,00,00,00\r\n"
        "\"Data\"=hex:ab,ab,";
    EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart);
    // Long hex data goes on over lines of at most 80 characters that end in a
    // backslash, the next one indented by two blanks.
    size_t start = 0;
    size_t continued = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end - start);
        EXPECT_LE(line.size(), 80u) << line;
        if (!line.empty() && line.back() == '\\') {
            ++continued;
            EXPECT_EQ(text.substr(end + 2, 2), "  ");
        }
        start = end + 2;
    }
    EXPECT_EQ(continued, 1u);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");

    const std::string regedit4 = write(r, WriteOptions{Format::Regedit4, Encoding::Ansi});
    EXPECT_EQ(regedit4.substr(0, 10), "REGEDIT4\r\n");
    EXPECT_NE(regedit4.find("\"Image\"=hex(2):61,00\r\n"), std::string::npos);
}

TEST(RegFile, ReadsRegeditExportsOfBothVersions)
{
    // As regedit 5 writes it: UTF-16LE, texts of hex(2)/hex(7) in UTF-16LE,
    // long data continued over lines; plus comments, blanks around '=',
    // deletion lines and a later line replacing a value.
    const std::string v5 =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; exported from a customer's machine\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\jq]\r\n"
        "\"ImagePath\"=hex(2):73,00,79,00,73,00,\\\r\n"
        "  5c,00,6a,00,71,00,00,00\r\n"
        "\"Ids\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"
        "@=\"Default \\\"quoted\\\" C:\\\\x\"\r\n"
        "  \"Spaced\" = dword:00000010 ; a comment\r\n"
        "\"Gone\"=\"soon\"\r\n"
        "\"Gone\"=-\r\n"
        "\"Twice\"=\"first\"\r\n"
        "\"TWICE\"=\"second\"\r\n"
        "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old\\Below]\r\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Never\\There]\r\n";
    Registry r;
    const FileInfo info = parse(utf16(v5), "v5.reg", r);
    EXPECT_EQ(info.format, Format::Version5);
    EXPECT_EQ(info.encoding, Encoding::Utf16Le);
    const Key* jq = r.find("HKLM\\system\\currentcontrolset\\services\\JQ");
    ASSERT_NE(jq, nullptr);
    EXPECT_EQ(*jq->value("ImagePath"), binaryValue("ImagePath", bytesOf(std::string("sys\\jq\0", 7)), REG_EXPAND_SZ));
    EXPECT_EQ(*jq->value("Ids"), multiStringValue("Ids", {"A", "B"}));
    EXPECT_EQ(*jq->value(""), stringValue("", "Default \"quoted\" C:\\x"));
    EXPECT_EQ(*jq->value("Spaced"), dwordValue("Spaced", 16));
    EXPECT_EQ(jq->value("Gone"), nullptr);
    EXPECT_EQ(*jq->value("twice"), stringValue("Twice", "second"));
    EXPECT_EQ(jq->value("Qword")->type, REG_QWORD);
    EXPECT_EQ(jq->values.size(), 6u);
    EXPECT_EQ(r.find("HKLM\\SOFTWARE\\Old"), nullptr);
    ASSERT_NE(r.find("HKLM\\SOFTWARE"), nullptr);

    // The same text data in a REGEDIT4 file is single-byte, and a version 5
    // header in an ANSI file still means UTF-16LE hex texts.
    Registry r4;
    parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"E\"=hex(2):73,79,73,00\n", "r4.reg", r4);
    EXPECT_EQ(*r4.find("HKLM\\A")->value("E"), stringValue("E", "sys", REG_EXPAND_SZ));
    Registry r5;
    const FileInfo ansi = parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n"
                                "\"E\"=hex(2):73,00,79,00,73,00,00,00\n",
                                "r5.reg", r5);
    EXPECT_EQ(ansi.encoding, Encoding::Ansi);
    EXPECT_EQ(*r5.find("HKLM\\A")->value("E"), stringValue("E", "sys", REG_EXPAND_SZ));
}

TEST(RegFile, UnicodeTextsBecomeSingleBytes)
{
    // In Windows-1252 U+00E9 keeps its value and U+20AC is 0x80; U+0416
    // (not in 1252) and a surrogate pair (one character) each become one '?'.
    std::string bytes = "\xFF\xFE";
    const char16_t text[] = u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Caf\u00e9]\r\n"
                            u"\"v\"=\"\u20ac \U0001F600 \u00e9 \u0416\"\r\n";
    for (const char16_t* p = text; *p; ++p) {
        bytes.push_back(static_cast<char>(*p & 0xFF));
        bytes.push_back(static_cast<char>(*p >> 8));
    }
    Registry r;
    parse(bytes, "u.reg", r);
    const Key* k = r.find("HKLM\\Caf\xE9");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(*k->value("v"), stringValue("v", "\x80 ? \xE9 ?"));
    const std::string back = write(r);
    EXPECT_NE(back.find(std::string("C\0a\0f\0\xE9\0]\0", 10)), std::string::npos);

    Registry u8;
    parse("\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\Caf\xC3\xA9]\n", "u8.reg", u8);
    EXPECT_NE(u8.find("HKLM\\Caf\xE9"), nullptr);
}

TEST(RegFile, RefusesMalformedFilesWithLineAndReason)
{
    const std::string header = "Windows Registry Editor Version 5.00\r\n";
    const struct {
        std::string text;
        size_t line;
        const char* reason;
    } cases[] = {
        {"", 1, "empty file"},
        {"REGEDIT5\r\n", 1, "not a registry file"},
        {"REGEDIT\r\n", 1, "Windows 3.1"},
        {header + "\"v\"=\"x\"\r\n", 2, "before the first key"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\"\r\n", 4, "deletion"},
        {header + "[HKEY_LOCAL_MACHINE\\A\r\n", 2, "closing ']'"},
        {header + "[HKEY_NOWHERE\\A]\r\n", 2, "unknown root key"},
        {header + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", 2, "empty key name"},
        {header + "[-HKEY_LOCAL_MACHINE]\r\n", 2, "root key cannot be deleted"},
        {header + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\r\n", 2, "longer than 255"},
        {header + "[HKEY_LOCAL_MACHINE\\A] trailing\r\n", 2, "unexpected text"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"open\r\n", 3, "without a closing quote"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"a\\tb\"\r\n", 3, "unknown escape"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\" \"x\"\r\n", 3, "expected '='"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=\"x\" junk\r\n", 3, "unexpected text"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:123456789\r\n", 3, "more than 8"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=dword:\r\n", 3, "without hexadecimal digits"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,2g\r\n", 3, "expected ','"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,,02\r\n", 3, "bad hex byte"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:123\r\n", 3, "bad hex byte"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex(zz):01\r\n", 3, "bad value type"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=qword:01\r\n", 3, "unknown data"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\r\n\r\n; note\r\n", 5, "past the end"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\r\n\"w\"=dword:1\r\n", 4, "no hex bytes"},
        {header + "[HKEY_LOCAL_MACHINE\\A]\r\nname=value\r\n", 3, "line not understood"},
        {"\xFF\xFEW\0x", 1, "odd number of bytes"},
        {"\xEF\xBB\xBFREGEDIT4\n\xC3(\n", 2, "invalid UTF-8"},
    };
    for (const auto& c : cases) {
        Registry r;
        try {
            parse(c.text, "bad.reg", r, ReadOptions{true, nullptr});
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ParseError& e) {
            EXPECT_EQ(e.file(), "bad.reg");
            EXPECT_EQ(e.line(), c.line) << e.what();
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()), "bad.reg:" + std::to_string(c.line) + ": " + e.reason());
        }
    }
}

TEST(RegFile, RegistryTreeCompareNamesWithoutCase)
{
    Registry r;
    Key& a = r.create("HKLM\\Software\\JQ");
    EXPECT_EQ(&r.create("HKEY_LOCAL_MACHINE\\SOFTWARE\\jq"), &a);
    r.create("HKLM\\Software\\b");
    r.create("HKLM\\Software\\A");
    r.create("HKLM\\Software\\C\\D\\E");
    std::vector<std::string> names;
    for (const Key* k : r.find("HKLM\\SOFTWARE")->children())
        names.push_back(k->name);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "C", "JQ"}));
    EXPECT_EQ(r.find("HKLM\\Software")->descendantCount(), 6u);

    // A removed key and a removed value can come back, at the end.
    EXPECT_TRUE(r.remove("HKLM\\software\\c"));
    EXPECT_FALSE(r.remove("HKLM\\software\\c"));
    EXPECT_EQ(r.find("HKLM\\Software\\C\\D"), nullptr);
    r.create("HKLM\\Software\\C");
    EXPECT_EQ(r.find("HKLM\\Software")->descendantCount(), 4u);
    a.set(dwordValue("one", 1));
    a.set(dwordValue("two", 2));
    EXPECT_TRUE(a.removeValue("ONE"));
    a.set(dwordValue("One", 3));
    ASSERT_EQ(a.values.size(), 2u);
    EXPECT_EQ(a.values[0].name, "two");
    EXPECT_EQ(a.values[1].name, "One");
}

TEST(RegFile, ReadsALargeFileInOnePass)
{
    // Many keys, one key with very many values and long continued hex data:
    // what a quadratic reader would not get through.
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < 20000; ++i) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\K" + std::to_string(i) + "]\r\n";
        text += "\"Name\"=\"value " + std::to_string(i) + "\"\r\n";
    }
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]\r\n";
    for (int i = 0; i < 50000; ++i)
        text += "\"v" + std::to_string(i) + "\"=dword:00000001\r\n";
    text += "\"long\"=hex:00";
    for (int i = 0; i < 200000; ++i)
        text += ",01" + std::string(i % 25 == 24 ? ",\\\r\n  02" : "");
    text += "\r\n";
    Registry r;
    parse(text, "big.reg", r);
    EXPECT_EQ(r.find("HKLM\\SOFTWARE\\Big")->subkeys.size(), 20000u);
    EXPECT_EQ(r.find("HKLM\\SOFTWARE\\Wide")->values.size(), 50001u);
    EXPECT_EQ(r.find("HKLM\\SOFTWARE\\Wide")->value("long")->data.size(), 1u + 200000u + 8000u);
}
