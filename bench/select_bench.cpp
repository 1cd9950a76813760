// Select throughput of the NPC creator system through the reference host:
// the real plug-in loaded by a World, the in-memory kernel, the Lua rules
// script answering get_npc_count, and the sample arena creator (number 4)
// whose model index carries 20 candidate rows (2 fixed, 18 drawn).
//
// Each benchmark iteration posts one batch of selects to the world's logic
// thread, so the cost of the thread hop is spread over the batch. Time is
// wall-clock (the work runs on the world thread, not the benchmark's);
// selects/cpu_s divides by the logic thread's CPU time instead.
//
//   Select/solo          a player alone: 3 NPCs, 1 draw
//   Select/leader        the leader of a five-member team: 7 NPCs, 5 draws
//   ..._FightStandIn     the same with the host's stand-in fight start on
//                        command 1001 (creates and ends a fight per select)
//
// The event log is off in all four. A closing summary prints selects per CPU
// second without and with the fight stand-in side by side, against the goal
// of 200,000 selects per second on one core.
#include <benchmark/benchmark.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Kernel.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "World.h"

namespace {

constexpr int kBatch = 1000;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
constexpr int kArenaCreator = 4;

struct SelectWorld {
    std::unique_ptr<host::World> world;
    ObjectId creator;
    ObjectId player;
    bool ok = false;

    SelectWorld(bool teamLeader, bool fightStandIn) {
        host::WorldOptions options;
        options.pluginPath = BENCH_PLUGIN_PATH;
        options.resourceDir = BENCH_RESOURCES_DIR;
        options.quiet = true;
        world = std::make_unique<host::World>(options);
        if (!world->Start()) {
            std::fprintf(stderr, "world start failed: %s\n", world->error().c_str());
            return;
        }
        if (!fightStandIn) world->standIn()->Disable(1001);
        world->Run([&](host::Kernel& k) {
            k.log().SetEnabled(false);
            const ObjectId scene = k.CreateScene("bench_scene", 1001);
            k.SetCurrentScene(scene);
            host::ObjectSpec objDef;
            objDef.className = "NpcCreator";
            objDef.config = "arena_gate";
            objDef.configIndex = kArenaCreator;
            objDef.scene = scene;
            objDef.properties = {{"MaxSelectCount", int32_t(INT_MAX)},
                                 {"SelectCount", int32_t(INT_MAX)},
                                 {"RefreshTime", int32_t(300)}};
            creator = k.CreateObject(objDef);
            player = k.CreatePlayer(u"bench_leader", 1, scene);
            if (teamLeader) {
                for (int i = 0; i < host::TeamSystem::kMaxMembers - 1; ++i) {
                    const std::u16string name = u"bench_member" + std::u16string(1, u'0' + i);
                    world->teamSystem()->Join(player, k.CreatePlayer(name, 1, scene));
                }
            }
            std::vector<std::vector<host::Value>> rows;
            ok = k.GetRecord(creator, "NPCInfoRec", rows) && rows.size() == 20;
        });
        if (!ok) std::fprintf(stderr, "arena creator did not load its 20 candidate rows\n");
    }
};

void RunSelects(benchmark::State& state, bool teamLeader, bool fightStandIn) {
    SelectWorld w(teamLeader, fightStandIn);
    if (!w.ok) {
        state.SkipWithError("world setup failed");
        return;
    }
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        w.world->Run([&](host::Kernel& k) {
            const double start = ThreadCpuSeconds();
            for (int i = 0; i < kBatch; ++i) k.Select(w.player, w.creator, 1);
            cpuSeconds += ThreadCpuSeconds() - start;
        });
    }
    const double selects = double(state.iterations() * kBatch);
    state.SetItemsProcessed(int64_t(selects));
    state.counters["selects/s"] = benchmark::Counter(selects, benchmark::Counter::kIsRate);
    // Selects per second of the logic thread's own CPU time: the figure for
    // one core, unaffected by other processes competing for the machine.
    state.counters["selects/cpu_s"] = cpuSeconds > 0.0 ? selects / cpuSeconds : 0.0;
}

void BM_Select_Solo(benchmark::State& state) {
    RunSelects(state, false, false);
}
void BM_Select_Leader(benchmark::State& state) {
    RunSelects(state, true, false);
}
void BM_Select_Solo_FightStandIn(benchmark::State& state) {
    RunSelects(state, false, true);
}
void BM_Select_Leader_FightStandIn(benchmark::State& state) {
    RunSelects(state, true, true);
}

BENCHMARK(BM_Select_Solo)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Select_Leader)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Select_Solo_FightStandIn)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Select_Leader_FightStandIn)->UseRealTime()->Unit(benchmark::kMicrosecond);

constexpr double kGoalSelectsPerCpuSecond = 200000;

// Console output as usual, then selects per CPU second of each case with and
// without the fight stand-in (the median when the run was repeated).
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = r.run_name.function_name;
            if (!median && m_median.count(name) != 0) continue;
            auto it = r.counters.find("selects/cpu_s");
            if (it == r.counters.end()) continue;
            m_rate[name] = it->second.value;
            if (median) m_median[name] = true;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nSelects per CPU second (event log off; goal >= %.0f)\n",
                    kGoalSelectsPerCpuSecond);
        std::printf("  %-8s %14s %22s\n", "case", "no fight", "fight stand-in on");
        for (const char* c : {"Solo", "Leader"}) {
            const double off = Rate(std::string("BM_Select_") + c);
            const double on = Rate(std::string("BM_Select_") + c + "_FightStandIn");
            std::printf("  %-8s %9.0f %-4s %17.0f %-4s\n", c, off, Verdict(off), on, Verdict(on));
        }
    }

private:
    double Rate(const std::string& name) const {
        auto it = m_rate.find(name);
        return it == m_rate.end() ? 0.0 : it->second;
    }
    static const char* Verdict(double rate) {
        if (rate <= 0) return "--";
        return rate >= kGoalSelectsPerCpuSecond ? "PASS" : "MISS";
    }
    std::map<std::string, double> m_rate;
    std::map<std::string, bool> m_median;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
