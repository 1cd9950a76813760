// `rulehost demo`: the sample world as a timeline.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>

#include "Cli.h"
#include "DemoWorld.h"
#include "InstallLayout.h"
#include "ToolCommands.h"

namespace tools {

namespace {

void RunDemoCommand(const DemoOptions& options) {
    if (!RequireResourceFolder("demo", options.resourceDir)) return;
    DemoSummary summary;
    std::string why;
    if (!RunDemo(options, stdout, summary, why)) {
        std::fprintf(stderr, "rulehost demo: %s\n", why.c_str());
        RulehostExitCode() = kExitLoad;
        return;
    }
    // Every part of the sample world has to have happened; a studio's data
    // that leaves one out is told so and the command fails.
    RulehostExitCode() = summary.missing.empty() ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterDemoCommand(CLI::App& app) {
    auto opts = std::make_shared<DemoOptions>();
    opts->resourceDir = DefaultResourceDir();
    opts->pluginPath = host::DefaultPluginPath();
    CLI::App* cmd = app.add_subcommand(
        "demo",
        "Run the sample world on the real plug-in and print its timeline: creators load and "
        "refresh, players select and fight, an area boss opens, five players form a farm team.");
    cmd->add_option("--resources", opts->resourceDir,
                    "resource directory (default: the bundled sample data)");
    cmd->add_option("--plugin", opts->pluginPath, "rules plug-in to load")->capture_default_str();
    cmd->add_option("--creators", opts->creators,
                    "creator numbers of the ordinary creators (default: the first three sections "
                    "of Npc/ModelProb.ini)")
        ->delimiter(',');
    cmd->add_option("--boss", opts->boss,
                    "creator number of the area boss (default: the next-to-last section)");
    cmd->add_option("--farm", opts->farm, "creator number of the farm (default: the last section)");
    cmd->add_flag("--verbose", opts->verbose,
                  "show every property change, class event and heartbeat");
    cmd->callback([opts]() { RunDemoCommand(*opts); });
}

}  // namespace tools
