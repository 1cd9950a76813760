// The plug-in loader and the module lifecycle driver of the host kit.
#include "PluginLoader.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdio>

#include "IKernel.h"

namespace host {

PluginLoader::~PluginLoader() {
    Unload();
}

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
    auto getVersion =
        reinterpret_cast<GameLogicGetVersionFn>(dlsym(m_handle, GAMELOGIC_VERSION_SYMBOL));
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

LifecycleReport PluginLoader::Start(IKernel& kernel,
                                    const std::function<void(const std::string&)>& log) const {
    NamedModules named;
    for (const LoadedModule& m : m_modules) named.push_back({m.name, m.module});
    return RunModuleLifecycle(kernel, named, log);
}

LifecycleReport RunModuleLifecycle(IKernel& kernel, const NamedModules& modules,
                                   const std::function<void(const std::string&)>& log) {
    LifecycleReport report;
    std::vector<bool> initOk(modules.size(), false);
    for (size_t i = 0; i < modules.size(); ++i) {
        initOk[i] = modules[i].second != nullptr && modules[i].second->Init(&kernel);
        if (!initOk[i]) {
            report.initFailed.push_back(modules[i].first);
            report.afterInitSkipped.push_back(modules[i].first);
            if (log)
                log("Init of module " + modules[i].first +
                    " failed; its AfterInit is skipped, so none of its handlers is registered");
        }
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        if (!initOk[i]) continue;
        if (!modules[i].second->AfterInit(&kernel)) {
            report.afterInitFailed.push_back(modules[i].first);
            if (log) log("AfterInit of module " + modules[i].first + " failed");
        }
    }
    return report;
}

IModule* PluginLoader::Find(const std::string& name) const {
    for (const LoadedModule& m : m_modules)
        if (m.name == name) return m.module;
    return nullptr;
}

namespace {

struct RangeSearch {
    uintptr_t base;
    std::vector<std::pair<uintptr_t, uintptr_t>>* out;
    uintptr_t holding = 0;  // instead of base: the object with a segment holding it
};

bool Holds(const dl_phdr_info* info, uintptr_t at) {
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && at >= begin && at < begin + ph.p_memsz) return true;
    }
    return false;
}

int CollectReadOnly(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<RangeSearch*>(data);
    if (search->holding != 0 ? !Holds(info, search->holding) : info->dlpi_addr != search->base)
        return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || (ph.p_flags & PF_W) != 0 || ph.p_memsz == 0) continue;
        const uintptr_t begin = info->dlpi_addr + ph.p_vaddr;
        search->out->emplace_back(begin, begin + ph.p_memsz);
    }
    return 1;
}

}  // namespace

std::vector<std::pair<uintptr_t, uintptr_t>> PluginLoader::ReadOnlyRanges() const {
    std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
    link_map* map = nullptr;
    if (m_handle == nullptr || dlinfo(m_handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
        return ranges;
    RangeSearch search{static_cast<uintptr_t>(map->l_addr), &ranges};
    dl_iterate_phdr(&CollectReadOnly, &search);
    return ranges;
}

std::vector<std::pair<uintptr_t, uintptr_t>> PluginLoader::ReadOnlyRangesAround(const void* at) {
    std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
    RangeSearch search{0, &ranges, reinterpret_cast<uintptr_t>(at)};
    if (search.holding != 0) dl_iterate_phdr(&CollectReadOnly, &search);
    return ranges;
}

}  // namespace host
