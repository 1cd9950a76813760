// Lua 5.4 engine behind IKernel::RunScriptFunction.
//
// Scripts are found relative to the resource directory ('\' in the name maps
// to '/'), loaded once and cached. Every call runs under pcall with a
// traceback handler, an instruction budget and a memory cap, so a broken
// rules script is a logged error and no results, never a hang or a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "IVarList.h"

namespace host {

struct ScriptLimits {
    uint64_t instructionBudget = 10'000'000;  // per call
    size_t memoryCap = 64u << 20;             // bytes, for the whole engine
};

class ScriptEngine {
public:
    using LogFn = std::function<void(const std::string& line)>;

    ScriptEngine(std::string resourceDir, ScriptLimits limits = {});
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Where errors go (with traceback); the kernel passes its Trace.
    void SetLog(LogFn log);

    // Calls function of script with args converted to Lua values (ints and
    // int64 as integers, floats as numbers, strings, wide strings as UTF-8,
    // object ids as a userdata/table the host documents). Up to resultCount
    // results are converted back and appended to results. False, with one log
    // line and nothing appended, when the script or function is missing or
    // the call fails or exceeds its limits.
    bool Call(const std::string& script, const std::string& function, const IVarList& args,
              int resultCount, IVarList& results);

    // Drops cached scripts so edited files are read again.
    void Reload();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace host
