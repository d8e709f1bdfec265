// The one door from product code to the platform. On Windows it is the
// Windows SDK; everywhere else it is the simulated Windows of sim/, which
// declares the same names with the same sizes and values.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#else
#include "win32_sim.h"
#endif
