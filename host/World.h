// A world: one kernel, the host modules, the stand-in game scripts, its own
// copy of the rules plug-in and a dedicated logic thread.
//
// Every call into the plug-in for a world happens on that world's thread
// (Call/Run post a task and wait), so the plug-in's per-thread random
// generator starts fresh in each world and a world replays draw for draw.
// A world made with WorldOptions::callerThread has no thread of its own: the
// thread that starts it is its logic thread, and it alone may call or stop
// it. Such a world replays only when that thread is a fresh one that never
// ran another world (the scenario runner starts one per scenario).
// Each world loads a private copy of the plug-in file at Start and unloads it
// at Stop, so the plug-in's process-wide tables start empty in every world,
// even when several worlds run at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "IModule.h"
#include "Kernel.h"
#include "PluginLoader.h"

namespace host {

class TeamSystem;
class EventTimeSystem;
class StandInScripts;
class ScriptEngine;

struct WorldOptions {
    std::string pluginPath;         // empty: no plug-in (host modules only)
    std::string resourceDir;        // kernel resource directory
    bool privatePluginCopy = true;  // load a per-world copy of the file
    bool quiet = false;             // no terminal output from Echo / host lines
    bool traceToTerminal = false;   // the plug-in's Trace lines on the terminal too (as UTF-8)
    std::string logFilePath;        // Trace/Echo raw lines appended here
    bool teamSystem = true;         // register "TeamSystem"
    bool eventTimeSystem = true;    // register "EventTimeSystem"
    bool standInScripts = true;     // install the stand-in game scripts
    bool scriptEngine = true;       // run rules scripts with the Lua engine
    // Modules linked into the process (tests): driven like plug-in modules,
    // after them, in this order. Not owned.
    std::vector<std::pair<std::string, IModule*>> extraModules;
    // No thread of its own: Start, every Call and Stop run on the thread that
    // starts the world, with no handoff; other threads are refused.
    bool callerThread = false;
};

class World {
public:
    explicit World(WorldOptions options);
    ~World();  // Stop(); a callerThread world still running is released here
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Starts the logic thread, then on it: builds the kernel, registers the
    // host modules, loads the plug-in, and drives every module's Init, every
    // AfterInit and the class creation. False (error() says why) when the
    // plug-in cannot be loaded or the resource directory does not exist; a
    // module whose Init fails is only reported (lifecycle()).
    // With callerThread, all of that happens on the calling thread, which
    // becomes the world's thread until Stop.
    bool Start();
    // Unloads the plug-in and ends the thread (both on the thread).
    // Idempotent; does nothing when called from the world thread itself.
    // With callerThread it unloads on the calling thread, which must be the
    // one that started the world, and not from inside a Call (std::logic_error
    // otherwise; the world keeps running).
    void Stop();
    bool running() const { return m_thread.joinable() || m_callerRunning; }

    // Runs fn(kernel) on the world thread and waits for its result; an
    // exception thrown by fn is rethrown here. From the world thread itself
    // fn runs at once. Only between a successful Start and Stop, and for a
    // callerThread world only from the thread that started it: otherwise
    // std::logic_error (there is no thread to run fn, nor a kernel).
    template <class F>
    auto Call(F&& fn) -> std::invoke_result_t<F, Kernel&> {
        using R = std::invoke_result_t<F, Kernel&>;
        if (OnWorldThread()) {
            if (!m_options.callerThread) return fn(*m_kernel);
            // Counted, so that a Stop from inside fn is refused rather than
            // freeing the kernel under it.
            struct Depth {
                int& d;
                explicit Depth(int& depth) : d(depth) { ++d; }
                ~Depth() { --d; }
            } depth(m_callDepth);
            return fn(*m_kernel);
        }
        if (!running() || !m_kernel) throw std::logic_error("the world is not running");
        if (m_options.callerThread)
            throw std::logic_error("the world runs on the thread that started it");
        std::packaged_task<R()> task([this, &fn]() -> R { return fn(*m_kernel); });
        std::future<R> result = task.get_future();
        Post([&task] { task(); });
        return result.get();
    }
    void Run(const std::function<void(Kernel&)>& fn) {
        Call([&fn](Kernel& k) { fn(k); });
    }
    bool OnWorldThread() const { return std::this_thread::get_id() == m_threadId; }

    // Direct access: use only from the world thread (inside Call) or while
    // the world is idle between calls.
    Kernel& kernel() { return *m_kernel; }
    TeamSystem* teamSystem() { return m_team.get(); }
    EventTimeSystem* eventTimeSystem() { return m_eventTime.get(); }
    StandInScripts* standIn() { return m_standIn.get(); }
    const PluginLoader& plugin() const { return m_plugin; }
    const LifecycleReport& lifecycle() const { return m_lifecycle; }
    // Trace lines the plug-in wrote while starting (Init, AfterInit, classes).
    size_t startupTraceLines() const { return m_startupTraceLines; }
    const std::string& error() const { return m_error; }
    const WorldOptions& options() const { return m_options; }

    // A module of the plug-in (or an extra module) by name; every module of
    // the plug-in is a rule system. Null when absent.
    IModule* FindModule(const std::string& name) const;
    IActivityRuleSystem* FindRuleSystem(const std::string& name) const;

    // Path the plug-in was actually loaded from (the private copy, if any).
    const std::string& loadedPluginPath() const { return m_loadedPath; }
    // After Stop: true when the dynamic loader no longer holds the plug-in
    // (dlclose really unloaded it, so its statics start afresh next time).
    bool pluginUnloaded() const { return m_unloaded; }
    // True when the dynamic loader currently holds a library of that path.
    static bool IsLibraryLoaded(const std::string& path);

private:
    void Post(std::function<void()> task);
    void ThreadMain();
    bool StartOnThreadGuarded();  // StartOnThread, an exception as error()
    bool StartOnThread();
    void StopOnThread();
    void StopCallerDriven();

    WorldOptions m_options;
    std::unique_ptr<Kernel> m_kernel;
    std::unique_ptr<TeamSystem> m_team;
    std::unique_ptr<EventTimeSystem> m_eventTime;
    std::unique_ptr<StandInScripts> m_standIn;
    std::unique_ptr<ScriptEngine> m_scripts;
    PluginLoader m_plugin;
    LifecycleReport m_lifecycle;
    size_t m_startupTraceLines = 0;
    std::string m_error;
    std::string m_loadedPath;
    std::string m_copyDir;
    bool m_unloaded = false;

    std::thread m_thread;
    std::thread::id m_threadId;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    bool m_callerRunning = false;  // callerThread: between Start and Stop
    int m_callDepth = 0;           // callerThread: Calls running now
};

// True when path names an existing directory.
bool IsDirectory(const std::string& path);

// The one line a tool prints after start-up when the plug-in logged while
// loading: "the plug-in reported N problems while loading; see `rulehost
// check DIR`"; empty when it logged nothing. Every problem the plug-in logs
// while loading is two Trace lines (the message, then the file or value).
std::string LoadingProblemsLine(size_t traceLines, const std::string& resourceDir);

}  // namespace host
