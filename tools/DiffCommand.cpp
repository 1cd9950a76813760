// `rulehost diff OLD NEW`: what a data change does to players, for review.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "Cli.h"
#include "EncounterSizes.h"
#include "OddsDiff.h"
#include "ToolCommands.h"

namespace tools {

namespace {

struct DiffOptions {
    std::string oldDir;
    std::string newDir;
    bool json = false;
    std::string htmlPath;
};

// A folder is readable when it is a directory holding at least one of the
// two candidate tables; anything else is most likely a wrong path.
bool ReadFolder(const std::string& dir, OddsModel& model) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "rulehost diff: %s is not a directory\n", dir.c_str());
        return false;
    }
    model = LoadOddsModel(dir);
    if (!model.modelFileFound && !model.npcFileFound) {
        std::fprintf(stderr,
                     "rulehost diff: %s holds neither Npc/ModelProb.ini nor Npc/CreatorProb.ini\n",
                     dir.c_str());
        return false;
    }
    return true;
}

void RunDiff(const DiffOptions& o) {
    OddsModel before;
    OddsModel after;
    if (!ReadFolder(o.oldDir, before) || !ReadFolder(o.newDir, after)) {
        RulehostExitCode() = kExitLoad;
        return;
    }
    const OddsDiff diff =
        DiffOdds(before, after, EncounterSizesOf(o.oldDir), EncounterSizesOf(o.newDir));
    if (!o.htmlPath.empty()) {
        std::ofstream html(o.htmlPath, std::ios::binary | std::ios::trunc);
        html << DiffHtml(diff, o.oldDir, o.newDir);
        html.close();
        if (!html) {
            std::fprintf(stderr, "rulehost diff: cannot write %s\n", o.htmlPath.c_str());
            RulehostExitCode() = kExitLoad;
            return;
        }
    }
    const std::string text = o.json ? DiffJson(diff, o.oldDir, o.newDir) : DiffText(diff);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    RulehostExitCode() = diff.Changed() ? kExitFailed : kExitOk;
}

}  // namespace

void RegisterDiffCommand(CLI::App& app) {
    auto opts = std::make_shared<DiffOptions>();
    CLI::App* cmd = app.add_subcommand(
        "diff",
        "What a data change does to players: every creator, model and NPC whose exact chance "
        "changes, rows added and removed, candidates gained and lost, encounter sizes per team "
        "size. Exit 0 when nothing changes for players, 1 when something does.");
    cmd->add_option("old", opts->oldDir, "the resource folder before the change")->required();
    cmd->add_option("new", opts->newDir, "the resource folder after the change")->required();
    auto* json = cmd->add_flag("--json", opts->json, "print the changes as JSON");
    cmd->add_option("--html", opts->htmlPath, "also write the changes as an HTML page to FILE")
        ->excludes(json);
    cmd->callback([opts]() { RunDiff(*opts); });
}

}  // namespace tools
