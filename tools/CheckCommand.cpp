// `rulehost check [DIR]`: compiler-style diagnostics for a resource directory.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "Cli.h"
#include "DataChecker.h"
#include "ToolCommands.h"

namespace tools {

namespace {

struct CheckOptions {
    std::string dir;
    bool json = false;
    bool quietNotes = false;
};

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void RunCheck(const CheckOptions& o) {
    if (!IsDirectory(o.dir)) {
        std::fprintf(stderr, "rulehost check: %s is not a directory\n", o.dir.c_str());
        RulehostExitCode() = kExitLoad;
        return;
    }
    const CheckResult result = CheckResources(o.dir);
    const int errors = result.Count(Severity::kError);
    const int warnings = result.Count(Severity::kWarning);
    const int notes = result.Count(Severity::kNote);
    if (o.json) {
        nlohmann::json j;
        j["directory"] = o.dir;
        j["errors"] = errors;
        j["warnings"] = warnings;
        if (!o.quietNotes) j["notes"] = notes;
        j["diagnostics"] = nlohmann::json::array();
        for (const auto& d : result.diagnostics) {
            if (o.quietNotes && d.severity == Severity::kNote) continue;
            j["diagnostics"].push_back({{"file", d.file},
                                        {"path", WithSlash(o.dir) + d.file},
                                        {"line", d.line},
                                        {"severity", SeverityName(d.severity)},
                                        {"rule", d.rule},
                                        {"message", d.message}});
        }
        std::printf("%s\n",
                    j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        for (const auto& d : result.diagnostics) {
            if (o.quietNotes && d.severity == Severity::kNote) continue;
            // The folder as the user wrote it, so an editor can open "DIR/file:line".
            std::printf("%s\n", FormatDiagnostic(d, o.dir).c_str());
        }
        if (errors == 0 && warnings == 0) {
            std::printf("%s: no problems found\n", o.dir.c_str());
        } else {
            std::printf("%s, %s\n", Plural(errors, "error", "errors").c_str(),
                        Plural(warnings, "warning", "warnings").c_str());
        }
    }
    std::fflush(stdout);
    RulehostExitCode() = errors > 0 ? kExitFailed : kExitOk;
}

}  // namespace

void RegisterCheckCommand(CLI::App& app) {
    auto opts = std::make_shared<CheckOptions>();
    opts->dir = DefaultResourceDir();
    CLI::App* cmd = app.add_subcommand(
        "check",
        "Lint a resource directory the way the plug-in reads it: INI tables, class file, rules "
        "script. Exit 1 when there are errors, 0 with warnings only.");
    cmd->add_option("dir", opts->dir, "resource directory (default: the bundled sample data)");
    cmd->add_option("--resources", opts->dir, "resource directory, as for the other commands");
    cmd->add_flag("--json", opts->json, "print the diagnostics as JSON");
    cmd->add_flag("--no-notes", opts->quietNotes, "leave out notes (findings that are no mistake)");
    cmd->callback([opts]() { RunCheck(*opts); });
}

}  // namespace tools
