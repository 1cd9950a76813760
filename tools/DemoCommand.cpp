#include <CLI/CLI.hpp>

#include "ToolCommands.h"

namespace tools {
void RegisterDemoCommand(CLI::App&) {}
}  // namespace tools
