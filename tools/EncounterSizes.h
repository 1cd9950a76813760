// Encounter size per team size, as a folder's rules script answers it.
#pragma once

#include <string>

#include "OddsDiff.h"

namespace tools {

// "3", or the reason there is no whole number; team sizes 1 to 5. Empty
// when the script cannot be read.
EncounterSizes EncounterSizesOf(const std::string& dir);

}  // namespace tools
