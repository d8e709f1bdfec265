// The cleaning routines the run calls. Each takes nothing and returns
// nothing: what it found shows in IdMatchFound, and an error raised below
// it passes on to the run.
#pragma once

// Enumeration keys on the 9x family, deleted from the registry directly.
void deleteEnumUsbKeys();
void deleteEnumHidKeys();
void deleteEnumJqKeys();

// Enumeration keys on the NT family: device nodes removed through the setup API.
void deleteEnumUsbKeys2k();
void deleteEnumGamePortKeys2k();
void deleteEnumHidKeys2k();
void deleteEnumJqKeys2k();

// Settings keys on every system; ASD and device-interface keys on 9x.
void deleteJoystickSettingsKeys();
void deleteOemKeys();
void deleteAsdKeys();
void deleteDeviceClassesKeys();
