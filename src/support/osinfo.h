// OS version and administrator facts, read once and kept for the life of
// the loaded module.
#pragma once

void osInfoLoad();  // load-time initialisation: nothing read yet

// Reads the facts on its first call; true when the version could be read.
// Every later call answers true at once.
bool initOsInfo();

bool osIsVersion4();  // major version 4: the 9x family (Windows Me included)
bool osIsWinMe();     // 4.90
bool osIsWin2k();     // major version 5, XP and Server 2003 included
bool osIsWinXp();     // 5.1
bool osIsAdmin();

// Whether the Administrators group is among the groups of the caller's
// token, whatever the group's attributes. Throws EOSError when the SID
// cannot be built or the group list cannot be read.
bool tokenIsAdmin();
