// Which control set of a snapshot the library sees as
// HKLM\SYSTEM\CurrentControlSet. On Windows that key is a link to the set
// that HKLM\SYSTEM\Select names as Current; an export taken from a
// ControlSetNNN key holds only the set, under its own name.
#pragma once

#include "reg_file.h"

#include <string>
#include <vector>

namespace preview {

struct ControlSetChoice {
    // The set the export holds under its own name and that now stands for
    // CurrentControlSet ("ControlSet001"); empty when the export holds
    // CurrentControlSet itself, or no control set at all.
    std::string standsFor;
    // The set the export holds beside CurrentControlSet, which is the same
    // key exported twice and was read once, as CurrentControlSet
    // ("ControlSet001"); empty otherwise.
    std::string readAsCurrent;
    // For the report: which set is CurrentControlSet, and why. Empty when
    // there was nothing to choose.
    std::string note;
    std::vector<std::string> warnings;
};

// Makes the snapshot's CurrentControlSet the set Windows would make it:
// the set Select names, else the only one, else the lowest-numbered one
// (with a warning naming them all). When the export holds CurrentControlSet
// and also the set it links to, that set is the same key exported twice,
// and is read once, as CurrentControlSet.
ControlSetChoice resolveControlSets(regfile::Registry& snapshot);

// Gives the set its own name back, for writing the machine out as the
// export had it; a set read once as CurrentControlSet is written under both
// names again, as the export held it.
void restoreControlSetName(regfile::Registry& registry, const ControlSetChoice& choice);

}  // namespace preview
