// `rulehost simulate`: the Monte Carlo run of one creator and its tallies.
#include "Simulator.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <set>

#include "CounterCache.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "TeamSystem.h"
#include "TextCodec.h"
#include "WeightOdds.h"
#include "World.h"

namespace tools {

namespace {

constexpr int64_t kBatch = 4096;
constexpr int kSelectFunction = 1;  // any function other than 0 builds an encounter

std::string ModelFileName() {
    return DisplayName("Npc\\ModelProb.ini");
}
std::string NpcFileName() {
    return DisplayName("Npc\\CreatorProb.ini");
}

// What the select of one sample sent to the player.
struct Capture {
    bool sent = false;
    int sizeField = 0;
    std::vector<std::pair<int, int>> entries;  // npcConfig, slot
};

// Draws the tables rule out, and the NPC configs a select can send at all.
void FindImpossibleDraws(const CandidateTables& tables, const std::vector<ModelRow>& rows,
                         const DrawOdds& modelOdds, SimulationResult& res,
                         std::set<int>& reachableConfigs) {
    float before = 0.0f;
    bool stopped = false;
    int stopLine = 0;
    std::set<int> indexesDone;
    for (size_t i = 0; i < rows.size(); ++i) {
        const ModelRow& row = rows[i];
        const std::string name = fmt::format("model {} ({})", row.model, ToUtf8(row.description));
        const bool drawn = modelOdds.hits[i] > 0;
        if (!drawn) {
            res.impossible.push_back(
                {ModelFileName(), row.line,
                 row.weight > 0.0f
                     ? fmt::format("{} is never drawn: the weights before it already sum to {}",
                                   name, ShortestFloatText(before))
                     : fmt::format("{} is never drawn: its weight is {}", name,
                                   ShortestFloatText(row.weight))});
        }
        before += row.weight;
        auto it = tables.npcs.find(row.index);
        if (stopped) {
            res.impossible.push_back(
                {ModelFileName(), row.line,
                 fmt::format("{} never gets NPCs: filling the candidates stops at line {}", name,
                             stopLine)});
            continue;
        }
        if (it == tables.npcs.end()) {
            res.impossible.push_back(
                {ModelFileName(), row.line,
                 fmt::format("{} never gets NPCs: model index {} has no section in {}", name,
                             row.index, NpcFileName())});
            stopped = true;
            stopLine = row.line;
            continue;
        }
        if (!drawn || !indexesDone.insert(row.index).second) continue;
        std::vector<float> weights;
        std::vector<size_t> drawable;
        for (size_t n = 0; n < it->second.size(); ++n) {
            const NpcRow& npc = it->second[n];
            if (npc.slotType == 3) {
                reachableConfigs.insert(npc.npcConfig);
            } else {
                weights.push_back(npc.weight);
                drawable.push_back(n);
            }
        }
        const DrawOdds odds = ComputeDrawOdds(weights);
        float sum = 0.0f;
        for (size_t d = 0; d < drawable.size(); ++d) {
            const NpcRow& npc = it->second[drawable[d]];
            if (odds.hits[d] > 0) {
                reachableConfigs.insert(npc.npcConfig);
            } else {
                res.impossible.push_back(
                    {NpcFileName(), npc.line,
                     npc.weight > 0.0f
                         ? fmt::format("NPC {} of model index {} is never drawn: the weights "
                                       "before it already sum to {}",
                                       npc.npcConfig, row.index, ShortestFloatText(sum))
                         : fmt::format("NPC {} of model index {} is never drawn: its weight is {}",
                                       npc.npcConfig, row.index, ShortestFloatText(npc.weight))});
            }
            sum += npc.weight;
        }
    }
}

// The expected shares of the NPCs: a drawn NPC's share of the NPCs drawn by
// weight, from the exact odds of one draw of each index weighted by the
// draws the run made with that index shown (how many draws a select makes is
// the rules script's answer, not chance); a fixed NPC's share of selects is
// the share of the models it joins. An index named by k model rows has its
// candidates k times over in the creator's record, and is drawn so.
void ExpectNpcShares(const CandidateTables& tables, const std::vector<ModelStat>& models,
                     const std::map<int, int>& copiesOfIndex,
                     const std::map<int, int64_t>& drawsByIndex, SimulationResult& res) {
    int64_t draws = 0;
    for (const auto& [index, count] : drawsByIndex) {
        auto it = tables.npcs.find(index);
        auto copies = copiesOfIndex.find(index);
        if (it == tables.npcs.end() || copies == copiesOfIndex.end() || count <= 0) continue;
        std::vector<float> weights;
        std::vector<int> configs;
        for (int copy = 0; copy < copies->second; ++copy) {
            for (const NpcRow& npc : it->second) {
                if (npc.slotType == 3) continue;
                weights.push_back(npc.weight);
                configs.push_back(npc.npcConfig);
            }
        }
        const DrawOdds odds = ComputeDrawOdds(weights);
        const int taken = kDrawValues - odds.misses;
        if (taken <= 0) continue;
        draws += count;
        for (size_t d = 0; d < configs.size(); ++d) {
            res.expectedDrawShare[configs[d]] += double(count) * odds.hits[d] / taken;
        }
    }
    for (auto& [config, share] : res.expectedDrawShare) share = draws > 0 ? share / draws : 0.0;
    for (const ModelStat& m : models) {
        // Filling the candidates stops at the first index without a section.
        auto it = tables.npcs.find(m.row.index);
        if (it == tables.npcs.end()) break;
        for (const NpcRow& npc : it->second) {
            if (npc.slotType == 3) res.expectedFixedShare[npc.npcConfig] += m.expectedShare;
        }
    }
}

// CPU time of the calling thread: the world thread's own work, whatever else
// the machine is doing.
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

}  // namespace

SimulationResult RunSimulation(const SimulateOptions& o) {
    SimulationResult res;
    res.options = o;
    if (o.selects < 1) {
        res.error = "--selects must be at least 1";
        return res;
    }
    if (o.teamSize < 1 || o.teamSize > host::TeamSystem::kMaxMembers) {
        res.error =
            fmt::format("--team-size must be between 1 and {}", host::TeamSystem::kMaxMembers);
        return res;
    }
    const CandidateTables tables = LoadCandidateTables(o.resourceDir);
    if (!tables.modelFileFound) {
        res.error = fmt::format("{} not found in {}", ModelFileName(), o.resourceDir);
        return res;
    }
    auto creatorRows = tables.models.find(o.creator);
    if (creatorRows == tables.models.end()) {
        std::string known;
        for (const auto& [number, rows] : tables.models) {
            known += (known.empty() ? "" : ", ") + std::to_string(number);
        }
        res.error = fmt::format("creator {} has no section in {} (creators there: {})", o.creator,
                                ModelFileName(), known.empty() ? "none" : known);
        return res;
    }
    const std::vector<ModelRow>& rows = creatorRows->second;

    std::vector<float> weights;
    for (const auto& row : rows) weights.push_back(row.weight);
    const DrawOdds modelOdds = ComputeDrawOdds(weights);
    res.modelMissChance = modelOdds.MissChance();
    const int taken = kDrawValues - modelOdds.misses;
    for (size_t i = 0; i < rows.size(); ++i) {
        ModelStat m;
        m.row = rows[i];
        m.drawChance = modelOdds.Chance(i);
        m.expectedShare = taken > 0 ? double(modelOdds.hits[i]) / taken : 0.0;
        res.models.push_back(m);
    }
    std::set<int> reachable;
    FindImpossibleDraws(tables, rows, modelOdds, res, reachable);

    host::WorldOptions wo;
    wo.pluginPath = o.pluginPath;
    wo.resourceDir = o.resourceDir;
    wo.quiet = true;
    wo.standInScripts = false;  // no fights: the select's answer is all that is wanted
    host::World world(wo);
    if (!world.Start()) {
        res.error = "the host could not start: " + world.error();
        return res;
    }
    res.startupTraceLines = world.startupTraceLines();
    if (!world.lifecycle().ok()) {
        std::string failed;
        for (const auto& m : world.lifecycle().initFailed) failed += " " + m;
        for (const auto& m : world.lifecycle().afterInitFailed) failed += " " + m;
        res.error = "modules failed to start:" + failed;
        return res;
    }

    Capture capture;
    ObjectId creator;
    ObjectId leader;
    std::string setupError;
    world.Run([&](host::Kernel& k) {
        // Nobody reads the event log of a simulation; recording it would cost
        // more than the selects themselves.
        k.log().SetEnabled(false);
        const ObjectId scene = k.CreateScene("SimulationScene", 1);
        k.SetCurrentScene(scene);
        leader = k.CreatePlayer(u"Designer1", 1, scene);
        for (int i = 2; i <= o.teamSize; ++i) {
            const ObjectId member =
                k.CreatePlayer(u"Designer" + host::Utf8ToUtf16(std::to_string(i)), 1, scene);
            if (!world.teamSystem()->Join(leader, member)) {
                setupError = "the team module refused a team member";
                return;
            }
        }
        k.AddHostCommandHook(
            "player", 1001,
            [&capture](host::Kernel&, const ObjectId&, const ObjectId&, const IVarList& args) {
                capture.sent = true;
                capture.sizeField = args.IntVal(3);
                for (uint64_t i = 4; i + 1 < args.GetCount(); i += 2) {
                    capture.entries.emplace_back(args.IntVal(i), args.IntVal(i + 1));
                }
                return 1;
            },
            0, "simulate");

        host::ObjectSpec objDef;
        objDef.className = "NpcCreator";
        objDef.config = "NpcCreator";
        objDef.configIndex = o.creator;
        objDef.scene = scene;
        const int cls = k.ClassIndex("NpcCreator");
        // Re-draw the model every virtual second, so each sample starts with
        // a fresh model draw. The selection counter starts high enough never
        // to run dry, and its refresh (which only restores it) is put off.
        const std::pair<const char*, int> settings[] = {
            {"CreatorType", 0},          {"RefreshTime", 1000000000}, {"RefreshModelTime", 1},
            {"MaxSelectCount", INT_MAX}, {"SelectCount", INT_MAX},    {"NoticeByWorldRefresh", 0},
            {"NoticeByWorldBeKilled", 0}};
        for (const auto& [name, value] : settings) {
            const host::PropertyDecl* decl = k.FindPropertyDecl(cls, name);
            if (decl != nullptr && decl->type == VTYPE_INT) {
                objDef.properties.emplace_back(name, host::Value(int32_t(value)));
            }
        }
        creator = k.CreateObject(objDef);
        if (!k.Exists(creator)) setupError = "the host could not create an NpcCreator object";
    });
    if (!setupError.empty()) {
        res.error = setupError;
        return res;
    }

    std::map<std::pair<int, int>, size_t> rowOf;  // (model, index) -> first row
    std::map<int, size_t> rowOfModel;
    for (size_t i = 0; i < rows.size(); ++i) {
        rowOf.emplace(std::make_pair(rows[i].model, rows[i].index), i);
        rowOfModel.emplace(rows[i].model, i);
    }
    // A select sends the fixed NPCs of the shown index first, then the drawn ones.
    // The record holds an index's candidates once per model row naming it, up
    // to the first index without a section.
    std::map<int, int> copiesOfIndex;
    std::map<int, size_t> fixedOfIndex;
    for (const ModelRow& row : rows) {
        auto it = tables.npcs.find(row.index);
        if (it == tables.npcs.end()) break;
        ++copiesOfIndex[row.index];
        for (const NpcRow& npc : it->second) fixedOfIndex[row.index] += npc.slotType == 3 ? 1 : 0;
    }
    std::map<int, int64_t> drawsByIndex;
    std::map<int, NpcStat> npcs;
    // The same few keys come back every sample: their entries are cached.
    CounterCache<int64_t> encounterSizes(res.encounterSizes), sizeFields(res.sizeFields),
        drawnCounts(res.drawnCounts), drawsOfIndex(drawsByIndex);
    CounterCache<NpcStat> npcOf(npcs);
    CounterCache<size_t> fixedCache(fixedOfIndex);  // a missing index reads 0, as it should
    struct RowHit {
        int model = 0;
        int index = 0;
        ModelStat* stat = nullptr;  // null: counted as another model
        bool made = false;
    };
    RowHit rowHits[16];
    const auto start = std::chrono::steady_clock::now();
    int64_t done = 0;
    while (done < o.selects) {
        const int64_t batch = std::min(kBatch, o.selects - done);
        world.Run([&](host::Kernel& k) {
            const double cpuStart = ThreadCpuSeconds();
            std::array<bool, 9> taken{};
            std::vector<int> seen;  // configs already counted for this encounter
            for (int64_t n = 0; n < batch; ++n) {
                k.AdvanceTime(1000);
                const int model = k.QueryInt(creator, "Model");
                const int index = k.QueryInt(creator, "Index");
                capture.sent = false;
                capture.entries.clear();
                k.Select(leader, creator, kSelectFunction);

                RowHit& hit = rowHits[(uint32_t(model) * 31u + uint32_t(index)) & 15];
                if (!hit.made || hit.model != model || hit.index != index) {
                    hit = {model, index, nullptr, true};
                    if (auto r = rowOf.find({model, index}); r != rowOf.end()) {
                        hit.stat = &res.models[r->second];
                    } else if (auto m = rowOfModel.find(model); m != rowOfModel.end()) {
                        hit.stat = &res.models[m->second];
                    }
                }
                if (hit.stat != nullptr) {
                    ++hit.stat->count;
                } else {
                    ++res.otherModel;
                }
                if (!capture.sent) {
                    ++res.nothingSent;
                    ++encounterSizes[0];
                    continue;
                }
                ++res.encountersSent;
                ++encounterSizes[int(capture.entries.size())];
                ++sizeFields[capture.sizeField];
                taken.fill(false);
                seen.clear();
                const size_t fixedSent = fixedCache[index];
                for (size_t e = fixedSent; e < capture.entries.size(); ++e) {
                    ++drawnCounts[capture.entries[e].first];
                    ++res.drawnEntries;
                    ++drawsOfIndex[index];
                }
                for (const auto& [config, slot] : capture.entries) {
                    NpcStat& s = npcOf[config];
                    s.npcConfig = config;
                    ++s.appearances;
                    if (std::find(seen.begin(), seen.end(), config) == seen.end()) {
                        seen.push_back(config);
                        ++s.selectsWith;
                    }
                    if (slot < 0 || slot > 8) {
                        ++res.slotOutOfRange;
                    } else if (taken[size_t(slot)]) {
                        ++res.slotCollisions;
                    } else {
                        taken[size_t(slot)] = true;
                        ++res.slotEncounters[size_t(slot)];
                    }
                }
            }
            res.cpuSeconds += ThreadCpuSeconds() - cpuStart;
        });
        done += batch;
        if (o.progress) o.progress(done, o.selects);
    }
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    world.Stop();

    std::set<int> fixedConfigs;
    for (const auto& row : rows) {
        auto it = tables.npcs.find(row.index);
        if (it == tables.npcs.end()) continue;
        for (const auto& npc : it->second) {
            if (npc.slotType == 3) fixedConfigs.insert(npc.npcConfig);
        }
    }
    for (auto& [config, stat] : npcs) {
        stat.fixed = fixedConfigs.count(config) != 0;
        res.npcs.push_back(stat);
    }
    ExpectNpcShares(tables, res.models, copiesOfIndex, drawsByIndex, res);
    for (int config : reachable) {
        if (npcs.count(config) == 0) res.configsNotSeen.push_back(config);
    }
    res.ok = true;
    return res;
}

}  // namespace tools
