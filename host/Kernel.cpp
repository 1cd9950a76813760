// The kernel as a whole: construction with the built-in classes, the module
// registry and lifecycle, the scene a callback sees, resources and scripts.

#include "Kernel.h"

#include <exception>

#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

// ---- construction -------------------------------------------------------------

Kernel::Kernel(KernelOptions options)
    : m_options(std::move(options)), m_nameCache(new NameCache), m_hooks(new HookList) {
    // One scratch hook list per possible depth, made up front: growing the
    // outer vector during a nested dispatch would move the lists in use.
    m_hooks->scratch.resize(kMaxDispatchDepth + 2);
    m_resourcePath = m_options.resourceDir;
    if (m_resourcePath.empty() || m_resourcePath.back() != '/') m_resourcePath += '/';
    if (!m_options.logFilePath.empty()) {
        m_logFile = std::fopen(m_options.logFilePath.c_str(), "ab");
        if (m_logFile == nullptr) HostLog("cannot open log file " + m_options.logFilePath);
    }
    if (!m_options.builtinClasses) return;

    DeclareClass("player");
    DeclareProperty("player", "Name", VTYPE_WIDESTR);
    DeclareProperty("player", "Camp", VTYPE_INT);
    DeclareProperty("player", "Level", VTYPE_INT);
    DeclareProperty("player", "Fighting", VTYPE_OBJECT);
    DeclareProperty("player", "AutoTeamFarm", VTYPE_OBJECT);
    DeclareRecord("player", "team", {VTYPE_WIDESTR, VTYPE_OBJECT}, 10);

    DeclareClass("BaseScene");
    DeclareProperty("BaseScene", "SceneType", VTYPE_INT);

    DeclareClass("Fight");
    DeclareProperty("Fight", "HelperInfo", VTYPE_OBJECT);
    DeclareClass("FightTeam");
    DeclareRecord("FightTeam", "PkMemberInfo", {VTYPE_INT, VTYPE_OBJECT, VTYPE_WIDESTR}, 10);
    DeclareClass("Flag");

    // Declared by the rules plug-in from its class file on "OnCreateClass".
    DeclareClass("NpcCreator");
    DeclareClass("AreaBossNPCCreator", "NpcCreator");
}

Kernel::~Kernel() {
    if (m_logFile != nullptr) std::fclose(m_logFile);
}

// ---- modules -----------------------------------------------------------------------

IModule* Kernel::FindModule(const char* name) {
    if (name == nullptr) return nullptr;
    auto it = m_modules.find(name);
    return it == m_modules.end() ? nullptr : it->second;
}

bool Kernel::RegisterModule(const std::string& name, IModule* module) {
    if (module == nullptr || m_modules.count(name) != 0) return false;
    m_modules[name] = module;
    return true;
}

bool Kernel::UnregisterModule(const std::string& name) {
    return m_modules.erase(name) != 0;
}

LifecycleReport Kernel::RunLifecycle(const std::vector<std::pair<std::string, IModule*>>& modules) {
    for (const auto& m : modules)
        if (FindModule(m.first.c_str()) == nullptr) RegisterModule(m.first, m.second);
    const LifecycleReport report =
        RunModuleLifecycle(*this, modules, [this](const std::string& line) { HostLog(line); });
    CreateClasses();
    return report;
}

// ---- fixed texts -----------------------------------------------------------------

void Kernel::SetFixedTextRanges(std::vector<std::pair<uintptr_t, uintptr_t>> ranges) {
    m_fixedTexts = std::move(ranges);
    // Hits made under the old ranges are made again.
    for (auto& hit : m_nameCache->propHits) hit = {};
    for (auto& hit : m_nameCache->recordHits) hit = {};
}

bool Kernel::IsFixedText(const char* text) const {
    const uintptr_t at = reinterpret_cast<uintptr_t>(text);
    for (const auto& [begin, end] : m_fixedTexts)
        if (at >= begin && at < end) return true;
    return false;
}

// ---- scenes, resources, scripts --------------------------------------------------------------

ObjectId Kernel::GetScene() {
    for (auto it = m_callStack.rbegin(); it != m_callStack.rend(); ++it) {
        const Object* o = Get(*it);
        if (o != nullptr && Exists(o->scene)) return o->scene;
    }
    return Exists(m_currentScene) ? m_currentScene : ObjectId{};
}

const char* Kernel::GetResourcePath() {
    return m_resourcePath.c_str();
}

bool Kernel::RunScriptFunction(const char* script, const char* function, const IVarList& args,
                               int resultCount, IVarList& results) {
    if (!m_scriptRunner) {
        HostLog("script " + Str(script) + ":" + Str(function) + " not run: no script engine");
        return false;
    }
    try {
        return m_scriptRunner(script != nullptr ? script : "", function != nullptr ? function : "",
                              args, resultCount, results);
    } catch (const std::exception& e) {
        HostLog(std::string("script engine failed: ") + e.what());
    } catch (...) {
        HostLog("script engine failed");
    }
    return false;
}

}  // namespace host
