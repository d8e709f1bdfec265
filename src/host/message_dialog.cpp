#include "host/message_dialog.h"

#include "support/tracers.h"

#include <cstring>

namespace {

// What the buttons and keys of one dialog kind answer. Handed to the dialog
// procedure through WM_INITDIALOG and kept in the dialog's window memory.
struct DialogAnswers {
    int enter;   // IDOK from the dialog manager when it found no default button
    int escape;  // IDCANCEL, which is what Escape arrives as
};

const DialogAnswers YesNoAnswers = {IDYES, IDNO};
const DialogAnswers OkAnswers = {IDOK, IDOK};

INT_PTR CALLBACK messageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        // A shared system icon: nothing to destroy afterwards.
        if (HICON icon = LoadIconA(nullptr, IDI_INFORMATION))
            SendDlgItemMessageA(dialog, MessageDialogIconId, STM_SETICON,
                                reinterpret_cast<WPARAM>(icon), 0);
        MessageBeep(MB_ICONINFORMATION);
        return TRUE;  // focus to the first button, so Enter presses it

    case WM_COMMAND: {
        const auto* answers =
            reinterpret_cast<const DialogAnswers*>(GetWindowLongPtrA(dialog, DWLP_USER));
        switch (LOWORD(wParam)) {
        case IDYES:
        case IDNO:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDOK:
            EndDialog(dialog, answers ? answers->enter : IDCANCEL);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, answers ? answers->escape : IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }

    // The close box (SC_CLOSE, which the dialog manager turns into WM_CLOSE).
    // Left to the dialog manager, it would arrive as IDCANCEL and be taken
    // for Escape; it must stay apart, as neither Yes nor No.
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

// Layout, in dialog units of "MS Shell Dlg" 8.
constexpr short Margin = 7;
constexpr short IconSize = 21;
constexpr short TextLeft = Margin + IconSize + Margin;
constexpr short TextWidth = 250;
constexpr short LineHeight = 8;
// A line of TextWidth holds some 70 characters of running text in the
// dialog font; the height is reckoned with fewer and one line to spare, for
// wider fonts and word wrapping.
constexpr size_t CharsPerLine = 60;
constexpr size_t MaxLines = 50;  // beyond this the text is clipped, the dialog stays on screen
constexpr short ButtonWidth = 50;
constexpr short ButtonHeight = 14;
constexpr short ButtonGap = 4;
constexpr short DialogWidth = TextLeft + TextWidth + Margin;

class TemplateWriter {
public:
    void append(const void* data, size_t size)
    {
        const size_t at = bytes_.size();
        bytes_.resize(at + size);
        std::memcpy(bytes_.data() + at, data, size);
    }
    void word(WORD value) { append(&value, sizeof value); }
    void ordinal(WORD value)
    {
        word(0xFFFF);
        word(value);
    }
    // The template's strings are UTF-16 even for the ANSI call. The texts
    // shown here are ASCII, which widens unchanged.
    void text(const char* s)
    {
        for (; *s; ++s)
            word(static_cast<unsigned char>(*s));
        word(0);
    }
    void alignToDword()
    {
        while (bytes_.size() % sizeof(DWORD))
            bytes_.push_back(0);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classOrdinal,
              const char* title)
    {
        alignToDword();
        DLGITEMTEMPLATE item{};
        item.style = WS_CHILD | WS_VISIBLE | style;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        append(&item, sizeof item);
        ordinal(classOrdinal);
        text(title);
        word(0);  // no creation data
    }
    std::vector<DWORD> finish()
    {
        alignToDword();
        std::vector<DWORD> dwords(bytes_.size() / sizeof(DWORD));
        std::memcpy(dwords.data(), bytes_.data(), bytes_.size());
        return dwords;
    }

private:
    std::vector<BYTE> bytes_;
};

constexpr WORD ButtonClass = 0x0080;
constexpr WORD StaticClass = 0x0082;

}  // namespace

std::vector<DWORD> buildMessageDialogTemplate(const char* text, MessageButtons buttons)
{
    const bool yesNo = buttons == MessageButtons::YesNo;
    size_t lines = (std::strlen(text) + CharsPerLine - 1) / CharsPerLine + 1;
    if (lines < 3)
        lines = 3;  // as tall as the icon
    if (lines > MaxLines)
        lines = MaxLines;
    const short textHeight = static_cast<short>(lines * LineHeight);
    const short buttonTop = Margin + textHeight + Margin;
    const short rowWidth = yesNo ? ButtonWidth + ButtonGap + ButtonWidth : ButtonWidth;
    const short rowLeft = (DialogWidth - rowWidth) / 2;

    TemplateWriter out;
    DLGTEMPLATE header{};
    header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER |
                   DS_SETFOREGROUND | DS_3DLOOK;
    header.cdit = yesNo ? 4 : 3;
    header.cx = DialogWidth;
    header.cy = buttonTop + ButtonHeight + Margin;
    out.append(&header, sizeof header);
    out.word(0);  // no menu
    out.word(0);  // the standard dialog class
    out.text("Information");
    out.word(8);
    out.text("MS Shell Dlg");

    out.item(SS_ICON, Margin, Margin, IconSize, IconSize, MessageDialogIconId, StaticClass, "");
    out.item(SS_LEFT | SS_NOPREFIX, TextLeft, Margin, TextWidth, textHeight, MessageDialogTextId,
             StaticClass, text);
    if (yesNo) {
        out.item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, rowLeft, buttonTop, ButtonWidth,
                 ButtonHeight, IDYES, ButtonClass, "&Yes");
        out.item(BS_PUSHBUTTON | WS_TABSTOP, rowLeft + ButtonWidth + ButtonGap, buttonTop,
                 ButtonWidth, ButtonHeight, IDNO, ButtonClass, "&No");
    } else {
        out.item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, rowLeft, buttonTop, ButtonWidth,
                 ButtonHeight, IDOK, ButtonClass, "OK");
    }
    return out.finish();
}

int showMessageDialog(const char* text, MessageButtons buttons)
{
    const std::vector<DWORD> dialogTemplate = buildMessageDialogTemplate(text, buttons);
    const DialogAnswers& answers = buttons == MessageButtons::YesNo ? YesNoAnswers : OkAnswers;
    const INT_PTR answer = DialogBoxIndirectParamA(
        nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), nullptr,
        messageDialogProc, reinterpret_cast<LPARAM>(&answers));
    if (answer <= 0) {  // -1: not created; 0: no usable parent (none is given)
        TraceFmt("  I2K: Message dialog failed - tVal:%x", GetLastError());
        return MessageDialogFailed;
    }
    return static_cast<int>(answer);
}
