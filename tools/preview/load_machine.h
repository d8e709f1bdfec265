// Between a registry read from a file and the simulated machine: a snapshot
// goes in, with the devices Windows keeps in it, and the registry comes back
// out after a run.
#pragma once

#include "reg_file.h"

#include "machine.h"

#include <string>
#include <string_view>
#include <vector>

namespace preview {

// Where Windows keeps its device instances: under NT an instance key
// Enum\<enumerator>\<device id>\<instance> below CurrentControlSet, under the
// 9x family the same three levels below HKLM\Enum.
constexpr const char* NtEnumPath = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum";
constexpr const char* Win9xEnumPath = "HKEY_LOCAL_MACHINE\\Enum";

// Whether the library can reach a key: it opens keys only below
// HKLM\System\CurrentControlSet (NT) and HKLM\Enum (9x), and so does the
// simulated setup API. The control sets under their own names and
// HKLM\SYSTEM\Select count too, as one of them may stand for
// CurrentControlSet; so do the keys above them. `path` is a key path as a
// registry file writes it ("HKEY_LOCAL_MACHINE\SYSTEM\...").
bool libraryReaches(std::string_view path);

// Puts the keys the library reaches, as `after` has them, into `whole` in
// place of its own (taken out of `after`): the machine after a run that
// was given only those keys, with everything else as it was.
void graftReach(regfile::Registry& whole, regfile::Registry& after);

// The instance ids ("USB\VID_2F7A&PID_00A1\6&2c9a1b3&0&1") below an Enum key.
std::vector<std::string> deviceInstances(const regfile::Registry& registry, const char* enumPath);

// Which NT device instances count as attached. Windows gives a running
// device the volatile subkey "Control" of its instance key, and regedit
// exports it, so a snapshot that has any such subkey tells presence by it;
// a snapshot without any (a hand-made one) counts every instance present.
// `absent` and `present` name instances whose state is set outright; a
// name that is no instance of the snapshot is an error (std::invalid_argument).
std::vector<std::string> presentInstances(const regfile::Registry& registry,
                                          const std::vector<std::string>& absent,
                                          const std::vector<std::string>& present);

// Puts the snapshot's root keys into the machine in place of its own empty
// ones and marks the present devices: the machine runs on the snapshot's
// keys themselves. The keys of a root the machine lacks are left out; their
// root names are returned.
std::vector<std::string> loadRegistry(regfile::Registry snapshot, const std::vector<std::string>& present,
                                      sim::Machine& machine);

// The machine's registry, the roots that hold anything: a copy, and taken
// out of the machine (which is left with empty roots), without one.
regfile::Registry copyRegistry(sim::Machine& machine);
regfile::Registry takeRegistry(sim::Machine& machine);

}  // namespace preview
