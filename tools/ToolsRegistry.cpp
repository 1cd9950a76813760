// Designer tools' subcommands of rulehost. Each tool adds its subcommand to
// app here and reports its result through RulehostExitCode().
#include <CLI/CLI.hpp>

#include "Cli.h"
#include "InstallLayout.h"
#include "ToolCommands.h"

void RegisterToolCommands(CLI::App& app) {
    tools::RegisterDemoCommand(app);
    tools::RegisterCheckCommand(app);
    tools::RegisterSimulateCommand(app);
}

namespace tools {

const char* DefaultResourceDir() {
    return host::DefaultResourceDir().c_str();
}

}  // namespace tools
