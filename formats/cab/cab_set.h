// A cabinet set: the first cabinet and the chain of next cabinets it names,
// their folders joined where a folder goes on into the next cabinet, and the
// list of members to extract, each once.
#pragma once

#include "formats/cab/cab_records.h"

// Loads the cabinet at archivePath and the chain behind it. False when the
// first cabinet cannot be loaded. A later cabinet that cannot be loaded, or
// whose name leads back to one already loaded, ends the chain there (and
// marks the set incomplete when it could not be loaded).
bool loadCabinetSet(CabSet& set, const char* archivePath);

// Joins split folders and builds set.members. Entries that cannot be
// extracted mark the set incomplete.
void buildMemberList(CabSet& set);
