// Builds the exact odds of a folder from its candidate tables, drawing the
// way the plug-in draws (same odds replay, same slot choice).
#include "OddsModel.h"

#include <cmath>

#include "NpcCreatorSystem.h"
#include "WeightOdds.h"

namespace tools {

namespace {

bool IsDrawnType(int slotType) {
    return slotType >= 0 && slotType <= 2;
}

// The plug-in keeps a fixed NPC only when its slot truncates into 0..8.
bool FixedSlot(float value, int& slot) {
    if (!(value > -1.0f && value < 9.0f)) return false;
    slot = int(value);
    return true;
}

IndexOdds BuildIndex(int index, const TableSection& section, const std::vector<NpcRow>& rows) {
    IndexOdds out;
    out.index = index;
    out.section = section;
    std::vector<float> weights;
    std::vector<size_t> drawn;
    for (const NpcRow& row : rows) {
        NpcOdds n;
        n.row = row;
        if (row.slotType == 3) {
            n.fixed = true;
            if (FixedSlot(row.weight, n.fixedSlot)) {
                out.fixedAt[size_t(n.fixedSlot)].push_back(row.npcConfig);
            } else {
                n.fixedSlot = -1;  // never sent
            }
        } else if (IsDrawnType(row.slotType)) {
            drawn.push_back(out.npcs.size());
            weights.push_back(row.weight);
        }
        out.npcs.push_back(n);
    }
    const DrawOdds odds = ComputeDrawOdds(weights);
    out.sum = odds.sum;
    out.missChance = weights.empty() ? 1.0 : odds.MissChance();
    for (size_t d = 0; d < drawn.size(); ++d) {
        out.npcs[drawn[d]].hits = odds.hits[d];
        out.npcs[drawn[d]].chance = odds.Chance(d);
    }
    return out;
}

}  // namespace

OddsModel BuildOddsModel(const CandidateTables& t) {
    OddsModel m;
    m.modelFileFound = t.modelFileFound;
    m.npcFileFound = t.npcFileFound;
    for (const auto& [index, rows] : t.npcs) {
        m.indexes.emplace(index, BuildIndex(index, t.npcSections.at(index), rows));
    }
    for (const auto& [creator, rows] : t.models) {
        CreatorOdds c;
        c.creator = creator;
        c.section = t.modelSections.at(creator);
        std::vector<float> weights;
        for (const ModelRow& row : rows) weights.push_back(row.weight);
        const DrawOdds odds = ComputeDrawOdds(weights);
        c.sum = odds.sum;
        c.missChance = odds.MissChance();
        bool filling = true;
        for (size_t i = 0; i < rows.size(); ++i) {
            ModelOdds mo;
            mo.row = rows[i];
            mo.hits = odds.hits[i];
            mo.chance = odds.Chance(i);
            // Filling the NPC record stops at the first index without a section.
            if (filling && t.npcs.count(rows[i].index) == 0) {
                filling = false;
                c.fillStopLine = rows[i].line;
            }
            mo.getsNpcs = filling;
            c.models.push_back(mo);
        }
        m.creators.push_back(std::move(c));
    }
    return m;
}

OddsModel LoadOddsModel(const std::string& dir) {
    return BuildOddsModel(LoadCandidateTables(dir));
}

int ChooseSlot(unsigned takenMask, int slotType) {
    std::vector<SpawnEntry> list;
    for (int s = 0; s < kFormationSlots; ++s) {
        if ((takenMask & (1u << s)) != 0) list.push_back(SpawnEntry{0, s});
    }
    return NpcCreatorSystem::ChooseFormationSlot(nullptr, list, slotType);
}

std::array<double, 9> SlotChances(const IndexOdds& index, int npcCount) {
    std::array<double, 9> out{};
    unsigned fixedMask = 0;
    int fixedCount = 0;
    struct Drawn {
        double p;
        int type;
    };
    std::vector<Drawn> drawn;
    double hit = 0.0;
    for (const NpcOdds& n : index.npcs) {
        if (n.fixed && n.fixedSlot >= 0) {
            fixedMask |= 1u << n.fixedSlot;
            ++fixedCount;
        } else if (!n.fixed && n.hits > 0) {
            drawn.push_back({n.chance, n.row.slotType});
            hit += n.chance;
        }
    }
    int wanted = npcCount - fixedCount;
    if (wanted > kMaxEncounterDraws) wanted = kMaxEncounterDraws;
    // Distribution over the set of taken slots after each draw.
    std::vector<double> dist(512, 0.0);
    dist[fixedMask] = 1.0;
    double stopped = 0.0;  // encounters whose first draw found nothing: fixed slots only
    if (wanted > 0 && hit > 0.0) {
        std::vector<double> next(512);
        for (int d = 0; d < wanted; ++d) {
            std::fill(next.begin(), next.end(), 0.0);
            // The first draw that finds nothing ends the drawing; a miss
            // after that is drawn again, so later draws take row i with p / hit.
            const double scale = d == 0 ? 1.0 : 1.0 / hit;
            for (unsigned mask = 0; mask < 512; ++mask) {
                if (dist[mask] == 0.0) continue;
                if (d == 0) stopped += dist[mask] * (1.0 - hit);
                for (const Drawn& r : drawn) {
                    const int slot = ChooseSlot(mask, r.type);
                    const unsigned to = slot >= 0 && slot < 9 ? mask | (1u << slot) : mask;
                    next[to] += dist[mask] * r.p * scale;
                }
            }
            dist.swap(next);
        }
    }
    dist[fixedMask] += stopped;
    for (unsigned mask = 0; mask < 512; ++mask) {
        for (int s = 0; s < 9; ++s) {
            if ((mask & (1u << s)) != 0) out[size_t(s)] += dist[mask];
        }
    }
    return out;
}

}  // namespace tools
