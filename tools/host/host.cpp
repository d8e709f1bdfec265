// jqhost: loads JQInst2k.dll the way an installation program does and calls
// its exports in the order given on the command line, answering the
// library's message dialogs from the command line too.
//
//   jqhost [--dll PATH] [--answer yes,no,ok,close,escape,enter] [--pointer] [--os]
//          CALL...
//   CALL   NAME | NAME=TEXT | #ORDINAL | #ORDINAL=TEXT
//
// Each call gets a null window and, as the third argument, TEXT (a null
// pointer when no "=" is given, so that the library's null handling is
// exercised too). The second argument is a null pointer; with --pointer it
// points to a guard value instead, and a call that changes it is reported.
//
// Output, one line per event, flushed at once so that it interleaves with
// what Wine writes on stderr:
//   OS major.minor build platform          (with --os)
//   DIALOG caption="..." text="..." buttons="&Yes|&No" icon=information answer=yes
//   NAME -> RESULT
//   POINTER CHANGED NAME old->new          (with --pointer)
// Inside the quotes a backslash, a double quote and a line break are written
// \\, \" and \n, so that a reader can split the line unambiguously.
//
// Dialogs are seen through a WH_CBT hook on the host's thread and answered
// once their modal loop runs, one answer each, in order: yes, no and ok
// click the button with id IDYES, IDNO or IDOK; close is the close box
// (SC_CLOSE); escape and enter are the keys, sent to the focused control.
//
// Exit code: 0 when every call ran; 1 bad command line; 2 the DLL did not
// load; 3 an export was not found (nothing after it is called); 4 a dialog
// came up with no answer left (it was closed through its close box).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "dialog_answer.h"

#include "../window_lines.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using ExportFn = LONG(WINAPI*)(HWND, LONG*, LPCSTR);

using sim::DialogAnswer;

struct Call {
    std::string name;  // as given: "InitModule" or "#14"
    std::optional<std::string> text;
};

struct Options {
    std::string dllPath;
    std::deque<DialogAnswer> answers;
    bool guardPointer = false;
    bool showOs = false;
    std::vector<Call> calls;
};

// State the hook procedure needs; the hook has no user parameter.
struct DialogState {
    std::deque<DialogAnswer> answers;
    HWND answerWindow = nullptr;
    std::vector<HWND> queued;  // activation repeats; each dialog is answered once
    bool ranOut = false;
};
DialogState g_dialogs;

const UINT kAnswerMessage = WM_APP + 1;

std::string windowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int got = GetWindowTextA(window, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

struct DialogContents {
    std::vector<std::string> texts;
    std::vector<std::string> buttons;
    std::string icon = "none";
};

BOOL CALLBACK collectChild(HWND child, LPARAM param)
{
    auto& contents = *reinterpret_cast<DialogContents*>(param);
    const std::string cls = className(child);
    if (lstrcmpiA(cls.c_str(), "Button") == 0) {
        contents.buttons.push_back(windowText(child));
    } else if (lstrcmpiA(cls.c_str(), "Static") == 0) {
        const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            HICON shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            if (shown == nullptr)
                contents.icon = "none";
            else if (shown == LoadIconA(nullptr, IDI_INFORMATION))
                contents.icon = "information";
            else
                contents.icon = "other";
        } else {
            std::string text = windowText(child);
            if (!text.empty())
                contents.texts.push_back(text);
        }
    }
    return TRUE;
}

void clickButton(HWND dialog, int id)
{
    // What a click ends in: the button's notification to its dialog. The
    // notification is posted so that it reaches the dialog through the
    // dialog's own message loop, as a real click would.
    HWND button = GetDlgItem(dialog, id);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void pressKey(HWND dialog, WPARAM key, LPARAM scanCode)
{
    // The key goes where the user's key would go: the focused control,
    // whose messages the dialog manager reads first.
    HWND target = GetFocus();
    if (target == nullptr || (target != dialog && !IsChild(dialog, target)))
        target = dialog;
    const LPARAM down = 1 | (scanCode << 16);                   // repeat count 1
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);  // released
    PostMessageA(target, WM_KEYDOWN, key, down);
    PostMessageA(target, WM_KEYUP, key, up);
}

void answerDialog(HWND dialog, DialogAnswer answer)
{
    switch (answer) {
    case DialogAnswer::Yes: clickButton(dialog, IDYES); break;
    case DialogAnswer::No: clickButton(dialog, IDNO); break;
    case DialogAnswer::Ok: clickButton(dialog, IDOK); break;
    case DialogAnswer::CloseBox: PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case DialogAnswer::Escape: pressKey(dialog, VK_ESCAPE, 0x01); break;
    case DialogAnswer::Enter: pressKey(dialog, VK_RETURN, 0x1C); break;
    }
}

// A dialog is reported and answered once its modal loop runs: the hook only
// queues it, because at activation the dialog has no focus yet.
LRESULT CALLBACK answerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kAnswerMessage)
        return DefWindowProcA(window, message, wParam, lParam);

    HWND dialog = reinterpret_cast<HWND>(lParam);
    if (!IsWindow(dialog))
        return 0;
    DialogContents contents;
    EnumChildWindows(dialog, collectChild, reinterpret_cast<LPARAM>(&contents));

    DialogAnswer answer = DialogAnswer::CloseBox;
    std::string answerText;
    if (g_dialogs.answers.empty()) {
        g_dialogs.ranOut = true;
        answerText = "none";  // closed, so that the host does not hang
    } else {
        answer = g_dialogs.answers.front();
        g_dialogs.answers.pop_front();
        answerText = sim::dialogAnswerWord(answer);
    }
    printLine("DIALOG caption=" + quoted(windowText(dialog)) + " text=" + quoted(joined(contents.texts)) +
              " buttons=" + quoted(joined(contents.buttons)) + " icon=" + contents.icon +
              " answer=" + answerText);
    answerDialog(dialog, answer);
    return 0;
}

LRESULT CALLBACK cbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND activated = reinterpret_cast<HWND>(wParam);
        // Only dialog-class windows are answered; "#32770" is the class every
        // dialog box and message box is made of.
        auto& queued = g_dialogs.queued;
        const bool seen = std::find(queued.begin(), queued.end(), activated) != queued.end();
        if (!seen && className(activated) == "#32770" && g_dialogs.answerWindow != nullptr) {
            queued.push_back(activated);
            PostMessageA(g_dialogs.answerWindow, kAnswerMessage, 0, reinterpret_cast<LPARAM>(activated));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The owner of one handle the host opens (null: none was opened).
template <typename Handle>
struct Owned {
    using Release = BOOL(WINAPI*)(Handle);
    const Handle handle;
    const Release release;
    Owned(Handle h, Release r) : handle(h), release(r) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned()
    {
        if (handle)
            release(handle);
    }
};

bool parseCommandLine(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dll" || arg == "--answer") {
            if (i + 1 >= argc)
                return false;
            const std::string value = argv[++i];
            if (arg == "--dll") {
                options.dllPath = value;
                continue;
            }
            std::istringstream words(value);
            for (std::string word; std::getline(words, word, ',');) {
                if (word.empty())
                    continue;
                DialogAnswer a;
                if (!sim::parseDialogAnswer(word, a)) {
                    std::fprintf(stderr, "jqhost: unknown answer '%s'\n", word.c_str());
                    return false;
                }
                options.answers.push_back(a);
            }
        } else if (arg == "--pointer") {
            options.guardPointer = true;
        } else if (arg == "--os") {
            options.showOs = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::fprintf(stderr, "jqhost: unknown option '%s'\n", arg.c_str());
            return false;
        } else {
            Call call;
            const size_t eq = arg.find('=');
            call.name = arg.substr(0, eq);
            if (eq != std::string::npos)
                call.text = arg.substr(eq + 1);
            if (call.name.empty())
                return false;
            options.calls.push_back(call);
        }
    }
    return true;
}

std::string besideExecutable(const char* fileName)
{
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    const size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    return dir + fileName;
}

// An ordinal is looked up by number, as installers that import by ordinal do.
FARPROC lookUp(HMODULE module, const std::string& name)
{
    if (name.size() > 1 && name[0] == '#') {
        char* end = nullptr;
        const unsigned long ordinal = std::strtoul(name.c_str() + 1, &end, 10);
        if (*end != '\0' || ordinal == 0 || ordinal > 0xFFFF)
            return nullptr;
        return GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    }
    return GetProcAddress(module, name.c_str());
}

void showOs()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        printLine("OS unknown");
        return;
    }
    char line[96];
    std::snprintf(line, sizeof line, "OS %lu.%lu build %lu platform %lu", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber, version.dwPlatformId);
    printLine(line);
}

int run(const Options& options)
{
    if (options.showOs)
        showOs();

    const std::string dllPath = options.dllPath.empty() ? besideExecutable("JQInst2k.dll") : options.dllPath;
    const Owned<HMODULE> library(LoadLibraryA(dllPath.c_str()), FreeLibrary);
    if (!library.handle) {
        std::fprintf(stderr, "jqhost: cannot load %s (error %lu)\n", dllPath.c_str(), GetLastError());
        printLine("LOAD FAILED " + dllPath);
        return 2;
    }

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = answerWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "JqHostAnswers";
    RegisterClassA(&windowClass);
    const Owned<HWND> answerWindow(CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                   nullptr, windowClass.hInstance, nullptr),
                                   DestroyWindow);
    g_dialogs.answers = options.answers;
    g_dialogs.answerWindow = answerWindow.handle;
    const Owned<HHOOK> hook(SetWindowsHookExA(WH_CBT, cbtHook, nullptr, GetCurrentThreadId()), UnhookWindowsHookEx);
    if (!hook.handle || !answerWindow.handle)
        std::fprintf(stderr, "jqhost: dialogs cannot be answered (error %lu)\n", GetLastError());

    for (const Call& call : options.calls) {
        auto fn = reinterpret_cast<ExportFn>(reinterpret_cast<void*>(lookUp(library.handle, call.name)));
        if (!fn) {
            printLine(call.name + " -> NOT FOUND");
            return 3;
        }
        const LONG guard = 0x5AA5F00F;
        LONG value = guard;
        LONG* pointer = options.guardPointer ? &value : nullptr;
        const LONG result = fn(nullptr, pointer, call.text ? call.text->c_str() : nullptr);
        printLine(call.name + " -> " + std::to_string(result));
        if (value != guard) {
            char line[128];
            std::snprintf(line, sizeof line, "POINTER CHANGED %s %lX->%lX", call.name.c_str(),
                          static_cast<unsigned long>(guard), static_cast<unsigned long>(value));
            printLine(line);
        }
    }

    g_dialogs.answerWindow = nullptr;
    for (DialogAnswer left : g_dialogs.answers)
        std::fprintf(stderr, "jqhost: answer '%s' was not used\n", sim::dialogAnswerWord(left));
    return g_dialogs.ranOut ? 4 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Plain line feeds: the lines are read on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    Options options;
    if (!parseCommandLine(argc, argv, options)) {
        std::fputs("usage: jqhost [--dll PATH] [--answer yes,no,ok,close,escape,enter] [--pointer] [--os]\n"
                   "              NAME[=TEXT] | #ORDINAL[=TEXT] ...\n",
                   stderr);
        return 1;
    }
    return run(options);
}
