// The install state the exports share: the installation folder the driver
// installs join INF names to, and the restart flag they set.
#pragma once

#include <string>

extern std::string TargetDir;  // at most 255 characters
extern bool RebootRequired;    // set by a driver install that asks for a restart

void installStateLoad();

// Copies a text argument of the host into TargetDir (a null pointer counts
// as the empty text; a longer text is cut after 255 characters).
void setTargetDirFrom(const char* folder);
