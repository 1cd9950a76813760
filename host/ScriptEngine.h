// Lua 5.4 engine behind IKernel::RunScriptFunction.
//
// Scripts are found relative to the resource directory ('\' in the name maps
// to '/'), loaded once and cached. Every call runs under pcall with a
// traceback handler, an instruction budget and a memory cap, so a broken
// rules script is a logged error and no results, never a hang or a crash.
//
// Value conversion, host to Lua (arguments):
//   int, int64        -> integer
//   float             -> number
//   string            -> string (bytes unchanged, GBK stays GBK)
//   wide string       -> UTF-8 string (unpaired surrogates become U+FFFD)
//   object id         -> userdata "ObjectId": tostring gives "obj#ident:serial",
//                        == compares both fields, fields .ident and .serial,
//                        method :is_null()
//   user data         -> string holding the bytes
//   anything else     -> nil (the position is kept)
// Lua to host (results):
//   integer, or a number without fraction inside the 32-bit range -> int;
//     integers outside the 32-bit range saturate and are logged
//   other numbers     -> float
//   boolean           -> int 0 / 1
//   string            -> string (up to an embedded zero byte)
//   ObjectId userdata -> object id
//   nil               -> ends the results: later values are dropped (and
//                        logged when one of them is not nil), so a value never
//                        moves to another index
//   table, function, other userdata -> the call fails (logged, no results)
//
// Scripts see a restricted standard library: base functions without dofile,
// loadfile and load; string (without dump), table, math, utf8, coroutine;
// os.time, os.clock, os.date, os.difftime only; no io, no package. print
// writes to the engine's log. math.random is seeded with 0 when the engine is
// made, so runs replay identically. Each script has its own global table whose
// misses fall through to the shared library tables.
//
// Not thread-safe: one engine per logic thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "IVarList.h"
#include "ObjectId.h"

struct lua_State;

namespace host {

struct ScriptLimits {
    uint64_t instructionBudget = 10'000'000;  // per call, 0 = unlimited
    size_t memoryCap = 64u << 20;             // bytes, for the whole engine, 0 = unlimited
};

class ScriptEngine {
public:
    using LogFn = std::function<void(const std::string& line)>;

    ScriptEngine(std::string resourceDir, ScriptLimits limits = {});
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Where errors go (with traceback); the kernel passes its Trace. Every
    // failed call produces exactly one call of log.
    void SetLog(LogFn log);

    // Calls function of script with args converted to Lua values (see the
    // table above). Up to resultCount results are converted back and appended
    // to results. False, with one log line and nothing appended, when the
    // script or function is missing or the call fails or exceeds its limits.
    bool Call(const std::string& script, const std::string& function, const IVarList& args,
              int resultCount, IVarList& results);
    // The same for texts the caller holds (null counts as empty): a repeated
    // call of the last script and function copies neither name.
    bool Call(const char* script, const char* function, const IVarList& args, int resultCount,
              IVarList& results);

    // Drops cached scripts so edited files are read again.
    void Reload();

    // Bytes the Lua state holds right now (for tests and diagnostics).
    size_t MemoryInUse() const;

private:
    bool Run(std::string_view script, std::string_view function, const IVarList& args,
             int resultCount, IVarList& results);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Conversions shared by the rules engine and the scenario runner, which runs
// its own Lua state with the same object id representation.
namespace script {

// Registers the ObjectId metatable in L (idempotent).
void RegisterObjectIdType(lua_State* L);
// Pushes id as an ObjectId userdata (RegisterObjectIdType must have run).
void PushObjectId(lua_State* L, const ObjectId& id);
// True and id set when the value at index is an ObjectId userdata.
bool ToObjectId(lua_State* L, int index, ObjectId& id);

// Wide strings as scripts see them and back: the host's Utf16ToUtf8 and
// Utf8ToUtf16 (HostVarList.h), so malformed input is repaired the same way
// on every path.
std::string WideToUtf8(const char16_t* text);
std::u16string Utf8ToWide(const std::string& text);

// Message handler for lua_pcall: the error message (a non-string error via
// its __tostring, else its type) followed by a traceback of the failing
// thread.
int Traceback(lua_State* L);

// Pushes every entry of list as in the argument table above; returns the
// number of values pushed (the list's count), or -1 when the stack cannot
// grow that far (nothing pushed).
int PushVarList(lua_State* L, const IVarList& list);
// PushVarList with the ObjectId metatable taken from the stack at
// objectMetaIndex (much cheaper to reach than by its key in the registry)
// unless objectMetaIndex is 0.
int PushValues(lua_State* L, const IVarList& list, int objectMetaIndex);
// Pushes the ObjectId metatable (RegisterObjectIdType must have run).
void PushObjectIdMetatable(lua_State* L);

}  // namespace script

}  // namespace host
