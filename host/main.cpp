// rulehost: the reference host's command line.
//
//   rulehost --version [--plugin PATH]
//   rulehost modules [--plugin PATH] [--resources DIR]
//   rulehost run FILE.lua [--plugin PATH] [--resources DIR] [--log FILE]
//                         [--events FILE] [--quiet]
//   rulehost <tool> ...   designer tools registered by tools/
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Cli.h"
#include "EventTimeSystem.h"
#include "InstallLayout.h"
#include "Kernel.h"
#include "PluginLoader.h"
#include "Scenario.h"
#include "TeamSystem.h"
#include "World.h"

namespace {

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  done; every check passed\n"
    "  1  a scenario check, scenario error or tool finding failed the run\n"
    "  2  bad command line\n"
    "  3  the plug-in, scenario or input could not be loaded or started\n";

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

// Loads the plug-in, lists its modules and drives them through Init and
// AfterInit against an in-memory kernel with the host modules, creates the
// logic classes, and unloads it again, saying what happened at each step.
int RunModules(const std::string& pluginPath, const std::string& resourceDir) {
    if (!host::IsDirectory(resourceDir)) {
        std::fprintf(stderr, "rulehost modules: the resource folder %s does not exist\n",
                     resourceDir.c_str());
        return kExitLoad;
    }
    std::printf("plug-in: %s\n", pluginPath.c_str());
    host::PluginLoader loader;
    if (!loader.Load(pluginPath)) {
        std::fprintf(stderr, "error: %s\n", loader.error().c_str());
        return kExitLoad;
    }
    std::printf("interface version: %s (host %s)\n", Hex(loader.version()).c_str(),
                Hex(kGameLogicInterfaceVersion).c_str());
    std::printf("modules in creator-list order:\n");
    const auto& modules = loader.modules();
    for (size_t i = 0; i < modules.size(); ++i) {
        std::printf("  %zu. %s\n", i + 1, modules[i].name.c_str());
    }

    host::KernelOptions options;
    options.resourceDir = resourceDir;
    // The kernel is large (its timer wheel is inline): keep it off the stack.
    auto kernelHolder = std::make_unique<host::Kernel>(options);
    host::Kernel& kernel = *kernelHolder;
    host::TeamSystem team(kernel);
    host::EventTimeSystem eventTime(kernel);
    team.Install();
    kernel.RegisterModule(TEAM_SYSTEM_MODULE_NAME, &team);
    kernel.RegisterModule(EVENT_TIME_SYSTEM_MODULE_NAME, &eventTime);
    std::printf("host modules: %s, %s\n", TEAM_SYSTEM_MODULE_NAME, EVENT_TIME_SYSTEM_MODULE_NAME);
    std::printf("resources: %s\n", kernel.GetResourcePath());

    int failures = 0;
    for (const auto& m : modules) {
        bool ok = m.module != nullptr && m.module->Init(&kernel);
        failures += ok ? 0 : 1;
        std::printf("Init %s: %s\n", m.name.c_str(), ok ? "ok" : "FAILED");
    }
    for (const auto& m : modules) {
        bool ok = m.module != nullptr && m.module->AfterInit(&kernel);
        failures += ok ? 0 : 1;
        std::printf("AfterInit %s: %s\n", m.name.c_str(), ok ? "ok" : "FAILED");
    }
    kernel.CreateClasses();
    const std::string problems = host::LoadingProblemsLine(
        kernel.log().Count(host::EventFilter::OfKind(host::EventKind::Trace)), resourceDir);
    if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
    std::printf("logic classes created: %zu\n", kernel.ClassCount());
    for (size_t i = 0; i < kernel.ClassCount(); ++i) {
        const host::ClassInfo* info = kernel.GetClassInfo(int(i));
        if (info == nullptr) continue;
        std::printf("  %s: %zu properties, %zu records\n", info->name.c_str(),
                    info->properties.size(), info->records.size());
    }
    loader.Unload();
    std::printf("unloaded: each creator shut down and freed its module\n");
    return failures == 0 ? kExitOk : kExitFailed;
}

// `rulehost --version`: this tool's version, the plug-in file it loads by
// default (or --plugin) and the interface version that file was built for.
int PrintVersion(const std::string& pluginPath) {
    std::printf("rulehost %s\n", kRulehostVersion);
    std::printf("plug-in: %s\n", pluginPath.c_str());
    host::PluginLoader loader;
    if (!loader.Load(pluginPath)) {
        std::printf("plug-in interface version: unknown (%s)\n", loader.error().c_str());
        return kExitLoad;
    }
    std::printf("plug-in interface version: %s (this host: %s)\n", Hex(loader.version()).c_str(),
                Hex(kGameLogicInterfaceVersion).c_str());
    loader.Unload();
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"rulehost: reference host for the game rules plug-in"};
    app.require_subcommand(1);
    app.footer(kExitCodes);

    std::string pluginPath = host::DefaultPluginPath();
    std::string resourceDir = host::DefaultResourceDir();

    CLI::App* modules =
        app.add_subcommand("modules",
                           "Load the plug-in, drive its modules' Init and AfterInit "
                           "against an in-memory kernel, unload it");
    modules->add_option("--plugin", pluginPath, "Plug-in library")->capture_default_str();
    modules->add_option("--resources", resourceDir, "Resource directory")->capture_default_str();
    modules->callback([&] { RulehostExitCode() = RunModules(pluginPath, resourceDir); });

    host::ScenarioOptions scenario;
    CLI::App* run =
        app.add_subcommand("run", "Run a scenario file against a world with the plug-in");
    run->add_option("file", scenario.file, "Scenario (Lua)")->required();
    run->add_option("--plugin", scenario.pluginPath,
                    "Plug-in library (default: setup{plugin=} or the built plug-in)");
    run->add_option("--resources", scenario.resourceDir,
                    "Resource directory (default: setup{resources=} or the project's)");
    run->add_option("--log", scenario.logFile, "Append Trace and Echo lines (raw bytes) here");
    run->add_option("--events", scenario.eventsFile, "Write the whole event log here at the end");
    run->add_flag("--quiet,-q", scenario.quiet, "No Echo or host lines on the terminal");
    run->callback([&] { RulehostExitCode() = host::RunScenario(scenario).exitCode; });

    RegisterToolCommands(app);

    if (argc >= 2 && std::string(argv[1]) == "--version") {
        std::string versionPlugin = pluginPath;
        if (argc == 4 && std::string(argv[2]) == "--plugin") versionPlugin = argv[3];
        return PrintVersion(versionPlugin);
    }
    const auto subcommands = app.get_subcommands([](const CLI::App*) { return true; });
    bool knownCommand = false;
    std::string known;
    for (const CLI::App* sub : subcommands) {
        known += (known.empty() ? "" : ", ") + sub->get_name();
        if (argc >= 2 && sub->check_name(argv[1])) knownCommand = true;
    }
    if (argc >= 2 && argv[1][0] != '-' && !knownCommand) {
        std::fprintf(stderr, "rulehost: unknown command '%s' (commands: %s)\n", argv[1],
                     known.c_str());
        return kExitUsage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return kExitFailed;
    }
    return RulehostExitCode();
}
