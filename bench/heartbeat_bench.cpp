// Heartbeat scheduling: the kernel's timer wheel against a plain binary heap
// (std::priority_queue), both firing the same 200,000 periodic heartbeats
// (intervals 1 to 60 s, random phase) over one virtual hour, measured in the
// same run. Also times the whole kernel path (AdvanceTime firing heartbeats
// on objects) for the same load.
//
//   heartbeat_bench [--beats N] [--hours H] [--seed S] [--no-kernel]
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "HeartbeatWheel.h"
#include "Kernel.h"

namespace {

struct Load {
    std::vector<int64_t> interval;  // ms
    std::vector<int64_t> first;     // first due time, ms
};

Load MakeLoad(int beats, uint64_t seed) {
    std::mt19937_64 rng(seed);
    Load l;
    l.interval.resize(beats);
    l.first.resize(beats);
    for (int i = 0; i < beats; ++i) {
        l.interval[i] = 1000 * (1 + static_cast<int64_t>(rng() % 60));
        l.first[i] = 1 + static_cast<int64_t>(rng() % l.interval[i]);
    }
    return l;
}

// CPU time of this thread: the machine may be shared, and wall time would
// charge other processes' work to whichever scheduler ran meanwhile.
double CpuNow() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}
double Seconds(double t0) {
    return CpuNow() - t0;
}

// Checksum of the firing order, so both schedulers are seen to do the same work.
struct Digest {
    uint64_t fires = 0;
    uint64_t hash = 1469598103934665603ull;
    void Add(int64_t when, uint64_t idx) {
        ++fires;
        hash = (hash ^ static_cast<uint64_t>(when) ^ (idx << 40)) * 1099511628211ull;
    }
};

Digest RunWheel(const Load& l, int64_t end, double& secs) {
    host::HeartbeatWheel w;
    for (size_t i = 0; i < l.interval.size(); ++i) w.Schedule(l.first[i], i, i, l.interval[i]);
    Digest d;
    std::vector<host::HeartbeatWheel::Expired> batch;
    int64_t when = 0;
    const double t0 = CpuNow();
    while (w.PopDue(end, batch, when))
        for (const auto& e : batch) d.Add(when, e.payload);
    secs = Seconds(t0);
    return d;
}

Digest RunHeap(const Load& l, int64_t end, double& secs) {
    struct Item {
        int64_t due;
        uint64_t seq;
        uint64_t idx;
        bool operator>(const Item& o) const { return due != o.due ? due > o.due : seq > o.seq; }
    };
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> q;
    for (size_t i = 0; i < l.interval.size(); ++i) q.push(Item{l.first[i], i, i});
    Digest d;
    const double t0 = CpuNow();
    while (!q.empty() && q.top().due <= end) {
        const Item it = q.top();
        q.pop();
        d.Add(it.due, it.idx);
        q.push(Item{it.due + l.interval[it.idx], it.seq, it.idx});
    }
    secs = Seconds(t0);
    return d;
}

uint64_t g_kernelFires = 0;
int CountBeat(IKernel*, const ObjectId&) {
    ++g_kernelFires;
    return 1;
}

double RunKernel(const Load& l, int64_t end) {
    host::KernelOptions o;
    o.echoToTerminal = false;
    host::Kernel k(o);
    k.log().SetEnabled(false);
    k.DeclareHeartBeat("Bench::Count", CountBeat);
    std::vector<ObjectId> objs;
    for (size_t i = 0; i < l.interval.size(); ++i) {
        host::ObjectSpec objDef;
        objDef.className = "Flag";
        objDef.raiseOnLoad = false;
        objs.push_back(k.CreateObject(objDef));
    }
    // Attach each beat so that its first firing falls at its phase.
    std::vector<size_t> order(l.interval.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    g_kernelFires = 0;
    for (size_t i = 0; i < order.size(); ++i)
        k.AddHeartBeat(objs[i], "Bench::Count", static_cast<int>(l.interval[i]));
    const double t0 = CpuNow();
    k.AdvanceTime(end);
    return Seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
    int beats = 200000;
    double hours = 1.0;
    uint64_t seed = 7;
    bool kernel = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--beats") && i + 1 < argc)
            beats = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--hours") && i + 1 < argc)
            hours = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--no-kernel"))
            kernel = false;
        else {
            std::fprintf(stderr, "usage: %s [--beats N] [--hours H] [--seed S] [--no-kernel]\n",
                         argv[0]);
            return 2;
        }
    }
    const int64_t end = static_cast<int64_t>(hours * 3600 * 1000);
    const Load load = MakeLoad(beats, seed);

    double wheelSecs = 0, heapSecs = 0;
    const Digest heap = RunHeap(load, end, heapSecs);
    const Digest wheel = RunWheel(load, end, wheelSecs);
    if (heap.fires != wheel.fires || heap.hash != wheel.hash) {
        std::fprintf(stderr, "schedulers disagree: %llu vs %llu fires\n",
                     static_cast<unsigned long long>(heap.fires),
                     static_cast<unsigned long long>(wheel.fires));
        return 1;
    }
    std::printf("%d heartbeats, intervals 1-60 s, %.2f virtual hours: %llu fires, same order\n",
                beats, hours, static_cast<unsigned long long>(wheel.fires));
    std::printf("  (thread CPU time)\n");
    std::printf("  binary heap : %8.3f s  %12.0f fires/s\n", heapSecs, wheel.fires / heapSecs);
    std::printf("  timer wheel : %8.3f s  %12.0f fires/s\n", wheelSecs, wheel.fires / wheelSecs);
    std::printf("  ratio wheel/heap: %.2fx\n", heapSecs / wheelSecs);
    if (kernel) {
        const double k = RunKernel(load, end);
        std::printf("  kernel AdvanceTime (heartbeats on objects): %.3f s  %.0f fires/s\n", k,
                    g_kernelFires / k);
    }
    return 0;
}
