// The state of the unit that cleans the registry: the matching mode of the
// run under way, what it found, and what its routines share.
#pragma once

#include "platform/win32.h"
#include "support/tstringlist.h"

#include <memory>
#include <string>

// Set at the start of each cleaning run and kept until the next one.
extern HWND ParentWindow;     // the host's window, parent of the setup API calls
extern bool IdMatchFound;     // cleared at the start of a run, set by every match
extern bool CachedVersion4;   // the 9x family
extern bool CachedWin2k;      // major version 5
extern bool UseShortUsbList;  // USB mode tests the short USB list
extern bool AnalogMode;       // test the analog list (game port devices)
extern bool PedalMode;        // test the pedal list
extern bool AuxFallback;      // after a miss in the mode's list, try the aux list

// The three working lists exist only while a run cleans; the routines reach
// them through these pointers.
extern TStringList* FirstList;
extern TStringList* SecondList;
extern TStringList* ThirdList;

// The path, relative to HKEY_LOCAL_MACHINE, of the key a routine opens next.
extern std::string KeyPath;

void cleaningLoad();
