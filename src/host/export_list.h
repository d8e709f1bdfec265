// The sixteen exports, by ordinal: the one list that the module definition
// (made from it at build time), the declarations in exports.h, the preview's
// table and its help text, and the static check of the shipped DLL all come
// from. Each row: ordinal, name, the argument it reads (Nothing, Window: the
// host's window, passed on to the setup API; Folder: the text, an
// installation folder) and what it answers.
//
// The rows are parsed by windows/CMakeLists.txt and tests/static/check_dll.py
// as well: keep each on one line, in this form.
#pragma once

#define JQ_EXPORT_LIST(X) \
    X(1, UninstInitialize, Nothing, "0 proceed with the uninstall, -1 stop it") \
    X(2, UninstUnInitialize, Window, "0") \
    X(3, CreateRootDevice, Folder, "1 root device there with its driver, else 0") \
    X(4, UpdateDevices, Folder, "0") \
    X(5, RemoveRootDevice, Window, "1 when a root device was found, else 0") \
    X(6, RemoveUsbDevices, Window, "0 a vendor id was found, 1 none, 2 not an administrator") \
    X(7, RemovePedalDevices, Window, "as RemoveUsbDevices (pedals only)") \
    X(8, RemoveAuxDevices, Window, "as RemoveUsbDevices (USB and aux devices)") \
    X(9, IsWin2k, Nothing, "1 for Windows version 5, else 0") \
    X(10, IsWinMe, Nothing, "1 for Windows Me, else 0") \
    X(11, IsWinXp, Nothing, "1 for Windows XP, else 0") \
    X(12, IsAdmin, Nothing, "1 for an administrator, else 0") \
    X(13, NeedReboot, Nothing, "1 when a driver install asked for a restart") \
    X(14, InitModule, Nothing, "1 when the OS facts could be read") \
    X(15, SetTargetDir, Folder, "0") \
    X(16, RootDeviceCount, Nothing, "the number of root devices")
