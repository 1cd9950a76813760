// Designer tools' subcommands of rulehost. Each tool adds its subcommand to
// app here and reports its result through RulehostExitCode().
#include <CLI/CLI.hpp>

#include "Cli.h"

void RegisterToolCommands(CLI::App& app) { (void)app; }
