// rulehost's command line: the subcommands of the host itself ("modules",
// "run") and the hook through which the designer tools add theirs.
#pragma once

namespace CLI {
class App;
}

// The version `rulehost --version` prints.
#ifdef GAMERULES_VERSION
constexpr const char* kRulehostVersion = GAMERULES_VERSION;
#else
constexpr const char* kRulehostVersion = "1.0.0";
#endif

// Exit codes of every rulehost subcommand.
enum RulehostExit : int {
    kExitOk = 0,      // done; every check passed
    kExitFailed = 1,  // the run finished but a check, scenario or tool found a problem
    kExitUsage = 2,   // bad command line
    kExitLoad = 3,    // the plug-in, scenario or input could not be loaded or started
};

// Subcommand callbacks report their result here; main returns it.
inline int& RulehostExitCode() {
    static int code = kExitOk;
    return code;
}

// Adds the designer tools' subcommands to app; defined in tools/.
void RegisterToolCommands(CLI::App& app);
