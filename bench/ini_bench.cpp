// INI parse throughput: the plug-in's reader against two common INI
// libraries and against the practical limit (read the file, count newlines).
//
// Two files are generated in a temporary directory: about 10 MB shaped like
// the game's probability tables (20,000 sections of 20 entries such as
// "Entry07=1201,0.25,wolf,7"), and a 2 KB file like the small refresh tables.
// Every reader is used as its users would: everything is parsed, and each
// key and value is copied out (or, for the plug-in's reader, which already
// owns copies, walked by index as the modules walk it).
//
// After the runs a summary prints MB/s per reader and file and the ratios
// the reader is held to, each with PASS or MISS against its goal.
// Narrow bytes only, as the game files are GBK: no wide-character converter.
#define SI_NO_CONVERSION
// The packaged header keeps its template bodies behind this switch; define
// it to use the library header-only, as its documentation describes.
#define SI_IMPLEMENTATION
#include <INIReader.h>
#include <SimpleIni.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ini.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "IniFile.h"

namespace {

struct Files {
    std::string dir;
    std::string large;
    std::string small;
    size_t largeSize = 0;
    size_t smallSize = 0;
};

Files g_files;

size_t WriteFile(const std::string& path, const std::string& text) {
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr) return 0;
    std::fwrite(text.data(), 1, text.size(), fp);
    std::fclose(fp);
    return text.size();
}

// Deterministic pseudo-random values so every run parses the same bytes.
uint32_t Next(uint32_t& s) {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

std::string GameShaped(int sections, int entries) {
    static const char* const kNames[] = {"wolf",  "bear",  "boar",  "bandit",
                                         "ghost", "tiger", "snake", "monk"};
    std::string out;
    out.reserve(size_t(sections) * size_t(entries) * 28);
    uint32_t s = 12345;
    char line[96];
    out += "; model probabilities: id,chance,model,weight\r\n";
    for (int sec = 0; sec < sections; ++sec) {
        std::snprintf(line, sizeof line, "[%d]\r\n", 1000 + sec);
        out += line;
        for (int e = 0; e < entries; ++e) {
            std::snprintf(line, sizeof line, "Entry%02d=%u,0.%02u,%s,%u\r\n", e,
                          1000 + Next(s) % 9000, Next(s) % 100, kNames[Next(s) % 8],
                          1 + Next(s) % 9);
            out += line;
        }
    }
    return out;
}

std::string SmallFile() {
    std::string out = "; refresh table\r\n[AreaBoss]\r\nCheckFrequency=30\r\n";
    uint32_t s = 777;
    char line[96];
    for (int sec = 0; out.size() < 2048 - 64; ++sec) {
        std::snprintf(line, sizeof line, "[Boss%d]\r\n", sec);
        out += line;
        for (int e = 0; e < 5 && out.size() < 2048 - 32; ++e) {
            std::snprintf(line, sizeof line, "Point%d=%u,0.%02u,boss,%u\r\n", e,
                          1000 + Next(s) % 9000, Next(s) % 100, 1 + Next(s) % 9);
            out += line;
        }
    }
    return out;
}

void MakeFiles() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ini_bench_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) std::abort();
    g_files.dir = buf.data();
    g_files.large = g_files.dir + "/large.ini";
    g_files.small = g_files.dir + "/small.ini";
    g_files.largeSize = WriteFile(g_files.large, GameShaped(20000, 20));
    g_files.smallSize = WriteFile(g_files.small, SmallFile());
}

void RemoveFiles() {
    ::unlink(g_files.large.c_str());
    ::unlink(g_files.small.c_str());
    ::rmdir(g_files.dir.c_str());
}

const std::string& PathOf(int which) {
    return which == 0 ? g_files.large : g_files.small;
}
size_t SizeOf(int which) {
    return which == 0 ? g_files.largeSize : g_files.smallSize;
}

// ---- readers ---------------------------------------------------------------------

void BM_CIniFile(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        CIniFile ini(PathOf(which).c_str());
        if (!ini.LoadFromFile()) state.SkipWithError("load failed");
        size_t bytes = 0;
        for (size_t s = 0; s < ini.GetSectionCount(); ++s) {
            for (size_t i = 0; i < ini.GetItemCount(s); ++i) {
                const char* key = nullptr;
                const char* value = nullptr;
                ini.GetItem(s, i, key, value);
                bytes += size_t(key[0]) + size_t(value[0]);
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SizeOf(which)));
}

// inih's C interface hands out transient pointers; its users copy them into
// their own structure. The cheapest such structure is the one CIniFile
// builds: sections in order, each a list of key/value strings.
struct InihTable {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
};

int InihHandler(void* user, const char* section, const char* name, const char* value) {
    auto* t = static_cast<InihTable*>(user);
    if (t->sections.empty() || t->sections.back().first != section)
        t->sections.emplace_back(section, std::vector<std::pair<std::string, std::string>>());
    t->sections.back().second.emplace_back(name, value);
    return 1;
}

void BM_Inih(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        InihTable table;
        if (ini_parse(PathOf(which).c_str(), InihHandler, &table) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(table.sections.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SizeOf(which)));
}

// inih's own C++ interface: a map from "section=key" to value.
void BM_InihReader(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        INIReader reader(PathOf(which));
        if (reader.ParseError() != 0) state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(reader.Get("AreaBoss", "CheckFrequency", ""));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SizeOf(which)));
}

void BM_SimpleIni(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        CSimpleIniA ini;
        if (ini.LoadFile(PathOf(which).c_str()) < 0) state.SkipWithError("load failed");
        std::vector<std::pair<std::string, std::string>> out;
        CSimpleIniA::TNamesDepend sections;
        ini.GetAllSections(sections);
        sections.sort(CSimpleIniA::Entry::LoadOrder());
        for (const auto& sec : sections) {
            CSimpleIniA::TNamesDepend keys;
            ini.GetAllKeys(sec.pItem, keys);
            keys.sort(CSimpleIniA::Entry::LoadOrder());
            for (const auto& key : keys)
                out.emplace_back(key.pItem, ini.GetValue(sec.pItem, key.pItem, ""));
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SizeOf(which)));
}

// The practical limit: open, learn the size, read it whole, count newlines.
void BM_ReadAndCount(benchmark::State& state) {
    const int which = int(state.range(0));
    for (auto _ : state) {
        const int fd = ::open(PathOf(which).c_str(), O_RDONLY);
        if (fd < 0) state.SkipWithError("open failed");
        const off_t size = ::lseek(fd, 0, SEEK_END);
        ::lseek(fd, 0, SEEK_SET);
        std::unique_ptr<char[]> buf(new char[size_t(size)]);
        const ssize_t got = ::read(fd, buf.get(), size_t(size));
        ::close(fd);
        size_t lines = 0;
        const char* p = buf.get();
        const char* end = p + (got > 0 ? got : 0);
        while ((p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(SizeOf(which)));
}

// range 0: the 10 MB file, range 1: the 2 KB file.
BENCHMARK(BM_CIniFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Inih)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InihReader)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SimpleIni)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadAndCount)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Console output as usual, plus a closing summary of MB/s and ratios.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With --benchmark_repetitions the median stands for the benchmark;
        // otherwise its single run does.
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type != Run::RT_Iteration && !median) continue;
            const std::string name = r.run_name.str();
            if (!median && m_fromMedian.count(name) != 0) continue;
            auto it = r.counters.find("bytes_per_second");
            if (it == r.counters.end()) continue;
            m_rate[name] = it->second.value / 1e6;
            if (median) m_fromMedian.insert(name);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nSummary (MB/s, 1 MB = 10^6 bytes; files %.2f MB and %zu bytes)\n",
                    double(g_files.largeSize) / 1e6, g_files.smallSize);
        for (const char* file : {"0", "1"}) {
            const std::string f = file;
            std::printf("  %s file:\n", f == "0" ? "10 MB" : "2 KB");
            for (const char* bm :
                 {"BM_CIniFile", "BM_Inih", "BM_InihReader", "BM_SimpleIni", "BM_ReadAndCount"})
                std::printf("    %-16s %10.1f\n", bm, Rate(bm, f));
        }
        const double peer =
            std::max({Rate("BM_Inih", "0"), Rate("BM_InihReader", "0"), Rate("BM_SimpleIni", "0")});
        if (peer > 0) {
            const double speedUp = Rate("BM_CIniFile", "0") / peer;
            std::printf("  10 MB: CIniFile / fastest peer speed = %.2fx (goal >= 5x): %s\n",
                        speedUp, speedUp >= 5 ? "PASS" : "MISS");
        }
        // Rates are bytes per second, so the time ratio is the inverse rate ratio.
        if (Rate("BM_CIniFile", "1") > 0 && Rate("BM_ReadAndCount", "1") > 0) {
            const double slowDown = Rate("BM_ReadAndCount", "1") / Rate("BM_CIniFile", "1");
            std::printf("  2 KB: CIniFile / read-and-count time = %.2fx (goal <= 2x): %s\n",
                        slowDown, slowDown <= 2 ? "PASS" : "MISS");
        }
    }

private:
    double Rate(const std::string& bm, const std::string& arg) const {
        auto it = m_rate.find(bm + "/" + arg);
        return it == m_rate.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> m_rate;
    std::set<std::string> m_fromMedian;
};

}  // namespace

int main(int argc, char** argv) {
    MakeFiles();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        RemoveFiles();
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    RemoveFiles();
    return 0;
}
