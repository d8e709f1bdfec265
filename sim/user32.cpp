// Modal dialogs, answered from the machine's script. (Filled in with the
// uninstall hooks.)
#include "sim_internal.h"

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE, LPCDLGTEMPLATEA, HWND, DLGPROC, LPARAM)
{
    return sim::failWith<INT_PTR>(ERROR_CALL_NOT_IMPLEMENTED, -1);
}
BOOL WINAPI EndDialog(HWND, INT_PTR) { return FALSE; }
LRESULT WINAPI SendDlgItemMessageA(HWND, int, UINT, WPARAM, LPARAM) { return 0; }
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return nullptr; }
BOOL WINAPI MessageBeep(UINT) { return TRUE; }
