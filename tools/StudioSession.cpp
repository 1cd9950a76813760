// The studio's edit, recompute, save and simulate operations.
#include "StudioSession.h"

#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "CheckReporting.h"
#include "DataChecker.h"
#include "EncounterSizes.h"
#include "Gbk.h"
#include "IniEdit.h"
#include "IniFile.h"
#include "OddsDiff.h"
#include "OddsModel.h"
#include "Simulator.h"
#include "TeamSystem.h"
#include "TextCodec.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace tools {

namespace {

const char* const kEditable[] = {"Npc/ModelProb.ini", "Npc/CreatorProb.ini",
                                 "Npc/NpcCreatorRefresh.ini"};

bool ReadFile(const fs::path& path, std::string& out) {
    return check::ReadBytes(path.string(), out);
}

// Writes next to the target and renames over it, so a failed write never
// leaves a half-written table behind; the file keeps its permissions.
bool WriteFileAtomically(const fs::path& path, const std::string& bytes) {
    const fs::path tmp = path.string() + ".studio-tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    std::error_code ec;
    const fs::perms perms = fs::status(path, ec).permissions();
    if (!ec) fs::permissions(tmp, perms, ec);
    fs::rename(tmp, path, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

double Millis(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

json Error(const std::string& message) {
    return json{{"error", message}};
}

json Utf8Json(const json& j) {
    // Descriptions may hold GBK bytes that are no UTF-8: they were converted
    // already; this only guards the dump against anything left over.
    return json::parse(j.dump(-1, ' ', false, json::error_handler_t::replace));
}

json ModelJson(const OddsModel& m, const std::vector<int>& sizes) {
    json creators = json::array();
    for (const CreatorOdds& c : m.creators) {
        json models = json::array();
        for (const ModelOdds& mo : c.models) {
            models.push_back({{"model", mo.row.model},
                              {"weight", ShortestFloatText(mo.row.weight)},
                              {"description", ToUtf8(mo.row.description)},
                              {"index", mo.row.index},
                              {"line", mo.row.line},
                              {"hits", mo.hits},
                              {"chance", mo.chance},
                              {"getsNpcs", mo.getsNpcs}});
        }
        creators.push_back({{"creator", c.creator},
                            {"section", ToUtf8(c.section.name)},
                            {"line", c.section.line},
                            {"sum", ShortestFloatText(c.sum)},
                            {"missChance", c.missChance},
                            {"fillStopLine", c.fillStopLine},
                            {"models", models}});
    }
    json indexes = json::array();
    for (const auto& [index, io] : m.indexes) {
        json npcs = json::array();
        for (const NpcOdds& n : io.npcs) {
            npcs.push_back({{"npcConfig", n.row.npcConfig},
                            {"weight", ShortestFloatText(n.row.weight)},
                            {"slotType", n.row.slotType},
                            {"line", n.row.line},
                            {"fixed", n.fixed},
                            {"fixedSlot", n.fixedSlot},
                            {"hits", n.hits},
                            {"chance", n.chance}});
        }
        json fixedAt = json::array();
        for (const auto& at : io.fixedAt) fixedAt.push_back(at);
        json slots = json::array();  // per team size 1..5
        for (int size : sizes) {
            const auto chances = SlotChances(io, size);
            slots.push_back(json(std::vector<double>(chances.begin(), chances.end())));
        }
        indexes.push_back({{"index", index},
                           {"line", io.section.line},
                           {"sum", ShortestFloatText(io.sum)},
                           {"missChance", io.missChance},
                           {"fixedAt", fixedAt},
                           {"slotChances", slots},
                           {"npcs", npcs}});
    }
    return {{"creators", creators}, {"indexes", indexes}};
}

// The area boss system's one setting, with where it is written.
json AreaBossJson(const fs::path& dir) {
    const std::string path = (dir / "Npc/NpcCreatorRefresh.ini").string();
    CIniFile ini(path.c_str());
    json j = {{"file", "Npc/NpcCreatorRefresh.ini"}, {"found", ini.LoadFromFile()}};
    j["checkFrequency"] = ini.ReadInteger("AreaBoss", "CheckFrequency", 60);
    j["line"] = 0;
    const IniSection* section = ini.FindSection("AreaBoss");
    const IniItem* item = section ? ini.FindItem(*section, "CheckFrequency") : nullptr;
    for (size_t s = 0; item && s < ini.GetSectionCount(); ++s) {
        if (ini.FindSection(ini.GetSectionName(s)) != section) continue;
        for (size_t e = 0; e < section->items.size(); ++e) {
            if (&section->items[e] == item) j["line"] = ini.GetItemLine(s, e);
        }
        break;
    }
    return j;
}

}  // namespace

struct StudioSession::SimRun {
    std::atomic<long long> done{0};
    std::atomic<long long> total{0};
    std::atomic<bool> finished{false};
    std::mutex mutex;
    json result;
    fs::path snapshot;
};

StudioSession::~StudioSession() {
    if (m_simThread.joinable()) m_simThread.join();
    std::error_code ec;
    if (!m_scratch.empty()) fs::remove_all(m_scratch, ec);
}

bool StudioSession::IsEditableFile(const std::string& file) {
    for (const char* f : kEditable) {
        if (file == f) return true;
    }
    return false;
}

bool StudioSession::Open(const std::string& dir, const std::string& baselineDir,
                         const std::string& pluginPath, std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        error = dir + " is not a directory";
        return false;
    }
    m_dir = fs::canonical(dir, ec);
    if (!baselineDir.empty() && !fs::is_directory(baselineDir, ec)) {
        error = baselineDir + " is not a directory";
        return false;
    }
    m_baseline = baselineDir;
    m_plugin = pluginPath;
    std::string tmpl = (fs::temp_directory_path() / "rulehost_studio_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        error = "cannot make a scratch directory";
        return false;
    }
    m_scratch = tmpl;
    fs::copy(m_dir, m_scratch, fs::copy_options::recursive, ec);
    if (ec) {
        error = "cannot copy " + dir + ": " + ec.message();
        return false;
    }
    for (const char* f : kEditable) {
        std::string bytes;
        if (ReadFile(m_dir / f, bytes)) m_onDisk[f] = bytes;
    }
    return true;
}

json StudioSession::State() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return StateLocked();
}

json StudioSession::StateLocked() {
    const auto start = std::chrono::steady_clock::now();
    const std::string scratch = m_scratch.string();
    const OddsModel model = LoadOddsModel(scratch);
    const EncounterSizes sizeTexts = EncounterSizesOf(scratch);
    std::vector<int> sizes;
    for (size_t t = 0; t < 5; ++t) {
        // A size that is no whole number makes the plug-in fall back (team
        // count) or read 0; the grid shows the whole-number answers.
        const std::string s = t < sizeTexts.size() ? sizeTexts[t] : "";
        char* end = nullptr;
        const long v = std::strtol(s.c_str(), &end, 10);
        sizes.push_back(end != s.c_str() ? int(v) : int(t + 1));
    }
    json j = ModelJson(model, sizes);
    j["dir"] = m_dir.string();
    j["encounterSizes"] = sizeTexts;
    j["farmTeamSize"] = host::TeamSystem::kMaxMembers;
    j["areaBoss"] = AreaBossJson(m_scratch);
    json findings = json::array();
    for (const Diagnostic& d : CheckResources(scratch).diagnostics) {
        findings.push_back({{"file", d.file},
                            {"line", d.line},
                            {"severity", SeverityName(d.severity)},
                            {"message", d.message}});
    }
    j["findings"] = findings;
    json edited = json::array();
    for (const auto& [file, bytes] : m_edited) edited.push_back(file);
    j["edited"] = edited;
    j["baseline"] = m_baseline;
    if (!m_baseline.empty()) {
        const OddsDiff diff =
            DiffOdds(LoadOddsModel(m_baseline), model, EncounterSizesOf(m_baseline), sizeTexts);
        json entries = json::array();
        for (const DiffEntry& e : diff.entries) {
            json x = {{"kind", DiffKindName(e.kind)},
                      {"file", e.file},
                      {"line", e.line},
                      {"subject", e.subject},
                      {"text", DiffLine(e)}};
            if (e.kind == DiffKind::kChance) {
                x["before"] = ChanceText(e.before);
                x["after"] = ChanceText(e.after);
                x["change"] = fmt::format("{:+.3f}%", (e.after - e.before) * 100.0);
            } else {
                x["before"] = e.beforeText;
                x["after"] = e.afterText;
            }
            entries.push_back(std::move(x));
        }
        j["diff"] = entries;
    }
    j["recomputeMs"] = Millis(start);
    return Utf8Json(j);
}

bool StudioSession::WriteScratch(const std::string& file, const std::string& bytes) {
    return WriteFileAtomically(m_scratch / file, bytes);
}

json StudioSession::Edit(const std::string& file, int line, int field, const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsEditableFile(file)) return Error("refused: " + file + " is not a table of the folder");
    std::string bytes;
    auto it = m_edited.find(file);
    if (it != m_edited.end()) {
        bytes = it->second;
    } else if (!ReadFile(m_scratch / file, bytes)) {
        return Error(file + " cannot be read");
    }
    // Tables are GBK; the page sends UTF-8. A file that already is UTF-8
    // with non-ASCII text keeps UTF-8.
    std::string stored = text;
    const bool utf8File =
        IsValidUtf8(bytes) && bytes.find_first_of(std::string("\x80\xff", 2)) != std::string::npos;
    if (!IsValidUtf8(text)) return Error("the text is not UTF-8");
    if (!utf8File) {
        stored = host::Utf8ToGbk(text);
        if (host::GbkToUtf8(stored) != text)
            return Error("the text has characters GBK cannot hold");
    }
    std::string error;
    if (!ReplaceIniField(bytes, line, field, stored, error)) return Error(error);
    if (!WriteScratch(file, bytes)) return Error("cannot write the scratch copy");
    if (m_onDisk.count(file) != 0 && m_onDisk[file] == bytes) {
        m_edited.erase(file);
    } else {
        m_edited[file] = bytes;
    }
    json state = StateLocked();
    state["editMs"] = Millis(start);
    return state;
}

json StudioSession::Save(const std::string& file, bool confirm) {
    const auto start = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsEditableFile(file)) return Error("refused: " + file + " is not a table of the folder");
    auto it = m_edited.find(file);
    if (it == m_edited.end()) return Error(file + " has no unsaved change");
    // The target must stay inside the folder, also through symbolic links.
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(m_dir / file, ec);
    const std::string root = m_dir.string() + "/";
    if (ec || target.string().compare(0, root.size(), root) != 0) {
        return Error("refused: " + file + " resolves outside " + m_dir.string());
    }
    if (!confirm) {
        json errors = json::array();
        for (const Diagnostic& d : CheckResources(m_scratch.string()).diagnostics) {
            if (d.severity == Severity::kError) errors.push_back(FormatDiagnostic(d));
        }
        std::string current;
        const bool present = ReadFile(target, current);
        if (present != (m_onDisk.count(file) != 0) || (present && current != m_onDisk[file])) {
            errors.push_back(file + " changed on disk since the studio read it");
        }
        if (!errors.empty()) {
            return json{{"needsConfirm", true}, {"errors", Utf8Json(errors)}};
        }
    }
    if (!WriteFileAtomically(target, it->second)) return Error("cannot write " + target.string());
    m_onDisk[file] = it->second;
    m_edited.erase(it);
    json state = StateLocked();
    state["saved"] = file;
    state["saveMs"] = Millis(start);
    return state;
}

json StudioSession::Discard(const std::string& file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!IsEditableFile(file)) return Error("refused: " + file + " is not a table of the folder");
    auto disk = m_onDisk.find(file);
    if (disk != m_onDisk.end()) WriteScratch(file, disk->second);
    m_edited.erase(file);
    return StateLocked();
}

json StudioSession::StartSimulation(int creator, long long selects, int teamSize) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sim && !m_sim->finished) return Error("a simulation is running");
    if (selects < 1 || selects > 10'000'000) return Error("selects must be 1 to 10000000");
    if (m_simThread.joinable()) m_simThread.join();
    auto run = std::make_shared<SimRun>();
    // The simulation reads a snapshot, so edits made meanwhile do not mix in.
    std::string tmpl = (fs::temp_directory_path() / "rulehost_studio_sim_XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return Error("cannot make a scratch directory");
    run->snapshot = tmpl;
    std::error_code ec;
    fs::copy(m_scratch, run->snapshot, fs::copy_options::recursive, ec);
    run->total = selects;
    m_sim = run;
    SimulateOptions o;
    o.pluginPath = m_plugin;
    o.resourceDir = run->snapshot.string() + "/";
    o.creator = creator;
    o.selects = selects;
    o.teamSize = teamSize;
    o.progress = [run](int64_t done, int64_t) { run->done = done; };
    m_simThread = std::thread([run, o]() {
        const SimulationResult r = RunSimulation(o);
        json j = r.ok ? json::parse(SimulationJson(r)) : Error(r.error);
        {
            std::lock_guard<std::mutex> l(run->mutex);
            run->result = std::move(j);
        }
        std::error_code e;
        fs::remove_all(run->snapshot, e);
        run->finished = true;
    });
    return json{{"started", true}};
}

json StudioSession::Simulation() {
    std::shared_ptr<SimRun> run;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        run = m_sim;
    }
    if (!run) return json{{"running", false}};
    json j = {
        {"running", !run->finished}, {"done", run->done.load()}, {"total", run->total.load()}};
    if (run->finished) {
        std::lock_guard<std::mutex> l(run->mutex);
        j["result"] = run->result;
    }
    return j;
}

}  // namespace tools
