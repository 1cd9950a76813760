// Convenience operations around the kernel: commands to a player by name.
#include "Extern.h"

#include <string>

#include "VarList.h"

bool CommandToPlayerName(IKernel* kernel, const ObjectId& self, const char16_t* name,
                         const IVarList& msg) {
    if (kernel == nullptr || name == nullptr) return false;

    // Present in this process: a command straight to the player object.
    const ObjectId target = kernel->FindPlayer(name);
    if (kernel->Exists(target)) {
        const ObjectId sender = kernel->Exists(self) ? self : target;
        return kernel->Command(sender, target, msg) != 0;
    }

    // Online in another process: the kernel routes it by name. Its answer is
    // final; an online player is never also treated as offline.
    if (kernel->GetPlayerOnline(name) > 0) return kernel->CommandByName(name, msg) != 0;

    // Offline: queue it under the sender's name, if the sender is still there.
    std::u16string senderName;
    if (kernel->Exists(self)) {
        const char16_t* own = kernel->QueryWideStr(self, "Name");
        if (own != nullptr) senderName = own;
    }
    CVarList info;
    if (kernel->QueryOfflinePlayer(name, info) <= 0) return false;
    const ObjectId player = info.ObjectVal(0);
    const int senderId = kernel->GetNameId(senderName.c_str());
    if (kernel->CheckOfflinePlayer(name, player) <= 0) return false;
    return kernel->CommandOffline(name, player, senderName.c_str(), senderId, msg);
}
