// Build-and-read cost of the plug-in's variant list against a vector of
// std::variant doing the same work, with heap allocations counted per list.
//
// Every callback builds a few short argument lists, so what matters is the
// whole life of a small list: construct, append, read each value, destroy.
// CVarList is read twice over: through the concrete class (inline reads, as
// the plug-in reads its own lists) and through IVarList (virtual reads, as a
// host reads what the plug-in hands it). At the end the run prints how many
// times faster CVarList was than each peer, against the goals.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "VarList.h"

// ---- allocation counting ----------------------------------------------------
// CVarList allocates with std::malloc, std::vector with operator new; both are
// counted. Under AddressSanitizer the sanitizer owns malloc, so its hook
// interface counts instead of the overrides.
namespace {
thread_local uint64_t t_allocations = 0;
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define VARLIST_BENCH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARLIST_BENCH_ASAN 1
#endif
#endif

#ifdef VARLIST_BENCH_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));
namespace {
void CountMalloc(const volatile void*, size_t) {
    ++t_allocations;
}
void IgnoreFree(const volatile void*) {}
const bool g_hooked = __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree) != 0;
}  // namespace
#else
extern "C" void* __libc_malloc(size_t size);
extern "C" void __libc_free(void* p);

extern "C" void* malloc(size_t size) noexcept {
    ++t_allocations;
    return __libc_malloc(size);
}

// operator new counts itself and goes to the C allocator directly, so one
// allocation is never counted twice.
void* operator new(size_t size) {
    ++t_allocations;
    if (void* p = __libc_malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    __libc_free(p);
}
void operator delete[](void* p) noexcept {
    __libc_free(p);
}
void operator delete(void* p, size_t) noexcept {
    __libc_free(p);
}
void operator delete[](void* p, size_t) noexcept {
    __libc_free(p);
}
#endif

namespace {

using Value = std::variant<int, int64_t, float, std::string, std::u16string, ObjectId>;
using ValueVector = std::vector<Value>;

const char* const kNames[] = {"npc_01", "boss", "farm_2"};
// Object ids come from the kernel as finished values, not built field by field
// just before the append.
const ObjectId kIds[4] = {{1, 7}, {2, 7}, {3, 9}, {4, 9}};

template <typename T>
const T* As(const ValueVector& v, size_t i) {
    return i < v.size() ? std::get_if<T>(&v[i]) : nullptr;
}

// The same typed reads CVarList offers: a default when the type differs.
int IntAt(const ValueVector& v, size_t i) {
    const int* p = As<int>(v, i);
    return p ? *p : 0;
}
float FloatAt(const ValueVector& v, size_t i) {
    const float* p = As<float>(v, i);
    return p ? *p : 0.0f;
}
const char* StringAt(const ValueVector& v, size_t i) {
    const std::string* p = As<std::string>(v, i);
    return p ? p->c_str() : "";
}
ObjectId ObjectAt(const ValueVector& v, size_t i) {
    const ObjectId* p = As<ObjectId>(v, i);
    return p ? *p : ObjectId{};
}

// The list seen as a host sees it: through IVarList, its dynamic type hidden
// from the optimiser so every read is the virtual call a host makes.
const IVarList& ThroughInterface(const CVarList& l) {
    const IVarList* p = &l;
    benchmark::DoNotOptimize(p);
    return *p;
}

template <typename List>
float Sum4(const List& l) {
    return float(l.IntVal(0)) + l.FloatVal(1) + float(l.StringVal(2)[0]) +
           float(l.ObjectVal(3).ident);
}

template <typename List>
float Sum12(const List& l) {
    float sum = 0;
    for (uint64_t i = 0; i < 12; i += 4) {
        sum += float(l.IntVal(i)) + l.FloatVal(i + 1) + float(l.StringVal(i + 2)[0]) +
               float(l.ObjectVal(i + 3).serial);
    }
    return sum;
}

// ---- four entries: int, float, short string, object id ------------------------

template <bool ViaInterface>
void BM_CVarList_4(benchmark::State& state) {
    const uint64_t before = t_allocations;
    int n = 0;
    for (auto _ : state) {
        CVarList l;
        l.AddInt(n);
        l.AddFloat(0.5f);
        l.AddString(kNames[0]);
        l.AddObject(kIds[n & 3]);
        benchmark::DoNotOptimize(l);
        float sum = ViaInterface ? Sum4(ThroughInterface(l)) : Sum4(l);
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.counters["allocs/list"] =
        benchmark::Counter(double(t_allocations - before), benchmark::Counter::kAvgIterations);
}

template <bool Reserve>
void BM_VariantVector_4(benchmark::State& state) {
    const uint64_t before = t_allocations;
    int n = 0;
    for (auto _ : state) {
        ValueVector v;
        if (Reserve) v.reserve(8);
        v.emplace_back(n);
        v.emplace_back(0.5f);
        v.emplace_back(std::in_place_type<std::string>, kNames[0]);
        v.emplace_back(kIds[n & 3]);
        benchmark::DoNotOptimize(v);
        float sum = float(IntAt(v, 0)) + FloatAt(v, 1) + float(StringAt(v, 2)[0]) +
                    float(ObjectAt(v, 3).ident);
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.counters["allocs/list"] =
        benchmark::Counter(double(t_allocations - before), benchmark::Counter::kAvgIterations);
}

// ---- twelve entries: past the inline entries, payloads still in the arena ------

template <bool ViaInterface>
void BM_CVarList_12(benchmark::State& state) {
    const uint64_t before = t_allocations;
    int n = 0;
    for (auto _ : state) {
        CVarList l;
        for (int k = 0; k < 3; ++k) {
            l.AddInt(n + k);
            l.AddFloat(0.25f * float(k));
            l.AddString(kNames[k]);
            l.AddObject(kIds[(n + k) & 3]);
        }
        benchmark::DoNotOptimize(l);
        float sum = ViaInterface ? Sum12(ThroughInterface(l)) : Sum12(l);
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.counters["allocs/list"] =
        benchmark::Counter(double(t_allocations - before), benchmark::Counter::kAvgIterations);
}

template <bool Reserve>
void BM_VariantVector_12(benchmark::State& state) {
    const uint64_t before = t_allocations;
    int n = 0;
    for (auto _ : state) {
        ValueVector v;
        if (Reserve) v.reserve(8);
        for (int k = 0; k < 3; ++k) {
            v.emplace_back(n + k);
            v.emplace_back(0.25f * float(k));
            v.emplace_back(std::in_place_type<std::string>, kNames[k]);
            v.emplace_back(kIds[(n + k) & 3]);
        }
        benchmark::DoNotOptimize(v);
        float sum = 0;
        for (size_t i = 0; i < 12; i += 4) {
            sum += float(IntAt(v, i)) + FloatAt(v, i + 1) + float(StringAt(v, i + 2)[0]) +
                   float(ObjectAt(v, i + 3).serial);
        }
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.counters["allocs/list"] =
        benchmark::Counter(double(t_allocations - before), benchmark::Counter::kAvgIterations);
}

BENCHMARK_TEMPLATE(BM_CVarList_4, false)->Name("BM_CVarList_4");
BENCHMARK_TEMPLATE(BM_CVarList_4, true)->Name("BM_CVarList_4_IVarList");
BENCHMARK_TEMPLATE(BM_VariantVector_4, false)->Name("BM_VariantVector_4");
BENCHMARK_TEMPLATE(BM_VariantVector_4, true)->Name("BM_VariantVector_4_Reserve8");
BENCHMARK_TEMPLATE(BM_CVarList_12, false)->Name("BM_CVarList_12");
BENCHMARK_TEMPLATE(BM_CVarList_12, true)->Name("BM_CVarList_12_IVarList");
BENCHMARK_TEMPLATE(BM_VariantVector_12, false)->Name("BM_VariantVector_12");
BENCHMARK_TEMPLATE(BM_VariantVector_12, true)->Name("BM_VariantVector_12_Reserve8");

// Collects CPU time per benchmark for the closing summary: the median when
// the run was repeated, otherwise the single measurement.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const std::string name = r.run_name.function_name;
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                m_median[name] = r.GetAdjustedCPUTime();
            } else if (r.run_type == Run::RT_Iteration) {
                m_single[name] = r.GetAdjustedCPUTime();
                auto a = r.counters.find("allocs/list");
                if (a != r.counters.end()) m_allocs[name] = a->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatio(const char* fast, const char* slow, double target) const {
        const double f = Time(fast), s = Time(slow);
        if (f <= 0 || s <= 0) return;
        const double ratio = s / f;
        std::printf("%-28s / %-22s = %5.2fx", slow, fast, ratio);
        if (target > 0) {
            std::printf("  (goal >= %.0fx: %s)", target, ratio >= target ? "PASS" : "MISS");
        }
        std::printf("\n");
    }

    void PrintAllocs(const char* name, double goal) const {
        auto a = m_allocs.find(name);
        if (a == m_allocs.end()) return;
        std::printf("%-28s   allocations per list = %.2f  (goal <= %.0f: %s)\n", name, a->second,
                    goal, a->second <= goal ? "PASS" : "MISS");
    }

private:
    double Time(const std::string& name) const {
        auto m = m_median.find(name);
        if (m != m_median.end()) return m->second;
        auto s = m_single.find(name);
        return s != m_single.end() ? s->second : 0.0;
    }

    std::map<std::string, double> m_median;
    std::map<std::string, double> m_single;
    std::map<std::string, double> m_allocs;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nCVarList speed-up (CPU time), read through the class and through IVarList:\n");
    for (const char* list : {"BM_CVarList_4", "BM_CVarList_4_IVarList"}) {
        reporter.PrintRatio(list, "BM_VariantVector_4", 4);
        reporter.PrintRatio(list, "BM_VariantVector_4_Reserve8", 2);
    }
    for (const char* list : {"BM_CVarList_12", "BM_CVarList_12_IVarList"}) {
        reporter.PrintRatio(list, "BM_VariantVector_12", 0);
        reporter.PrintRatio(list, "BM_VariantVector_12_Reserve8", 0);
    }
    reporter.PrintAllocs("BM_CVarList_4", 0);
    reporter.PrintAllocs("BM_CVarList_4_IVarList", 0);
    reporter.PrintAllocs("BM_CVarList_12", 1);
    reporter.PrintAllocs("BM_CVarList_12_IVarList", 1);
    benchmark::Shutdown();
    return 0;
}
