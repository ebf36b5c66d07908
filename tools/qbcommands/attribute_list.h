// The attribute list in GetAttribute's signature entry, held against the
// attributes the player's own table answers for each object type.
#pragma once

#include <vector>

#include "signatures.h"

// Says on standard error what differs and returns false when the entry lists
// for some type other attributes than the table answers (#ATTRCOUNT, which
// every type answers, aside) or leaves out a type that answers any.
bool CheckAttributeList(const std::vector<SignatureEntry>& entries, const char* path);
