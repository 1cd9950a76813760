// The designer tools' subcommands of rulehost, one registration each.
#pragma once

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

}  // namespace tools
