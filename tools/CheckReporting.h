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

NumberCheck CheckWhole(const std::string& text);
NumberCheck CheckReal(const std::string& text);

}  // namespace check
}  // namespace tools
