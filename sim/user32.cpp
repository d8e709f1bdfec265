// Modal dialogs, answered from the machine's script.
//
// DialogBoxIndirectParamA reads the template the way Windows does (every
// item on a DWORD boundary, strings in UTF-16), records what the user would
// see, and plays the dialog manager's part: WM_INITDIALOG, then one scripted
// answer after another, turned into the messages the keyboard or mouse would
// produce, until the procedure calls EndDialog.
//
// A script that does not fit the dialog (no answer left, an answer for a
// button the dialog lacks) is a fault of the test: it throws
// std::logic_error, which names the dialog and the answer.
#include "sim_internal.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

namespace {

using sim::DialogAnswer;
using sim::DialogControl;
using sim::DialogRecord;

struct OpenDialog {
    size_t record = 0;  // index into machine().dialogs.shown
    bool ended = false;
    INT_PTR result = 0;
    LONG_PTR userData = 0;  // DWLP_USER
    std::map<WORD, HICON> icons;
};

OpenDialog* findDialog(HWND window)
{
    sim::Handle* h = sim::machine().findHandle(window, sim::HandleKind::Dialog);
    return h ? static_cast<OpenDialog*>(h->payload.get()) : nullptr;
}

// System icons are shared and never destroyed: a fixed value per icon id.
HICON systemIcon(WORD id) { return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x7F000000u + id)); }
const WORD InformationIconId = static_cast<WORD>(reinterpret_cast<uintptr_t>(IDI_INFORMATION));

[[noreturn]] void scriptError(const std::string& what)
{
    // Also on stderr: through an export the error only reaches the trace.
    std::fprintf(stderr, "sim: %s\n", what.c_str());
    throw std::logic_error("sim: " + what);
}

// -------------------------------------------------------------- template

class TemplateReader {
public:
    explicit TemplateReader(const void* at) : at_(static_cast<const BYTE*>(at)) {}

    WORD word() { return record<WORD>(); }
    template <class T>
    T record()
    {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A zero-terminated UTF-16 string; characters beyond Latin-1 read as '?'.
    std::string text()
    {
        std::string s;
        for (WORD c = word(); c != 0; c = word())
            s += c < 0x100 ? static_cast<char>(c) : '?';
        return s;
    }
    // A field that is empty (0), an ordinal (0xFFFF, n) or a string.
    std::string textOrOrdinal(WORD* ordinal)
    {
        *ordinal = 0;
        if (TemplateReader(*this).word() == 0xFFFF) {  // a copy reads ahead
            word();
            *ordinal = word();
            return "";
        }
        return text();
    }
    void skip(size_t bytes) { at_ += bytes; }
    void alignToDword()
    {
        const uintptr_t p = reinterpret_cast<uintptr_t>(at_);
        at_ += (sizeof(DWORD) - p % sizeof(DWORD)) % sizeof(DWORD);
    }

private:
    const BYTE* at_;
};

std::string predefinedClass(WORD ordinal)
{
    switch (ordinal) {
    case 0x0080: return "BUTTON";
    case 0x0081: return "EDIT";
    case 0x0082: return "STATIC";
    case 0x0083: return "LISTBOX";
    case 0x0084: return "SCROLLBAR";
    case 0x0085: return "COMBOBOX";
    }
    scriptError("dialog template names the unknown class ordinal " + std::to_string(ordinal));
}

bool isIconStatic(const DialogControl& c)
{
    return sim::equalNoCase(c.className, "STATIC") && (c.style & 0x1F) == SS_ICON;
}

DialogRecord parseTemplate(LPCDLGTEMPLATEA dialogTemplate)
{
    if (reinterpret_cast<uintptr_t>(dialogTemplate) % sizeof(DWORD) != 0)
        scriptError("dialog template is not DWORD-aligned");
    TemplateReader in(dialogTemplate);
    TemplateReader peek(dialogTemplate);
    const WORD first = peek.word();
    const WORD signature = peek.word();
    if (first == 1 && signature == 0xFFFF)
        scriptError("extended dialog templates are not simulated");

    const auto header = in.record<DLGTEMPLATE>();
    DialogRecord record;
    WORD ordinal;
    in.textOrOrdinal(&ordinal);  // menu
    in.textOrOrdinal(&ordinal);  // window class
    record.caption = in.text();
    if (header.style & DS_SETFONT) {
        in.word();  // point size
        in.text();  // typeface
    }
    for (WORD i = 0; i < header.cdit; ++i) {
        in.alignToDword();
        const auto item = in.record<DLGITEMTEMPLATE>();
        DialogControl control;
        control.id = item.id;
        control.style = item.style;
        const std::string className = in.textOrOrdinal(&ordinal);
        control.className = ordinal ? predefinedClass(ordinal) : className;
        control.text = in.textOrOrdinal(&ordinal);
        in.skip(in.word());  // creation data
        record.controls.push_back(control);
    }
    for (const DialogControl& c : record.controls) {
        if (sim::equalNoCase(c.className, "STATIC") && !isIconStatic(c)) {
            record.text = c.text;
            break;
        }
    }
    return record;
}

// ------------------------------------------------------- dialog manager

class Session {
public:
    Session(HWND window, OpenDialog& state, DLGPROC procedure)
        : window_(window), state_(state), procedure_(procedure)
    {
    }

    INT_PTR send(UINT message, WPARAM wParam, LPARAM lParam)
    {
        const sim::CallerCode callback;  // the procedure is the caller's code
        return procedure_(window_, message, wParam, lParam);
    }

    void command(WORD id) { send(WM_COMMAND, id, 0); }  // BN_CLICKED in the high word

    void deliver(DialogAnswer answer)
    {
        switch (answer) {
        case DialogAnswer::Yes: command(buttonId("&Yes", answer)); break;
        case DialogAnswer::No: command(buttonId("&No", answer)); break;
        case DialogAnswer::Ok: command(buttonId("OK", answer)); break;
        case DialogAnswer::Enter: command(defaultId()); break;
        case DialogAnswer::Escape: command(IDCANCEL); break;
        case DialogAnswer::CloseBox:
            // What DefDlgProc does with what the procedure leaves to it:
            // SC_CLOSE becomes WM_CLOSE, and WM_CLOSE becomes IDCANCEL.
            if (!send(WM_SYSCOMMAND, SC_CLOSE, 0) && !state_.ended && !send(WM_CLOSE, 0, 0) &&
                !state_.ended)
                command(IDCANCEL);
            break;
        }
    }

private:
    const DialogRecord& record() const { return sim::machine().dialogs.shown[state_.record]; }

    WORD buttonId(const char* text, DialogAnswer answer) const
    {
        for (const DialogControl& c : record().controls)
            if (sim::equalNoCase(c.className, "BUTTON") && c.text == text)
                return c.id;
        scriptError(std::string("the script answers ") + sim::dialogAnswerName(answer) +
                    " but the dialog \"" + record().caption + "\" has no button \"" + text +
                    "\"");
    }

    // The dialog manager presses the default button; without one, IDOK.
    WORD defaultId() const
    {
        for (const DialogControl& c : record().controls)
            if (sim::equalNoCase(c.className, "BUTTON") && (c.style & 0xF) == BS_DEFPUSHBUTTON)
                return c.id;
        return IDOK;
    }

    HWND window_;
    OpenDialog& state_;
    DLGPROC procedure_;
};

// Closes the dialog's handle on every way out, a script error included.
struct DialogHandleCloser {
    HWND window;
    ~DialogHandleCloser() { sim::machine().closeHandle(window, sim::HandleKind::Dialog); }
};

}  // namespace

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE, LPCDLGTEMPLATEA dialogTemplate,
                                       HWND parentWindow, DLGPROC procedure, LPARAM initParam)
{
    const sim::Answer outcome{__func__};
    sim::Machine& m = sim::machine();
    if (sim::failWithInjectedFault("DialogBoxIndirectParamA"))
        return outcome(-1);
    if (!dialogTemplate || !procedure)
        return outcome(sim::failWith<INT_PTR>(ERROR_INVALID_PARAMETER, -1));

    DialogRecord record = parseTemplate(dialogTemplate);
    record.hasParent = parentWindow != nullptr;
    m.dialogs.shown.push_back(record);

    auto state = std::make_shared<OpenDialog>();
    state->record = m.dialogs.shown.size() - 1;
    HWND window = static_cast<HWND>(m.addHandle(sim::HandleKind::Dialog, record.caption, state));
    DialogHandleCloser closer{window};

    Session session(window, *state, procedure);
    session.send(WM_INITDIALOG, 0, initParam);
    while (!state->ended) {
        if (m.dialogs.answers.empty())
            scriptError("the dialog \"" + record.caption + "\" (" + record.text.substr(0, 40) +
                        "...) waits for an answer and the script has none left");
        const DialogAnswer answer = m.dialogs.answers.front();
        m.dialogs.answers.pop_front();
        session.deliver(answer);
    }
    m.dialogs.shown[state->record].result = state->result;
    return outcome(state->result);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("EndDialog"))
        return outcome(FALSE);
    OpenDialog* state = findDialog(dialog);
    if (!state)
        return outcome(sim::failWith(ERROR_INVALID_WINDOW_HANDLE, FALSE));
    state->ended = true;
    state->result = result;
    return outcome(TRUE);
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM)
{
    const sim::Answer outcome{__func__};
    sim::machine().injectedFault("SendDlgItemMessageA");  // counted; a message cannot fail
    OpenDialog* state = findDialog(dialog);
    if (!state)
        return outcome(sim::failWith<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0));
    DialogRecord& record = sim::machine().dialogs.shown[state->record];
    for (const DialogControl& c : record.controls) {
        if (c.id != static_cast<WORD>(id))
            continue;
        if (message != STM_SETICON || !isIconStatic(c))
            return outcome(0);
        const HICON icon = reinterpret_cast<HICON>(wParam);
        if (icon == systemIcon(InformationIconId))
            record.informationIcon = true;
        const HICON previous = state->icons[c.id];
        state->icons[c.id] = icon;
        return outcome(reinterpret_cast<LRESULT>(previous));
    }
    return outcome(sim::failWith<LRESULT>(ERROR_CONTROL_ID_NOT_FOUND, 0));
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    const sim::Answer outcome{__func__};
    if (sim::failWithInjectedFault("LoadIconA"))
        return outcome(nullptr);
    // Only the system's icons (IDI_APPLICATION to IDI_INFORMATION and the
    // like) exist: the simulated modules carry no resources.
    const uintptr_t id = reinterpret_cast<uintptr_t>(name);
    if (instance || id > 0xFFFF || id < 32512 || id > 32518)
        return outcome(sim::failWith<HICON>(ERROR_RESOURCE_NAME_NOT_FOUND, nullptr));
    return outcome(systemIcon(static_cast<WORD>(id)));
}

BOOL WINAPI MessageBeep(UINT uType)
{
    const sim::Answer outcome{__func__};
    return outcome(sim::failWithInjectedFault(sim::CallRecord{"MessageBeep", nullptr, uType}) ? FALSE : TRUE);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    const sim::Answer outcome{__func__};
    OpenDialog* state = findDialog(window);
    if (!state)
        return outcome(sim::failWith<LONG_PTR>(ERROR_INVALID_WINDOW_HANDLE, 0));
    if (index != DWLP_USER)
        return outcome(sim::failWith<LONG_PTR>(ERROR_INVALID_INDEX, 0));
    sim::machine().lastError = 0;  // tells a previous 0 from a failure
    const LONG_PTR previous = state->userData;
    state->userData = value;
    return outcome(previous);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index)
{
    const sim::Answer outcome{__func__};
    OpenDialog* state = findDialog(window);
    if (!state)
        return outcome(sim::failWith<LONG_PTR>(ERROR_INVALID_WINDOW_HANDLE, 0));
    if (index != DWLP_USER)
        return outcome(sim::failWith<LONG_PTR>(ERROR_INVALID_INDEX, 0));
    return outcome(state->userData);
}
