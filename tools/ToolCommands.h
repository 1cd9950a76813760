// The designer tools' subcommands of rulehost, one registration each.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace tools {

void RegisterCheckCommand(CLI::App& app);
void RegisterSimulateCommand(CLI::App& app);
void RegisterDemoCommand(CLI::App& app);
void RegisterDiffCommand(CLI::App& app);
void RegisterStudioCommand(CLI::App& app);

// The bundled sample data (resources/ of the source tree, or as installed).
const char* DefaultResourceDir();

// False, with "rulehost COMMAND: the resource folder DIR does not exist" on
// stderr and exit code 3, when dir is no directory.
bool RequireResourceFolder(const char* command, const std::string& dir);

}  // namespace tools
