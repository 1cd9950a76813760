// The auto team farm rule system: players gathered into teams for the farm's encounter.
#include "AutoTeamFarmSystem.h"

#include <cstdio>
#include <cstring>

#include "Extern.h"
#include "Guard.h"
#include "Utility.h"
#include "VarList.h"

namespace {

constexpr const char* kPlayerClass = "player";
constexpr const char* kFarmRecord = "AutoTeamRec";
constexpr const char* kTeamRecord = "team";
constexpr const char* kFarmProperty = "AutoTeamFarm";
constexpr const char* kWaitBeat = "AutoTeamFarmSystem::H_WaitLaunchFight";
// What makes an object a farm: the creator records SelectCreator draws from,
// and not being one of the area boss system's points.
constexpr const char* kModelRecord = "ModelInfoRec";
constexpr const char* kNpcRecord = "NPCInfoRec";
constexpr const char* kAreaBossConfig = "AreaBossNPCCreator";
constexpr int kAreaBossCreatorType = 1;

constexpr int kJoinMessage = 150493;
constexpr int kQuitMessage = 150497;
constexpr int kFightLockCommand = 742;
constexpr int kLeaveFarmCommand = 1002;
constexpr int kLeaderQuitCommand = 141;
constexpr int kMemberQuitCommand = 142;
constexpr int kTeamRequestCommand = 140;
constexpr int kHookPriority = 3;
constexpr int kLeaderQuitPriority = 5;

constexpr const char* kInTeamNotice = "91800";
constexpr int kInTeamNoticeKind = 2;
constexpr int kFullTeamRows = 5;
constexpr int kWaitIntervalMs = 1000;
constexpr int kNoJoinSceneType = 2;
constexpr int kRemovingStoreKind = 0;

// Farm record columns.
constexpr int kNameCol = 0;
constexpr int kCampCol = 1;

// Host texts are copied at once: the team module's leader name, for one,
// is only valid until the next call into that module. A null pointer from
// a misbehaving host reads as the empty text.
std::u16string Text(const char16_t* text) {
    return text != nullptr ? std::u16string(text) : u"";
}

std::u16string NameOf(IKernel* kernel, const ObjectId& player) {
    return Text(kernel->QueryWideStr(player, "Name"));
}

// Team questions. Without a team module (its lookup failed at Init) every
// player counts as being in no team.
ITeamSystem* Teams() {
    return NpcCreatorSystem::s_teamSystem;
}

bool IsInTeam(IKernel* kernel, const ObjectId& player) {
    ITeamSystem* teams = Teams();
    return teams != nullptr && teams->IsInTeam(kernel, player);
}

bool IsTeamLeader(IKernel* kernel, const ObjectId& player) {
    ITeamSystem* teams = Teams();
    return teams != nullptr && teams->IsTeamLeader(kernel, player);
}

std::u16string LeaderNameOf(IKernel* kernel, const ObjectId& player) {
    ITeamSystem* teams = Teams();
    return teams != nullptr ? Text(teams->GetTeamLeaderName(kernel, player)) : u"";
}

// Signed up: the link property exists and names a live object.
bool IsSignedUp(IKernel* kernel, const ObjectId& player) {
    if (!kernel->FindAttr(player, kFarmProperty)) return false;
    return kernel->Exists(kernel->QueryObject(player, kFarmProperty));
}

// Why the object named in a sign-up is no farm, or null when it is one. The
// object comes from the client: a boss point would hand out its fights
// without its own select rules (976, IsFighting, the fight count), and any
// other object has no encounter to start.
const char* NoFarmReason(IKernel* kernel, const ObjectId& farm) {
    const char* config = kernel->GetConfig(farm);
    if ((config != nullptr && std::strcmp(config, kAreaBossConfig) == 0) ||
        (kernel->FindAttr(farm, "CreatorType") &&
         kernel->QueryInt(farm, "CreatorType") == kAreaBossCreatorType)) {
        return "an area boss point";
    }
    if (kernel->GetRecordRows(farm, kModelRecord) < 0 ||
        kernel->GetRecordRows(farm, kNpcRecord) < 0) {
        return "not an NpcCreator object";
    }
    return nullptr;
}

// Log text of a player name: printable ASCII as it is, every other code unit
// as \uXXXX, so the line stays plain bytes whatever the name holds.
std::string LogName(const std::u16string& name) {
    std::string out;
    for (const char16_t c : name) {
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(char(c));
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
        }
    }
    return out;
}

std::string LogObject(IKernel* kernel, const ObjectId& obj) {
    const char* config = kernel->GetConfig(obj);
    return "obj#" + std::to_string(obj.ident) + ":" + std::to_string(obj.serial) + " (config \"" +
           (config != nullptr ? config : "") + "\")";
}

void TraceNoFarm(IKernel* kernel, const char* what, const ObjectId& player, const ObjectId& farm,
                 const char* reason) {
    const std::string line = std::string("AutoTeamFarmSystem: ") + what + ": player \"" +
                             LogName(NameOf(kernel, player)) + "\" obj#" +
                             std::to_string(player.ident) + ":" + std::to_string(player.serial) +
                             " named " + LogObject(kernel, farm) + ", " + reason;
    kernel->Trace(line.c_str());
}

// The member operations keep no state, so when Init failed and no instance
// was stored the handlers still have an object to call them on.
AutoTeamFarmSystem& Farm() {
    if (AutoTeamFarmSystem::s_instance != nullptr) return *AutoTeamFarmSystem::s_instance;
    static AutoTeamFarmSystem fallback;
    return fallback;
}

}  // namespace

bool AutoTeamFarmSystem::Init(IKernel* kernel) {
    if (kernel == nullptr) return false;
    try {
        s_teamSystem = static_cast<ITeamSystem*>(kernel->FindModule(TEAM_SYSTEM_MODULE_NAME));
        if (s_teamSystem == nullptr) {
            REPORT_ERROR(kernel, std::string("Not exist ") + TEAM_SYSTEM_MODULE_NAME + " module!");
            return false;
        }
        s_instance = this;
        return true;
    } catch (...) {
    }
    return false;
}

bool AutoTeamFarmSystem::AfterInit(IKernel* kernel) {
    if (kernel == nullptr) return true;
    kernel->AddClassCallback(kPlayerClass, "OnStore", Guarded<&OnPlayerStore>, kHookPriority);
    kernel->AddClassCallback(kPlayerClass, "OnLeave", Guarded<&OnPlayerLeave>, kHookPriority);
    kernel->AddCommandHook(kPlayerClass, kFightLockCommand, Guarded<&OnCommand742>, kHookPriority);
    kernel->AddCommandHook(kPlayerClass, kLeaveFarmCommand, Guarded<&OnCommand1002>, kHookPriority);
    kernel->AddCommandHook(kPlayerClass, kLeaderQuitCommand, Guarded<&OnCommand141>,
                           kLeaderQuitPriority);
    kernel->AddCustomHook(kJoinMessage, Guarded<&OnJoinRequest>, kHookPriority);
    kernel->AddCustomHook(kQuitMessage, Guarded<&OnQuitRequest>, kHookPriority);
    kernel->DeclareHeartBeat(kWaitBeat, GuardedBeat<&H_WaitLaunchFight>);
    return true;
}

bool AutoTeamFarmSystem::CanJoin(IKernel* kernel, const ObjectId& player, const ObjectId& farm) {
    // Only this refusal is shown to the player; the others are silent.
    if (IsInTeam(kernel, player)) {
        CVarList noArgs;
        kernel->SysInfo(player, kInTeamNoticeKind, kInTeamNotice, noArgs);
        return false;
    }
    const std::u16string name = NameOf(kernel, player);
    if (kernel->FindRecordWideStr(farm, kFarmRecord, kNameCol, name.c_str()) >= 0) return false;
    if (IsSignedUp(kernel, player)) return false;
    if (kernel->QueryInt(kernel->GetScene(), "SceneType") == kNoJoinSceneType) return false;
    return true;
}

void AutoTeamFarmSystem::CollectSameCampNames(IKernel* kernel, const ObjectId& player,
                                              const ObjectId& farm,
                                              std::vector<std::u16string>& names) {
    names.clear();
    if (!kernel->Exists(farm) || !kernel->Exists(player)) return;
    const int camp = kernel->QueryInt(player, "Camp");
    const int rows = kernel->GetRecordRows(farm, kFarmRecord);
    for (int row = 0; row < rows; ++row) {
        if (kernel->QueryRecordInt(farm, kFarmRecord, row, kCampCol) != camp) continue;
        names.push_back(Text(kernel->QueryRecordWideStr(farm, kFarmRecord, row, kNameCol)));
    }
}

void AutoTeamFarmSystem::JoinFarm(IKernel* kernel, const ObjectId& player, const ObjectId& farm,
                                  const std::vector<std::u16string>& names) {
    if (!kernel->Exists(farm) || !kernel->Exists(player)) return;
    const int camp = kernel->QueryInt(player, "Camp");
    const std::u16string name = NameOf(kernel, player);

    CVarList row;
    row.AddWideStr(name.c_str());
    row.AddInt(camp);
    const int added = kernel->AddRecordRowValues(farm, kFarmRecord, -1, row);

    if (!names.empty()) {
        const ObjectId first = kernel->FindPlayer(names.front().c_str());
        if (!kernel->Exists(first)) {
            // The join stops here. Its row must go too: left behind it would
            // refuse every later sign-up by this name, and no removal would
            // ever find it, since the player never got the link property.
            if (added >= 0) {
                int mine = added;
                if (Text(kernel->QueryRecordWideStr(farm, kFarmRecord, mine, kNameCol)) != name) {
                    mine = kernel->FindRecordWideStr(farm, kFarmRecord, kNameCol, name.c_str());
                }
                if (mine >= 0) kernel->RemoveRecordRow(farm, kFarmRecord, mine);
            }
            return;
        }
        std::u16string leader = LeaderNameOf(kernel, first);
        if (leader.empty()) leader = NameOf(kernel, first);

        CVarList request;
        request.AddInt(kTeamRequestCommand);
        request.AddWideStr(leader.c_str());
        request.AddWideStr(name.c_str());
        request.AddInt(0);
        request.AddInt(0);
        kernel->CommandByName(leader.c_str(), request);
    }

    kernel->SetObject(player, kFarmProperty, farm);
    if (!kernel->FindHeartBeat(player, kWaitBeat)) {
        kernel->AddHeartBeat(player, kWaitBeat, kWaitIntervalMs);
    }
}

void AutoTeamFarmSystem::RemoveFromFarm(IKernel* kernel, const ObjectId& player) {
    if (!kernel->Exists(player) || !kernel->FindAttr(player, kFarmProperty)) return;
    const ObjectId farm = kernel->QueryObject(player, kFarmProperty);
    if (!kernel->Exists(farm)) return;

    kernel->SetObject(player, kFarmProperty, ObjectId{});
    if (kernel->FindHeartBeat(player, kWaitBeat)) kernel->RemoveHeartBeat(player, kWaitBeat);

    const std::u16string name = NameOf(kernel, player);
    const int row = kernel->FindRecordWideStr(farm, kFarmRecord, kNameCol, name.c_str());
    if (row >= 0) kernel->RemoveRecordRow(farm, kFarmRecord, row);
}

void AutoTeamFarmSystem::QuitFarm(IKernel* kernel, const ObjectId& player) {
    if (!IsSignedUp(kernel, player)) return;
    if (IsInTeam(kernel, player)) {
        const std::u16string leader = LeaderNameOf(kernel, player);
        const std::u16string own = NameOf(kernel, player);
        // A leader who withdraws tells himself with 141; the 141 hook then
        // removes him, and the removal below finds nothing left to do.
        const int command = leader == own ? kLeaderQuitCommand : kMemberQuitCommand;
        CVarList notice;
        notice.AddInt(command);
        notice.AddWideStr(leader.c_str());
        notice.AddWideStr(own.c_str());
        CommandToPlayerName(kernel, player, leader.c_str(), notice);
    }
    RemoveFromFarm(kernel, player);
}

int AutoTeamFarmSystem::OnJoinRequest(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                      const IVarList& args) {
    const ObjectId farm = args.ObjectVal(1);
    if (!kernel->Exists(farm) || !kernel->Exists(self)) return 1;
    if (const char* reason = NoFarmReason(kernel, farm)) {
        TraceNoFarm(kernel, "sign-up refused", self, farm, reason);
        return 1;
    }
    // A creator without the sign-up record cannot take rows.
    if (kernel->GetRecordRows(farm, kFarmRecord) < 0) return 1;

    AutoTeamFarmSystem& module = Farm();
    if (!module.CanJoin(kernel, self, farm)) return 1;
    std::vector<std::u16string> names;
    module.CollectSameCampNames(kernel, self, farm, names);
    module.JoinFarm(kernel, self, farm, names);
    return 1;
}

int AutoTeamFarmSystem::OnQuitRequest(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                      const IVarList&) {
    Farm().QuitFarm(kernel, self);
    return 1;
}

int AutoTeamFarmSystem::OnPlayerLeave(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                      const IVarList&) {
    Farm().QuitFarm(kernel, self);
    return 1;
}

int AutoTeamFarmSystem::OnPlayerStore(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                      const IVarList& args) {
    // A missing or non-integer kind reads as 0 and removes the player.
    if (args.IntVal(0) == kRemovingStoreKind && IsSignedUp(kernel, self)) {
        Farm().RemoveFromFarm(kernel, self);
    }
    return 1;
}

int AutoTeamFarmSystem::OnCommand1002(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                      const IVarList&) {
    if (IsSignedUp(kernel, self)) Farm().RemoveFromFarm(kernel, self);
    return 1;
}

int AutoTeamFarmSystem::OnCommand141(IKernel* kernel, const ObjectId&, const ObjectId&,
                                     const IVarList& args) {
    // The named player is the one who leaves, not the receiver.
    const std::u16string name = Text(args.WideStrVal(2));
    const ObjectId player = kernel->FindPlayer(name.c_str());
    if (kernel->Exists(player) && IsSignedUp(kernel, player)) {
        Farm().RemoveFromFarm(kernel, player);
    }
    return 1;
}

int AutoTeamFarmSystem::OnCommand742(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                     const IVarList&) {
    return IsSignedUp(kernel, self) ? 0 : 1;
}

int AutoTeamFarmSystem::H_WaitLaunchFight(IKernel* kernel, const ObjectId& player) {
    if (!IsSignedUp(kernel, player)) {
        kernel->RemoveHeartBeat(player, kWaitBeat);
        return 1;
    }
    if (kernel->GetRecordRows(player, kTeamRecord) < kFullTeamRows) return 1;

    const ObjectId farm = kernel->QueryObject(player, kFarmProperty);
    if (!kernel->Exists(farm)) {
        kernel->RemoveHeartBeat(player, kWaitBeat);
        return 1;
    }
    // The farm's data may have changed since the sign-up.
    if (const char* reason = NoFarmReason(kernel, farm)) {
        TraceNoFarm(kernel, "no encounter started", player, farm, reason);
        kernel->RemoveHeartBeat(player, kWaitBeat);
        return 1;
    }
    ObjectId leader = player;
    if (!IsTeamLeader(kernel, player)) {
        leader = kernel->FindPlayer(LeaderNameOf(kernel, player).c_str());
        if (!kernel->Exists(leader)) {
            kernel->RemoveHeartBeat(player, kWaitBeat);
            return 1;
        }
    }
    CVarList noArgs;
    SelectCreator(kernel, farm, leader, noArgs);
    kernel->RemoveHeartBeat(player, kWaitBeat);
    return 1;
}
