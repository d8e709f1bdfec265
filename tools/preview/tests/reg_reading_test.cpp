// Reading customer exports as regedit imports them: skipped lines, joined
// exports, line ends, encodings and the machine's code page.
#include "reg_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace regfile;

namespace {

const std::string V5 = "Windows Registry Editor Version 5.00\r\n";

std::string utf16(const std::u16string& text, bool mark = true)
{
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

// The line numbers the warnings name, in order.
std::vector<size_t> warnedLines(const FileInfo& info, const std::string& file)
{
    std::vector<size_t> lines;
    for (const std::string& w : info.warnings) {
        EXPECT_EQ(w.rfind(file + ":", 0), 0u) << w;
        lines.push_back(std::stoul(w.substr(file.size() + 1)));
    }
    return lines;
}

std::string text(const Value* v)
{
    return v ? std::string(v->data.begin(), v->data.end() - (v->data.empty() ? 0 : 1)) : "(none)";
}

size_t strictErrorLine(const std::string& bytes)
{
    Registry r;
    try {
        parse(bytes, "s.reg", r, ReadOptions{true, nullptr});
    } catch (const ParseError& e) {
        return e.line();
    }
    return 0;
}

// What Wine's regedit (8.0) imports from this file, measured with
// `regedit /S` and `regedit /E`: every line it cannot use is passed over.
const std::string Damaged = V5 +
    "\r\n"
    "\"before\"=\"x\"\r\n"                                  // 3: before any key
    "[HKEY_LOCAL_MACHINE\\T1]\r\n"
    "# hash comment\r\n"                                   // 5
    "\"a\"=\"1\"\r\n"
    "\"nine\"=dword:0ffffffff\r\n"                         // 7
    "\"eight\"=dword:0fffffff\r\n"
    "foo bar\r\n"                                          // 9
    "\"esc\"=\"a\\tb\\qc\"\r\n"                            // 10, twice: read as "atbqc"
    "\"junk\"=\"x\" junk\r\n"                              // 11
    "\"dj\"=dword:1 junk\r\n"                              // 12
    "\"hx\"=hex:01,zz,02\r\n"                              // 13
    "\"hx2\"=hex:01,\\\r\n"                                // 14 and 15
    "\"lost\"=dword:1\r\n"
    "\"after\"=\"ok\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\T1\\Sub]\r\n"
    "\"afterdel\"=\"x\"\r\n"                               // 18
    "[HKEY_LOCAL_MACHINE\\T1\\K] junk\r\n"                 // 19: the key is read
    "\"inK\"=\"1\"\r\n"
    "[HKEY_BOGUS\\X]\r\n"                                  // 21
    "\"inBogus\"=\"1\"\r\n"                                // 22
    "[HKEY_LOCAL_MACHINE\\T1\\K2]\r\n"
    "\"k2\"=\"1\"\r\n"
    "  ; indented comment\r\n"
    "  \"indented\"=\"1\"\r\n"
    "\"n1\"=\\\r\n"                                        // 27
    "\"last\"=\"1\"\r\n";

}  // namespace

TEST(RegReading, SkipsTheLinesRegeditSkipsEachWithItsLine)
{
    Registry r;
    const FileInfo info = parse(Damaged, "d.reg", r);
    EXPECT_EQ(warnedLines(info, "d.reg"),
              (std::vector<size_t>{3, 5, 7, 9, 10, 10, 11, 12, 13, 14, 18, 19, 21, 22, 27}));
    EXPECT_NE(info.warnings[9].find("lines 14 to 15 skipped"), std::string::npos) << info.warnings[9];

    const Key* t1 = r.find("HKLM\\T1");
    ASSERT_NE(t1, nullptr);
    std::vector<std::string> names;
    for (const Value& v : t1->values)
        names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "eight", "esc", "after"}));
    EXPECT_EQ(text(t1->value("esc")), "atbqc");
    EXPECT_EQ(*t1->value("eight"), dwordValue("eight", 0x0fffffff));
    EXPECT_NE(r.find("HKLM\\T1\\K")->value("inK"), nullptr);
    EXPECT_EQ(r.find("HKLM\\T1\\K")->values.size(), 1u);
    names.clear();
    for (const Value& v : r.find("HKLM\\T1\\K2")->values)
        names.push_back(v.name);
    EXPECT_EQ(names, (std::vector<std::string>{"k2", "indented", "last"}));
    EXPECT_EQ(r.roots.size(), 1u);  // nothing of HKEY_BOGUS

    // A warning quotes 60 characters of a long line, then an ellipsis.
    Registry longLine;
    const std::string garbage(300, 'x');
    const FileInfo cut = parse(V5 + "[HKEY_LOCAL_MACHINE\\A]\r\n" + garbage + "\r\n", "l.reg", longLine);
    ASSERT_EQ(cut.warnings.size(), 1u);
    EXPECT_NE(cut.warnings[0].find("\"" + garbage.substr(0, 60) + "\xE2\x80\xA6\""), std::string::npos)
        << cut.warnings[0];

    // Strict reading stops at the first of them, as the tool did before.
    EXPECT_EQ(strictErrorLine(Damaged), 3u);
    EXPECT_EQ(strictErrorLine(V5 + "[HKEY_LOCAL_MACHINE\\A]\r\n# c\r\n"), 3u);
    EXPECT_EQ(strictErrorLine(V5 + "[HKEY_LOCAL_MACHINE\\A] x\r\n"), 2u);
    EXPECT_EQ(strictErrorLine(V5 + "[HKEY_LOCAL_MACHINE\\A]\r\n\"e\"=\"\\q\"\r\n"), 3u);
}

TEST(RegReading, ValuesOfARefusedKeyLineGoNowhere)
{
    // Wine's regedit would put them into the key before; they belong to the
    // damaged key, so they are skipped rather than misplaced.
    Registry r;
    const FileInfo info = parse(V5 + "[HKEY_LOCAL_MACHINE\\Good]\r\n\"g\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\Open\r\n"
                                     "\"v\"=\"1\"\r\n[HKEY_LOCAL_MACHINE\\Good2]\r\n\"g2\"=\"1\"\r\n",
                                "k.reg", r);
    EXPECT_EQ(warnedLines(info, "k.reg"), (std::vector<size_t>{4, 5}));
    EXPECT_EQ(r.find("HKLM\\Good")->values.size(), 1u);
    EXPECT_EQ(r.find("HKLM\\Good2")->values.size(), 1u);
}

TEST(RegReading, WhatRegeditRefusesIsStillRefused)
{
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"REGEDIT4 junk\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", "not a registry file"},
        {"regedit4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", "not a registry file"},
        {"\r\nREGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", "not a registry file"},
        {utf16(u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", false),
         "UTF-16LE text without the byte-order mark (FF FE)"},
        {utf16(u"REGEDIT4\r\n", false), "(printf '\\377\\376'; cat 'r.reg') > fixed.reg"},
    };
    for (const auto& c : cases) {
        Registry r;
        try {
            parse(c.bytes, "r.reg", r);
            ADD_FAILURE() << "accepted: " << c.bytes;
        } catch (const ParseError& e) {
            EXPECT_EQ(e.line(), 1u);
            EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.what();
        }
    }
}

TEST(RegReading, CrCrLfIsOneLineEnd)
{
    std::string doubled = "REGEDIT4\r\r\n[HKEY_LOCAL_MACHINE\\A]\r\r\n\"h\"=hex:01,\\\r\r\n  02\r\r\n\r\r\n"
                          "\"bad\"=dword:\r\r\n\"s\"=\"x\"\r\r\n";
    Registry r;
    const FileInfo info = parse(doubled, "c.reg", r);
    EXPECT_EQ(info.lines, 7u);
    EXPECT_EQ(warnedLines(info, "c.reg"), (std::vector<size_t>{6}));
    ASSERT_EQ(info.notes.size(), 1u);
    EXPECT_NE(info.notes[0].find("CR CR LF (line 1 is the first)"), std::string::npos) << info.notes[0];
    EXPECT_EQ(r.find("HKLM\\A")->value("h")->data, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(text(r.find("HKLM\\A")->value("s")), "x");
    EXPECT_EQ(strictErrorLine(doubled), 6u);

    // A lone CR still ends a line, and CR CR without LF is two of them.
    Registry lone;
    const FileInfo l = parse("REGEDIT4\r[HKEY_LOCAL_MACHINE\\A]\r\r\"v\"=dword:\r", "l.reg", lone);
    EXPECT_EQ(warnedLines(l, "l.reg"), (std::vector<size_t>{4}));
    EXPECT_TRUE(l.notes.empty());
}

TEST(RegReading, JoinedExportsAreReadPartByPart)
{
    const std::u16string first = u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\One]\r\n\"a\"=\"1\"\r\n";
    const std::string regedit4 = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Two]\r\n\"e\"=hex(2):73,79,73,00\r\n";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-16 and UTF-16", utf16(first) + utf16(u"Windows Registry Editor Version 5.00\r\n"
                                                   u"[HKEY_LOCAL_MACHINE\\Two]\r\n\"e\"=hex(2):73,00,79,00,73,00,00,00\r\n")},
        {"UTF-16 and ANSI", utf16(first) + regedit4},
        {"ANSI and UTF-16", "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\One]\r\n\"a\"=\"1\"\r\n" +
                                utf16(u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Two]\r\n\"e\"=hex(2):73,79,73,00\r\n")},
        {"ANSI and UTF-8", "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\One]\r\n\"a\"=\"1\"\r\n"
                           "\xEF\xBB\xBF" + regedit4},
        {"ANSI and ANSI", "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\One]\r\n\"a\"=\"1\"\r\n" +
                              regedit4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Registry r;
        const FileInfo info = parse(c.bytes, "j.reg", r);
        EXPECT_EQ(warnedLines(info, "j.reg"), (std::vector<size_t>{4}));
        ASSERT_FALSE(info.warnings.empty());
        EXPECT_NE(info.warnings[0].find("two registry exports joined together"), std::string::npos);
        EXPECT_EQ(info.warnings[0].find('?'), std::string::npos) << info.warnings[0];
        EXPECT_EQ(text(r.find("HKLM\\One")->value("a")), "1");
        // Each part's own header says how its text data is written.
        ASSERT_NE(r.find("HKLM\\Two"), nullptr);
        EXPECT_EQ(*r.find("HKLM\\Two")->value("e"), stringValue("e", "sys", REG_EXPAND_SZ));
        EXPECT_EQ(strictErrorLine(c.bytes), 4u);
    }
}

TEST(RegReading, TheMachinesCodePageReadsAndWritesItsTexts)
{
    const CodePage* cyrillic = CodePage::find(1251);
    ASSERT_NE(cyrillic, nullptr);
    EXPECT_EQ(CodePage::find(932), nullptr);
    // A few characters each table must hold, and bytes a table leaves
    // undefined come back as the control character of the same value.
    EXPECT_EQ(CodePage::windows1252().toUnicode(0x80), 0x20ACu);
    EXPECT_EQ(CodePage::windows1252().toUnicode(0x9F), 0x0178u);
    EXPECT_EQ(CodePage::windows1252().toUnicode(0x81), 0x0081u);
    EXPECT_EQ(CodePage::windows1252().toUnicode(0xE9), 0x00E9u);
    EXPECT_EQ(cyrillic->toUnicode(0xC0), 0x0410u);
    EXPECT_EQ(cyrillic->toUnicode(0xFF), 0x044Fu);
    EXPECT_EQ(cyrillic->toUnicode(0xA8), 0x0401u);
    EXPECT_EQ(cyrillic->toUnicode(0x98), 0x0098u);

    // "Эскиз" in a Cyrillic machine's ANSI export comes back as itself.
    const std::string ansi = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\\xDD\xF1\xEA\xE8\xE7]\r\n\"v\"=\"\xC6\"\r\n";
    const std::string wide = utf16(u"[HKEY_LOCAL_MACHINE\\Эскиз]").substr(2);
    for (const CodePage* page : {cyrillic, &CodePage::windows1252()}) {
        Registry r;
        parse(ansi, "a.reg", r, ReadOptions{false, page});
        const std::string out = write(r, WriteOptions{Format::Version5, Encoding::Utf16Le, page});
        EXPECT_EQ(out.find(wide) != std::string::npos, page == cyrillic) << page->number();
        // Unicode files are read back into the same bytes.
        Registry back;
        parse(out, "w.reg", back, ReadOptions{false, page});
        EXPECT_EQ(write(back, WriteOptions{Format::Regedit4, Encoding::Ansi, page}),
                  write(r, WriteOptions{Format::Regedit4, Encoding::Ansi, page}));
    }
    Registry fromUnicode;
    parse(utf16(u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Эскиз]\r\n"
                u"\"e\"=hex(2):16,04,00,00\r\n"),
          "u.reg", fromUnicode, ReadOptions{false, cyrillic});
    const Key* k = fromUnicode.find("HKLM\\\xDD\xF1\xEA\xE8\xE7");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(*k->value("e"), stringValue("e", "\xC6", REG_EXPAND_SZ));

    // Every byte of every supported code page survives a Unicode file.
    for (unsigned number : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u}) {
        const CodePage* page = CodePage::find(number);
        ASSERT_NE(page, nullptr) << number;
        std::string all;
        for (int b = 1; b < 256; ++b)
            all.push_back(static_cast<char>(b));
        Registry r;
        r.create("HKLM\\K").set(stringValue("all", all));
        r.create("HKLM\\K").set(multiStringValue("multi", {all, all}));
        for (Encoding e : {Encoding::Utf16Le, Encoding::Utf8}) {
            Registry back;
            parse(write(r, WriteOptions{Format::Version5, e, page}), "b.reg", back, ReadOptions{false, page});
            EXPECT_EQ(*back.find("HKLM\\K")->value("all"), *r.find("HKLM\\K")->value("all")) << number;
            EXPECT_EQ(*back.find("HKLM\\K")->value("multi"), *r.find("HKLM\\K")->value("multi")) << number;
        }
    }
}

TEST(RegReading, NamesTheCodePageMakesEqualAreNotMergedSilently)
{
    const std::string file = utf16(u"Windows Registry Editor Version 5.00\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\Жук]\r\n\"Жук\"=\"1\"\r\n\"Бак\"=\"2\"\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\Бак]\r\n\"x\"=\"3\"\r\n"
                                   u"[HKEY_LOCAL_MACHINE\\Жук]\r\n\"y\"=\"4\"\r\n");
    Registry r;
    const FileInfo info = parse(file, "m.reg", r);
    // The first name that loses characters is a warning (line 2), the
    // count of them a note. Lines 4 and 5 (a value, a key) each meet a
    // different name read the same; line 6 names the first key again,
    // which is no merge.
    EXPECT_EQ(warnedLines(info, "m.reg"), (std::vector<size_t>{2, 4, 5}));
    ASSERT_EQ(info.warnings.size(), 3u);
    EXPECT_NE(info.warnings[0].find("the key \"HKEY_LOCAL_MACHINE\\Жук\" holds characters code page 1252 lacks"),
              std::string::npos)
        << info.warnings[0];
    EXPECT_EQ(info.lossyTexts, 5u);  // each name line: three keys, two values
    ASSERT_EQ(info.notes.size(), 1u);
    EXPECT_NE(info.notes[0].find("names and texts hold characters code page 1252 lacks (the first at line 2)"),
              std::string::npos)
        << info.notes[0];
    EXPECT_NE(info.warnings[2].find("key \"HKEY_LOCAL_MACHINE\\Бак\" and the one at line 2, \"HKEY_LOCAL_MACHINE\\Жук\", "
                                    "are the same in code page 1252"),
              std::string::npos)
        << info.warnings[2];
    EXPECT_EQ(r.find("HKLM\\???")->values.size(), 3u);

    Registry cyrillic;
    const FileInfo right = parse(file, "m.reg", cyrillic, ReadOptions{false, CodePage::find(1251)});
    EXPECT_TRUE(right.warnings.empty());
    EXPECT_EQ(cyrillic.find("HKLM")->subkeys.size(), 2u);
    EXPECT_EQ(cyrillic.find("HKLM\\\xC6\xF3\xEA")->values.size(), 3u);

    // Messages show the lost characters as the file has them.
    Registry bad;
    const FileInfo shown = parse(utf16(u"Windows Registry Editor Version 5.00\r\nЖук\r\n"), "b.reg", bad);
    ASSERT_EQ(shown.warnings.size(), 1u);
    EXPECT_NE(shown.warnings[0].find("line not understood: \"Жук\""), std::string::npos) << shown.warnings[0];
}
