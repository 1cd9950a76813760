// Reading an INI resource file as the plug-in does and explaining the lines its reader skips.
#include "IniScan.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>

#include "TextCodec.h"
#include "Utility.h"
#include "VarList.h"

namespace tools {
namespace check {

namespace {

bool AllDigits(const std::string& s) {
    const std::string t = TrimBlanks(s);
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool HasEmptyField(const std::string& value) {
    if (value.empty() || value.front() == ',') return true;
    return value.find(",,") != std::string::npos;
}

std::vector<std::string> PhysicalLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

// Lines the reader dropped, each with the reason it would be dropped.
void ExplainSkippedLines(const IniScan& scan, Reporter& r) {
    std::set<size_t> itemLines;
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        for (size_t e = 0; e < scan.ini->GetItemCount(s); ++e) {
            itemLines.insert(scan.ini->GetItemLine(s, e));
        }
    }
    const std::vector<std::string> lines = PhysicalLines(scan.bytes);
    bool inSection = false;
    bool hiddenByBom = false;
    int hiddenLine = 0;
    std::string hiddenName;
    int hiddenEntries = 0;
    std::map<std::string, int> headerLines;  // folded name -> first header line
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i) + 1;
        std::string t = TrimBlanks(lines[i]);
        if (i == 0 && t.compare(0, 3, kBom) == 0) {
            const std::string rest = TrimBlanks(t.substr(3));
            if (rest.size() >= 3 && rest.front() == '[' && rest.back() == ']') {
                hiddenByBom = true;
                hiddenLine = lineNo;
                hiddenName = rest;
                continue;
            }
        }
        if (t.size() < 2) continue;
        if (t.size() >= 3 && t.front() == '[' && t.back() == ']') {
            inSection = true;
            const std::string name = t.substr(1, t.size() - 2);
            auto [it, fresh] = headerLines.emplace(FoldCase(name), lineNo);
            if (!fresh) {
                r.Add(scan.display, lineNo, Severity::kWarning, "repeated-section-header",
                      fmt::format("section [{}] appears again (first at line {}): the plug-in "
                                  "appends these entries to that section",
                                  ToUtf8(name), it->second));
            }
            continue;
        }
        if (t.compare(0, 2, "//") == 0 || t[0] == ';') continue;
        if (itemLines.count(size_t(lineNo)) != 0) continue;
        const size_t eq = t.find('=');
        if (!inSection) {
            if (hiddenByBom && eq != std::string::npos && eq != 0 && eq + 1 < t.size()) {
                ++hiddenEntries;
                continue;
            }
            if (eq != std::string::npos) {
                r.Add(scan.display, lineNo, Severity::kWarning, "entry-before-section",
                      "entry before the first section header: the plug-in ignores it");
            }
            continue;
        }
        if (eq == std::string::npos) {
            if (t[0] == '[' && t.find(']') != std::string::npos) {
                r.Add(scan.display, lineNo, Severity::kError, "header-with-trailing-text",
                      "text after the closing ']' makes this no section header: the plug-in "
                      "ignores the line and files the entries below it under the previous section");
            } else if (t.find(',') != std::string::npos) {
                r.Add(scan.display, lineNo, Severity::kError, "entry-without-key",
                      "entry without 'key=': the plug-in ignores this line");
            } else {
                r.Add(scan.display, lineNo, Severity::kWarning, "line-without-equals",
                      "line without '=': the plug-in ignores it");
            }
        } else if (eq == 0) {
            r.Add(scan.display, lineNo, Severity::kWarning, "entry-without-key",
                  "line starts with '=' (no key): the plug-in ignores it");
        } else {
            r.Add(scan.display, lineNo, Severity::kWarning, "empty-value",
                  fmt::format("key '{}' has an empty value: the plug-in does not store it",
                              ToUtf8(TrimBlanks(t.substr(0, eq)))));
        }
    }
    if (hiddenByBom) {
        r.Add(scan.display, hiddenLine, Severity::kError, "byte-order-mark",
              fmt::format("a UTF-8 byte-order mark in front of {} hides this header: the plug-in "
                          "does not see the section and ignores its {} {}; save the file without "
                          "a byte-order mark",
                          ToUtf8(hiddenName), hiddenEntries,
                          hiddenEntries == 1 ? "entry" : "entries"));
    }
}

}  // namespace

std::vector<std::string> SplitFields(const std::string& value) {
    CVarList list;
    SplitString(list, value, ",", 0);
    std::vector<std::string> fields;
    for (uint64_t i = 0; i < list.GetCount(); ++i) fields.emplace_back(list.StringVal(i));
    return fields;
}

std::string FieldCountMessage(const std::string& value, const std::vector<std::string>& fields,
                              size_t expected, const char* layout, std::string& rule) {
    rule = "field-count";
    std::string msg =
        fmt::format("expected {} fields ({}) but found {}", expected, layout, fields.size());
    const size_t n = fields.size();
    if (n == expected + 1 && AllDigits(fields[1]) && AllDigits(fields[2])) {
        rule = "decimal-comma";
        msg +=
            fmt::format(": the weight looks written with a decimal comma ('{},{}'); write '{}.{}'",
                        TrimBlanks(fields[1]), TrimBlanks(fields[2]), TrimBlanks(fields[1]),
                        TrimBlanks(fields[2]));
    } else if (expected == 4 && n > 4 && CheckWhole(fields[0]).clean &&
               CheckReal(fields[1]).clean && CheckWhole(fields[n - 1]).clean) {
        std::string description = fields[2];
        for (size_t i = 3; i + 1 < n; ++i) description += "," + fields[i];
        rule = "comma-in-description";
        msg += ": the description " + Quote(description) + " contains a comma, which splits it";
    } else if (n < expected && HasEmptyField(value)) {
        rule = "empty-field";
        msg += ": an empty field between commas is dropped, not read as 0";
    } else if (n < expected) {
        msg += ": a field is missing";
    } else if (n > expected) {
        msg += ": there are extra fields";
    }
    msg += "; the plug-in skips this entry";
    return msg;
}

IniScan ScanIni(const std::string& dir, const char* name, Reporter* r, const char* effect,
                bool tableFile) {
    IniScan scan;
    scan.display = DisplayName(name);
    const std::string path = OnDisk(dir, name);
    scan.ini = std::make_unique<CIniFile>(path.c_str());
    scan.found = ReadBytes(path, scan.bytes) && scan.ini->LoadFromFile();
    if (!scan.found || r == nullptr) return scan;
    if (ReportEncoding(scan.display, scan.bytes, effect,
                       "the plug-in's reader ends the line there and ignores the rest of it", *r)) {
        scan.unreadable = true;
        return scan;
    }
    // A lone header hidden by a byte-order mark is explained line by line.
    if (tableFile && scan.ini->GetSectionCount() == 0 && scan.bytes.compare(0, 3, kBom) != 0) {
        scan.unreadable = true;
        int entries = 0;
        for (const std::string& line : PhysicalLines(scan.bytes)) {
            const std::string t = TrimBlanks(line);
            if (t.find('=') != std::string::npos && t.compare(0, 2, "//") != 0 && t[0] != ';') {
                ++entries;
            }
        }
        const std::string ignored = entries == 0
                                        ? std::string()
                                        : fmt::format("the plug-in ignores its {} {}, so ", entries,
                                                      entries == 1 ? "entry" : "entries");
        r->Add(scan.display, 0, Severity::kError, "no-section",
               "no section header ([number]) in this file: " + ignored + effect);
        return scan;
    }
    ExplainSkippedLines(scan, *r);
    return scan;
}

void CheckSectionName(const IniScan& scan, size_t s, const char* what, Reporter* r) {
    if (r == nullptr) return;
    const std::string name = scan.ini->GetSectionName(s);
    const NumberCheck c = CheckWhole(name);
    if (!c.clean) {
        r->Add(scan.display, int(scan.ini->GetSectionLine(s)), Severity::kError,
               "section-not-a-number",
               fmt::format("section name [{}] is not a number: the plug-in files its entries "
                           "under {} {}",
                           ToUtf8(name), what, StringToInt(name)));
    }
}

void CheckField(const IniScan& scan, int line, const std::string& text, const char* what,
                bool whole, Reporter* r) {
    if (r == nullptr) return;
    const NumberCheck c = whole ? CheckWhole(text) : CheckReal(text);
    if (!c.clean) {
        r->Add(scan.display, line, Severity::kError, c.rule,
               fmt::format("{} {} {}", what, Quote(TrimBlanks(text)), c.reason));
    }
}

}  // namespace check
}  // namespace tools
