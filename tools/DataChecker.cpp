#include "DataChecker.h"

#include <fmt/format.h>
#include <tinyxml.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <lua.hpp>
#include <memory>
#include <set>
#include <sstream>

#include "ClassRecorder.h"
#include "IniFile.h"
#include "KernelWrapper.h"
#include "ScriptEngine.h"
#include "TextCodec.h"
#include "Utility.h"
#include "VarList.h"
#include "VarType.h"
#include "WeightOdds.h"
#include "XmlBounds.h"

namespace tools {

namespace {

constexpr const char* kModelFile = "Npc\\ModelProb.ini";
constexpr const char* kNpcFile = "Npc\\CreatorProb.ini";
constexpr const char* kRefreshFile = "Npc\\NpcCreatorRefresh.ini";
constexpr const char* kClassFile = "Struct/NPC/NpcCreator.xml";
constexpr const char* kRulesScript = "Rule\\npc_creator.lua";
constexpr const char* kBom = "\xEF\xBB\xBF";

std::string OnDisk(const std::string& dir, const char* name) {
    std::string path = WithSlash(dir) + name;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool ReadBytes(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

std::string Percent(double p) {
    if (p > 0.0 && p < 0.001) return fmt::format("{:.3f}%", p * 100.0);
    return fmt::format("{:.1f}%", p * 100.0);
}

std::string Quote(const std::string& bytes) {
    return "'" + ToUtf8(bytes) + "'";
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

std::string FoldCase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return s;
}

class Reporter {
public:
    void Add(const std::string& file, int line, Severity severity, std::string message) {
        m_diagnostics.push_back({file, line, severity, std::move(message)});
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
};

NumberCheck CheckWhole(const std::string& text) {
    NumberCheck c;
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 10);
    if (end == s) {
        c.clean = false;
        c.reason = "is not a number: the plug-in reads it as 0";
        return c;
    }
    const char* rest = end;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (*rest != '\0') {
        c.clean = false;
        c.reason = fmt::format("is not a whole number: the plug-in reads it as {}", StringToInt(s));
        return c;
    }
    if (errno == ERANGE || v > INT_MAX || v < INT_MIN) {
        c.clean = false;
        c.reason = fmt::format("is out of range: the plug-in reads it as {}", StringToInt(s));
    }
    return c;
}

NumberCheck CheckReal(const std::string& text) {
    NumberCheck c;
    const char* s = text.c_str();
    // The plug-in's own reading: decimal only, so hexadecimal, "inf" and
    // "nan" end the number where their decimal part ends.
    const char* end = s + DecimalNumberLength(s);
    const float v = StringToFloat(s);
    if (end == s) {
        c.clean = false;
        c.reason = "is not a number: the plug-in reads it as 0";
        return c;
    }
    const char* rest = end;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (*rest != '\0') {
        c.clean = false;
        c.reason =
            "is not a number: the plug-in reads it as " + ShortestFloatText(StringToFloat(s));
        return c;
    }
    if (!std::isfinite(v)) {
        c.clean = false;
        c.reason = "is not a finite number";
    }
    return c;
}

bool AllDigits(const std::string& s) {
    const std::string t = TrimBlanks(s);
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> SplitFields(const std::string& value) {
    CVarList list;
    SplitString(list, value, ",", 0);
    std::vector<std::string> fields;
    for (uint64_t i = 0; i < list.GetCount(); ++i) fields.emplace_back(list.StringVal(i));
    return fields;
}

bool HasEmptyField(const std::string& value) {
    if (value.empty() || value.front() == ',') return true;
    return value.find(",,") != std::string::npos;
}

// Explains a wrong field count in terms a designer can act on.
std::string FieldCountMessage(const std::string& value, const std::vector<std::string>& fields,
                              size_t expected, const char* layout) {
    std::string msg =
        fmt::format("expected {} fields ({}) but found {}", expected, layout, fields.size());
    const size_t n = fields.size();
    if (n == expected + 1 && AllDigits(fields[1]) && AllDigits(fields[2])) {
        msg +=
            fmt::format(": the weight looks written with a decimal comma ('{},{}'); write '{}.{}'",
                        TrimBlanks(fields[1]), TrimBlanks(fields[2]), TrimBlanks(fields[1]),
                        TrimBlanks(fields[2]));
    } else if (expected == 4 && n > 4 && CheckWhole(fields[0]).clean &&
               CheckReal(fields[1]).clean && CheckWhole(fields[n - 1]).clean) {
        std::string description = fields[2];
        for (size_t i = 3; i + 1 < n; ++i) description += "," + fields[i];
        msg += ": the description " + Quote(description) + " contains a comma, which splits it";
    } else if (n < expected && HasEmptyField(value)) {
        msg += ": an empty field between commas is dropped, not read as 0";
    } else if (n < expected) {
        msg += ": a field is missing";
    } else if (n > expected) {
        msg += ": there are extra fields";
    }
    msg += "; the plug-in skips this entry";
    return msg;
}

// One INI resource file, loaded with the plug-in's reader, plus the raw
// lines for explaining what the reader skipped.
struct IniScan {
    std::string display;
    bool found = false;
    std::string bytes;
    std::unique_ptr<CIniFile> ini;
};

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
                r.Add(scan.display, lineNo, Severity::kWarning,
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
                r.Add(scan.display, lineNo, Severity::kWarning,
                      "entry before the first section header: the plug-in ignores it");
            }
            continue;
        }
        if (eq == std::string::npos) {
            if (t[0] == '[' && t.find(']') != std::string::npos) {
                r.Add(scan.display, lineNo, Severity::kError,
                      "text after the closing ']' makes this no section header: the plug-in "
                      "ignores the line and files the entries below it under the previous section");
            } else if (t.find(',') != std::string::npos) {
                r.Add(scan.display, lineNo, Severity::kError,
                      "entry without 'key=': the plug-in ignores this line");
            } else {
                r.Add(scan.display, lineNo, Severity::kWarning,
                      "line without '=': the plug-in ignores it");
            }
        } else if (eq == 0) {
            r.Add(scan.display, lineNo, Severity::kWarning,
                  "line starts with '=' (no key): the plug-in ignores it");
        } else {
            r.Add(scan.display, lineNo, Severity::kWarning,
                  fmt::format("key '{}' has an empty value: the plug-in does not store it",
                              ToUtf8(TrimBlanks(t.substr(0, eq)))));
        }
    }
    if (hiddenByBom) {
        r.Add(scan.display, hiddenLine, Severity::kError,
              fmt::format("a UTF-8 byte-order mark in front of {} hides this header: the plug-in "
                          "does not see the section and ignores its {} {}; save the file without "
                          "a byte-order mark",
                          ToUtf8(hiddenName), hiddenEntries,
                          hiddenEntries == 1 ? "entry" : "entries"));
    }
}

IniScan ScanIni(const std::string& dir, const char* name, Reporter* r) {
    IniScan scan;
    scan.display = DisplayName(name);
    const std::string path = OnDisk(dir, name);
    scan.ini = std::make_unique<CIniFile>(path.c_str());
    scan.found = ReadBytes(path, scan.bytes) && scan.ini->LoadFromFile();
    if (scan.found && r != nullptr) ExplainSkippedLines(scan, *r);
    return scan;
}

void CheckSectionName(const IniScan& scan, size_t s, const char* what, Reporter* r) {
    if (r == nullptr) return;
    const std::string name = scan.ini->GetSectionName(s);
    const NumberCheck c = CheckWhole(name);
    if (!c.clean) {
        r->Add(scan.display, int(scan.ini->GetSectionLine(s)), Severity::kError,
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
        r->Add(scan.display, line, Severity::kError,
               fmt::format("{} {} {}", what, Quote(TrimBlanks(text)), c.reason));
    }
}

void ReadModelTable(const IniScan& scan, CandidateTables& t, Reporter* r) {
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        const std::string name = scan.ini->GetSectionName(s);
        const int sectionLine = int(scan.ini->GetSectionLine(s));
        const int key = StringToInt(name);
        CheckSectionName(scan, s, "creator", r);
        std::vector<ModelRow> rows;
        for (size_t e = 0; e < scan.ini->GetItemCount(s); ++e) {
            const char* k = nullptr;
            const char* v = nullptr;
            scan.ini->GetItem(s, e, k, v);
            const std::string value = v ? v : "";
            const int line = int(scan.ini->GetItemLine(s, e));
            const std::vector<std::string> f = SplitFields(value);
            if (f.size() != 4) {
                if (r) {
                    r->Add(scan.display, line, Severity::kError,
                           FieldCountMessage(value, f, 4,
                                             "model id, weight, description, model index"));
                }
                continue;
            }
            CheckField(scan, line, f[0], "model id", true, r);
            CheckField(scan, line, f[1], "weight", false, r);
            CheckField(scan, line, f[3], "model index", true, r);
            ModelRow row;
            row.model = StringToInt(f[0]);
            row.weight = StringToFloat(f[1].c_str());
            row.description = f[2];
            row.index = StringToInt(f[3]);
            row.line = line;
            if (r && row.weight < 0.0f) {
                r->Add(scan.display, line, Severity::kError,
                       fmt::format("negative weight {}: it lowers the running sum and shifts the "
                                   "odds of every later model",
                                   ShortestFloatText(row.weight)));
            }
            rows.push_back(std::move(row));
        }
        auto found = t.modelSections.find(key);
        if (found != t.modelSections.end()) {
            if (r) {
                r->Add(
                    scan.display, sectionLine, Severity::kError,
                    fmt::format("section [{}] is creator {} like section [{}] at line {}: the "
                                "plug-in keeps the first and ignores this one ({} {})",
                                ToUtf8(name), key, ToUtf8(found->second.name), found->second.line,
                                rows.size(), rows.size() == 1 ? "row" : "rows"));
            }
            continue;
        }
        t.modelSections[key] = {name, sectionLine};
        t.models[key] = std::move(rows);
    }
}

void ReadNpcTable(const IniScan& scan, CandidateTables& t, Reporter* r) {
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        const std::string name = scan.ini->GetSectionName(s);
        const int sectionLine = int(scan.ini->GetSectionLine(s));
        const int key = StringToInt(name);
        CheckSectionName(scan, s, "model index", r);
        std::vector<NpcRow> rows;
        for (size_t e = 0; e < scan.ini->GetItemCount(s); ++e) {
            const char* k = nullptr;
            const char* v = nullptr;
            scan.ini->GetItem(s, e, k, v);
            const std::string value = v ? v : "";
            const int line = int(scan.ini->GetItemLine(s, e));
            const std::vector<std::string> f = SplitFields(value);
            if (f.size() != 3) {
                if (r) {
                    r->Add(scan.display, line, Severity::kError,
                           FieldCountMessage(value, f, 3,
                                             "NPC config, weight or fixed slot, slot type"));
                }
                continue;
            }
            NpcRow row;
            row.npcConfig = StringToInt(f[0]);
            row.weight = StringToFloat(f[1].c_str());
            row.slotType = StringToInt(f[2]);
            row.line = line;
            CheckField(scan, line, f[0], "NPC config", true, r);
            CheckField(scan, line, f[1], row.slotType == 3 ? "fixed slot" : "weight", false, r);
            CheckField(scan, line, f[2], "slot type", true, r);
            if (r) {
                if (row.slotType < 0 || row.slotType > 3) {
                    r->Add(scan.display, line, Severity::kError,
                           fmt::format("slot type {} is outside 0 to 3 (0, 1, 2: formation "
                                       "preference, 3: fixed slot)",
                                       row.slotType));
                } else if (row.slotType == 3) {
                    const float slot = std::trunc(row.weight);
                    if (!(slot >= 0.0f && slot <= 8.0f)) {
                        r->Add(scan.display, line, Severity::kError,
                               fmt::format("fixed slot {} is outside 0 to 8",
                                           ShortestFloatText(row.weight)));
                    }
                } else if (row.weight < 0.0f) {
                    r->Add(scan.display, line, Severity::kError,
                           fmt::format("negative weight {}: it lowers the running sum and shifts "
                                       "the odds of every later NPC",
                                       ShortestFloatText(row.weight)));
                }
            }
            rows.push_back(row);
        }
        auto found = t.npcSections.find(key);
        if (found != t.npcSections.end()) {
            if (r) {
                r->Add(
                    scan.display, sectionLine, Severity::kError,
                    fmt::format("section [{}] is model index {} like section [{}] at line {}: "
                                "the plug-in keeps the first and ignores this one ({} {})",
                                ToUtf8(name), key, ToUtf8(found->second.name), found->second.line,
                                rows.size(), rows.size() == 1 ? "row" : "rows"));
            }
            continue;
        }
        t.npcSections[key] = {name, sectionLine};
        t.npcs[key] = std::move(rows);
    }
}

CandidateTables ReadTables(const std::string& dir, Reporter* r) {
    CandidateTables t;
    IniScan models = ScanIni(dir, kModelFile, r);
    t.modelFileFound = models.found;
    if (models.found) {
        ReadModelTable(models, t, r);
    } else if (r) {
        r->Add(
            models.display, 0, Severity::kError,
            "file not found: no creator gets any model or NPC, so no select builds an encounter");
    }
    IniScan npcs = ScanIni(dir, kNpcFile, r);
    t.npcFileFound = npcs.found;
    if (npcs.found) {
        ReadNpcTable(npcs, t, r);
    } else if (r) {
        r->Add(
            npcs.display, 0, Severity::kError,
            "file not found: no model index has NPC candidates, so no select builds an encounter");
    }
    return t;
}

// Reports the rows whose real odds differ from their weight. lineOf gives a
// row's line, nameOf its name in messages.
template <typename LineOf, typename NameOf>
void ReportOdds(const std::string& file, const std::vector<float>& weights, const DrawOdds& odds,
                LineOf lineOf, NameOf nameOf, Reporter& r) {
    float before = 0.0f;
    for (size_t i = 0; i < weights.size(); ++i) {
        const float w = weights[i];
        if (w > 0.0f && odds.hits[i] == 0) {
            r.Add(file, lineOf(i), Severity::kWarning,
                  fmt::format("{} can never be drawn: the weights before it already sum to {}",
                              nameOf(i), ShortestFloatText(before)));
        } else if (w > 0.0f && odds.Chance(i) + 1.5 / kDrawValues < double(w) && before < 1.0f) {
            r.Add(file, lineOf(i), Severity::kWarning,
                  fmt::format("{} is drawn with {} although its weight is {}: the running sum "
                              "passes 1 inside this row",
                              nameOf(i), Percent(odds.Chance(i)), ShortestFloatText(w)));
        }
        before += w;
    }
}

void CheckModelWeights(const CandidateTables& t, Reporter& r) {
    const std::string file = DisplayName(kModelFile);
    for (const auto& [creator, rows] : t.models) {
        const int sectionLine = t.modelSections.at(creator).line;
        if (rows.empty()) {
            r.Add(file, sectionLine, Severity::kWarning,
                  fmt::format("creator {} has no valid model rows: its creators get no model and "
                              "never build an encounter",
                              creator));
            continue;
        }
        std::vector<float> weights;
        for (const auto& row : rows) weights.push_back(row.weight);
        const DrawOdds odds = ComputeDrawOdds(weights);
        if (odds.misses == kDrawValues) {
            r.Add(file, sectionLine, Severity::kError,
                  fmt::format("no model of creator {} can ever be drawn: the weights sum to {}",
                              creator, ShortestFloatText(odds.sum)));
            continue;
        }
        if (odds.misses > 0) {
            r.Add(file, sectionLine, Severity::kWarning,
                  fmt::format("the model weights of creator {} sum to {}, below 1: a model draw "
                              "finds nothing with chance {} and the creator keeps its previous "
                              "model",
                              creator, ShortestFloatText(odds.sum), Percent(odds.MissChance())));
        } else if (odds.sum > 1.0f) {
            r.Add(file, sectionLine, Severity::kWarning,
                  fmt::format("the model weights of creator {} sum to {}, above 1: the rows past "
                              "a running sum of 1 are drawn less than their weight or never",
                              creator, ShortestFloatText(odds.sum)));
        }
        ReportOdds(
            file, weights, odds, [&](size_t i) { return rows[i].line; },
            [&](size_t i) {
                return fmt::format("model {} ({})", rows[i].model, ToUtf8(rows[i].description));
            },
            r);
    }
}

void CheckNpcWeights(const CandidateTables& t, Reporter& r) {
    const std::string file = DisplayName(kNpcFile);
    for (const auto& [index, rows] : t.npcs) {
        const int sectionLine = t.npcSections.at(index).line;
        std::vector<float> weights;
        std::vector<size_t> drawable;
        std::map<int, int> fixedSlots;  // slot -> first line
        int fixed = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].slotType == 3) {
                ++fixed;
                const int slot = int(std::trunc(rows[i].weight));
                auto [it, fresh] = fixedSlots.emplace(slot, rows[i].line);
                if (!fresh && slot >= 0 && slot <= 8) {
                    r.Add(file, rows[i].line, Severity::kWarning,
                          fmt::format("fixed slot {} is already taken by the NPC at line {}: both "
                                      "NPCs are sent for the same formation slot",
                                      slot, it->second));
                }
            } else {
                drawable.push_back(i);
                weights.push_back(rows[i].weight);
            }
        }
        if (rows.empty()) continue;  // reported where a creator uses the index
        if (drawable.empty()) continue;
        const DrawOdds odds = ComputeDrawOdds(weights);
        const std::string onlyFixed =
            fixed == 0 ? "nothing is sent"
                       : fmt::format("only the {} fixed {} {} sent", fixed,
                                     fixed == 1 ? "NPC" : "NPCs", fixed == 1 ? "is" : "are");
        if (odds.misses == kDrawValues) {
            r.Add(file, sectionLine, Severity::kError,
                  fmt::format("no NPC of model index {} can ever be drawn: the weights sum to {}, "
                              "so {}",
                              index, ShortestFloatText(odds.sum), onlyFixed));
            continue;
        }
        if (odds.misses > 0) {
            r.Add(file, sectionLine, Severity::kWarning,
                  fmt::format("the NPC weights of model index {} sum to {}, below 1: a draw finds "
                              "nothing with chance {}; when the first draw of a select finds "
                              "nothing, {}",
                              index, ShortestFloatText(odds.sum), Percent(odds.MissChance()),
                              onlyFixed));
        } else if (odds.sum > 1.0f) {
            r.Add(file, sectionLine, Severity::kWarning,
                  fmt::format("the NPC weights of model index {} sum to {}, above 1: the rows "
                              "past a running sum of 1 are drawn less than their weight or never",
                              index, ShortestFloatText(odds.sum)));
        }
        ReportOdds(
            file, weights, odds, [&](size_t i) { return rows[drawable[i]].line; },
            [&](size_t i) { return fmt::format("NPC {}", rows[drawable[i]].npcConfig); }, r);
    }
}

void CheckCrossReferences(const CandidateTables& t, Reporter& r) {
    if (!t.npcFileFound) return;
    const std::string file = DisplayName(kModelFile);
    std::set<int> used;
    for (const auto& [creator, rows] : t.models) {
        bool stopped = false;
        for (size_t i = 0; i < rows.size(); ++i) {
            const ModelRow& row = rows[i];
            used.insert(row.index);
            auto it = t.npcs.find(row.index);
            if (it == t.npcs.end()) {
                std::string msg =
                    fmt::format("model index {} has no section in {}: model {} gets no NPCs",
                                row.index, DisplayName(kNpcFile), row.model);
                if (!stopped && i + 1 < rows.size()) {
                    std::string later;
                    for (size_t j = i + 1; j < rows.size(); ++j) {
                        if (!later.empty()) later += ", ";
                        later += fmt::format("line {} (model {})", rows[j].line, rows[j].model);
                    }
                    msg += fmt::format(
                        ", and neither do the later rows of creator {}, because "
                        "filling stops at the first missing index: {}",
                        creator, later);
                }
                r.Add(file, row.line, Severity::kError, std::move(msg));
                stopped = true;
            } else if (it->second.empty()) {
                r.Add(file, row.line, Severity::kWarning,
                      fmt::format("model index {} has no valid NPC rows in {}: a select while the "
                                  "creator shows model {} sends nothing",
                                  row.index, DisplayName(kNpcFile), row.model));
            }
        }
    }
    for (const auto& [index, section] : t.npcSections) {
        if (used.count(index) == 0) {
            r.Add(DisplayName(kNpcFile), section.line, Severity::kNote,
                  fmt::format("model index {} is not used by any row of {}", index,
                              DisplayName(kModelFile)));
        }
    }
}

void CheckRefreshFile(const std::string& dir, Reporter& r) {
    IniScan scan = ScanIni(dir, kRefreshFile, &r);
    if (!scan.found) {
        r.Add(scan.display, 0, Severity::kWarning,
              "file not found: the area boss system checks activity states every 10 seconds");
        return;
    }
    const IniSection* section = scan.ini->FindSection("AreaBoss");
    const IniItem* item = section ? scan.ini->FindItem(*section, "CheckFrequency") : nullptr;
    if (section == nullptr) {
        std::string hint;
        for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
            const std::string name = scan.ini->GetSectionName(s);
            if (FoldCase(TrimBlanks(name)) == "areaboss") {
                hint = fmt::format(
                    " (section [{}] at line {} does not count: spaces inside the "
                    "brackets are part of the name)",
                    name, scan.ini->GetSectionLine(s));
            }
        }
        r.Add(scan.display, 0, Severity::kWarning,
              "no [AreaBoss] section" + hint +
                  ": CheckFrequency is missing and the area boss system checks activity states "
                  "every 60 seconds");
        return;
    }
    size_t sectionIndex = 0;
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        if (scan.ini->FindSection(scan.ini->GetSectionName(s)) == section) sectionIndex = s;
    }
    if (item == nullptr) {
        r.Add(scan.display, int(scan.ini->GetSectionLine(sectionIndex)), Severity::kWarning,
              "CheckFrequency is missing: the area boss system checks activity states every 60 "
              "seconds");
        return;
    }
    int line = 0;
    for (size_t e = 0; e < section->items.size(); ++e) {
        if (&section->items[e] == item) line = int(scan.ini->GetItemLine(sectionIndex, e));
    }
    const NumberCheck c = CheckWhole(item->value);
    const int value = scan.ini->ReadInteger("AreaBoss", "CheckFrequency", 60);
    const char* effect =
        "no area boss gets its activity check, so activity states never open or hide a boss";
    if (!c.clean && value <= 0) {
        r.Add(scan.display, line, Severity::kError,
              fmt::format("CheckFrequency {} {}; {}", Quote(item->value), c.reason, effect));
    } else if (!c.clean) {
        r.Add(scan.display, line, Severity::kError,
              fmt::format("CheckFrequency {} {}", Quote(item->value), c.reason));
    } else if (value <= 0) {
        r.Add(scan.display, line, Severity::kError,
              fmt::format("CheckFrequency {} is not above 0: {}", value, effect));
    }
}

const char* TypeName(int code) {
    switch (code) {
        case VTYPE_BOOL:
            return "bool";
        case VTYPE_INT:
            return "int";
        case VTYPE_FLOAT:
            return "float";
        case VTYPE_STRING:
            return "string";
        case VTYPE_WIDESTR:
            return "wstring";
        case VTYPE_OBJECT:
            return "object";
        case VTYPE_INT64:
            return "int64";
        default:
            return "an unknown type";
    }
}

struct RequiredProperty {
    const char* name;
    int type;
    bool optional;  // only read when present
    const char* use;
};

const RequiredProperty kProperties[] = {
    {"CreatorType", VTYPE_INT, false, "tells ordinary creators from area boss points"},
    {"SelectCount", VTYPE_INT, false, "counts the selections left"},
    {"MaxSelectCount", VTYPE_INT, false, "refills SelectCount"},
    {"Invisible", VTYPE_INT, false, "marks a hidden creator"},
    {"CantVisible", VTYPE_INT, false, "hides the creator from players"},
    {"RefreshTime", VTYPE_INT, false, "sets the refresh period"},
    {"RefreshModelTime", VTYPE_INT, false, "sets the model re-draw period"},
    {"Model", VTYPE_INT, false, "holds the current model"},
    {"ModelEx", VTYPE_INT, false, "copies the current model"},
    {"Index", VTYPE_INT, false, "selects the NPC candidates"},
    {"NpcConfig", VTYPE_INT, false, "holds the first NPC of the model"},
    {"NPCDes", VTYPE_STRING, false, "holds the model description for the kill notice"},
    {"NoticeByWorldRefresh", VTYPE_INT, true, "turns on the model draw notice"},
    {"NoticeByWorldBeKilled", VTYPE_INT, true, "turns on the kill notice"},
    {"CurNPCCount", VTYPE_INT, false, "counts the area boss encounters left"},
    {"IsFighting", VTYPE_INT, false, "blocks an area boss during its last fight"},
    {"FRTime", VTYPE_STRING, false, "holds an area boss time point"},
};

struct RequiredRecord {
    const char* name;
    std::vector<int> types;
    const char* use;
};

const RequiredRecord kRecords[] = {
    {"ModelInfoRec", {VTYPE_INT, VTYPE_FLOAT, VTYPE_STRING, VTYPE_INT}, "the model candidates"},
    {"NPCInfoRec", {VTYPE_INT, VTYPE_INT, VTYPE_FLOAT, VTYPE_INT}, "the NPC candidates"},
    {"AutoTeamRec", {VTYPE_WIDESTR, VTYPE_INT}, "the sign-ups of a farm object"},
};

const TiXmlElement* FindXmlElement(const TiXmlDocument& doc, const char* group, const char* tag,
                                   const std::string& id) {
    const TiXmlNode* object = doc.FirstChild("Object");
    const TiXmlNode* g = object ? object->FirstChild(group) : nullptr;
    if (g == nullptr) return nullptr;
    for (const TiXmlElement* e = g->FirstChildElement(tag); e; e = e->NextSiblingElement(tag)) {
        const char* a = e->Attribute("Id");
        if (a && id == a) return e;
    }
    return nullptr;
}

int XmlLine(const TiXmlDocument& doc, const char* group, const char* tag, const std::string& id) {
    const TiXmlElement* e = FindXmlElement(doc, group, tag, id);
    return e ? e->Row() : 0;
}

// Rows the two records need for the given tables, per creator.
struct RecordNeeds {
    int modelRows = 0;
    int npcRows = 0;
    int modelCreator = 0;
    int npcCreator = 0;
};

RecordNeeds ComputeRecordNeeds(const CandidateTables& t) {
    RecordNeeds needs;
    for (const auto& [creator, rows] : t.models) {
        if (int(rows.size()) > needs.modelRows) {
            needs.modelRows = int(rows.size());
            needs.modelCreator = creator;
        }
        int npcRows = 0;
        for (const auto& row : rows) {
            auto it = t.npcs.find(row.index);
            if (it == t.npcs.end()) break;
            npcRows += int(it->second.size());
        }
        if (npcRows > needs.npcRows) {
            needs.npcRows = npcRows;
            needs.npcCreator = creator;
        }
    }
    return needs;
}

void CheckClassFile(const std::string& dir, const CandidateTables& tables, Reporter& r) {
    const std::string file = DisplayName(kClassFile);
    const std::string path = OnDisk(dir, kClassFile);
    std::string bytes;
    if (!ReadBytes(path, bytes)) {
        r.Add(file, 0, Severity::kError,
              "file not found: the NpcCreator class gets none of the properties and records the "
              "rule systems use");
        return;
    }
    // Past a bound the loader refuses the file unparsed, and the parser must
    // not see it here either: deep nesting overflows its stack.
    const XmlBounds bounds = CheckXmlFileBounds(bytes.data(), bytes.size());
    if (!bounds.within) {
        const std::string what =
            std::string(bounds.bound) == "size"
                ? fmt::format("it is larger than {} bytes", kMaxXmlFileBytes)
            : std::string(bounds.bound) == "nesting"
                ? fmt::format("its elements nest deeper than {} levels", kMaxXmlDepth)
                : fmt::format("an element has more than {} attributes", kMaxXmlAttributes);
        r.Add(file, bounds.line, Severity::kError,
              fmt::format("the class loader refuses this file ({}): the NpcCreator class gets no "
                          "properties or records",
                          what));
        return;
    }
    ClassRecorder recorder(WithSlash(dir));
    if (!OnCreateClassFromXml(&recorder, 0, kClassFile)) {
        TiXmlDocument doc(path.c_str());
        doc.LoadFile();
        r.Add(file, doc.ErrorRow(), Severity::kError,
              fmt::format("the class loader cannot parse this file ({}): the NpcCreator class gets "
                          "no properties or records",
                          doc.ErrorDesc() ? doc.ErrorDesc() : "unknown error"));
        return;
    }
    TiXmlDocument doc(path.c_str());
    doc.LoadFile();
    // The loader's own error reports come in pairs: message, then location.
    const auto& echoed = recorder.Echoed();
    for (size_t i = 0; i < echoed.size(); i += 2) {
        r.Add(file, 0, Severity::kError, "the class loader reports: " + ToUtf8(echoed[i]));
    }
    for (const auto& p : kProperties) {
        const DeclaredProperty* d = recorder.FindProperty(p.name);
        if (d == nullptr) {
            if (!p.optional) {
                r.Add(file, 0, Severity::kError,
                      fmt::format("property {} ({}) is missing; the rule systems use it: it {}",
                                  p.name, TypeName(p.type), p.use));
            }
        } else if (d->type != p.type) {
            r.Add(file, XmlLine(doc, "BaseProperties", "Property", p.name), Severity::kError,
                  fmt::format("property {} is declared as {} but the rule systems use it as {}",
                              p.name, TypeName(d->type), TypeName(p.type)));
        }
    }
    const RecordNeeds needs = ComputeRecordNeeds(tables);
    for (const auto& rec : kRecords) {
        const DeclaredRecord* d = recorder.FindRecord(rec.name);
        const int line = XmlLine(doc, "RecordProperties", "Record", rec.name);
        if (d == nullptr) {
            if (line != 0) {
                r.Add(file, line, Severity::kError,
                      fmt::format("record {} is skipped by the class loader: its Cols or MaxRows "
                                  "is missing or not a number",
                                  rec.name));
            } else {
                r.Add(file, 0, Severity::kError,
                      fmt::format("record {} is missing; the rule systems keep {} in it", rec.name,
                                  rec.use));
            }
            continue;
        }
        if (d->cols < int(rec.types.size())) {
            r.Add(file, line, Severity::kError,
                  fmt::format("record {} has {} columns but the rule systems use {}", rec.name,
                              d->cols, rec.types.size()));
        }
        for (size_t c = 0; c < rec.types.size(); ++c) {
            auto it = d->colTypes.find(int(c));
            if (it == d->colTypes.end()) {
                if (int(c) < d->cols) {
                    r.Add(file, line, Severity::kError,
                          fmt::format("column {} of record {} has no type; the rule systems use "
                                      "it as {}",
                                      c, rec.name, TypeName(rec.types[c])));
                }
            } else if (it->second != rec.types[c]) {
                r.Add(file, line, Severity::kError,
                      fmt::format("column {} of record {} is declared as {} but the rule systems "
                                  "use it as {}",
                                  c, rec.name, TypeName(it->second), TypeName(rec.types[c])));
            }
        }
        int needRows = 0;
        int creator = 0;
        if (std::string(rec.name) == "ModelInfoRec") {
            needRows = needs.modelRows;
            creator = needs.modelCreator;
        } else if (std::string(rec.name) == "NPCInfoRec") {
            needRows = needs.npcRows;
            creator = needs.npcCreator;
        }
        if (needRows > d->maxRows) {
            r.Add(file, line, Severity::kError,
                  fmt::format("record {} holds at most {} rows but creator {} needs {}: the rows "
                              "past the limit are lost",
                              rec.name, d->maxRows, creator, needRows));
        }
    }
}

// "path:12: message" from a Lua load error; 0 when no line is given.
int LuaErrorLine(const std::string& msg, std::string& rest) {
    // Lua reports "<chunkname>:<line>: <message>".
    size_t pos = 0;
    while ((pos = msg.find(':', pos)) != std::string::npos) {
        size_t end = pos + 1;
        while (end < msg.size() && msg[end] >= '0' && msg[end] <= '9') ++end;
        if (end > pos + 1 && end < msg.size() && msg[end] == ':') {
            rest = TrimBlanks(msg.substr(end + 1));
            return std::atoi(msg.c_str() + pos + 1);
        }
        pos = end;
    }
    rest = msg;
    return 0;
}

void StopRunawayChunk(lua_State* L, lua_Debug*) {
    luaL_error(L, "instruction budget exhausted");
}

// Allocator of the bare state: refuses to grow past 64 MiB, so a script
// that allocates without end fails its load instead of the checker.
struct CappedHeap {
    size_t used = 0;
    static constexpr size_t kCap = size_t(64) << 20;
};

void* CappedAlloc(void* ud, void* ptr, size_t oldSize, size_t newSize) {
    auto* heap = static_cast<CappedHeap*>(ud);
    const size_t old = ptr != nullptr ? oldSize : 0;
    if (newSize == 0) {
        std::free(ptr);
        heap->used -= old;
        return nullptr;
    }
    if (newSize > old && heap->used + (newSize - old) > CappedHeap::kCap) return nullptr;
    void* p = std::realloc(ptr, newSize);
    if (p != nullptr) heap->used = heap->used - old + newSize;
    return p;
}

// Runs the script's top level in a bare state (base, string, table and math
// libraries, an instruction budget) and tells whether it certainly defines
// no global get_npc_count. A top level that needs more than that is left to
// the host's engine, which answers the same question by calling it.
bool DefinesNoCountFunction(const std::string& bytes, const std::string& chunkName) {
    CappedHeap heap;
    std::unique_ptr<lua_State, void (*)(lua_State*)> state(lua_newstate(CappedAlloc, &heap),
                                                           lua_close);
    lua_State* L = state.get();
    if (L == nullptr) return false;
    static const luaL_Reg libs[] = {{LUA_GNAME, luaopen_base},
                                    {LUA_STRLIBNAME, luaopen_string},
                                    {LUA_TABLIBNAME, luaopen_table},
                                    {LUA_MATHLIBNAME, luaopen_math}};
    for (const auto& lib : libs) {
        luaL_requiref(L, lib.name, lib.func, 1);
        lua_pop(L, 1);
    }
    lua_sethook(L, StopRunawayChunk, LUA_MASKCOUNT, 1000000);
    if (luaL_loadbuffer(L, bytes.data(), bytes.size(), ("@" + chunkName).c_str()) != LUA_OK ||
        lua_pcall(L, 0, 0, 0) != LUA_OK) {
        return false;
    }
    lua_getglobal(L, "get_npc_count");
    return !lua_isfunction(L, -1);
}

void CheckRulesScript(const std::string& dir, Reporter& r) {
    const std::string file = DisplayName(kRulesScript);
    const std::string path = OnDisk(dir, kRulesScript);
    std::string bytes;
    if (!ReadBytes(path, bytes)) {
        r.Add(file, 0, Severity::kError,
              "file not found: get_npc_count cannot be asked, so every encounter holds 1 NPC (or "
              "as many as the leader's team has members)");
        return;
    }
    {
        // Compile only: a syntax error is found without running anything.
        std::unique_ptr<lua_State, void (*)(lua_State*)> L(luaL_newstate(), lua_close);
        if (L &&
            luaL_loadbuffer(L.get(), bytes.data(), bytes.size(), ("@" + file).c_str()) != LUA_OK) {
            std::string rest;
            const char* m = lua_tostring(L.get(), -1);
            const int line = LuaErrorLine(m ? m : "", rest);
            r.Add(file, line, Severity::kError,
                  "the script does not load: " + rest +
                      "; every encounter falls back to 1 NPC (or the leader's team size)");
            return;
        }
    }
    if (DefinesNoCountFunction(bytes, file)) {
        r.Add(file, 0, Severity::kError,
              "the script has no function get_npc_count: every encounter falls back to 1 NPC (or "
              "the leader's team size)");
        return;
    }
    host::ScriptEngine engine(WithSlash(dir));
    std::vector<std::string> log;
    engine.SetLog([&log](const std::string& line) { log.push_back(line); });
    CVarList args;
    args.AddObject(ObjectId{1, 1});
    args.AddObject(ObjectId{2, 1});
    args.AddInt(3);
    CVarList results;
    if (!engine.Call(kRulesScript, "get_npc_count", args, 1, results)) {
        std::string why = log.empty() ? std::string("the call failed") : ToUtf8(log.front());
        r.Add(file, 0, Severity::kError,
              "get_npc_count cannot be called (" + why +
                  "): every encounter falls back to 1 NPC (or the leader's team size)");
        return;
    }
    if (results.GetCount() == 0) {
        r.Add(file, 0, Severity::kWarning,
              "get_npc_count returned nothing for a sample call (creator, player, 3): the plug-in "
              "then uses the team size");
    } else if (results.GetType(0) != VTYPE_INT) {
        r.Add(file, 0, Severity::kError,
              "get_npc_count returned a value that is not an integer for a sample call (creator, "
              "player, 3): the plug-in reads it as 0 and draws no NPC");
    }
}

int FileRank(const std::string& file) {
    static const char* const order[] = {kModelFile, kNpcFile, kRefreshFile, kClassFile,
                                        kRulesScript};
    for (int i = 0; i < 5; ++i) {
        if (DisplayName(order[i]) == file) return i;
    }
    return 5;
}

}  // namespace

const char* SeverityName(Severity severity) {
    switch (severity) {
        case Severity::kNote:
            return "note";
        case Severity::kWarning:
            return "warning";
        case Severity::kError:
            return "error";
    }
    return "error";
}

std::string FormatDiagnostic(const Diagnostic& d) {
    if (d.line > 0) {
        return fmt::format("{}:{}: {}: {}", d.file, d.line, SeverityName(d.severity), d.message);
    }
    return fmt::format("{}: {}: {}", d.file, SeverityName(d.severity), d.message);
}

std::string DisplayName(const char* resourceName) {
    std::string s = resourceName;
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

std::string WithSlash(const std::string& dir) {
    if (dir.empty()) return "./";
    if (dir.back() == '/') return dir;
    return dir + "/";
}

int CheckResult::Count(Severity severity) const {
    return int(std::count_if(diagnostics.begin(), diagnostics.end(),
                             [severity](const Diagnostic& d) { return d.severity == severity; }));
}

CandidateTables LoadCandidateTables(const std::string& dir) {
    return ReadTables(dir, nullptr);
}

CheckResult CheckResources(const std::string& dir) {
    Reporter r;
    const CandidateTables tables = ReadTables(dir, &r);
    CheckModelWeights(tables, r);
    CheckNpcWeights(tables, r);
    CheckCrossReferences(tables, r);
    CheckRefreshFile(dir, r);
    CheckClassFile(dir, tables, r);
    CheckRulesScript(dir, r);
    CheckResult result;
    result.diagnostics = r.Take();
    std::stable_sort(result.diagnostics.begin(), result.diagnostics.end(),
                     [](const Diagnostic& a, const Diagnostic& b) {
                         const int fa = FileRank(a.file);
                         const int fb = FileRank(b.file);
                         if (fa != fb) return fa < fb;
                         return a.line < b.line;
                     });
    return result;
}

}  // namespace tools
