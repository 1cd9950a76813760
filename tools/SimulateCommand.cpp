#include <CLI/CLI.hpp>

#include "ToolCommands.h"

namespace tools {
void RegisterSimulateCommand(CLI::App&) {}
}  // namespace tools
