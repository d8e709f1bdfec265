#include "cleaning/cleaning_state.h"

HWND ParentWindow = nullptr;
bool IdMatchFound = false;
bool CachedVersion4 = false;
bool CachedWin2k = false;
bool UseShortUsbList = false;
bool AnalogMode = false;
bool PedalMode = false;
bool AuxFallback = false;
TStringList* FirstList = nullptr;
TStringList* SecondList = nullptr;
TStringList* ThirdList = nullptr;
std::string KeyPath;

void cleaningLoad()
{
    ParentWindow = nullptr;
    IdMatchFound = false;
    CachedVersion4 = false;
    CachedWin2k = false;
    UseShortUsbList = false;
    AnalogMode = false;
    PedalMode = false;
    AuxFallback = false;
    FirstList = SecondList = ThirdList = nullptr;
    KeyPath.clear();
}
