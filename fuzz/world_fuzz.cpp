// Random play against the rules plug-in inside the reference host's kernel:
// client messages, commands with odd arguments, selects, activity keys, team
// changes, players coming and going and the clock running, on the sample data.
// After every step the world must still hold together:
//  - no heartbeat was attached to an object that already carried it;
//  - every row of a farm's sign-up record names a player who is or was
//    signed up at that farm (no row is left behind by a refused join);
//  - an encounter list (1001) naming an area boss point goes out only while
//    a select of that very point is being answered.
//
// Each input gets a fresh world and freshly made plug-in modules with empty
// tables, as a new server process would, so every finding replays alone.
// Input: a sequence of steps, each an opcode byte and its operand bytes.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "AreaBossSystem.h"
#include "AutoTeamFarmSystem.h"
#include "FuzzSupport.h"
#include "IModuleCreator.h"
#include "Kernel.h"
#include "NpcCreatorSystem.h"
#include "StandInScripts.h"
#include "TeamSystem.h"
#include "World.h"

extern "C" IModuleCreator* KvGameLogic_GetModuleCreator();

namespace {

using host::HostVarList;
using host::Kernel;

using fuzz::Check;

constexpr size_t kMaxSteps = 200;
constexpr size_t kMaxPlayers = 16;
const char* const kFarmRecord = "AutoTeamRec";
const char* const kFarmLink = "AutoTeamFarm";
const char* const kModules[] = {"NpcCreatorSystem", "AreaBossSystem", "AutoTeamFarmSystem"};
const int kCommands[] = {141, 742, 1002, 1018, 1019, 326, 142, 140};
const int kAdvanceMs[] = {1, 999, 1000, 1001, 5000, 30000, 60000, 600000};
const char* const kKeys[] = {"12",  "13",  "50",  "1", "0",           "-12",
                             "012", "12 ", "abc", "",  "99999999999", "2147483647"};

// Throws away the plug-in's modules and tables so this input starts like a
// freshly loaded plug-in; returns the new modules in the loader's order.
std::vector<std::pair<std::string, IModule*>> FreshModules() {
    NpcCreatorSystem::s_modelProbTable.clear();
    NpcCreatorSystem::s_creatorProbTable.clear();
    AreaBossSystem::s_stateTable.clear();
    std::vector<std::pair<std::string, IModule*>> modules;
    for (IModuleCreator* c = KvGameLogic_GetModuleCreator(); c != nullptr; c = c->m_pNext) {
        if (c->m_pModule != nullptr) {
            c->m_pModule->Shut();
            delete c->m_pModule;
            c->m_pModule = nullptr;
        }
        modules.emplace_back(c->GetName(), c->Create());
    }
    return modules;
}

struct Play {
    Play(Kernel& kernel, host::World& w) : k(kernel), world(w) {}
    Kernel& k;
    host::World& world;
    ObjectId scene;
    std::vector<ObjectId> creators;  // farms, boss points, ordinary creators
    std::vector<ObjectId> others;    // a plain object, made-up and null ids
    std::vector<ObjectId> players;   // every player made, live or not
    int nextName = 0;
    // (name, farm) of every player seen linked to a farm after some step.
    std::set<std::pair<std::u16string, ObjectId>> everLinked;
    // The step now running, for the encounter hook.
    bool selecting = false;
    ObjectId selected;

    ObjectId Pick(std::vector<ObjectId>& from, uint8_t b) {
        return from.empty() ? ObjectId{} : from[b % from.size()];
    }
    ObjectId AnyObject(uint8_t b) {
        const size_t n = creators.size() + players.size() + others.size() + 1;
        size_t i = b % n;
        if (i < creators.size()) return creators[i];
        i -= creators.size();
        if (i < players.size()) return players[i];
        i -= players.size();
        if (i < others.size()) return others[i];
        return scene;
    }
    std::u16string NameOf(const ObjectId& p) {
        host::Value v;
        if (!k.GetValue(p, "Name", v)) return u"";
        const std::u16string* name = std::get_if<std::u16string>(&v);
        return name != nullptr ? *name : u"";
    }
    ObjectId AddPlayer(int camp) {
        if (players.size() >= kMaxPlayers) return {};
        const std::string name = "P" + std::to_string(nextName++ % 10);
        const std::u16string wide(name.begin(), name.end());
        if (k.Exists(k.FindPlayer(wide.c_str()))) return {};
        const ObjectId p = k.CreatePlayer(wide, camp, scene);
        if (!p.IsNull()) players.push_back(p);
        return p;
    }
    bool IsBossPoint(const ObjectId& obj) {
        host::Value type;
        return k.ClassNameOf(obj) == "AreaBossNPCCreator" ||
               (k.GetValue(obj, "CreatorType", type) && type == host::Value(int32_t{1}));
    }

    void AddArgument(HostVarList& args, fuzz::Bytes& in) {
        const uint8_t kind = in.Next();
        const uint8_t b = in.Next();
        switch (kind % 7) {
            case 0:
                args.AddInt(int8_t(b));
                break;
            case 1:
                args.AddInt(b % 2 != 0 ? INT32_MIN : INT32_MAX);
                break;
            case 2:
                args.AddWideStr(NameOf(AnyObject(b)).c_str());
                break;
            case 3:
                args.AddWideStr(b % 2 != 0 ? u"" : u"nobody");
                break;
            case 4:
                args.AddObject(AnyObject(b));
                break;
            case 5:
                args.AddString("x");
                break;
            default:
                args.AddInt64(int64_t(b) << 40);
                break;
        }
    }

    void Step(fuzz::Bytes& in) {
        const uint8_t op = in.Next();
        const uint8_t a = in.Next();
        const uint8_t b = in.Next();
        switch (op % 12) {
            case 0: {  // sign-up, usually well formed
                HostVarList msg;
                msg.AddInt(150493);
                if (b % 8 == 7) {
                    AddArgument(msg, in);
                } else {
                    msg.AddObject(AnyObject(b));
                }
                k.ClientMessage(Pick(players, a), msg);
                break;
            }
            case 1: {  // withdrawal
                HostVarList msg;
                msg.AddInt(150497);
                if (b % 4 == 3) AddArgument(msg, in);
                k.ClientMessage(Pick(players, a), msg);
                break;
            }
            case 2: {  // a command the plug-in hooks, with arguments of any kind
                HostVarList cmd;
                cmd.AddInt(kCommands[b % (sizeof kCommands / sizeof *kCommands)]);
                const int count = in.Next() % 5;
                for (int i = 0; i < count; ++i) AddArgument(cmd, in);
                const ObjectId target = cmd.IntVal(0) == 326 ? scene : AnyObject(a);
                k.Command(AnyObject(in.Next()), target, cmd);
                break;
            }
            case 3: {  // select, with any function number
                const ObjectId target = b % 8 == 7 ? AnyObject(in.Next()) : Pick(creators, b);
                selecting = true;
                selected = target;
                k.Select(Pick(players, a), target, int8_t(in.Next()));
                selecting = false;
                break;
            }
            case 4: {  // an activity state change
                IActivityRuleSystem* system = world.FindRuleSystem(kModules[a % 3]);
                if (system != nullptr)
                    system->SetActivityState(nullptr, int8_t(b),
                                             kKeys[in.Next() % (sizeof kKeys / sizeof *kKeys)]);
                break;
            }
            case 5:
            case 6:  // time passes (most often)
                k.AdvanceTime(kAdvanceMs[a % (sizeof kAdvanceMs / sizeof *kAdvanceMs)]);
                break;
            case 7: {  // a fight ends
                host::StandInScripts* standIn = world.standIn();
                const ObjectId p = Pick(players, a);
                if (standIn != nullptr) {
                    if (b % 2 == 0)
                        standIn->FightWon(p, b % 4 == 0);
                    else
                        standIn->FightReturned(p, b % 4 == 1);
                }
                break;
            }
            case 8: {  // a player goes: leaves, is stored or vanishes
                const ObjectId p = Pick(players, a);
                if (b % 3 == 0)
                    k.Leave(p, b % 2 != 0);
                else if (b % 3 == 1)
                    k.Store(p, int8_t(in.Next()) % 3);
                else
                    k.Destroy(p);
                break;
            }
            case 9:  // a player comes
                AddPlayer(1 + a % 2);
                break;
            case 10: {  // teams change outside the farm
                host::TeamSystem* team = world.teamSystem();
                if (team == nullptr) break;
                if (b % 3 == 0)
                    team->Join(Pick(players, a), Pick(players, in.Next()));
                else if (b % 3 == 1)
                    team->Leave(Pick(players, a));
                else
                    team->Disband(Pick(players, a));
                break;
            }
            default: {  // a creator's data changes, or the creator goes
                const ObjectId c = Pick(creators, a);
                if (b % 5 == 4)
                    k.Destroy(c);
                else
                    k.SetValue(c, "CreatorType", int32_t(b % 3));
                break;
            }
        }
    }

    void CheckWorld() {
        Check(k.RepeatedBeatAttaches() == 0);
        for (const ObjectId& p : players) {
            host::Value link;
            if (!k.Exists(p) || !k.GetValue(p, kFarmLink, link)) continue;
            const ObjectId* farm = std::get_if<ObjectId>(&link);
            if (farm != nullptr && !farm->IsNull()) everLinked.insert({NameOf(p), *farm});
        }
        std::vector<std::vector<host::Value>> rows;
        for (const ObjectId& c : creators) {
            if (!k.GetRecord(c, kFarmRecord, rows)) continue;
            for (const auto& row : rows) {
                Check(!row.empty());
                const std::u16string* name = std::get_if<std::u16string>(&row[0]);
                Check(name != nullptr && everLinked.count({*name, c}) == 1);
            }
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    host::WorldOptions options;
    options.resourceDir = GAMERULES_SAMPLE_RESOURCES;
    options.quiet = true;
    options.extraModules = FreshModules();
    host::World world(options);
    Check(world.Start());
    Check(world.lifecycle().ok());

    world.Run([&](Kernel& k) {
        Play play(k, world);
        play.scene = k.CreateScene("farm_field", 1);
        k.SetCurrentScene(play.scene);
        auto creator = [&](const char* cls, const char* config, int number, int type) {
            host::ObjectSpec objDef;
            objDef.className = cls;
            objDef.config = config;
            objDef.configIndex = number;
            objDef.scene = play.scene;
            objDef.properties = {{"CreatorType", int32_t{type}},
                                 {"MaxSelectCount", int32_t{2}},
                                 {"RefreshTime", int32_t{600}}};
            play.creators.push_back(k.CreateObject(objDef));
        };
        creator("NpcCreator", "farm", 50, 0);
        creator("NpcCreator", "farm", 50, 0);
        creator("AreaBossNPCCreator", "AreaBossNPCCreator", 12, 1);
        creator("AreaBossNPCCreator", "AreaBossNPCCreator", 13, 1);
        creator("NpcCreator", "creator", 1, 0);
        host::ObjectSpec flag;
        flag.className = "Flag";
        flag.scene = play.scene;
        play.others = {k.CreateObject(flag), ObjectId{}, ObjectId{9999, 1}};
        for (int i = 0; i < 7; ++i) play.AddPlayer(i < 5 ? 1 : 2);

        // Every encounter list goes to a player; one naming a boss point is
        // only an answer to a select of that point.
        k.AddHostCommandHook(
            "player", 1001,
            [&play](Kernel&, const ObjectId&, const ObjectId&, const IVarList& args) {
                const ObjectId from = args.GetCount() > 1 ? args.ObjectVal(1) : ObjectId{};
                if (play.IsBossPoint(from)) Check(play.selecting && play.selected == from);
                return 1;
            },
            0, "fuzz");

        fuzz::Bytes in(data, size);
        for (size_t step = 0; step < kMaxSteps && !in.Empty(); ++step) {
            play.Step(in);
            play.CheckWorld();
        }
    });
    world.Stop();
    return 0;
}
