// The two hooks the host's uninstaller calls, before and after its own removal.
#pragma once

#include "platform/win32.h"

LONG uninstInitialize();              // 0: proceed; -1: stop
LONG uninstUnInitialize(HWND window);  // 0
