// The exports the installation program calls, by name or ordinal (listed,
// with what each answers, in export_list.h).
// Every export takes the host's window, a pointer to a 32-bit integer that
// no export touches (it may be null) and a zero-terminated ANSI text (a null
// pointer counts as the empty text), and returns a 32-bit integer. No error
// of any kind leaves an export.
#pragma once

#include "host/export_list.h"
#include "platform/win32.h"

#define JQ_DECLARE_EXPORT(ordinal, name, argument, result) \
    extern "C" LONG WINAPI name(HWND window, LONG* unused, LPCSTR text);
JQ_EXPORT_LIST(JQ_DECLARE_EXPORT)
#undef JQ_DECLARE_EXPORT
