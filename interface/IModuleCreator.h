// Creator list and the plug-in's two exports.
//
// Frozen ABI: the host walks the creator list by reading m_pNext directly, so
// the object layout (virtual table pointer, next creator, module) and the slot
// order (GetName, destructor, Create) are part of the contract.
#pragma once

#include <cstdint>

#include "IModule.h"

class IModuleCreator {
public:
    // Pushes this creator in front of the list whose head is passed in.
    explicit IModuleCreator(IModuleCreator*& head) : m_pNext(head), m_pModule(nullptr) { head = this; }

    // Module name, a string that lives as long as the library.
    virtual const char* GetName() = 0;

    // The creator owns its module: it shuts it down and frees it. The host
    // never deletes a module itself.
    virtual ~IModuleCreator() {
        if (m_pModule != nullptr) {
            m_pModule->Shut();
            delete m_pModule;
            m_pModule = nullptr;
        }
    }

    // The one instance of this creator's module; made on the first call.
    virtual IModule* Create() = 0;

    IModuleCreator* m_pNext;  // next creator towards the end; null at the end
    IModule* m_pModule;       // null until the first Create

    IModuleCreator(const IModuleCreator&) = delete;
    IModuleCreator& operator=(const IModuleCreator&) = delete;
};

// Interface version a host must have been built against.
constexpr uint32_t kGameLogicInterfaceVersion = 0x20010011u;

// Names of the two exports, and their types for dlsym.
#define GAMELOGIC_VERSION_SYMBOL "KvGameLogic_GetVersion"
#define GAMELOGIC_CREATOR_SYMBOL "KvGameLogic_GetModuleCreator"
using GameLogicGetVersionFn = uint32_t (*)();
using GameLogicGetModuleCreatorFn = IModuleCreator* (*)();
