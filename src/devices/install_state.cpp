#include "devices/install_state.h"

#include "support/id_string.h"

std::string TargetDir;
bool RebootRequired = false;

void installStateLoad()
{
    TargetDir.clear();
    RebootRequired = false;
}

void setTargetDirFrom(const char* folder) { TargetDir = idString(folder); }
