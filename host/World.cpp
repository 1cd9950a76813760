// A world: starting and stopping its kernel, host modules, plug-in copy and thread.
#include "World.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "EventTimeSystem.h"
#include "ScriptEngine.h"
#include "StandInScripts.h"
#include "TeamSystem.h"

namespace host {

namespace {

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << in.rdbuf();
    return static_cast<bool>(out.flush());
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string LoadingProblemsLine(size_t traceLines, const std::string& resourceDir) {
    if (traceLines == 0) return "";
    const size_t problems = (traceLines + 1) / 2;
    return "the plug-in reported " + std::to_string(problems) +
           (problems == 1 ? " problem" : " problems") + " while loading; see `rulehost check " +
           resourceDir + "`";
}

World::World(WorldOptions options) : m_options(std::move(options)) {}

World::~World() {
    if (m_callerRunning && !OnWorldThread()) {
        // The thread that drove it let it go running; nothing else can use
        // it any more, so release the plug-in and the kernel here.
        m_threadId = std::this_thread::get_id();
    }
    Stop();
}

bool World::IsLibraryLoaded(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return false;
    dlclose(h);  // drop the reference RTLD_NOLOAD just took
    return true;
}

void World::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_cv.notify_one();
}

void World::ThreadMain() {
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_cv.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
            if (m_tasks.empty()) return;  // quit with nothing left to do
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            // Call's tasks keep their exceptions for the caller; nothing
            // else posted here throws, and the thread must live on.
        }
    }
}

bool World::Start() {
    if (running()) return true;
    m_error.clear();
    if (m_options.callerThread) {
        m_threadId = std::this_thread::get_id();
        m_callerRunning = true;
        if (StartOnThreadGuarded()) return true;
        Stop();
        return false;
    }
    m_quit = false;
    m_thread = std::thread([this] { ThreadMain(); });
    m_threadId = m_thread.get_id();
    std::promise<bool> started;
    std::future<bool> result = started.get_future();
    Post([this, &started] { started.set_value(StartOnThreadGuarded()); });
    if (result.get()) return true;
    Stop();
    return false;
}

bool World::StartOnThreadGuarded() {
    try {
        return StartOnThread();
    } catch (const std::exception& e) {
        m_error = std::string("world start failed: ") + e.what();
        return false;
    }
}

bool World::StartOnThread() {
    // A wrong folder would only show later as missing files and undeclared
    // properties; say so now, naming it.
    if (!m_options.resourceDir.empty() && !IsDirectory(m_options.resourceDir)) {
        m_error = "the resource folder " + m_options.resourceDir + " does not exist";
        return false;
    }
    KernelOptions ko;
    ko.resourceDir = m_options.resourceDir;
    ko.echoToTerminal = !m_options.quiet;
    ko.traceToTerminal = m_options.traceToTerminal;
    ko.logFilePath = m_options.logFilePath;
    m_kernel = std::make_unique<Kernel>(ko);

    if (m_options.scriptEngine) {
        m_scripts = std::make_unique<ScriptEngine>(m_kernel->GetResourcePath());
        Kernel* k = m_kernel.get();
        m_scripts->SetLog([k](const std::string& line) { k->HostLog(line); });
        ScriptEngine* engine = m_scripts.get();
        m_kernel->SetScriptRunner(
            [engine](const char* script, const char* fn, const IVarList& args, int count,
                     IVarList& results) { return engine->Call(script, fn, args, count, results); });
    }

    std::vector<std::pair<std::string, IModule*>> modules;
    if (m_options.teamSystem) {
        m_team = std::make_unique<TeamSystem>(*m_kernel);
        m_team->Install();
        m_kernel->RegisterModule(TEAM_SYSTEM_MODULE_NAME, m_team.get());
        modules.push_back({TEAM_SYSTEM_MODULE_NAME, m_team.get()});
    }
    if (m_options.eventTimeSystem) {
        m_eventTime = std::make_unique<EventTimeSystem>(*m_kernel);
        m_kernel->RegisterModule(EVENT_TIME_SYSTEM_MODULE_NAME, m_eventTime.get());
        modules.push_back({EVENT_TIME_SYSTEM_MODULE_NAME, m_eventTime.get()});
    }
    if (m_options.standInScripts) {
        m_standIn = std::make_unique<StandInScripts>(*m_kernel, m_team.get());
        m_standIn->Install();
    }

    if (!m_options.pluginPath.empty()) {
        m_loadedPath = m_options.pluginPath;
        if (m_options.privatePluginCopy) {
            // The loader shares one copy of a library per path; a private file
            // gives this world its own statics even while other worlds run.
            char dir[] = "/tmp/rulehost-world-XXXXXX";
            if (mkdtemp(dir) == nullptr) {
                m_error = "cannot make a directory for the plug-in copy";
                return false;
            }
            m_copyDir = dir;
            const std::string base =
                m_options.pluginPath.substr(m_options.pluginPath.rfind('/') + 1);
            m_loadedPath = m_copyDir + "/" + base;
            if (!CopyFile(m_options.pluginPath, m_loadedPath)) {
                m_error = "cannot copy the plug-in " + m_options.pluginPath + " to " + m_loadedPath;
                return false;
            }
        }
        if (!m_plugin.Load(m_loadedPath)) {
            m_error = m_plugin.error();
            return false;
        }
        for (const LoadedModule& m : m_plugin.modules()) modules.push_back({m.name, m.module});
    }
    // Names the plug-in and the host itself pass as literals lie in read-only
    // segments: their text never changes, so the kernel's lookups may trust
    // the address alone.
    auto fixed = m_plugin.ReadOnlyRanges();
    const auto own =
        PluginLoader::ReadOnlyRangesAround(reinterpret_cast<const void*>(&IsDirectory));
    fixed.insert(fixed.end(), own.begin(), own.end());
    m_kernel->SetFixedTextRanges(std::move(fixed));
    for (const auto& m : m_options.extraModules) modules.push_back(m);

    m_lifecycle = m_kernel->RunLifecycle(modules);
    m_startupTraceLines = m_kernel->log().Count(EventFilter::OfKind(EventKind::Trace));
    return true;
}

void World::StopOnThread() {
    // Unload first: the plug-in's static destruction shuts its modules down
    // while the kernel still exists, and nothing calls into it afterwards.
    const bool hadPlugin = m_plugin.loaded();
    if (m_kernel) m_kernel->SetFixedTextRanges({});  // the texts go with the library
    m_plugin.Unload();
    m_unloaded = hadPlugin && !IsLibraryLoaded(m_loadedPath);
    if (hadPlugin && !m_unloaded && m_kernel)
        m_kernel->HostLog("the plug-in is still loaded after dlclose: its statics will persist");
    m_standIn.reset();
    m_kernel.reset();
    m_team.reset();
    m_eventTime.reset();
    m_scripts.reset();
    if (!m_copyDir.empty()) {
        ::unlink(m_loadedPath.c_str());
        ::rmdir(m_copyDir.c_str());
        m_copyDir.clear();
    }
}

void World::Stop() {
    if (!running()) return;
    if (m_options.callerThread) {
        StopCallerDriven();
        return;
    }
    if (OnWorldThread()) return;  // a task cannot join its own thread
    std::promise<void> stopped;
    std::future<void> done = stopped.get_future();
    Post([this, &stopped] {
        StopOnThread();
        stopped.set_value();
    });
    done.get();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_one();
    m_thread.join();
    m_threadId = std::thread::id();
}

void World::StopCallerDriven() {
    if (!OnWorldThread()) throw std::logic_error("the world runs on the thread that started it");
    if (m_callDepth > 0) throw std::logic_error("the world cannot stop inside a Call");
    StopOnThread();
    m_callerRunning = false;
    m_threadId = std::thread::id();
}

IModule* World::FindModule(const std::string& name) const {
    if (IModule* m = m_plugin.Find(name)) return m;
    for (const auto& m : m_options.extraModules)
        if (m.first == name) return m.second;
    return nullptr;
}

IActivityRuleSystem* World::FindRuleSystem(const std::string& name) const {
    // Every module a plug-in or a test hands in is a rule system; a
    // dynamic_cast across the library boundary is not reliable.
    return static_cast<IActivityRuleSystem*>(FindModule(name));
}

}  // namespace host
