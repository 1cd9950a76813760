// Shared parts of the resource checks: the resource file names, the list of findings, and the
// text and number helpers that explain what the plug-in's conversions make of a field.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "DataChecker.h"

namespace tools {
namespace check {

constexpr const char* kModelFile = "Npc\\ModelProb.ini";
constexpr const char* kNpcFile = "Npc\\CreatorProb.ini";
constexpr const char* kRefreshFile = "Npc\\NpcCreatorRefresh.ini";
constexpr const char* kClassFile = "Struct/NPC/NpcCreator.xml";
constexpr const char* kRulesScript = "Rule\\npc_creator.lua";
constexpr const char* kBom = "\xEF\xBB\xBF";

// The path of a resource name under dir, with '/' for the file system.
std::string OnDisk(const std::string& dir, const char* name);
bool ReadBytes(const std::string& path, std::string& out);
// A chance as "40.0%" (three decimals below 0.1%).
std::string Percent(double p);
// Field text quoted for a message, shown as UTF-8.
std::string Quote(const std::string& bytes);
std::string TrimBlanks(const std::string& s);
std::string FoldCase(std::string s);

class Reporter {
public:
    // rule: the finding's stable id ("comma-in-description"), kept across releases so
    // scripts and people can refer to it.
    void Add(const std::string& file, int line, Severity severity, std::string rule,
             std::string message) {
        Diagnostic d;
        d.file = file;
        d.line = line;
        d.severity = severity;
        d.rule = std::move(rule);
        d.message = std::move(message);
        m_diagnostics.push_back(std::move(d));
    }
    std::vector<Diagnostic> Take() { return std::move(m_diagnostics); }

private:
    std::vector<Diagnostic> m_diagnostics;
};

// How the plug-in's integer conversion treats a field: the value it reads
// and, when the text is not a plain whole number, why.
struct NumberCheck {
    bool clean = true;
    std::string reason;
    std::string rule = "not-a-number";  // the finding's id when not clean
};

// A file the plug-in's narrow-text readers cannot read: saved as UTF-16 or UTF-32 (an
// editor's "Unicode"), or holding NUL bytes, at which those readers stop.
struct EncodingProblem {
    std::string rule;  // "utf16-file", "utf32-file", "nul-bytes"; empty when the file is fine
    std::string what;  // "UTF-16 little endian", "UTF-32 big endian with a byte-order mark", ...
    bool unreadable = false;  // the readers find nothing in the whole file
    int firstLine = 0;        // when only some lines hold NUL bytes: the first of them
    int lines = 0;            // ... and how many
};
EncodingProblem FindEncodingProblem(const std::string& bytes);

// Reports an encoding problem of file; effect says what the plug-in then does with the file
// ("no creator gets candidates from this file"), nulEffect what a NUL byte inside a line does.
// True when the whole file is unreadable, so its other checks would only repeat it.
bool ReportEncoding(const std::string& file, const std::string& bytes, const char* effect,
                    const char* nulEffect, Reporter& r);

NumberCheck CheckWhole(const std::string& text);
NumberCheck CheckReal(const std::string& text);

}  // namespace check
}  // namespace tools
