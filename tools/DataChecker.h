// `rulehost check`: a linter for the resource files of the rule systems. It
// reads every file with the plug-in's own reader and conversions and reports
// what the plug-in would silently do with each mistake.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tools {

enum class Severity { kNote, kWarning, kError };
const char* SeverityName(Severity severity);

struct Diagnostic {
    std::string file;  // relative to the resource directory, with '/'
    int line = 0;      // 1-based; 0 when the finding concerns the whole file
    Severity severity = Severity::kError;
    std::string message;  // UTF-8
    std::string rule;     // stable id of the kind of finding ("comma-in-description")
};

// "file:line: error: message [rule]" (without ":line" when line is 0, without " [rule]" when
// the finding has none); dir, when given, is put in front of the file as the user wrote it.
std::string FormatDiagnostic(const Diagnostic& diagnostic, const std::string& dir = "");

// One candidate row of "Npc\ModelProb.ini" or "Npc\CreatorProb.ini", as the
// plug-in stores it, with where it was written.
struct ModelRow {
    int model = 0;
    float weight = 0.0f;
    std::string description;  // bytes as written (GBK)
    int index = 0;
    int line = 0;
};
struct NpcRow {
    int npcConfig = 0;
    float weight = 0.0f;  // for slot type 3: the fixed slot
    int slotType = 0;
    int line = 0;
};
struct TableSection {
    std::string name;  // as written between the brackets
    int line = 0;
};

// The two candidate tables as the plug-in fills them: a key's first section
// wins; entries with the wrong field count are left out, and so are NPC rows
// the plug-in refuses (a slot type outside 0 to 3, a fixed slot outside 0 to 8).
struct CandidateTables {
    bool modelFileFound = false;
    bool npcFileFound = false;
    // Found but read as nothing (UTF-16, NUL bytes, no section): reported once as a whole.
    bool modelFileUnreadable = false;
    bool npcFileUnreadable = false;
    std::map<int, std::vector<ModelRow>> models;  // creator number -> rows
    std::map<int, std::vector<NpcRow>> npcs;      // model index -> rows
    std::map<int, TableSection> modelSections;    // the section each creator number came from
    std::map<int, TableSection> npcSections;
};

// Reads the candidate tables of dir (which may or may not end in '/').
CandidateTables LoadCandidateTables(const std::string& dir);

struct CheckResult {
    std::vector<Diagnostic> diagnostics;  // sorted by file, then line
    int Count(Severity severity) const;
};

// Runs every check on the resource directory dir.
CheckResult CheckResources(const std::string& dir);

// Resource-relative display name ("Npc/ModelProb.ini") of a resource name
// written with '\' ("Npc\\ModelProb.ini").
std::string DisplayName(const char* resourceName);
// dir with a trailing '/'.
std::string WithSlash(const std::string& dir);

}  // namespace tools
