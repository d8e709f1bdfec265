; jqsetup.iss: a Pilotdeck setup that drives JQInst2k.dll (Inno Setup 6).
;
;   ISCC.exe /DJqDll=PATH\JQInst2k.dll [/DJqDrivers=FOLDER] [/OOUTDIR] jqsetup.iss
;
; JqDll is the shipped 32-bit DLL (build/win32/JQInst2k.dll); JqDrivers the
; folder with JQDRV2K3.INF and, when the vendor has it, JQDRV2K1.INF
; (default: the stand-in beside the NSIS example). Relative paths are
; relative to this script's folder. The setup is jqsetup-inno.exe.
;
; Results: every call of the DLL writes a line "JQInst2k.dll: EXPORT RESULT"
; to the Setup or Uninstall log, which /LOG=FILE writes to FILE.
;
; Inno Setup 6 runs on Windows 7 and later only. Its setup is a 32-bit
; program, which is what a 32-bit DLL needs.

#ifndef JqDll
  #error Give the DLL: /DJqDll=path\to\JQInst2k.dll
#endif
#ifndef JqDrivers
  #define JqDrivers "..\nsis\driver"
#endif

[Setup]
AppName=Pilotdeck
AppVersion=1.0
AppPublisher=JQ
DefaultDirName={autopf}\JQ\Pilotdeck
DefaultGroupName=Pilotdeck
PrivilegesRequired=admin
OutputBaseFilename=jqsetup-inno
DisableProgramGroupPage=yes
Uninstallable=yes

[Files]
; For Setup: extracted to {tmp} on the first call ("files:"), not installed.
Source: "{#JqDll}"; Flags: dontcopy
; For the uninstaller, which loads it from {app}: the script deletes it
; itself once it has unloaded it, since a loaded DLL cannot be deleted.
Source: "{#JqDll}"; DestDir: "{app}"; Flags: uninsneveruninstall ignoreversion
; CreateRootDevice and UpdateDevices read the INF files from {app}: Setup
; copies them before ssPostInstall, where the calls are made.
Source: "{#JqDrivers}\JQDRV2K3.INF"; DestDir: "{app}"
; JQDRV2K1.INF only where the folder has it. An absolute JqDrivers
; (C:\... or \\server\...) stands as it is; a relative one is relative to
; this script's folder, as the Source: lines read it.
#if Pos(":", JqDrivers) == 2 || Copy(JqDrivers, 1, 2) == "\\"
  #define JqDriversFolder JqDrivers
#else
  #define JqDriversFolder AddBackslash(SourcePath) + JqDrivers
#endif
#if FileExists(JqDriversFolder + "\JQDRV2K1.INF")
Source: "{#JqDrivers}\JQDRV2K1.INF"; DestDir: "{app}"
#endif

[Code]
// Every export: stdcall, the window, a pointer the DLL never touches, and
// an ANSI text (AnsiString: Inno passes it as a single-byte text in the
// system's code page). Setup binds the first group, the uninstaller the
// second: "files:" needs Setup's archive, "{app}" the installed copy.
function InitModule(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'InitModule@files:JQInst2k.dll stdcall setuponly';
function IsWin2k(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'IsWin2k@files:JQInst2k.dll stdcall setuponly';
function IsWinXp(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'IsWinXp@files:JQInst2k.dll stdcall setuponly';
function IsAdmin(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'IsAdmin@files:JQInst2k.dll stdcall setuponly';
function SetTargetDir(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'SetTargetDir@files:JQInst2k.dll stdcall setuponly';
function CreateRootDevice(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'CreateRootDevice@files:JQInst2k.dll stdcall setuponly';
function UpdateDevices(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'UpdateDevices@files:JQInst2k.dll stdcall setuponly';
function NeedReboot(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'NeedReboot@files:JQInst2k.dll stdcall setuponly';

function UninstInitialize(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'UninstInitialize@{app}\JQInst2k.dll stdcall uninstallonly';
function UninstUnInitialize(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'UninstUnInitialize@{app}\JQInst2k.dll stdcall uninstallonly';
function UnInitModule(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'InitModule@{app}\JQInst2k.dll stdcall uninstallonly';
function RemoveRootDevice(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'RemoveRootDevice@{app}\JQInst2k.dll stdcall uninstallonly';
function RootDeviceCount(Wnd: HWND; Unused: Longint; Text: AnsiString): Longint;
  external 'RootDeviceCount@{app}\JQInst2k.dll stdcall uninstallonly';

var
  RestartNeeded: Boolean;

// Writes the result to the log and hands it on.
function Recorded(const Name: String; Value: Longint): Longint;
begin
  Log(Format('JQInst2k.dll: %s %d', [Name, Value]));
  Result := Value;
end;

function InitializeSetup(): Boolean;
begin
  // Before any file is written, so that a refusal leaves nothing behind.
  Result := False;
  if Recorded('InitModule', InitModule(0, 0, '')) <> 1 then
    SuppressibleMsgBox('The Windows version could not be read; the Pilotdeck drivers were not installed.',
      mbCriticalError, MB_OK, IDOK)
  else if Recorded('IsAdmin', IsAdmin(0, 0, '')) <> 1 then
    SuppressibleMsgBox('Installing the Pilotdeck drivers needs administrator rights. Log in as an ' +
      'administrator and run the setup again.', mbCriticalError, MB_OK, IDOK)
  else
    Result := True;
end;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Folder: AnsiString;
begin
  if CurStep <> ssPostInstall then
    Exit;
  // Again: InitModule also clears the restart flag, so that NeedReboot
  // answers for this installation's driver installs alone.
  Recorded('InitModule', InitModule(0, 0, ''));
  Recorded('IsWin2k', IsWin2k(0, 0, ''));
  Recorded('IsWinXp', IsWinXp(0, 0, ''));
  // The folder without a closing backslash: the DLL adds "\JQDRV2K3.INF".
  Folder := RemoveBackslashUnlessRoot(ExpandConstant('{app}'));
  Recorded('SetTargetDir', SetTargetDir(0, 0, Folder));
  if Recorded('CreateRootDevice', CreateRootDevice(0, 0, Folder)) <> 1 then
    Log('The Pilotdeck root device could not be installed.');
  Recorded('UpdateDevices', UpdateDevices(0, 0, Folder));
  RestartNeeded := Recorded('NeedReboot', NeedReboot(0, 0, '')) = 1;
end;

function NeedRestart(): Boolean;
begin
  Result := RestartNeeded;
end;

function InitializeUninstall(): Boolean;
begin
  // The DLL's questions need someone to answer them: a silent uninstall
  // skips them and removes without asking (CurUninstallStepChanged).
  if UninstallSilent then
    Result := True
  else
    // -1: the user chose to stop; nothing is removed.
    Result := Recorded('UninstInitialize', UninstInitialize(0, 0, '')) = 0;
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
begin
  if CurUninstallStep <> usPostUninstall then
    Exit;
  // After the files: the registry traces and the root device.
  if UninstallSilent then
  begin
    Recorded('InitModule', UnInitModule(0, 0, ''));
    Recorded('RootDeviceCount', RootDeviceCount(0, 0, ''));
    Recorded('RemoveRootDevice', RemoveRootDevice(0, 0, ''));
    if Recorded('RootDeviceCount', RootDeviceCount(0, 0, '')) <> 0 then
      Log('The Pilotdeck root device is still there; restart Windows and uninstall again.');
  end
  else
    Recorded('UninstUnInitialize', UninstUnInitialize(0, 0, ''));
  // Let go of the DLL, or neither it nor {app} can be deleted.
  UnloadDLL(ExpandConstant('{app}\JQInst2k.dll'));
  if DeleteFile(ExpandConstant('{app}\JQInst2k.dll')) then
    Log('JQInst2k.dll: Deleted 1')
  else
    Log('JQInst2k.dll: Deleted 0');
  RemoveDir(ExpandConstant('{app}'));
end;

function UninstallNeedRestart(): Boolean;
begin
  // Drivers of removed devices stay in memory until Windows restarts.
  Result := True;
end;
