// Compares the odds models of two folders and renders the comparison as
// text lines, JSON and a self-contained HTML page.
#include "OddsDiff.h"

#include <fmt/format.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "TextCodec.h"
#include "WeightOdds.h"

namespace tools {

namespace {

const std::string kModelFile = "Npc/ModelProb.ini";
const std::string kNpcFile = "Npc/CreatorProb.ini";
const std::string kScriptFile = "Rule/npc_creator.lua";

std::string ModelSubject(int creator, const ModelRow& row) {
    return fmt::format("creator {} model {} ({})", creator, row.model, ToUtf8(row.description));
}

std::string NpcSubject(int index, const NpcRow& row) {
    return fmt::format("model index {} NPC {}", index, row.npcConfig);
}

std::string ModelRowText(const ModelOdds& m) {
    return fmt::format("weight {}, model index {}, drawn {}", ShortestFloatText(m.row.weight),
                       m.row.index, ChanceText(m.chance));
}

std::string NpcRowText(const NpcOdds& n) {
    if (n.fixed) {
        return n.fixedSlot >= 0
                   ? fmt::format("fixed at slot {}", n.fixedSlot)
                   : fmt::format("fixed at slot {} (outside the formation, never sent)",
                                 ShortestFloatText(n.row.weight));
    }
    return fmt::format("weight {}, slot type {}, drawn {} per draw",
                       ShortestFloatText(n.row.weight), n.row.slotType, ChanceText(n.chance));
}

// Pairs rows of two lists by a key and its occurrence number, so the second
// row of NPC 30001 in OLD meets the second one in NEW wherever they moved.
template <typename Row, typename KeyOf>
std::vector<std::pair<int, int>> PairRows(const std::vector<Row>& a, const std::vector<Row>& b,
                                          KeyOf keyOf) {
    std::map<std::pair<int, int>, int> inA;
    std::map<int, int> seen;
    for (size_t i = 0; i < a.size(); ++i) inA[{keyOf(a[i]), seen[keyOf(a[i])]++}] = int(i);
    seen.clear();
    std::vector<std::pair<int, int>> pairs;  // (row in a or -1, row in b or -1)
    for (size_t j = 0; j < b.size(); ++j) {
        const std::pair<int, int> key{keyOf(b[j]), seen[keyOf(b[j])]++};
        auto it = inA.find(key);
        if (it == inA.end()) {
            pairs.emplace_back(-1, int(j));
        } else {
            pairs.emplace_back(it->second, int(j));
            inA.erase(it);
        }
    }
    std::set<int> left;
    for (const auto& [key, i] : inA) left.insert(i);
    for (int i : left) pairs.emplace_back(i, -1);
    return pairs;
}

class Differ {
public:
    explicit Differ(OddsDiff& out) : m_out(out) {}

    void Chance(const std::string& file, int line, int creator, int index, std::string subject,
                int hitsBefore, int hitsAfter, double before, double after) {
        if (hitsBefore == hitsAfter) return;
        DiffEntry e = Make(DiffKind::kChance, file, line, creator, index, std::move(subject));
        e.before = before;
        e.after = after;
        m_out.entries.push_back(std::move(e));
    }
    void Text(DiffKind kind, const std::string& file, int line, int creator, int index,
              std::string subject, std::string before, std::string after) {
        if (before == after && kind != DiffKind::kAdded && kind != DiffKind::kRemoved) return;
        DiffEntry e = Make(kind, file, line, creator, index, std::move(subject));
        e.beforeText = std::move(before);
        e.afterText = std::move(after);
        m_out.entries.push_back(std::move(e));
    }

private:
    static DiffEntry Make(DiffKind kind, const std::string& file, int line, int creator, int index,
                          std::string subject) {
        DiffEntry e;
        e.kind = kind;
        e.file = file;
        e.line = line;
        e.creator = creator;
        e.index = index;
        e.subject = std::move(subject);
        return e;
    }
    OddsDiff& m_out;
};

int MissHits(double missChance) {
    return int(std::lround(missChance * kDrawValues));
}

void DiffCreator(const CreatorOdds* a, const CreatorOdds* b, Differ& d) {
    static const std::vector<ModelOdds> kNone;
    const auto& rowsA = a ? a->models : kNone;
    const auto& rowsB = b ? b->models : kNone;
    const int creator = a ? a->creator : b->creator;
    for (const auto& [i, j] :
         PairRows(rowsA, rowsB, [](const ModelOdds& m) { return m.row.model; })) {
        if (i < 0) {
            const ModelOdds& m = rowsB[size_t(j)];
            d.Text(DiffKind::kAdded, kModelFile, m.row.line, creator, m.row.index,
                   ModelSubject(creator, m.row), "", ModelRowText(m));
            continue;
        }
        if (j < 0) {
            const ModelOdds& m = rowsA[size_t(i)];
            d.Text(DiffKind::kRemoved, kModelFile, m.row.line, creator, m.row.index,
                   ModelSubject(creator, m.row), ModelRowText(m), "");
            continue;
        }
        const ModelOdds& ma = rowsA[size_t(i)];
        const ModelOdds& mb = rowsB[size_t(j)];
        const std::string subject = ModelSubject(creator, mb.row);
        const int line = mb.row.line;
        d.Chance(kModelFile, line, creator, mb.row.index, subject, ma.hits, mb.hits, ma.chance,
                 mb.chance);
        d.Text(DiffKind::kField, kModelFile, line, creator, mb.row.index, subject + " description",
               ToUtf8(ma.row.description), ToUtf8(mb.row.description));
        d.Text(DiffKind::kField, kModelFile, line, creator, mb.row.index, subject + " model index",
               std::to_string(ma.row.index), std::to_string(mb.row.index));
        d.Text(DiffKind::kCandidates, kModelFile, line, creator, mb.row.index,
               subject + " gets its NPC candidates", ma.getsNpcs ? "yes" : "no",
               mb.getsNpcs ? "yes" : "no (filling stops at an earlier missing index)");
    }
    if (a && b) {
        d.Chance(kModelFile, b->section.line, creator, -1,
                 fmt::format("creator {}: a model draw finds nothing", creator),
                 MissHits(a->missChance), MissHits(b->missChance), a->missChance, b->missChance);
    }
}

std::string CandidateList(const std::vector<NpcOdds>& rows, const std::vector<int>& which) {
    std::string s;
    for (int i : which) {
        if (!s.empty()) s += ", ";
        s += fmt::format("NPC {}", rows[size_t(i)].row.npcConfig);
    }
    return s;
}

void DiffIndex(const IndexOdds* a, const IndexOdds* b, Differ& d) {
    static const std::vector<NpcOdds> kNone;
    const auto& rowsA = a ? a->npcs : kNone;
    const auto& rowsB = b ? b->npcs : kNone;
    const int index = a ? a->index : b->index;
    std::vector<int> gained;
    std::vector<int> lost;
    for (const auto& [i, j] :
         PairRows(rowsA, rowsB, [](const NpcOdds& n) { return n.row.npcConfig; })) {
        if (i < 0) {
            const NpcOdds& n = rowsB[size_t(j)];
            d.Text(DiffKind::kAdded, kNpcFile, n.row.line, -1, index, NpcSubject(index, n.row), "",
                   NpcRowText(n));
            gained.push_back(j);
            continue;
        }
        if (j < 0) {
            const NpcOdds& n = rowsA[size_t(i)];
            d.Text(DiffKind::kRemoved, kNpcFile, n.row.line, -1, index, NpcSubject(index, n.row),
                   NpcRowText(n), "");
            lost.push_back(i);
            continue;
        }
        const NpcOdds& na = rowsA[size_t(i)];
        const NpcOdds& nb = rowsB[size_t(j)];
        const std::string subject = NpcSubject(index, nb.row);
        const int line = nb.row.line;
        if (na.fixed != nb.fixed || na.row.slotType != nb.row.slotType) {
            d.Text(DiffKind::kField, kNpcFile, line, -1, index, subject, NpcRowText(na),
                   NpcRowText(nb));
        } else if (na.fixed) {
            d.Text(DiffKind::kField, kNpcFile, line, -1, index, subject, NpcRowText(na),
                   NpcRowText(nb));
        } else {
            d.Chance(kNpcFile, line, -1, index, subject + " per draw", na.hits, nb.hits, na.chance,
                     nb.chance);
        }
    }
    const int line = b ? b->section.line : a->section.line;
    if (!gained.empty() || !lost.empty()) {
        std::string after = std::to_string(rowsB.size());
        if (!gained.empty()) after += "; gained " + CandidateList(rowsB, gained);
        if (!lost.empty()) after += "; lost " + CandidateList(rowsA, lost);
        d.Text(DiffKind::kCandidates, b ? kNpcFile : kNpcFile, line, -1, index,
               fmt::format("model index {} candidates", index), std::to_string(rowsA.size()),
               after);
    }
    if (a && b) {
        d.Chance(kNpcFile, line, -1, index,
                 fmt::format("model index {}: a draw finds nothing", index),
                 MissHits(a->missChance), MissHits(b->missChance), a->missChance, b->missChance);
    }
}

std::string Change(double before, double after) {
    const double points = (after - before) * 100.0;
    return fmt::format("{}{:.3f}%", points >= 0.0 ? "+" : "", points);
}

}  // namespace

const char* DiffKindName(DiffKind kind) {
    switch (kind) {
        case DiffKind::kChance:
            return "chance";
        case DiffKind::kField:
            return "field";
        case DiffKind::kAdded:
            return "added";
        case DiffKind::kRemoved:
            return "removed";
        case DiffKind::kCandidates:
            return "candidates";
        case DiffKind::kEncounterSize:
            return "encounter size";
    }
    return "chance";
}

std::string ChanceText(double chance) {
    return fmt::format("{:.3f}%", chance * 100.0);
}

OddsDiff DiffOdds(const OddsModel& before, const OddsModel& after,
                  const EncounterSizes& sizesBefore, const EncounterSizes& sizesAfter) {
    OddsDiff out;
    Differ d(out);
    std::map<int, const CreatorOdds*> ca;
    std::map<int, const CreatorOdds*> cb;
    std::set<int> creators;
    for (const auto& c : before.creators) ca[c.creator] = &c, creators.insert(c.creator);
    for (const auto& c : after.creators) cb[c.creator] = &c, creators.insert(c.creator);
    for (int c : creators) DiffCreator(ca[c], cb[c], d);
    std::set<int> indexes;
    for (const auto& [i, _] : before.indexes) indexes.insert(i);
    for (const auto& [i, _] : after.indexes) indexes.insert(i);
    for (int i : indexes) {
        auto a = before.indexes.find(i);
        auto b = after.indexes.find(i);
        DiffIndex(a == before.indexes.end() ? nullptr : &a->second,
                  b == after.indexes.end() ? nullptr : &b->second, d);
    }
    const size_t teams = std::max(sizesBefore.size(), sizesAfter.size());
    for (size_t t = 0; t < teams; ++t) {
        const std::string a = t < sizesBefore.size() ? sizesBefore[t] : "none";
        const std::string b = t < sizesAfter.size() ? sizesAfter[t] : "none";
        d.Text(DiffKind::kEncounterSize, kScriptFile, 0, -1, -1,
               fmt::format("encounter size for a team of {}", t + 1), a, b);
    }
    return out;
}

std::string DiffLine(const DiffEntry& e) {
    std::string s = e.line > 0 ? fmt::format("{}:{}: ", e.file, e.line) : e.file + ": ";
    switch (e.kind) {
        case DiffKind::kChance:
            return s + fmt::format("{}: {} -> {} ({})", e.subject, ChanceText(e.before),
                                   ChanceText(e.after), Change(e.before, e.after));
        case DiffKind::kAdded:
            return s + fmt::format("added {}: {}", e.subject, e.afterText);
        case DiffKind::kRemoved:
            return s + fmt::format("removed {}: {}", e.subject, e.beforeText);
        default:
            return s + fmt::format("{}: {} -> {}", e.subject, e.beforeText, e.afterText);
    }
}

std::string DiffText(const OddsDiff& diff) {
    std::string out;
    for (const auto& e : diff.entries) out += DiffLine(e) + "\n";
    const size_t n = diff.entries.size();
    out += n == 0 ? std::string("no change for players\n")
                  : fmt::format("{} {} for players\n", n, n == 1 ? "change" : "changes");
    return out;
}

std::string DiffJson(const OddsDiff& diff, const std::string& oldDir, const std::string& newDir) {
    nlohmann::json j;
    j["old"] = oldDir;
    j["new"] = newDir;
    j["changed"] = diff.Changed();
    j["entries"] = nlohmann::json::array();
    for (const auto& e : diff.entries) {
        nlohmann::json x = {{"kind", DiffKindName(e.kind)},
                            {"file", e.file},
                            {"line", e.line},
                            {"subject", e.subject},
                            {"text", DiffLine(e)}};
        if (e.creator >= 0) x["creator"] = e.creator;
        if (e.index >= 0) x["index"] = e.index;
        if (e.kind == DiffKind::kChance) {
            x["before"] = e.before;
            x["after"] = e.after;
            x["change"] = e.after - e.before;
        } else {
            x["before"] = e.beforeText;
            x["after"] = e.afterText;
        }
        j["entries"].push_back(std::move(x));
    }
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string DiffHtml(const OddsDiff& diff, const std::string& oldDir, const std::string& newDir) {
    std::string rows;
    for (const auto& e : diff.entries) {
        const bool chance = e.kind == DiffKind::kChance;
        const std::string where = e.line > 0 ? fmt::format("{}:{}", e.file, e.line) : e.file;
        rows += fmt::format(
            "<tr class=\"{}\"><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td>"
            "</tr>\n",
            DiffKindName(e.kind), HtmlEscape(where), DiffKindName(e.kind), HtmlEscape(e.subject),
            HtmlEscape(chance ? ChanceText(e.before) : e.beforeText),
            HtmlEscape(chance ? ChanceText(e.after) : e.afterText),
            chance ? Change(e.before, e.after) : "");
    }
    return fmt::format(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>rulehost diff</title>\n"
        "<style>body{{font-family:sans-serif;margin:2em}}table{{border-collapse:collapse}}"
        "td,th{{border:1px solid #ccc;padding:4px 8px;text-align:left}}"
        "tr.added{{background:#e6ffe6}}tr.removed{{background:#ffe6e6}}</style></head><body>\n"
        "<h1>What changes for players</h1>\n<p>{} &rarr; {}: {}</p>\n"
        "<table><tr><th>where</th><th>kind</th><th>what</th><th>before</th><th>after</th>"
        "<th>change</th></tr>\n{}</table>\n</body></html>\n",
        HtmlEscape(oldDir), HtmlEscape(newDir),
        diff.Changed() ? fmt::format("{} changes", diff.entries.size()) : "no change", rows);
}

}  // namespace tools
