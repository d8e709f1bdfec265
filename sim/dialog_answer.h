// The answers a script gives a message dialog, and the words that name them
// on a command line: the host program's, the preview's and the test tables'.
// Plain C++ without Windows, so that the 32-bit host program reads the same
// words as the simulator.
#pragma once

#include <cctype>
#include <string_view>

namespace sim {

enum class DialogAnswer { Yes, No, Ok, Enter, Escape, CloseBox };

struct DialogAnswerWord {
    const char* word;
    DialogAnswer answer;
};

// The first word of each answer is the one it is written back as.
inline constexpr DialogAnswerWord DialogAnswerWords[] = {
    {"yes", DialogAnswer::Yes},       {"no", DialogAnswer::No},         {"ok", DialogAnswer::Ok},
    {"enter", DialogAnswer::Enter},   {"escape", DialogAnswer::Escape}, {"esc", DialogAnswer::Escape},
    {"close", DialogAnswer::CloseBox},
};

// Any case: "Yes", "ESC".
inline bool parseDialogAnswer(std::string_view text, DialogAnswer& answer)
{
    for (const DialogAnswerWord& w : DialogAnswerWords) {
        const std::string_view word = w.word;
        bool same = word.size() == text.size();
        for (size_t i = 0; same && i < word.size(); ++i)
            same = std::tolower(static_cast<unsigned char>(text[i])) == word[i];
        if (same) {
            answer = w.answer;
            return true;
        }
    }
    return false;
}

inline const char* dialogAnswerWord(DialogAnswer answer)
{
    for (const DialogAnswerWord& w : DialogAnswerWords)
        if (w.answer == answer)
            return w.word;
    return "?";
}

}  // namespace sim
