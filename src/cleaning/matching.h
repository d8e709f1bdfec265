// Whether a key name, value name or device instance id belongs to one of the
// vendor's products: a vendor/product id text of the run's list found
// anywhere in it, whatever its case.
#pragma once

#include <string>

// The id with a to z made upper case; every other byte as it is, whatever
// the code page, so that names from any system compare alike.
std::string upperCaseId(const std::string& id);

// True for a driver value naming a class whose keys the 9x cleaning removes
// (HID, HIDCLASS, MEDIA, JOVEX, KEYBOARD, MOUSE), in any case, anywhere in it.
bool checkDriverClass(const std::string& text);

// One list each; true when an entry of the list occurs in the id.
bool checkDeviceId(const std::string& id);     // the short or the long USB list
bool checkAnalogId(const std::string& id);
bool checkPedalId(const std::string& id);
bool checkAuxDeviceId(const std::string& id);

// The test the cleaning routines apply to every name they meet, by the mode
// flags of the run under way; sets IdMatchFound on a match.
bool checkId(const std::string& id);
