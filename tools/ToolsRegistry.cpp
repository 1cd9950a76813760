// Designer tools' subcommands of rulehost. Each tool adds its subcommand to
// app here and reports its result through RulehostExitCode().
#include <CLI/CLI.hpp>
#include <cstdio>

#include "Cli.h"
#include "InstallLayout.h"
#include "ToolCommands.h"
#include "World.h"

void RegisterToolCommands(CLI::App& app) {
    tools::RegisterDemoCommand(app);
    tools::RegisterCheckCommand(app);
    tools::RegisterSimulateCommand(app);
    tools::RegisterDiffCommand(app);
    tools::RegisterStudioCommand(app);
}

namespace tools {

const char* DefaultResourceDir() {
    return host::DefaultResourceDir().c_str();
}

bool RequireResourceFolder(const char* command, const std::string& dir) {
    if (host::IsDirectory(dir)) return true;
    std::fprintf(stderr, "rulehost %s: the resource folder %s does not exist\n", command,
                 dir.c_str());
    RulehostExitCode() = kExitLoad;
    return false;
}

}  // namespace tools
