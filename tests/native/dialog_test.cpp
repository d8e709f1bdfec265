#include "host/message_dialog.h"
#include "native/fixture.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <tuple>

namespace {

// Reads the template on its own terms, offsets counted from its start, so
// that the builder is checked apart from the simulator's reader.
class Reader {
public:
    explicit Reader(const std::vector<DWORD>& data)
        : bytes_(reinterpret_cast<const BYTE*>(data.data())), size_(data.size() * sizeof(DWORD))
    {
    }
    template <class T>
    T read()
    {
        if (at_ + sizeof(T) > size_)
            throw std::out_of_range("read past the template's end");
        T value;
        std::memcpy(&value, bytes_ + at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    std::string text()
    {
        std::string s;
        for (WORD c = read<WORD>(); c; c = read<WORD>())
            s += static_cast<char>(c);
        return s;
    }
    size_t at() const { return at_; }
    void align() { at_ = (at_ + 3) & ~size_t{3}; }

private:
    const BYTE* bytes_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

TEST(MessageDialogTemplate, ItemsAreDwordAlignedAndTheTextFits)
{
    // Texts of both parities move the padding before every item.
    for (const std::string& text : {std::string("x"), std::string("ab"), std::string(419, 'w'), std::string(420, 'w')}) {
        for (const bool yesNo : {true, false}) {
            SCOPED_TRACE(std::to_string(text.size()) + (yesNo ? " Yes/No" : " OK"));
            const auto data = buildMessageDialogTemplate(
                text.c_str(), yesNo ? MessageButtons::YesNo : MessageButtons::Ok);
            Reader in(data);
            const auto header = in.read<DLGTEMPLATE>();
            // A popup with a caption and close box, modal-framed, centred and
            // brought to the foreground: it has no parent to come up over.
            const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                DS_CENTER | DS_SETFOREGROUND | DS_3DLOOK;
            const DWORD headerStyle = header.style;
            EXPECT_EQ(headerStyle, style);
            EXPECT_EQ(in.read<WORD>(), 0);  // menu
            EXPECT_EQ(in.read<WORD>(), 0);  // class
            EXPECT_EQ(in.text(), "Information");
            EXPECT_EQ(in.read<WORD>(), 8);
            EXPECT_EQ(in.text(), "MS Shell Dlg");

            // class ordinal, id, title, control kind
            // The message's "&" is no access key; Tab moves between the buttons.
            const DWORD firstButton = WS_TABSTOP | WS_GROUP;
            std::vector<std::tuple<WORD, WORD, std::string, DWORD>> expected{
                {0x82, MessageDialogIconId, "", SS_ICON},
                {0x82, MessageDialogTextId, text, SS_LEFT | SS_NOPREFIX}};
            if (yesNo)
                expected.insert(expected.end(),
                                {{0x80, IDYES, "&Yes", BS_DEFPUSHBUTTON | firstButton},
                                 {0x80, IDNO, "&No", BS_PUSHBUTTON | WS_TABSTOP}});
            else
                expected.push_back({0x80, IDOK, "OK", BS_DEFPUSHBUTTON | firstButton});
            ASSERT_EQ(header.cdit, expected.size());
            std::vector<DLGITEMTEMPLATE> items;
            for (const auto& [classOrdinal, id, title, kind] : expected) {
                in.align();
                EXPECT_EQ(in.at() % 4, 0u);
                items.push_back(in.read<DLGITEMTEMPLATE>());
                EXPECT_EQ(in.read<WORD>(), 0xFFFF);
                EXPECT_EQ(in.read<WORD>(), classOrdinal);
                EXPECT_EQ(in.text(), title);
                EXPECT_EQ(in.read<WORD>(), 0);  // no creation data
                EXPECT_EQ(items.back().id, id);
                const DWORD itemStyle = items.back().style;  // the packed record is not aligned for a reference
                EXPECT_EQ(itemStyle, WS_CHILD | WS_VISIBLE | kind) << title;
                EXPECT_GT(items.back().cx, 0) << title;
                EXPECT_GT(items.back().cy, 0) << title;
                EXPECT_LE(items.back().x + items.back().cx, header.cx) << title;
                EXPECT_LE(items.back().y + items.back().cy, header.cy) << title;
            }
            EXPECT_LT(data.size() * 4 - in.at(), 4u) << "nothing after the last item";

            const DLGITEMTEMPLATE& message = items[1];
            EXPECT_GE(message.x, items[0].x + items[0].cx) << "text beside the icon";
            EXPECT_EQ(items[0].cx, items[0].cy) << "a square icon";
            EXPECT_EQ(items[0].y, message.y) << "level with the text's first line";
            // Even at a generous 60 characters a line the text needs this
            // height, and one line more for wrapping; and the icon's.
            EXPECT_GE(message.cy, static_cast<short>(((text.size() + 59) / 60 + 1) * 8));
            EXPECT_GE(message.cy, items[0].cy);
            for (size_t b = 2; b < items.size(); ++b)
                EXPECT_GE(items[b].y, message.y + message.cy) << "buttons below the text";
            if (yesNo) {
                EXPECT_GE(items[3].x, items[2].x + items[2].cx) << "buttons side by side";
            }
            const DLGITEMTEMPLATE& last = items.back();
            EXPECT_LE(std::abs(items[2].x - (header.cx - last.x - last.cx)), 1) << "buttons centred";
        }
    }
}

namespace {

// A procedure that leaves the close box to the dialog manager.
INT_PTR CALLBACK commandOnlyProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message != WM_COMMAND)
        return FALSE;
    EndDialog(dialog, 100 + LOWORD(wParam));
    return TRUE;
}

}  // namespace

class SimulatedDialogTest : public SimTest {};

TEST_F(SimulatedDialogTest, DialogManagerActsAsWindowsAndRefusesScriptsThatDoNotFit)
{
    const auto yesNo = buildMessageDialogTemplate("Shall we?", MessageButtons::YesNo);
    m.dialogs.answers = {sim::DialogAnswer::CloseBox};
    EXPECT_EQ(DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(yesNo.data()),
                                      nullptr, commandOnlyProc, 0),
              100 + IDCANCEL);

    m.dialogs.answers = {sim::DialogAnswer::Ok};
    EXPECT_THROW(showMessageDialog("Shall we?", MessageButtons::YesNo), std::logic_error);
    m.dialogs.answers = {sim::DialogAnswer::Yes};
    EXPECT_THROW(showMessageDialog("Done.", MessageButtons::Ok), std::logic_error);
    EXPECT_THROW(showMessageDialog("Shall we?", MessageButtons::YesNo), std::logic_error);
    // The fixture checks that none of these dialogs was left open.
}

// Each dialog sounds as a message box with the information icon does.
TEST_F(SimulatedDialogTest, EachDialogBeepsAsAnInformationMessage)
{
    m.dialogs.answers = {sim::DialogAnswer::Enter, sim::DialogAnswer::Enter};
    EXPECT_EQ(showMessageDialog("Shall we?", MessageButtons::YesNo), IDYES);
    EXPECT_EQ(showMessageDialog("Done.", MessageButtons::Ok), IDOK);
    const auto beeps = m.callsOf("MessageBeep");
    ASSERT_EQ(beeps.size(), 2u);
    for (const sim::CallRecord& beep : beeps)
        EXPECT_EQ(beep.flags, static_cast<DWORD>(MB_ICONINFORMATION));
}

// However long the text, the dialog stays on the screen: the text is clipped.
TEST(MessageDialogTemplate, LongTextKeepsTheDialogOnTheScreen)
{
    const auto data = buildMessageDialogTemplate(std::string(10000, 'w').c_str(), MessageButtons::Ok);
    DLGTEMPLATE header;
    std::memcpy(&header, data.data(), sizeof header);
    EXPECT_LE(header.cy, 450);
}
