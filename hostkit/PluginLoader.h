// Loads a rules plug-in the way a game server does (dlopen, version check,
// walk of the creator list, one module per creator) and drives modules
// through Init and AfterInit in the order the rule modules rely on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "IModuleCreator.h"

class IKernel;

namespace host {

struct LoadedModule {
    std::string name;
    IModule* module = nullptr;
};

// Outcome of driving modules through their lifecycle.
struct LifecycleReport {
    std::vector<std::string> initFailed;       // module names whose Init returned false
    std::vector<std::string> afterInitFailed;  // ... AfterInit
    // Modules whose AfterInit never ran because their Init failed (so they
    // are not in afterInitFailed: nothing of theirs failed there).
    std::vector<std::string> afterInitSkipped;
    bool ok() const { return initFailed.empty() && afterInitFailed.empty(); }
};

using NamedModules = std::vector<std::pair<std::string, IModule*>>;

// Init(kernel) on every module in list order, then AfterInit(kernel) on every
// module whose Init succeeded, in the same order. Every Init comes first
// because the rule modules' handlers use the host modules that the Init calls
// of all three look up. A module whose Init failed never gets AfterInit, so
// none of its handlers, which would reach through the null host-module
// pointer, is registered. log (optional) receives one line per failure.
// Create the logic classes after this returns: AfterInit registers the
// "OnCreateClass" handlers.
LifecycleReport RunModuleLifecycle(IKernel& kernel, const NamedModules& modules,
                                   const std::function<void(const std::string&)>& log = {});

class PluginLoader {
public:
    PluginLoader() = default;
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // False with error() set when the library cannot be opened, lacks an
    // export, was built against another interface version (the message names
    // both numbers; no module is created then) or cannot create a module.
    bool Load(const std::string& path);
    // RunModuleLifecycle over the plug-in's modules in creator-list order.
    LifecycleReport Start(IKernel& kernel,
                          const std::function<void(const std::string&)>& log = {}) const;
    // dlclose: the plug-in's static destruction shuts down and frees its
    // modules (each creator calls Shut). The module pointers are dangling
    // afterwards; unload before the kernel the modules were given goes away.
    void Unload();

    bool loaded() const { return m_handle != nullptr; }
    uint32_t version() const { return m_version; }
    const std::string& error() const { return m_error; }
    // Modules in creator-list order.
    const std::vector<LoadedModule>& modules() const { return m_modules; }
    IModule* Find(const std::string& name) const;
    // [begin, end) address ranges of the loaded library's read-only segments
    // (code and constant data, such as the names it passes to the kernel);
    // empty when nothing is loaded. Valid until Unload.
    std::vector<std::pair<uintptr_t, uintptr_t>> ReadOnlyRanges() const;
    // The same for the program or library that holds the address at (the
    // host's own names, when given one of its functions); empty when no
    // loaded object holds it.
    static std::vector<std::pair<uintptr_t, uintptr_t>> ReadOnlyRangesAround(const void* at);

private:
    void* m_handle = nullptr;
    uint32_t m_version = 0;
    std::string m_error;
    std::vector<LoadedModule> m_modules;
};

}  // namespace host
