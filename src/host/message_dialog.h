// The modal message dialog of the uninstall hooks: the message, the system's
// information icon, and either Yes and No or a single OK button.
//
// A standard message box cannot be used: its Yes/No box has no cancel
// button, so Escape does nothing there, while our questions must take Escape
// as No. The dialog is therefore built from a template in memory.
#pragma once

#include "platform/win32.h"

#include <vector>

enum class MessageButtons { YesNo, Ok };

// Shows `text` under the caption "Information", with no parent window, and
// waits for the answer:
//   IDYES (6) or IDNO (7) for the Yes/No dialog, IDOK (1) for the OK dialog;
//   Enter gives the default button (Yes, or OK);
//   Escape gives the cancel answer (No, or OK);
//   the close box gives IDCANCEL (2), which is neither Yes nor No.
// A dialog that cannot be shown answers MessageDialogFailed, apart from every
// button and the close box: nobody was asked, so no caller may take it for
// an answer. The failure is traced.
int showMessageDialog(const char* text, MessageButtons buttons);

constexpr int MessageDialogFailed = -1;

// The in-memory dialog template for `text` (DLGTEMPLATE with DS_SETFONT,
// then the icon, the message and the buttons, each item on a DWORD
// boundary). Held in DWORDs, so the whole template is DWORD-aligned too.
std::vector<DWORD> buildMessageDialogTemplate(const char* text, MessageButtons buttons);

// Control ids of the two static controls (the buttons use IDYES, IDNO, IDOK).
constexpr WORD MessageDialogIconId = 100;
constexpr WORD MessageDialogTextId = 101;
