// Loads a rules plug-in the way a game server does: dlopen, version check,
// walk of the creator list, one module per creator.
#pragma once

#include <string>
#include <vector>

#include "IModuleCreator.h"

namespace host {

struct LoadedModule {
    std::string name;
    IModule* module = nullptr;
};

class PluginLoader {
public:
    PluginLoader() = default;
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // False with error() set when the library cannot be opened, lacks an
    // export, or was built against another interface version.
    bool Load(const std::string& path);
    // dlclose: the plug-in's static destruction shuts down and frees its
    // modules. The module pointers are dangling afterwards.
    void Unload();

    bool loaded() const { return m_handle != nullptr; }
    uint32_t version() const { return m_version; }
    const std::string& error() const { return m_error; }
    // Modules in creator-list order.
    const std::vector<LoadedModule>& modules() const { return m_modules; }
    IModule* Find(const std::string& name) const;

private:
    void* m_handle = nullptr;
    uint32_t m_version = 0;
    std::string m_error;
    std::vector<LoadedModule> m_modules;
};

}  // namespace host
