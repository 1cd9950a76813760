// `rulehost simulate`: Monte Carlo of one creator's encounters.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Cli.h"
#include "InstallLayout.h"
#include "Simulator.h"
#include "ToolCommands.h"
#include "World.h"

namespace tools {

namespace {

struct SimulateCli {
    SimulateOptions options;
    bool json = false;
    std::string htmlPath;
    bool noProgress = false;
};

// "[#######.............]  35%" on one terminal line, redrawn in place.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* out) : m_out(out) {}
    void Update(int64_t done, int64_t total) {
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (percent == m_last) return;
        m_last = percent;
        const int width = 30;
        const int filled = percent * width / 100;
        std::fprintf(m_out, "\rsimulating [%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(width - filled), '.').c_str(), percent);
        std::fflush(m_out);
    }
    void Finish() {
        if (m_last >= 0) {
            std::fprintf(m_out, "\r%*s\r", 50, "");
            std::fflush(m_out);
        }
    }

private:
    std::FILE* m_out;
    int m_last = -1;
};

// The command as it was typed (arguments with spaces or quotes quoted), so
// the report says how to make it again.
std::string CommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string line;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        std::string arg = all.substr(start, end - start);
        start = end + 1;
        if (arg.empty() || arg.find_first_of(" \t\"'$\\") != std::string::npos) {
            std::string quoted = "'";
            for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            arg = quoted + "'";
        }
        line += (line.empty() ? "" : " ") + arg;
    }
    return line.empty() ? "rulehost simulate" : line;
}

void RunSimulate(SimulateCli& cli) {
    if (!RequireResourceFolder("simulate", cli.options.resourceDir)) return;
    std::unique_ptr<ProgressBar> bar;
    if (!cli.noProgress && isatty(STDERR_FILENO)) {
        bar = std::make_unique<ProgressBar>(stderr);
        cli.options.progress = [&bar](int64_t done, int64_t total) { bar->Update(done, total); };
    }
    cli.options.commandLine = CommandLine();
    const SimulationResult result = RunSimulation(cli.options);
    if (bar) bar->Finish();
    if (!result.ok) {
        std::fprintf(stderr, "rulehost simulate: %s\n", result.error.c_str());
        RulehostExitCode() = kExitLoad;
        return;
    }
    const std::string problems =
        host::LoadingProblemsLine(result.startupTraceLines, cli.options.resourceDir);
    if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
    if (!cli.htmlPath.empty()) {
        std::ofstream html(cli.htmlPath, std::ios::binary | std::ios::trunc);
        html << SimulationHtml(result);
        html.close();
        if (!html) {
            std::fprintf(stderr, "rulehost simulate: cannot write %s\n", cli.htmlPath.c_str());
            RulehostExitCode() = kExitFailed;
            return;
        }
    }
    const std::string text = cli.json ? SimulationJson(result) : SimulationTable(result);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!cli.htmlPath.empty() && !cli.json) {
        std::printf("\nHTML report written to %s\n", cli.htmlPath.c_str());
    }
    std::fflush(stdout);
    // Like check: a finding fails the command, so scripts and CI notice it.
    RulehostExitCode() = result.FoundProblem() ? kExitFailed : kExitOk;
}

}  // namespace

void RegisterSimulateCommand(CLI::App& app) {
    auto cli = std::make_shared<SimulateCli>();
    cli->options.resourceDir = DefaultResourceDir();
    cli->options.pluginPath = host::DefaultPluginPath();
    CLI::App* cmd = app.add_subcommand(
        "simulate",
        "Monte Carlo of a creator's encounters through the real plug-in: model draw frequencies "
        "against the weights, encounter sizes, NPC frequencies, formation slots, selects that "
        "send nothing, draws that can never happen.");
    cmd->add_option("--creator", cli->options.creator,
                    "creator number (a section of Npc/ModelProb.ini)")
        ->required();
    cmd->add_option("--selects", cli->options.selects, "number of selects to simulate")
        ->capture_default_str()
        ->check(CLI::Range(int64_t(1), int64_t(1) << 40));
    cmd->add_option("--team-size", cli->options.teamSize,
                    "size of the selecting player's team (1: alone; up to 5)")
        ->capture_default_str()
        ->check(CLI::Range(1, 5));
    cmd->add_option("--resources", cli->options.resourceDir,
                    "resource directory (default: the bundled sample data)");
    cmd->add_option("--plugin", cli->options.pluginPath, "rules plug-in to load")
        ->capture_default_str();
    cmd->add_flag("--json", cli->json, "print the results as JSON");
    cmd->add_option("--html", cli->htmlPath,
                    "also write a self-contained HTML page with bar charts to this file");
    cmd->add_flag("--no-progress", cli->noProgress, "no progress bar, even on a terminal");
    cmd->callback([cli]() { RunSimulate(*cli); });
}

}  // namespace tools
