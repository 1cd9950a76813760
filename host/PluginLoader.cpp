#include "PluginLoader.h"

#include <dlfcn.h>

#include <cstdio>

namespace host {

PluginLoader::~PluginLoader() { Unload(); }

bool PluginLoader::Load(const std::string& path) {
    Unload();
    m_error.clear();
    // RTLD_LOCAL keeps the plug-in's symbols out of the host's namespace;
    // RTLD_NOW fails at load, not at the first call, on a missing symbol.
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* why = dlerror();
        m_error = "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    auto getVersion = reinterpret_cast<GameLogicGetVersionFn>(dlsym(m_handle, GAMELOGIC_VERSION_SYMBOL));
    auto getCreator =
        reinterpret_cast<GameLogicGetModuleCreatorFn>(dlsym(m_handle, GAMELOGIC_CREATOR_SYMBOL));
    if (getVersion == nullptr || getCreator == nullptr) {
        m_error = "plug-in " + path + " does not export " +
                  (getVersion == nullptr ? GAMELOGIC_VERSION_SYMBOL : GAMELOGIC_CREATOR_SYMBOL);
        Unload();
        return false;
    }
    // The version is checked before anything else is touched.
    m_version = getVersion();
    if (m_version != kGameLogicInterfaceVersion) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "plug-in interface version 0x%08X does not match the host's 0x%08X",
                      m_version, kGameLogicInterfaceVersion);
        m_error = buf;
        Unload();
        return false;
    }
    for (IModuleCreator* c = getCreator(); c != nullptr; c = c->m_pNext) {
        LoadedModule lm;
        lm.name = c->GetName();
        lm.module = c->Create();
        if (lm.module == nullptr) {
            m_error = "plug-in " + path + " could not create module " + lm.name;
            Unload();
            return false;
        }
        m_modules.push_back(lm);
    }
    return true;
}

void PluginLoader::Unload() {
    m_modules.clear();
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

IModule* PluginLoader::Find(const std::string& name) const {
    for (const LoadedModule& m : m_modules)
        if (m.name == name) return m.module;
    return nullptr;
}

}  // namespace host
