// Cost of one IKernel::Command reaching two hooks on the target's class (one
// on the class itself, one inherited from its base), with the event log
// recording every command as a world does, and with the log switched off.
#include <benchmark/benchmark.h>

#include "HostVarList.h"
#include "Kernel.h"
#include "VarList.h"

namespace {

int g_sink = 0;
int HookA(IKernel*, const ObjectId&, const ObjectId&, const IVarList& args) {
    g_sink += args.IntVal(1);
    return 1;
}
int HookB(IKernel*, const ObjectId&, const ObjectId&, const IVarList& args) {
    g_sink ^= args.IntVal(0);
    return 1;
}

struct Setup {
    host::Kernel kernel;
    ObjectId player;
    ObjectId creator;
    explicit Setup(bool log) : kernel(Options()) {
        kernel.log().SetEnabled(log);
        kernel.log().SetCapacity(1 << 16);  // a long run keeps the newest events
        kernel.AddCommandHook("NpcCreator", 976, HookA, 3);
        kernel.AddCommandHook("AreaBossNPCCreator", 976, HookB, 5);
        kernel.CreateScene("scene", 1);
        player = kernel.CreatePlayer(u"bench", 1);
        host::ObjectSpec objDef;
        objDef.className = "AreaBossNPCCreator";
        objDef.config = "AreaBossNPCCreator";
        objDef.raiseOnLoad = false;
        creator = kernel.CreateObject(objDef);
    }
    static host::KernelOptions Options() {
        host::KernelOptions o;
        o.echoToTerminal = false;
        return o;
    }
};

void Run(benchmark::State& state, bool log) {
    Setup s(log);
    CVarList args;
    args.AddInt(976);
    args.AddInt(1);
    for (auto _ : state) benchmark::DoNotOptimize(s.kernel.Command(s.player, s.creator, args));
    if (s.kernel.CommandHookCount("AreaBossNPCCreator", 976) != 2) state.SkipWithError("hooks");
    state.SetItemsProcessed(state.iterations());
}

void BM_CommandTwoHooks_EventLog(benchmark::State& state) {
    Run(state, true);
}
void BM_CommandTwoHooks_NoLog(benchmark::State& state) {
    Run(state, false);
}

// The plug-in's usual pattern: a fresh list built in the callback, then the command.
void BM_CommandTwoHooks_BuildListEachTime(benchmark::State& state) {
    Setup s(false);
    for (auto _ : state) {
        CVarList args;
        args.AddInt(976);
        args.AddInt(1);
        benchmark::DoNotOptimize(s.kernel.Command(s.player, s.creator, args));
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_CommandTwoHooks_EventLog);
BENCHMARK(BM_CommandTwoHooks_NoLog);
BENCHMARK(BM_CommandTwoHooks_BuildListEachTime);
BENCHMARK_MAIN();
