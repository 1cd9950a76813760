// `rulehost demo`: the sample world's timeline, built and printed.
#include "DemoWorld.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "DataChecker.h"
#include "EventTimeSystem.h"
#include "HostVarList.h"
#include "Kernel.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "TextCodec.h"
#include "VarType.h"
#include "World.h"

namespace tools {

namespace {

constexpr int64_t kSecond = 1000;
constexpr int64_t kMinute = 60 * kSecond;

std::string Clock(int64_t ms) {
    const int64_t s = ms / 1000;
    return fmt::format("{}:{:02}:{:02}", s / 3600, (s / 60) % 60, s % 60);
}

// Prints the world's event log as a timeline, naming the objects it knows.
class Timeline {
public:
    Timeline(std::FILE* out, bool verbose) : m_out(out), m_verbose(verbose) {}

    void Name(const ObjectId& id, const std::string& label) { m_labels[id] = label; }
    std::string Label(const ObjectId& id) const {
        if (id.IsNull()) return "nobody";
        auto it = m_labels.find(id);
        if (it != m_labels.end()) return it->second;
        return fmt::format("obj#{}:{}", id.ident, id.serial);
    }

    void Say(int64_t now, const std::string& text) {
        std::fprintf(m_out, "\n%s  == %s\n", Clock(now).c_str(), text.c_str());
        std::fflush(m_out);
    }

    std::string Value(const IVarList& list, uint64_t i) const {
        switch (list.GetType(i)) {
            case VTYPE_INT:
                return std::to_string(list.IntVal(i));
            case VTYPE_INT64:
                return std::to_string(list.Int64Val(i));
            case VTYPE_FLOAT:
                return ShortestFloatText(list.FloatVal(i));
            case VTYPE_STRING:
                return "\"" + ToUtf8(list.StringVal(i)) + "\"";
            case VTYPE_WIDESTR:
                return "\"" + host::Utf16ToUtf8(list.WideStrVal(i)) + "\"";
            case VTYPE_OBJECT:
                return Label(list.ObjectVal(i));
            default:
                return "?";
        }
    }
    std::string List(const IVarList& list, uint64_t from = 0) const {
        std::string s = "[";
        for (uint64_t i = from; i < list.GetCount(); ++i) {
            if (i > from) s += ", ";
            s += Value(list, i);
        }
        return s + "]";
    }

    // The encounter list of command 1001 in words.
    std::string Encounter(const IVarList& a) const {
        std::string s = fmt::format("encounter from {}: size {}{}:", Label(a.ObjectVal(1)),
                                    a.IntVal(3), a.IntVal(2) == 1 ? ", team leader" : "");
        for (uint64_t i = 4; i + 1 < a.GetCount(); i += 2) {
            s += fmt::format(" NPC {} at slot {}{}", a.IntVal(i), a.IntVal(i + 1),
                             i + 3 < a.GetCount() ? "," : "");
        }
        return s;
    }

    void OnEvent(const host::Event& e) {
        const std::string line = Describe(e);
        if (line.empty()) return;
        std::fprintf(m_out, "%s  %s\n", Clock(e.timeMs).c_str(), line.c_str());
        std::fflush(m_out);
    }

private:
    std::string Describe(const host::Event& e) const {
        using host::EventKind;
        switch (e.kind) {
            case EventKind::Command: {
                const int id = e.id;
                if (id == 1001) {
                    return fmt::format("{} <- command 1001, {}", Label(e.target),
                                       Encounter(e.args));
                }
                std::string what = fmt::format("{} -> {}  command {} {}", Label(e.sender),
                                               Label(e.target), id, List(e.args, 1));
                // The answer is not known yet when the command is logged.
                if (id == 976) what += "  (may the player select?)";
                if (id == 995) what += "  (may the model be re-drawn?)";
                if (id == 997) what += "  (encounter chosen)";
                if (id == 432) what += "  (creator menu)";
                if (id == 1018) what += "  (fight won)";
                if (id == 1019) what += "  (fight returned)";
                return what;
            }
            case EventKind::CommandByName:
                return fmt::format("command by name to \"{}\" {}", host::Utf16ToUtf8(e.targetName),
                                   List(e.args));
            case EventKind::CommandOffline:
                return fmt::format("offline command for \"{}\" {}", host::Utf16ToUtf8(e.targetName),
                                   List(e.args));
            case EventKind::Custom:
                return fmt::format("{} -> {}  message {}", Label(e.sender), Label(e.target),
                                   List(e.args));
            case EventKind::SysInfo:
                return fmt::format("notice \"{}\" (kind {}) to {} {}", e.name, e.id,
                                   Label(e.sender), List(e.args));
            case EventKind::SysInfoByWorld:
                return fmt::format("WORLD NOTICE \"{}\" (kind {}) {}", e.name, e.id, List(e.args));
            case EventKind::Property: {
                static const std::set<std::string> shown = {
                    "Model",       "NPCDes",     "SelectCount", "CantVisible",
                    "CurNPCCount", "IsFighting", "AutoTeamFarm"};
                if (!m_verbose && shown.count(e.name) == 0) return "";
                std::string what = fmt::format("{}.{} = {}", Label(e.sender), e.name, List(e.args));
                if (e.name == "CantVisible" && e.args.GetType(0) == VTYPE_INT) {
                    what += e.args.IntVal(0) == 0 ? "  (shown)" : "  (hidden)";
                }
                return what;
            }
            case EventKind::HeartbeatAdd:
                return fmt::format("{} heartbeat {} every {}", Label(e.sender), e.name,
                                   Seconds(e.id));
            case EventKind::HeartbeatRemove:
                return fmt::format("{} heartbeat {} removed", Label(e.sender), e.name);
            case EventKind::ClassEvent:
                if (!m_verbose && e.name != "OnSelect") return "";
                return fmt::format("{} {} from {} {}", Label(e.target), e.name, Label(e.sender),
                                   List(e.args));
            case EventKind::Trace:
                return "log: " + ToUtf8(e.text);
            case EventKind::Echo:
                return "console: " + ToUtf8(e.text);
            case EventKind::Host:
                return ToUtf8(e.text);
            case EventKind::Note: {
                static const std::set<std::string> quiet = {"encounter_chosen", "destroy",
                                                            "fight_ended", "select_function_0"};
                if (!m_verbose && quiet.count(e.name) != 0) return "";
                if (e.name == "fight_started") {
                    const int members = e.args.IntVal(1);
                    return fmt::format("fight started against {} ({} {} on the left side)",
                                       Label(e.args.ObjectVal(0)), members,
                                       members == 1 ? "player" : "players");
                }
                std::string what = e.name;
                std::replace(what.begin(), what.end(), '_', ' ');
                if (!e.sender.IsNull()) what += " (" + Label(e.sender) + ")";
                if (!e.text.empty()) what += ": " + ToUtf8(e.text);
                return what;
            }
        }
        return "";
    }

    static std::string Seconds(int ms) {
        if (ms % 1000 == 0) return fmt::format("{} s", ms / 1000);
        return fmt::format("{} ms", ms);
    }

    std::FILE* m_out;
    bool m_verbose;
    std::map<ObjectId, std::string> m_labels;
};

// Creator numbers from the data when the options leave them open.
bool PickCreators(const DemoOptions& o, std::vector<int>& creators, int& boss, int& farm,
                  std::string& why) {
    const CandidateTables tables = LoadCandidateTables(o.resourceDir);
    std::vector<int> numbers;
    for (const auto& [number, rows] : tables.models) numbers.push_back(number);
    // Sections in file order, as a designer reads them.
    std::sort(numbers.begin(), numbers.end(), [&](int a, int b) {
        return tables.modelSections.at(a).line < tables.modelSections.at(b).line;
    });
    if (numbers.empty() && (o.creators.empty() || o.boss == 0 || o.farm == 0)) {
        why = "no creator numbers: " + DisplayName("Npc\\ModelProb.ini") + " in " + o.resourceDir +
              " has no sections";
        return false;
    }
    farm = o.farm != 0 ? o.farm : numbers.back();
    boss = o.boss != 0 ? o.boss : numbers[numbers.size() >= 2 ? numbers.size() - 2 : 0];
    creators = o.creators;
    for (size_t i = 0; o.creators.empty() && i < numbers.size() && creators.size() < 3; ++i) {
        if (numbers[i] != boss && numbers[i] != farm) creators.push_back(numbers[i]);
    }
    if (creators.empty()) creators.push_back(numbers.front());
    return true;
}

host::Value Int(int v) {
    return host::Value(int32_t(v));
}

}  // namespace

bool RunDemo(const DemoOptions& o, std::FILE* out, DemoSummary& sum, std::string& why) {
    std::vector<int> creatorNumbers;
    int bossNumber = 0;
    int farmNumber = 0;
    if (!PickCreators(o, creatorNumbers, bossNumber, farmNumber, why)) return false;

    host::WorldOptions wo;
    wo.pluginPath = o.pluginPath;
    wo.resourceDir = o.resourceDir;
    wo.quiet = true;  // the timeline prints every line itself
    host::World world(wo);
    Timeline tl(out, o.verbose);
    const auto wallStart = std::chrono::steady_clock::now();

    std::fprintf(out, "rulehost demo: sample world on %s\n", o.pluginPath.c_str());
    std::fprintf(out, "resources: %s\n", o.resourceDir.c_str());
    if (!world.Start()) {
        why = "the host could not start the world: " + world.error();
        return false;
    }
    std::string modules;
    for (const char* name : {"AutoTeamFarmSystem", "AreaBossSystem", "NpcCreatorSystem"}) {
        if (world.FindModule(name) != nullptr) modules += std::string(" ") + name;
    }
    std::fprintf(out, "plug-in modules:%s\n", modules.c_str());
    for (const auto& m : world.lifecycle().initFailed) {
        std::fprintf(out, "module %s: Init failed\n", m.c_str());
    }
    const std::string problems =
        host::LoadingProblemsLine(world.startupTraceLines(), o.resourceDir);
    if (!problems.empty()) std::fprintf(stderr, "%s\n", problems.c_str());
    // Lines the plug-in logged while starting (resource errors and the like).
    world.Run([&](host::Kernel& k) {
        for (const auto& e : k.log().events()) {
            if (e.kind == host::EventKind::Trace || e.kind == host::EventKind::Echo) {
                tl.OnEvent(e);
            }
        }
        k.log().SetListener([&tl](const host::Event& e) { tl.OnEvent(e); });
    });

    ObjectId scene;
    std::vector<ObjectId> creators;
    ObjectId boss;
    ObjectId farm;
    std::map<std::string, ObjectId> players;
    auto at = [&](host::Kernel& k, int64_t ms) {
        if (ms > k.Now()) k.AdvanceTime(ms - k.Now());
    };
    auto player = [&](const std::string& name) { return players.at(name); };

    // ---- the world -------------------------------------------------------------
    world.Run([&](host::Kernel& k) {
        tl.Say(k.Now(),
               "the world: one scene, three creators, an area boss, a farm, eight players");
        scene = k.CreateScene("Capital", 305);
        tl.Name(scene, "scene 305");
        k.SetCurrentScene(scene);
        struct P {
            const char* name;
            int camp;
        };
        // Ascii names for the adventurers, Chinese ones for the farm team (wide
        // strings, shown here as UTF-8).
        const P people[] = {{"Aria", 1}, {"Borin", 1}, {"Cato", 1}, {"林月", 2},
                            {"王刚", 2}, {"赵敏", 2},  {"陈晨", 2}, {"周雪", 2}};
        for (const auto& p : people) {
            const ObjectId id = k.CreatePlayer(host::Utf8ToUtf16(p.name), p.camp, scene);
            players[p.name] = id;
            tl.Name(id, p.name);
        }

        tl.Say(k.Now(),
               "creators load: model candidates filled, a model drawn, heartbeats attached");
        for (size_t i = 0; i < creatorNumbers.size(); ++i) {
            host::ObjectSpec objDef;
            objDef.className = "NpcCreator";
            objDef.config = "NpcCreator";
            objDef.configIndex = creatorNumbers[i];
            objDef.scene = scene;
            objDef.raiseOnLoad = false;
            objDef.properties = {{"MaxSelectCount", Int(2)},
                                 {"RefreshTime", Int(60)},
                                 {"RefreshModelTime", Int(i == 1 ? 120 : 600)},
                                 {"NoticeByWorldRefresh", Int(i == 1 ? 1 : 0)},
                                 {"NoticeByWorldBeKilled", Int(i == 0 ? 1 : 0)}};
            const ObjectId c = k.CreateObject(objDef);
            tl.Name(c, fmt::format("creator {}", creatorNumbers[i]));
            creators.push_back(c);
            k.Load(c);
        }

        tl.Say(k.Now(), fmt::format("area boss {} loads: time point 00:20, two fights per period",
                                    bossNumber));
        host::ObjectSpec bossSpec;
        bossSpec.className = "AreaBossNPCCreator";
        bossSpec.config = "AreaBossNPCCreator";
        bossSpec.configIndex = bossNumber;
        bossSpec.scene = scene;
        bossSpec.raiseOnLoad = false;
        bossSpec.properties = {{"CreatorType", Int(1)},
                               {"MaxSelectCount", Int(2)},
                               {"RefreshTime", Int(120)},
                               {"NoticeByWorldRefresh", Int(1)},
                               {"FRTime", host::Value(std::string("00:20"))}};
        boss = k.CreateObject(bossSpec);
        tl.Name(boss, fmt::format("boss {}", bossNumber));
        k.Load(boss);

        tl.Say(k.Now(), fmt::format("farm object {} loads", farmNumber));
        host::ObjectSpec farmSpec;
        farmSpec.className = "NpcCreator";
        farmSpec.config = "NpcCreator";
        farmSpec.configIndex = farmNumber;
        farmSpec.scene = scene;
        farmSpec.raiseOnLoad = false;
        farmSpec.properties = {{"MaxSelectCount", Int(10)}, {"RefreshTime", Int(600)}};
        farm = k.CreateObject(farmSpec);
        tl.Name(farm, fmt::format("farm {}", farmNumber));
        k.Load(farm);
    });

    auto fightWon = [&](host::Kernel&, const std::string& who) {
        world.standIn()->FightWon(player(who));
    };

    // ---- players select and fight ---------------------------------------------
    world.Run([&](host::Kernel& k) {
        at(k, 5 * kSecond);
        tl.Say(k.Now(), "Aria, alone, selects the first creator and wins the fight");
        k.Select(player("Aria"), creators[0], 1);
        at(k, 20 * kSecond);
        fightWon(k, "Aria");

        at(k, 25 * kSecond);
        tl.Say(k.Now(), "Borin leads a team of two with Cato and selects the second creator");
        world.teamSystem()->Join(player("Borin"), player("Cato"));
        if (creators.size() > 1) k.Select(player("Borin"), creators[1], 1);
        at(k, 40 * kSecond);
        fightWon(k, "Borin");

        at(k, 45 * kSecond);
        tl.Say(k.Now(), "Cato opens the first creator's menu (select function 0)");
        k.Select(player("Cato"), creators[0], 0);
        at(k, 50 * kSecond);
        tl.Say(k.Now(), "Aria selects the first creator again: its last selection this period");
        k.Select(player("Aria"), creators[0], 1);
        at(k, 55 * kSecond);
        fightWon(k, "Aria");
        tl.Say(k.Now(), "Aria tries once more: the creator is used up and hides, but still fights");
        k.Select(player("Aria"), creators[0], 1);
        fightWon(k, "Aria");

        tl.Say(k.Now(),
               "two minutes pass: counters refresh, the second creator re-draws its model");
        at(k, 2 * kMinute + 30 * kSecond);
    });

    // ---- the area boss ---------------------------------------------------------
    IActivityRuleSystem* bossRules = world.FindRuleSystem("AreaBossSystem");
    world.Run([&](host::Kernel& k) {
        at(k, 3 * kMinute);
        tl.Say(k.Now(), fmt::format("the activity of boss {} is switched on", bossNumber));
        if (bossRules != nullptr)
            bossRules->SetActivityState(nullptr, 1, std::to_string(bossNumber));
        tl.Say(k.Now(), "the next activity check attaches the refresh; one period later it opens");
        at(k, 6 * kMinute);
        tl.Say(k.Now(), "Aria and Borin each take one of the boss's two fights and win them");
        k.Select(player("Aria"), boss, 1);
        at(k, 6 * kMinute + 20 * kSecond);
        fightWon(k, "Aria");
        at(k, 6 * kMinute + 30 * kSecond);
        k.Select(player("Borin"), boss, 1);
        at(k, 6 * kMinute + 50 * kSecond);
        fightWon(k, "Borin");
        at(k, 8 * kMinute);
        tl.Say(k.Now(), fmt::format("the activity of boss {} is switched off", bossNumber));
        if (bossRules != nullptr)
            bossRules->SetActivityState(nullptr, 0, std::to_string(bossNumber));
        at(k, 9 * kMinute);
    });

    // ---- the farm team ---------------------------------------------------------
    world.Run([&](host::Kernel& k) {
        at(k, 10 * kMinute);
        tl.Say(k.Now(), "five players of camp 2 sign up at the farm, one every few seconds");
        const char* const team[] = {"林月", "王刚", "赵敏", "陈晨", "周雪"};
        int64_t t = k.Now();
        for (const char* name : team) {
            if (name == team[4]) {
                tl.Say(k.Now(),
                       "the fifth sign-up fills the team: at the next beat every "
                       "member's waiting heartbeat starts the farm's encounter for the "
                       "leader");
            }
            host::HostVarList request;
            request.AddInt(150493);
            request.AddObject(farm);
            k.ClientMessage(player(name), request);
            t += 3 * kSecond;
            at(k, t);
        }
        at(k, t + 5 * kSecond);
        sum.farmTeamSize = int(world.teamSystem()->Members(player("林月")).size());
        at(k, 19 * kMinute + 50 * kSecond);
    });

    // ---- the boss's time point -------------------------------------------------
    world.Run([&](host::Kernel& k) {
        tl.Say(k.Now(), "00:20 comes: the boss's time point opens it at once");
        at(k, 20 * kMinute + 5 * kSecond);
        tl.Say(k.Now(), "Cato fights the boss alone and wins");
        k.Select(player("Cato"), boss, 1);
        at(k, 20 * kMinute + 25 * kSecond);
        fightWon(k, "Cato");
        tl.Say(k.Now(), "the activity is still off: the next check hides the boss again");
        at(k, 21 * kMinute);
    });

    // ---- summary ---------------------------------------------------------------
    world.Run([&](host::Kernel& k) {
        k.log().SetListener(nullptr);
        sum.virtualMs = k.Now();
        sum.events = k.log().events().size();
        int64_t activityOn = 3 * kMinute;
        int64_t timePoint = 20 * kMinute;
        for (const auto& e : k.log().events()) {
            switch (e.kind) {
                case host::EventKind::ClassEvent:
                    if (e.name == "OnSelect") ++sum.selects;
                    break;
                case host::EventKind::Command:
                    if (e.id == 1001) {
                        ++sum.encounters;
                        if (e.args.ObjectVal(1) == farm) sum.farmEncounter = true;
                    }
                    if (e.id == 1018) ++sum.fightsWon;
                    break;
                case host::EventKind::SysInfoByWorld:
                    if (e.name == "80000") ++sum.modelNotices;
                    if (e.name == "80001") ++sum.killNotices;
                    break;
                case host::EventKind::Property:
                    if (e.sender == boss && e.name == "CantVisible" && e.args.IntVal(0) == 0) {
                        ++sum.bossOpenings;
                        if (e.timeMs > activityOn && e.timeMs < timePoint) {
                            sum.bossOpenedOnActivity = true;
                        }
                        if (e.timeMs >= timePoint) sum.bossOpenedAtTimePoint = true;
                    }
                    break;
                case host::EventKind::Trace:
                    // The rules write their log only when something is wrong
                    // (resources, class file, host modules); Echo repeats
                    // the error reports among them.
                    ++sum.logLines;
                    break;
                default:
                    break;
            }
        }
    });
    world.Stop();
    sum.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    if (sum.encounters == 0) sum.missing.push_back("no encounter was sent");
    if (sum.killNotices == 0) sum.missing.push_back("no kill notice 80001");
    if (sum.modelNotices == 0) sum.missing.push_back("no model notice 80000");
    if (!sum.bossOpenedOnActivity) sum.missing.push_back("the boss did not open on its activity");
    if (!sum.bossOpenedAtTimePoint)
        sum.missing.push_back("the boss did not open at its time point");
    if (sum.farmTeamSize != 5) sum.missing.push_back("the farm team did not reach five players");
    if (!sum.farmEncounter) sum.missing.push_back("the farm team's leader got no encounter");

    std::fprintf(out, "\nsummary (virtual time %s, %zu events, %.2f s):\n",
                 Clock(sum.virtualMs).c_str(), sum.events, sum.seconds);
    std::fprintf(out, "  selects: %d, encounters sent: %d, fights won: %d\n", sum.selects,
                 sum.encounters, sum.fightsWon);
    std::fprintf(out, "  world notices: %d model draws (80000), %d kills (80001)\n",
                 sum.modelNotices, sum.killNotices);
    std::fprintf(out, "  area boss %d: opened %d times (on activity: %s, at time point: %s)\n",
                 bossNumber, sum.bossOpenings, sum.bossOpenedOnActivity ? "yes" : "no",
                 sum.bossOpenedAtTimePoint ? "yes" : "no");
    std::fprintf(out, "  farm %d: team of %d, encounter for the leader: %s\n", farmNumber,
                 sum.farmTeamSize, sum.farmEncounter ? "yes" : "no");
    std::fprintf(out, "  plug-in log lines (problems it reported): %d\n", sum.logLines);
    for (const auto& m : sum.missing) std::fprintf(out, "  missing: %s\n", m.c_str());
    std::fflush(out);
    return true;
}

}  // namespace tools
