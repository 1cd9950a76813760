// Convenience operations around the kernel.
#pragma once

#include "IKernel.h"

// Sends msg to the player called name, wherever it is: here, online in
// another process, or offline, trying those ways in that order and only the
// first that applies. True when the chosen way accepted the command.
bool CommandToPlayerName(IKernel* kernel, const ObjectId& self, const char16_t* name,
                         const IVarList& msg);
