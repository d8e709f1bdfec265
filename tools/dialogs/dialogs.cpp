// jqdialogs: answers the dialogs of another program, as a user at the
// screen would, from a script of expected dialogs given on the command line.
//
//   jqdialogs [--timeout SECONDS] [--settle SECONDS] [--watch CAPTION]...
//             --dialog CAPTION TEXT ANSWER ...
//
// Each --dialog is one step, taken in order: wait for a visible top-level
// window captioned CAPTION (exactly) that has a static text containing TEXT,
// answer it, and wait until it has reacted (it is gone, no longer shows
// TEXT, or a modal window of its own disabled it) before the next step.
// ANSWER is one of
//   yes, no, ok      click the button captioned "&Yes", "&No" or "OK"
//   button=NAME      click the button whose caption, "&" left out, is NAME
//   close            the window's close box (WM_SYSCOMMAND SC_CLOSE)
//   escape           the Escape key, pressed on the focused control
// Buttons are clicked with BM_CLICK, which goes through the button's own
// click handling; a button that is disabled is waited for, not clicked.
//
// --watch CAPTION: a window with that caption that is not the one the
// current step waits for is unexpected: it is reported, closed through its
// close box (so that its program does not hang) and the run fails. Watched
// captions are also looked at for --settle seconds (default 2) after the
// last step, so that a dialog which should not have come is seen.
// --timeout: how long one step may wait for its window, and a pressed window
// for its reaction (default 60 s). The program never waits longer.
//
// Output, one line per event, flushed at once:
//   WAIT n caption="..." text~"..."
//   SEEN n caption="..." text="..." buttons="&Yes|&No"
//   PRESS n ANSWER
//   DONE n
//   UNEXPECTED caption="..." text="..." buttons="..." (closed)
//   VISIBLE caption="..." ...   (on a timeout: every visible window)
//   RESULT pass|fail: ...
// In quotes, a backslash, a double quote and a line break are written \\,
// \" and \n.
//
// Exit code: 0 every step answered and nothing unexpected; 1 bad command
// line; 2 a window did not come, or a button was not there, in time; 3 an
// unexpected window came; 4 a window did not react to its answer.
#include "../window_lines.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Kind { Button, Close, Escape };

struct Step {
    std::string caption;
    std::string text;
    std::string answer;  // as given, for the log
    Kind kind = Kind::Button;
    std::string button;  // for Kind::Button: the caption without "&"
};

struct Options {
    std::vector<Step> steps;
    std::vector<std::string> watched;
    DWORD timeoutMs = 60000;
    DWORD settleMs = 2000;
};

constexpr DWORD PollMs = 50;

std::string windowText(HWND window)
{
    // WM_GETTEXT, not GetWindowText: for a window of another process
    // GetWindowText returns only the caption the system keeps, which a
    // control may not have set through it. The timeout keeps a hung
    // program from hanging this one.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return std::string();
    std::vector<char> buffer(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return std::string();
    return std::string(buffer.data());
}

std::string withoutAccessKey(const std::string& caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size())
            ++i;  // "&&" stands for one "&"; "&x" for "x"
        out += caption[i];
    }
    return out;
}

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                                  static_cast<int>(a.size()), b.data(),
                                                  static_cast<int>(b.size())) == CSTR_EQUAL;
}

// What a window shows: its static texts and its buttons, children of
// children included (a property page inside its frame).
struct Contents {
    std::vector<std::string> texts;
    std::vector<std::string> buttons;
    std::vector<HWND> buttonWindows;
};

BOOL CALLBACK collectChild(HWND child, LPARAM param)
{
    auto* contents = reinterpret_cast<Contents*>(param);
    if (!IsWindowVisible(child))
        return TRUE;
    const std::string cls = className(child);
    if (sameIgnoringCase(cls, "Static")) {
        std::string text = windowText(child);
        if (!text.empty())
            contents->texts.push_back(text);
    } else if (sameIgnoringCase(cls, "Button")) {
        contents->buttons.push_back(windowText(child));
        contents->buttonWindows.push_back(child);
    }
    return TRUE;
}

Contents contentsOf(HWND window)
{
    Contents contents;
    EnumChildWindows(window, collectChild, reinterpret_cast<LPARAM>(&contents));
    return contents;
}

bool matches(HWND window, const Step& step)
{
    if (!IsWindow(window) || !IsWindowVisible(window) || windowText(window) != step.caption)
        return false;
    const Contents contents = contentsOf(window);
    return std::any_of(contents.texts.begin(), contents.texts.end(),
                       [&](const std::string& t) { return t.find(step.text) != std::string::npos; });
}

BOOL CALLBACK collectTopLevel(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::vector<HWND> topLevelWindows(bool hiddenToo = false)
{
    std::vector<HWND> all;
    EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&all));
    std::vector<HWND> windows;
    for (HWND window : all)
        if (hiddenToo || IsWindowVisible(window))
            windows.push_back(window);
    return windows;
}

std::string describe(HWND window)
{
    const Contents contents = contentsOf(window);
    return "caption=" + quoted(windowText(window)) + " text=" + quoted(joined(contents.texts)) +
           " buttons=" + quoted(joined(contents.buttons));
}

// Reports and closes every watched window that is not `expected`'s (all of
// them when `expected` is null). True when there was none.
bool closeUnexpected(const Options& options, const Step* expected)
{
    bool none = true;
    for (HWND window : topLevelWindows()) {
        if (std::find(options.watched.begin(), options.watched.end(), windowText(window)) == options.watched.end())
            continue;
        if (expected != nullptr && matches(window, *expected))
            continue;
        printLine("UNEXPECTED " + describe(window) + " (closed)");
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        none = false;
    }
    return none;
}

HWND findButton(HWND window, const std::string& name)
{
    const Contents contents = contentsOf(window);
    for (size_t i = 0; i < contents.buttons.size(); ++i)
        if (sameIgnoringCase(withoutAccessKey(contents.buttons[i]), name))
            return contents.buttonWindows[i];
    return nullptr;
}

// The key goes where the user's key would go: the focused control of the
// window's thread, whose keys the dialog manager reads first.
void pressKey(HWND window, WPARAM key, UINT scanCode)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = window;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr &&
        (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
        target = info.hwndFocus;
    const LPARAM down = 1 | (static_cast<LPARAM>(scanCode) << 16);
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);
    PostMessageA(target, WM_KEYDOWN, key, down);
    PostMessageA(target, WM_KEYUP, key, up);
}

enum Exit { Pass = 0, Usage = 1, TimedOut = 2, Unexpected = 3, NoReaction = 4 };

int finish(Exit code, const std::string& why)
{
    printLine(std::string("RESULT ") + (code == Pass ? "pass: " : "fail: ") + why);
    return code;
}

bool parseSeconds(const char* text, DWORD* ms)
{
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || seconds < 0 || seconds > 3600)
        return false;
    *ms = static_cast<DWORD>(seconds * 1000);
    return true;
}

bool parseAnswer(const std::string& answer, Step* step)
{
    step->answer = answer;
    if (answer == "yes" || answer == "no" || answer == "ok")
        step->button = answer;  // a step is a click unless it says otherwise
    else if (answer.compare(0, 7, "button=") == 0 && answer.size() > 7)
        step->button = answer.substr(7);
    else if (answer == "close")
        step->kind = Kind::Close;
    else if (answer == "escape")
        step->kind = Kind::Escape;
    else
        return false;
    return true;
}

bool parse(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--timeout" || arg == "--settle") && i + 1 < argc) {
            if (!parseSeconds(argv[++i], arg == "--timeout" ? &options->timeoutMs : &options->settleMs))
                return false;
        } else if (arg == "--watch" && i + 1 < argc) {
            options->watched.push_back(argv[++i]);
        } else if (arg == "--dialog" && i + 3 < argc) {
            Step step;
            step.caption = argv[i + 1];
            step.text = argv[i + 2];
            if (step.text.empty() || !parseAnswer(argv[i + 3], &step))
                return false;
            options->steps.push_back(step);
            i += 3;
        } else {
            return false;
        }
    }
    return !options->steps.empty();
}

bool elapsed(DWORD since, DWORD limit) { return GetTickCount() - since >= limit; }

int run(const Options& options)
{
    bool sawUnexpected = false;
    for (size_t n = 1; n <= options.steps.size(); ++n) {
        const Step& step = options.steps[n - 1];
        const std::string number = std::to_string(n);
        printLine("WAIT " + number + " caption=" + quoted(step.caption) + " text~" + quoted(step.text));

        HWND window = nullptr;
        HWND button = nullptr;
        bool seen = false;
        const DWORD started = GetTickCount();
        for (;;) {
            if (!closeUnexpected(options, &step))
                sawUnexpected = true;
            if (window == nullptr || !matches(window, step)) {
                const std::vector<HWND> windows = topLevelWindows();
                const auto found = std::find_if(windows.begin(), windows.end(), [&](HWND w) { return matches(w, step); });
                window = found == windows.end() ? nullptr : *found;
            }
            if (window != nullptr && !seen) {
                printLine("SEEN " + number + " " + describe(window));
                seen = true;
            }
            if (window != nullptr && step.kind != Kind::Button)
                break;
            if (window != nullptr) {
                button = findButton(window, step.button);
                if (button != nullptr && IsWindowEnabled(button))
                    break;
            }
            if (elapsed(started, options.timeoutMs)) {
                // What was there instead, for whoever reads the log.
                for (HWND other : topLevelWindows(true))
                    printLine(std::string(IsWindowVisible(other) ? "VISIBLE " : "HIDDEN ") + "class=" +
                              quoted(className(other)) + " " + describe(other));
                if (window == nullptr)
                    return finish(TimedOut, "step " + number + ": no window caption=" + quoted(step.caption) +
                                                " with text " + quoted(step.text) + " within the timeout");
                return finish(TimedOut, "step " + number + ": no enabled button " + quoted(step.button) +
                                            " in " + describe(window));
            }
            Sleep(PollMs);
        }

        printLine("PRESS " + number + " " + step.answer);
        switch (step.kind) {
        case Kind::Button: {
            // BM_CLICK is handled by the button's own thread; sent, not
            // posted, so that a click on a window that was just destroyed
            // is seen to fail.
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            break;
        }
        case Kind::Close:
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case Kind::Escape:
            pressKey(window, VK_ESCAPE, 0x01);
            break;
        }

        // It has reacted when it is gone, shows something else, or is
        // disabled because a modal window of its own opened over it.
        const DWORD pressed = GetTickCount();
        while (matches(window, step) && IsWindowEnabled(window)) {
            if (elapsed(pressed, options.timeoutMs))
                return finish(NoReaction, "step " + number + ": the window did not react to " + step.answer +
                                              ": " + describe(window));
            Sleep(PollMs);
        }
        printLine("DONE " + number);
    }

    const DWORD settled = GetTickCount();
    while (!elapsed(settled, options.settleMs)) {
        if (!closeUnexpected(options, nullptr))
            sawUnexpected = true;
        Sleep(PollMs);
    }
    if (sawUnexpected)
        return finish(Unexpected, "every step answered, but an unexpected window came (see UNEXPECTED)");
    return finish(Pass, std::to_string(options.steps.size()) + " answered");
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, &options)) {
        std::fputs("usage: jqdialogs [--timeout SECONDS] [--settle SECONDS] [--watch CAPTION]...\n"
                   "                 --dialog CAPTION TEXT yes|no|ok|button=NAME|close|escape ...\n",
                   stderr);
        return finish(Usage, "bad command line");
    }
    return run(options);
}
