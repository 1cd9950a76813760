// Designer tools' subcommands of rulehost. Each tool adds its subcommand to
// app here and reports its result through RulehostExitCode().
#include <CLI/CLI.hpp>

#include "Cli.h"
#include "ToolCommands.h"

void RegisterToolCommands(CLI::App& app) {
    tools::RegisterDemoCommand(app);
    tools::RegisterCheckCommand(app);
    tools::RegisterSimulateCommand(app);
    tools::RegisterDiffCommand(app);
    tools::RegisterStudioCommand(app);
}

namespace tools {

const char* DefaultResourceDir() {
#ifdef GAMERULES_DEFAULT_RESOURCES
    return GAMERULES_DEFAULT_RESOURCES;
#else
    return "resources/";
#endif
}

}  // namespace tools
