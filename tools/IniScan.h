// One INI resource file read with the plug-in's reader, the lines that reader skips, and the
// field splitting and field checks shared by the table checks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CheckReporting.h"
#include "IniFile.h"

namespace tools {
namespace check {

// One INI resource file, loaded with the plug-in's reader, plus the raw
// lines for explaining what the reader skipped.
struct IniScan {
    std::string display;
    bool found = false;
    std::string bytes;
    std::unique_ptr<CIniFile> ini;
    bool unreadable = false;  // reported as a whole: its rows are not checked one by one
};

// Reads the resource file name of dir; with r, reports a file the reader finds nothing in
// (encoding, and for a table file no section at all; effect: what the plug-in then does) and
// otherwise the lines the reader skips.
IniScan ScanIni(const std::string& dir, const char* name, Reporter* r, const char* effect,
                bool tableFile);
// Reports a section name that is no whole number (what: "creator", "model index").
void CheckSectionName(const IniScan& scan, size_t s, const char* what, Reporter* r);
// Reports a field that the plug-in's integer (whole) or real conversion misreads.
void CheckField(const IniScan& scan, int line, const std::string& text, const char* what,
                bool whole, Reporter* r);
// The fields of an entry value as the plug-in splits them.
std::vector<std::string> SplitFields(const std::string& value);
// Explains a wrong field count in terms a designer can act on; rule gets the finding's id.
std::string FieldCountMessage(const std::string& value, const std::vector<std::string>& fields,
                              size_t expected, const char* layout, std::string& rule);

}  // namespace check
}  // namespace tools
