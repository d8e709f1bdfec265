; jqsetup.nsi: a Pilotdeck setup that drives JQInst2k.dll (NSIS 3).
;
; One script, two installers:
;
;   makensis -DJQ_TARGET=x86-ansi -DJQ_DLL=/path/to/build/win32/JQInst2k.dll jqsetup.nsi
;       What a vendor ships: a 32-bit installer with the shipped 32-bit DLL,
;       which tests/nsis/run_nsis.py runs under wine32 as Windows XP,
;       its uninstaller interactively.
;   makensis -DJQ_TARGET=amd64-unicode -DJQ_DLL=/path/to/build/win64/JQInst2k.dll jqsetup.nsi
;       A 64-bit installer with the 64-bit test build of the DLL, which is
;       what tests/nsis/run_nsis.py runs under wine64.
;
; Other defines: JQ_OUTFILE (default jqsetup-TARGET.exe beside this file),
; JQ_DRIVERS (the folder holding JQDRV2K3.INF and, when the vendor has it,
; JQDRV2K1.INF; default driver/). makensis works in this script's folder, so
; relative paths are relative to it.
;
; The installer's command line:
;   /S              silent: no page, no question
;   /RESULTS=FILE   append one line "EXPORT RESULT" per call of the DLL to FILE
;   /D=FOLDER       the installation folder (NSIS wants it last, unquoted even
;                   with blanks); one NSIS did not take makes the installer
;                   refuse: exit code 2, results line "InstallFolder 0"
; The uninstaller (uninstall.exe in the installation folder) takes /S and
; /RESULTS=FILE too. Interactive, it runs the DLL's two uninstall hooks with
; their questions; silent, nobody could answer them, so it makes the same
; cleaning run and device removal through RemoveRootDevice instead.
;
; How the DLL is called: the System plug-in, stdcall (its default on x86),
; every export with the same three arguments: the window handle (p), a
; pointer the DLL never touches (p 0) and an ANSI text (m). The result is a
; 32-bit integer (i). `m` converts the Unicode installer's text to the ANSI
; code page; in the x86-ansi installer it is passed as it is.

!ifndef JQ_TARGET
    !define JQ_TARGET x86-ansi
!endif
Target ${JQ_TARGET}

!ifndef JQ_DLL
    !error "Give the DLL: -DJQ_DLL=path/to/JQInst2k.dll (32-bit for x86-ansi, 64-bit for amd64-unicode)"
!endif
!ifndef JQ_DRIVERS
    !define JQ_DRIVERS driver
!endif
!ifndef JQ_OUTFILE
    !define JQ_OUTFILE jqsetup-${JQ_TARGET}.exe
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
${StrStr}  ; declared once, before use
!include WinVer.nsh

Name "Pilotdeck"
OutFile "${JQ_OUTFILE}"
InstallDir "$PROGRAMFILES\JQ\Pilotdeck"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var JqModule   ; module handle of the loaded JQInst2k.dll; empty when not loaded
Var JqResults  ; the /RESULTS= file, or empty

; JqCall EXPORT TEXT: calls one export of the loaded DLL and leaves its
; result in $0 ("error" when the System plug-in could not make the call).
; The text goes through $1 rather than inline, so that a folder name with
; an apostrophe or a quote cannot end it early. The DLL is found
; by its module name, so the call reaches the copy JqLoad loaded.
!macro JqCall EXPORT TEXT
    StrCpy $1 `${TEXT}`
    System::Call 'JQInst2k::${EXPORT}(p $HWNDPARENT, p 0, m r1) i .r0'
    Push "${EXPORT} $0"
    !ifdef __UNINSTALL__
        Call un.JqRecord
    !else
        Call JqRecord
    !endif
!macroend

; The same helpers for the installer and (with UN = un.) the uninstaller.
!macro JqHelpers UN

; Writes the line on the stack to the details and to the /RESULTS= file.
Function ${UN}JqRecord
    Exch $R9
    Push $R8
    DetailPrint "JQInst2k.dll: $R9"
    ${If} $JqResults != ""
        ClearErrors
        FileOpen $R8 $JqResults a
        ${IfNot} ${Errors}
            FileSeek $R8 0 END
            FileWrite $R8 "$R9$\r$\n"
            FileClose $R8
        ${EndIf}
    ${EndIf}
    Pop $R8
    Pop $R9
FunctionEnd

Function ${UN}JqReadOptions
    ${GetParameters} $R0
    ${GetOptions} $R0 "/RESULTS=" $JqResults
    ; GetOptions runs a value on into a quoted option after it
    ; ('/RESULTS=C:\r.txt "/D=C:\Program Files\JQ"'): it ends at the quote.
    StrCpy $R2 0
    ${Do}
        StrCpy $R1 $JqResults 1 $R2
        ${IfThen} $R1 == "" ${|} ${ExitDo} ${|}
        ${If} $R1 == '"'
            StrCpy $JqResults $JqResults $R2
            ${ExitDo}
        ${EndIf}
        IntOp $R2 $R2 + 1
    ${Loop}
    ${Do}
        StrCpy $R1 $JqResults 1 -1
        ${IfThen} $R1 != " " ${|} ${ExitDo} ${|}
        StrCpy $JqResults $JqResults -1
    ${Loop}
FunctionEnd

; Extracts the DLL to $PLUGINSDIR and loads it, keeping the handle in
; $JqModule. The installer or uninstaller deletes $PLUGINSDIR when it ends,
; which only works for a DLL that is no longer loaded: see JqUnload.
Function ${UN}JqLoad
    Push $0
    InitPluginsDir
    File "/oname=$PLUGINSDIR\JQInst2k.dll" "${JQ_DLL}"
    System::Call 'kernel32::LoadLibrary(t "$PLUGINSDIR\JQInst2k.dll") p .r0'
    ${If} $0 == 0
    ${OrIf} $0 == "error"
        StrCpy $JqModule ""
        Push "Loaded 0"
    ${Else}
        StrCpy $JqModule $0
        Push "Loaded 1"
    ${EndIf}
    Call ${UN}JqRecord
    Pop $0
FunctionEnd

; Unloads the DLL so that its file can be deleted. The System plug-in never
; unloads a DLL by itself (only "? u" on a call does, which would also
; forget the module state: the folder, the restart flag), so the handle
; JqLoad took is given back here, once, after the last call. $0 (the last
; call's result) is kept.
Function ${UN}JqUnload
    ${If} $JqModule != ""
        Push $0
        System::Call 'kernel32::FreeLibrary(p $JqModule)'
        StrCpy $JqModule ""
        System::Call 'kernel32::GetModuleHandle(t "JQInst2k.dll") p .r0'
        ${If} $0 == 0
            Push "Unloaded 1"
        ${Else}
            Push "Unloaded 0"
        ${EndIf}
        Call ${UN}JqRecord
        Pop $0
    ${EndIf}
FunctionEnd

!macroend

!insertmacro JqHelpers ""
!insertmacro JqHelpers "un."

Function .onInit
    Call JqReadOptions
    ; NSIS takes /D= only last and unquoted, and then keeps it off the
    ; parameters. One still among them was not taken: $INSTDIR stayed the
    ; default, and installing there would go where nobody asked.
    ${StrStr} $R1 $CMDLINE "/D="
    ${If} $R1 != ""
        Push "InstallFolder 0"
        Call JqRecord
        MessageBox MB_ICONSTOP "The installation folder ($R1) was not taken: give /D=FOLDER last and without quotes, even with blanks. Nothing was installed (the default would have been $INSTDIR)." /SD IDOK
        Abort
    ${EndIf}
FunctionEnd

Section "Pilotdeck drivers" SecDrivers
    SectionIn RO
    ; The checks come before any file is written, so that a refusal
    ; leaves nothing behind.
    Call JqLoad
    ${If} $JqModule == ""
        MessageBox MB_ICONSTOP "JQInst2k.dll could not be loaded; the Pilotdeck drivers were not installed." /SD IDOK
        Abort
    ${EndIf}

    ; InitModule first: it reads the Windows version and the user's rights,
    ; which the other queries answer from, and clears the module state.
    !insertmacro JqCall InitModule ""
    ${If} $0 != 1
        MessageBox MB_ICONSTOP "The Windows version could not be read; the Pilotdeck drivers were not installed." /SD IDOK
        Call JqUnload
        Abort
    ${EndIf}
    !insertmacro JqCall IsWin2k ""
    StrCpy $2 $0
    !insertmacro JqCall IsWinXp ""
    DetailPrint "Windows 2000 or XP: $2, Windows XP: $0"

    !insertmacro JqCall IsAdmin ""
    ${If} $0 != 1
        MessageBox MB_ICONSTOP "Installing the Pilotdeck drivers needs administrator rights. Log in as an administrator and run the setup again." /SD IDOK
        Call JqUnload
        Abort
    ${EndIf}

    SetOutPath "$INSTDIR"
    ; CreateRootDevice and UpdateDevices look for the INF files in the
    ; folder they are given, so they must be there first.
    File "${JQ_DRIVERS}\JQDRV2K3.INF"
    !if /FileExists "${JQ_DRIVERS}\JQDRV2K1.INF"
        File "${JQ_DRIVERS}\JQDRV2K1.INF"
    !endif
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The DLL takes an ANSI text of at most 255 characters and adds
    ; "\JQDRV2K3.INF" itself: the folder goes without a closing backslash.
    !insertmacro JqCall SetTargetDir "$INSTDIR"
    ; Device nodes and driver installs go through the setup API, which the
    ; 9x family lacks (no newdev.dll): there both calls could only fail.
    ${If} ${IsNT}
        !insertmacro JqCall CreateRootDevice "$INSTDIR"
        ${If} $0 != 1
            DetailPrint "The Pilotdeck root device could not be installed."
        ${EndIf}
        !insertmacro JqCall UpdateDevices "$INSTDIR"
    ${EndIf}

    ; Any driver install since InitModule that asked for a restart.
    !insertmacro JqCall NeedReboot ""
    ${If} $0 == 1
        SetRebootFlag true
    ${EndIf}

    Call JqUnload
SectionEnd

Function .onInstSuccess
    ${If} ${RebootFlag}
        MessageBox MB_YESNO|MB_ICONQUESTION "Windows must be restarted to finish the Pilotdeck setup. Restart now?" /SD IDNO IDNO +2
        Reboot
    ${EndIf}
FunctionEnd

; Before anything is removed: UninstInitialize asks the user to confirm
; administrator rights (when the user seems to have none) and that the
; devices are unplugged; -1 means the user wants to stop.
Function un.onInit
    Call un.JqReadOptions
    ${IfNot} ${Silent}
        Call un.JqLoad
        ${If} $JqModule != ""
            !insertmacro JqCall UninstInitialize ""
            Call un.JqUnload
            ${If} $0 == -1
                Abort
            ${EndIf}
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Delete "$INSTDIR\JQDRV2K3.INF"
    Delete "$INSTDIR\JQDRV2K1.INF"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    ; After the files: the registry traces of the devices and the root
    ; device node. The uninstaller runs its own copy of the DLL, from its
    ; $PLUGINSDIR, so nothing in the installation folder stays in use.
    Call un.JqLoad
    ${If} $JqModule != ""
        ${If} ${Silent}
            !insertmacro JqCall InitModule ""
            !insertmacro JqCall RootDeviceCount ""
            !insertmacro JqCall RemoveRootDevice ""
            !insertmacro JqCall RootDeviceCount ""
            ${If} $0 != 0
                DetailPrint "The Pilotdeck root device is still there; restart Windows and uninstall again."
            ${EndIf}
        ${Else}
            ; Cleans, removes the root device and tells the user to restart.
            !insertmacro JqCall UninstUnInitialize ""
        ${EndIf}
        Call un.JqUnload
    ${EndIf}
    ; Drivers of removed devices stay in memory until Windows restarts.
    SetRebootFlag true
SectionEnd

Function un.onUninstSuccess
    MessageBox MB_YESNO|MB_ICONQUESTION "Restart Windows now to finish removing the Pilotdeck drivers?" /SD IDNO IDNO +2
    Reboot
FunctionEnd
