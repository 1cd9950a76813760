// Inside of the scenario runner, shared by Scenario.cpp (the run, failures,
// value conversion) and the ScenarioApi*.cpp files (the Lua functions).
//
// Threading: Run starts one fresh thread per scenario, and on it the Lua
// state, the world (driven by that thread, WorldOptions::callerThread) and
// the scenario's Lua code; every kernel access still goes through
// World::Call, which runs it there at once. Lua handlers that a scenario
// installs (on_command and friends) are invoked from inside such a call,
// nested in the API function that made it. Handler invocations are
// protected calls, so a Lua error never unwinds through kernel frames.
//
// Errors: API functions throw ApiError; the Lua entry wrapper turns it into a
// Lua error once no C++ object is left on the way (Lua unwinds with longjmp).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "EventLog.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "Scenario.h"

struct lua_State;

namespace host {

class World;

class ApiError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Metatables of the scenario's value wrappers wide(), i64(), float() and of
// ANY: ScenarioApiChecks.cpp makes them, Scenario.cpp reads values through them.
inline constexpr const char* kWideMeta = "scenario.wide";
inline constexpr const char* kI64Meta = "scenario.i64";
inline constexpr const char* kFloatMeta = "scenario.float";
inline constexpr const char* kAnyMeta = "scenario.any";

// A Lua value read on the scenario side, converted to a kernel value later
// (on the world thread) once the declared type is known.
struct LuaVal {
    enum Kind { Nil, Bool, Int, Num, Str, Obj, Wide, I64, Float, Any };
    Kind kind = Nil;
    bool b = false;
    int64_t i = 0;
    double d = 0;
    std::string s;  // Str, Wide (UTF-8)
    ObjectId id;
};

// Reads the value at index: nil, boolean, integer, number, string, ObjectId
// and the wrappers wide(), i64(), float() and ANY. Throws for other types.
LuaVal ReadLuaVal(lua_State* L, int index, const char* what);
// Kernel value for a property or cell of the given declared type; throws
// when the Lua value does not fit it.
Value ToDeclared(const LuaVal& v, int type, const std::string& what);
// Kernel value for an untyped list entry (integers in 32-bit range as int,
// others as int64; numbers with a fraction as float; booleans as 0 / 1).
Value ToUntyped(const LuaVal& v, const std::string& what);
// True when actual matches the expectation (ANY matches everything; an
// integer matches int or int64 of that value; a number matches a float; a
// string matches a string or a wide string; booleans match 0 / 1).
bool Matches(const LuaVal& expected, const Value& actual);
std::string FormatLuaVal(const LuaVal& v);
void PushValue(lua_State* L, const Value& v);
// Pushes the event as a table (see docs/scenarios.md).
void PushEvent(lua_State* L, const Event& e);
// Values after the id for commands and custom messages, every value else.
std::vector<Value> EventPayload(const Event& e);

class ScenarioRunner {
public:
    explicit ScenarioRunner(const ScenarioOptions& options);
    ~ScenarioRunner();
    ScenarioRunner(const ScenarioRunner&) = delete;
    ScenarioRunner& operator=(const ScenarioRunner&) = delete;

    // Runs the scenario on a thread of its own and waits for it; the world
    // and the Lua state are gone when it returns.
    ScenarioResult Run();

    static ScenarioRunner* From(lua_State* L);

    // ---- used by the API functions ----------------------------------------
    // The world, started on first use with the setup options gathered so far.
    World& world();
    bool worldStarted() const { return m_world != nullptr; }
    Kernel& kernel();  // only inside World::Call
    // "FILE:LINE" of the innermost scenario line running now.
    std::string Where(lua_State* L) const;
    // Counts a check; a failed one is recorded and printed at once.
    bool Check(lua_State* L, bool ok, const std::string& message);
    void Fail(lua_State* L, const std::string& message);
    void Say(const std::string& line);
    std::FILE* out() const { return m_out; }
    // Path relative to the scenario file's directory (absolute paths kept).
    std::string RelativeToScenario(const std::string& path) const;

    // Lua handler installed as a kernel hook: the function at index is kept
    // in the registry; the returned hook calls it on the world thread.
    // A handler's answer: an integer, true (1) / false (0), or nil for
    // defaultAnswer. A handler that raises an error fails the scenario and
    // answers defaultAnswer. With payloadOnly (commands, messages) the
    // handler's args hold the values after the id, and args.id the id.
    HostHook MakeHook(lua_State* L, int index, const std::string& what, int defaultAnswer,
                      bool payloadOnly);

    // Setup (only before the world starts).
    struct Setup {
        std::string pluginPath;
        std::string resourceDir;
        bool teamSystem = true;
        bool eventTimeSystem = true;
        bool standInScripts = true;
        bool scriptEngine = true;
    };
    Setup& setup() { return m_setup; }

    // The Lua state a hook uses: the thread (coroutine) the scenario is
    // running in right now.
    lua_State* activeState() const { return m_active; }
    void setActiveState(lua_State* L) { m_active = L; }

private:
    ScenarioResult RunHere();  // the run, on the scenario's thread
    void Release();            // stops the world, then closes the Lua state
    void StartWorld();
    int InvokeHook(int ref, const std::string& what, int defaultAnswer, bool payloadOnly,
                   const ObjectId& self, const ObjectId& sender, const IVarList& args);
    void Finish(ScenarioResult& result);

    ScenarioOptions m_options;
    std::string m_dir;  // scenario file's directory, with a trailing '/'
    lua_State* L = nullptr;
    lua_State* m_active = nullptr;
    std::unique_ptr<World> m_world;
    bool m_worldFailed = false;
    Setup m_setup;
    std::FILE* m_out;
    std::FILE* m_err;
    int m_checks = 0;
    std::vector<std::string> m_failures;
};

// Registers the scenario API functions in L (ScenarioApi.cpp).
void RegisterScenarioApi(lua_State* L);

}  // namespace host
