// The checks of the two candidate tables, "Npc\ModelProb.ini" and "Npc\CreatorProb.ini".
#include <fmt/format.h>

#include <cmath>
#include <map>
#include <set>

#include "IniScan.h"
#include "ResourceCheckers.h"
#include "TextCodec.h"
#include "Utility.h"
#include "WeightOdds.h"

namespace tools {
namespace check {

namespace {

// Narrow text reaches players as GBK: UTF-8 text with characters beyond ASCII shows garbled,
// unless its bytes happen to read as the same text in GBK.
void CheckTextEncoding(const IniScan& scan, int line, const std::string& text, const char* what,
                       Reporter* r) {
    if (!HasNonAscii(text) || !IsValidUtf8(text)) return;
    const std::string seen = ToUtf8(text);
    if (seen == text) return;
    r->Add(scan.display, line, Severity::kWarning, "utf8-text",
           fmt::format("this {} is UTF-8 ('{}'); players see it as '{}': save the file as GBK",
                       what, text, seen));
}

// Walks one candidate table as the plug-in reads it: one section per number,
// rows of `fieldCount` comma-separated fields, the first section of a number
// kept and a later one of the same number ignored. parseRow(line, fields,
// row) checks one well-formed row and fills it; false leaves it out of the
// table, as the plug-in refuses it at load (the check has said why).
template <typename Row, typename ParseRow>
void ReadSections(const IniScan& scan, const char* numberName, size_t fieldCount,
                  const char* fieldNames, std::map<int, TableSection>& sections,
                  std::map<int, std::vector<Row>>& table, Reporter* r, ParseRow parseRow) {
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        const std::string name = scan.ini->GetSectionName(s);
        const int sectionLine = int(scan.ini->GetSectionLine(s));
        const int key = StringToInt(name);
        CheckSectionName(scan, s, numberName, r);
        std::vector<Row> rows;
        size_t written = 0;  // well-formed rows, kept or refused
        for (size_t e = 0; e < scan.ini->GetItemCount(s); ++e) {
            const char* k = nullptr;
            const char* v = nullptr;
            scan.ini->GetItem(s, e, k, v);
            const std::string value = v ? v : "";
            const int line = int(scan.ini->GetItemLine(s, e));
            const std::vector<std::string> f = SplitFields(value);
            if (f.size() != fieldCount) {
                if (r) {
                    std::string rule;
                    std::string msg = FieldCountMessage(value, f, fieldCount, fieldNames, rule);
                    r->Add(scan.display, line, Severity::kError, rule, std::move(msg));
                }
                continue;
            }
            ++written;
            Row row;
            if (parseRow(line, f, row)) rows.push_back(std::move(row));
        }
        auto found = sections.find(key);
        if (found != sections.end()) {
            if (r) {
                r->Add(scan.display, sectionLine, Severity::kError, "duplicate-section-number",
                       fmt::format("section [{}] is {} {} like section [{}] at line {}: the "
                                   "plug-in keeps the first and ignores this one ({} {})",
                                   ToUtf8(name), numberName, key, ToUtf8(found->second.name),
                                   found->second.line, written, written == 1 ? "row" : "rows"));
            }
            continue;
        }
        sections[key] = {name, sectionLine};
        table[key] = std::move(rows);
    }
}

void ReadModelTable(const IniScan& scan, CandidateTables& t, Reporter* r) {
    ReadSections(
        scan, "creator", 4, "model id, weight, description, model index", t.modelSections, t.models,
        r, [&](int line, const std::vector<std::string>& f, ModelRow& row) {
            CheckField(scan, line, f[0], "model id", true, r);
            CheckField(scan, line, f[1], "weight", false, r);
            CheckField(scan, line, f[3], "model index", true, r);
            row.model = StringToInt(f[0]);
            row.weight = StringToFloat(f[1].c_str());
            row.description = f[2];
            row.index = StringToInt(f[3]);
            row.line = line;
            if (r && row.weight < 0.0f) {
                r->Add(scan.display, line, Severity::kError, "negative-weight",
                       fmt::format("negative weight {}: it lowers the running sum and shifts the "
                                   "odds of every later model",
                                   ShortestFloatText(row.weight)));
            }
            if (r) CheckTextEncoding(scan, line, row.description, "description", r);
            return true;
        });
}

void ReadNpcTable(const IniScan& scan, CandidateTables& t, Reporter* r) {
    ReadSections(
        scan, "model index", 3, "NPC config, weight or fixed slot, slot type", t.npcSections,
        t.npcs, r, [&](int line, const std::vector<std::string>& f, NpcRow& row) {
            row.npcConfig = StringToInt(f[0]);
            row.weight = StringToFloat(f[1].c_str());
            row.slotType = StringToInt(f[2]);
            row.line = line;
            CheckField(scan, line, f[0], "NPC config", true, r);
            CheckField(scan, line, f[1], row.slotType == 3 ? "fixed slot" : "weight", false, r);
            CheckField(scan, line, f[2], "slot type", true, r);
            // The plug-in refuses a slot type outside 0 to 3, and a fixed
            // slot that does not truncate into 0 to 8: such a row is never
            // drawn nor sent.
            const bool loaded = (row.slotType >= 0 && row.slotType <= 2) ||
                                (row.slotType == 3 && row.weight > -1.0f && row.weight < 9.0f);
            if (!r) return loaded;
            if (row.slotType < 0 || row.slotType > 3) {
                r->Add(scan.display, line, Severity::kError, "slot-type-out-of-range",
                       fmt::format("slot type {} is outside 0 to 3 (0, 1, 2: formation "
                                   "preference, 3: fixed slot)",
                                   row.slotType));
            } else if (row.slotType == 3) {
                const float slot = std::trunc(row.weight);
                if (!(slot >= 0.0f && slot <= 8.0f)) {
                    r->Add(scan.display, line, Severity::kError, "fixed-slot-out-of-range",
                           fmt::format("fixed slot {} is outside 0 to 8",
                                       ShortestFloatText(row.weight)));
                }
            } else if (row.weight < 0.0f) {
                r->Add(scan.display, line, Severity::kError, "negative-weight",
                       fmt::format("negative weight {}: it lowers the running sum and shifts "
                                   "the odds of every later NPC",
                                   ShortestFloatText(row.weight)));
            }
            return loaded;
        });
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
            r.Add(file, lineOf(i), Severity::kWarning, "never-drawn",
                  fmt::format("{} can never be drawn: the weights before it already sum to {}",
                              nameOf(i), ShortestFloatText(before)));
        } else if (w > 0.0f && odds.Chance(i) + 1.5 / kDrawValues < double(w) && before < 1.0f) {
            r.Add(file, lineOf(i), Severity::kWarning, "drawn-below-weight",
                  fmt::format("{} is drawn with {} although its weight is {}: the running sum "
                              "passes 1 inside this row",
                              nameOf(i), Percent(odds.Chance(i)), ShortestFloatText(w)));
        }
        before += w;
    }
}

}  // namespace

CandidateTables ReadTables(const std::string& dir, Reporter* r) {
    CandidateTables t;
    IniScan models = ScanIni(dir, kModelFile, r, "no creator gets candidates from this file", true);
    t.modelFileFound = models.found;
    t.modelFileUnreadable = models.unreadable;
    if (models.found) {
        ReadModelTable(models, t, models.unreadable ? nullptr : r);
    } else if (r) {
        r->Add(
            models.display, 0, Severity::kError, "missing-file",
            "file not found: no creator gets any model or NPC, so no select builds an encounter");
    }
    IniScan npcs =
        ScanIni(dir, kNpcFile, r, "no model index gets NPC candidates from this file", true);
    t.npcFileFound = npcs.found;
    t.npcFileUnreadable = npcs.unreadable;
    if (npcs.found) {
        ReadNpcTable(npcs, t, npcs.unreadable ? nullptr : r);
    } else if (r) {
        r->Add(
            npcs.display, 0, Severity::kError, "missing-file",
            "file not found: no model index has NPC candidates, so no select builds an encounter");
    }
    return t;
}

void CheckModelWeights(const CandidateTables& t, Reporter& r) {
    const std::string file = DisplayName(kModelFile);
    // Named copies, not structured bindings: the lambdas below capture them.
    for (const auto& entry : t.models) {
        const int creator = entry.first;
        const std::vector<ModelRow>& rows = entry.second;
        const int sectionLine = t.modelSections.at(creator).line;
        if (rows.empty()) {
            r.Add(file, sectionLine, Severity::kWarning, "no-valid-rows",
                  fmt::format("creator {} has no valid model rows: its creators get no model and "
                              "never build an encounter",
                              creator));
            continue;
        }
        std::vector<float> weights;
        for (const auto& row : rows) weights.push_back(row.weight);
        const DrawOdds odds = ComputeDrawOdds(weights);
        if (odds.misses == kDrawValues) {
            r.Add(file, sectionLine, Severity::kError, "nothing-drawable",
                  fmt::format("no model of creator {} can ever be drawn: the weights sum to {}",
                              creator, ShortestFloatText(odds.sum)));
            continue;
        }
        if (odds.misses > 0) {
            r.Add(file, sectionLine, Severity::kWarning, "weights-below-one",
                  fmt::format("the model weights of creator {} sum to {}, below 1: a model draw "
                              "finds nothing with chance {} and the creator keeps its previous "
                              "model",
                              creator, ShortestFloatText(odds.sum), Percent(odds.MissChance())));
        } else if (odds.sum > 1.0f) {
            r.Add(file, sectionLine, Severity::kWarning, "weights-above-one",
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
    for (const auto& entry : t.npcs) {
        const int index = entry.first;
        const std::vector<NpcRow>& rows = entry.second;
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
                    r.Add(file, rows[i].line, Severity::kWarning, "fixed-slot-taken-twice",
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
            r.Add(file, sectionLine, Severity::kError, "nothing-drawable",
                  fmt::format("no NPC of model index {} can ever be drawn: the weights sum to {}, "
                              "so {}",
                              index, ShortestFloatText(odds.sum), onlyFixed));
            continue;
        }
        if (odds.misses > 0) {
            r.Add(file, sectionLine, Severity::kWarning, "weights-below-one",
                  fmt::format("the NPC weights of model index {} sum to {}, below 1: a draw finds "
                              "nothing with chance {}; when the first draw of a select finds "
                              "nothing, {}",
                              index, ShortestFloatText(odds.sum), Percent(odds.MissChance()),
                              onlyFixed));
        } else if (odds.sum > 1.0f) {
            r.Add(file, sectionLine, Severity::kWarning, "weights-above-one",
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
    if (!t.npcFileFound || t.npcFileUnreadable) return;
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
                r.Add(file, row.line, Severity::kError, "missing-model-index", std::move(msg));
                stopped = true;
            } else if (it->second.empty()) {
                r.Add(file, row.line, Severity::kWarning, "no-valid-rows",
                      fmt::format("model index {} has no valid NPC rows in {}: a select while the "
                                  "creator shows model {} sends nothing",
                                  row.index, DisplayName(kNpcFile), row.model));
            }
        }
    }
    // A model table read as nothing uses no index; one finding says so already.
    for (const auto& [index, section] : t.npcSections) {
        if (!t.modelFileUnreadable && used.count(index) == 0) {
            r.Add(DisplayName(kNpcFile), section.line, Severity::kNote, "unused-model-index",
                  fmt::format("model index {} is not used by any row of {}", index,
                              DisplayName(kModelFile)));
        }
    }
}

}  // namespace check
}  // namespace tools
