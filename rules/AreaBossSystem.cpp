// The area boss rule system: bosses that offer a limited number of fights per period.
#include "AreaBossSystem.h"

#include <string>
#include <vector>

#include "Guard.h"
#include "IniFile.h"
#include "Utility.h"
#include "VarList.h"

namespace {

// Class and config of the boss points; a time point is honoured only for an
// object whose config is exactly this text.
const char kBossClass[] = "AreaBossNPCCreator";
const char kRefreshBeat[] = "AreaBossSystem::WaitRefreshBossNPC";
const char kCheckBeat[] = "AreaBossSystem::PointTimeRefreshNPC";
// The NPC creator system's model heartbeat; an inactive boss point must not
// keep re-drawing its model while it is hidden.
const char kModelBeat[] = "NpcCreatorSystem::WaitRefreshModel";
const char kResourceFile[] = "Npc\\NpcCreatorRefresh.ini";

// Kind of the time points this module schedules; command 326 carries it back.
constexpr int kTimePointKind = 9;
constexpr int kCommandTimePoint = 326;
constexpr int kCommandKilled = 1018;
constexpr int kCommandReturned = 1019;
constexpr int kCommandPermission = 976;
constexpr int kCommandEncounterStarted = 997;
constexpr int kCustomSelectMenu = 50060;
constexpr int kSelectMenuArg = 90;
constexpr int kBossCreatorType = 1;
constexpr int kDefaultCheckFrequency = 60;
constexpr int kWorldInfoKind = 19;
const char kRefreshNotice[] = "80000";

bool HasIntEqual(IKernel* kernel, const ObjectId& obj, const char* name, int value) {
    return kernel->FindAttr(obj, name) && kernel->QueryInt(obj, name) == value;
}

bool IsBossCreator(IKernel* kernel, const ObjectId& creator) {
    return HasIntEqual(kernel, creator, "CreatorType", kBossCreatorType);
}

void Hide(IKernel* kernel, const ObjectId& creator) {
    kernel->SetInt(creator, "Invisible", 1);
    kernel->SetInt(creator, "CantVisible", 1);
}

// Attaches the refresh heartbeat with a period read from `RefreshTime`.
void AttachRefreshBeat(IKernel* kernel, const ObjectId& creator, int refreshTime) {
    kernel->AddHeartBeat(creator, kRefreshBeat, SecondsToMs(PeriodOrDefault(refreshTime)));
}

// The creator whose encounter the player is fighting, or the null id.
ObjectId FoughtCreator(IKernel* kernel, const ObjectId& player) {
    const ObjectId fight = kernel->QueryObject(player, "Fighting");
    return kernel->QueryObject(fight, "HelperInfo");
}

}  // namespace

bool AreaBossSystem::Init(IKernel* kernel) {
    if (kernel == nullptr) return false;
    try {
        s_eventTimeSystem =
            static_cast<IEventTimeSystem*>(kernel->FindModule(EVENT_TIME_SYSTEM_MODULE_NAME));
        if (s_eventTimeSystem == nullptr) {
            REPORT_ERROR(kernel,
                         std::string("Not exist ") + EVENT_TIME_SYSTEM_MODULE_NAME + " module!");
            return false;
        }
        LoadResource(kernel);
        return true;
    } catch (...) {
    }
    return false;
}

bool AreaBossSystem::AfterInit(IKernel* kernel) {
    try {
        // Priority 2 on the class events: a boss point is also an NpcCreator,
        // and its own handlers must run before the creator system's (at 3).
        kernel->AddClassCallback(kBossClass, "OnLoad", Guarded<&OnAreaBossCreatorLoad>, 2);
        kernel->AddClassCallback(kBossClass, "OnSelect", Guarded<&OnAreaBossCreatorSelect>, 2);
        kernel->AddCommandHook("player", kCommandKilled, Guarded<&OnAreaBossNpcKilled>, 3);
        kernel->AddCommandHook("player", kCommandReturned, Guarded<&OnAreaBossSelectReturned>, 3);
        kernel->AddCommandHook("BaseScene", kCommandTimePoint, Guarded<&OnAreaBossTimePoint>, 3);
        kernel->DeclareHeartBeat(kRefreshBeat, GuardedBeat<&WaitRefreshBossNPC>);
        kernel->DeclareHeartBeat(kCheckBeat, GuardedBeat<&PointTimeRefreshNPC>);
    } catch (...) {
        guard_detail::LogEscape(kernel, "AreaBossSystem::AfterInit");
    }
    return true;
}

bool AreaBossSystem::LoadResource(IKernel* kernel) {
    const char* base = kernel->GetResourcePath();
    const std::string path = std::string(base != nullptr ? base : "") + kResourceFile;
    CIniFile ini(path.c_str());
    if (!ini.LoadFromFile()) {
        kernel->Trace("AreaBossSystem::LoadResource error! resource file not found");
        kernel->Trace(path.c_str());
        return false;
    }
    s_checkFrequency = ini.ReadInteger("AreaBoss", "CheckFrequency", kDefaultCheckFrequency);
    return true;
}

int AreaBossSystem::SetActivityState(void*, int state, const std::string& key) {
    auto it = s_stateTable.find(StringToInt(key));
    if (it != s_stateTable.end()) it->second = state;
    return 1;
}

// ---- refresh cycle -----------------------------------------------------------

int AreaBossSystem::OnAreaBossCreatorLoad(IKernel* kernel, const ObjectId& creator, const ObjectId&,
                                          const IVarList&) {
    FillModelInfo(kernel, creator);
    FillNpcInfo(kernel, creator);

    Hide(kernel, creator);

    if (IsBossCreator(kernel, creator) && s_checkFrequency > 0 &&
        !kernel->FindHeartBeat(creator, kCheckBeat)) {
        kernel->AddHeartBeat(creator, kCheckBeat, SecondsToMs(s_checkFrequency));
    }

    // A number seen before keeps its state, so a reloaded creator whose
    // activity is on stays open.
    s_stateTable.emplace(kernel->GetConfigIndex(creator), 0);

    PickModel(kernel, creator);

    // The load hid the creator and set Invisible, so this first refresh shows
    // it again with full counts.
    WaitRefreshBossNPC(kernel, creator);

    const char* timeText = kernel->QueryString(creator, "FRTime");
    if (timeText == nullptr || timeText[0] == '\0') return 1;
    if (s_eventTimeSystem == nullptr) {
        // Init found no event-time module: the time point cannot be kept.
        const std::string line =
            std::string(
                "AreaBossSystem::OnAreaBossCreatorLoad: no EventTimeSystem module, "
                "time point not registered for creator ") +
            IntToString(kernel->GetConfigIndex(creator)) + " FRTime=" + timeText;
        kernel->Trace(line.c_str());
        return 1;
    }
    CVarList args;
    args.AddObject(creator);
    s_eventTimeSystem->AddTimePointEvent(kTimePointKind, timeText, 0, args);
    return 1;
}

int AreaBossSystem::WaitRefreshBossNPC(IKernel* kernel, const ObjectId& creator) {
    const int selectCount = kernel->QueryInt(creator, "SelectCount");
    const int maxSelectCount = kernel->QueryInt(creator, "MaxSelectCount");
    if (selectCount < maxSelectCount) kernel->SetInt(creator, "SelectCount", maxSelectCount);
    kernel->SetInt(creator, "CurNPCCount", maxSelectCount);
    kernel->SetInt(creator, "IsFighting", 0);
    // Only a creator this module hid comes back; one hidden by anything else
    // (Invisible 0, CantVisible 1) stays hidden.
    if (kernel->QueryInt(creator, "Invisible") == 1) kernel->SetInt(creator, "CantVisible", 0);
    if (kernel->FindAttr(creator, "NoticeByWorldRefresh") &&
        kernel->QueryInt(creator, "NoticeByWorldRefresh") > 0) {
        AnnounceAreaBoss(kernel, creator);
    }
    return 1;
}

int AreaBossSystem::PointTimeRefreshNPC(IKernel* kernel, const ObjectId& creator) {
    const auto it = s_stateTable.find(kernel->GetConfigIndex(creator));
    if (it != s_stateTable.end() && it->second >= 1) {
        // The creator shows up at the refresh heartbeat's first run, one full
        // period from now; a running one keeps its interval.
        const int refreshTime = kernel->QueryInt(creator, "RefreshTime");
        if (!kernel->FindHeartBeat(creator, kRefreshBeat))
            AttachRefreshBeat(kernel, creator, refreshTime);
        return 1;
    }
    if (kernel->FindHeartBeat(creator, kRefreshBeat))
        kernel->RemoveHeartBeat(creator, kRefreshBeat);
    if (kernel->FindHeartBeat(creator, kModelBeat)) kernel->RemoveHeartBeat(creator, kModelBeat);
    Hide(kernel, creator);
    return 1;
}

int AreaBossSystem::OnAreaBossTimePoint(IKernel* kernel, const ObjectId&, const ObjectId&,
                                        const IVarList& args) {
    if (args.IntVal(1) != kTimePointKind) return 1;
    const ObjectId boss = args.ObjectVal(2);
    if (!kernel->Exists(boss)) return 1;
    const char* config = kernel->GetConfig(boss);
    if (config == nullptr || std::string(config) != kBossClass) return 1;
    const char* timeText = kernel->QueryString(boss, "FRTime");
    if (timeText == nullptr || timeText[0] == '\0') return 1;

    kernel->SetInt(boss, "CantVisible", 0);
    kernel->SetInt(boss, "IsFighting", 0);
    kernel->SetInt(boss, "SelectCount", kernel->QueryInt(boss, "MaxSelectCount"));

    // Restart the refresh so the next one comes a full period after the
    // time point rather than at whatever phase the old heartbeat had.
    const int refreshTime = kernel->QueryInt(boss, "RefreshTime");
    if (kernel->FindHeartBeat(boss, kRefreshBeat)) kernel->RemoveHeartBeat(boss, kRefreshBeat);
    AttachRefreshBeat(kernel, boss, refreshTime);

    if (IsBossCreator(kernel, boss)) AnnounceAreaBoss(kernel, boss);
    return 1;
}

void AreaBossSystem::AnnounceAreaBoss(IKernel* kernel, const ObjectId& creator) {
    const ObjectId scene = kernel->GetScene();
    CVarList args;
    args.AddString(IntToString(kernel->GetConfigIndex(creator)).c_str());
    args.AddString(IntToString(kernel->GetConfigIndex(scene)).c_str());
    kernel->SysInfoByWorld(kWorldInfoKind, kRefreshNotice, args);
}

// ---- encounters and fight results ---------------------------------------------

int AreaBossSystem::OnAreaBossCreatorSelect(IKernel* kernel, const ObjectId& creator,
                                            const ObjectId& player, const IVarList& args) {
    if (args.IntVal(0) == 0) {
        // Only the select menu message; unlike the creator system, no 432.
        CVarList menu;
        menu.AddInt(kCustomSelectMenu);
        menu.AddInt(kSelectMenuArg);
        kernel->Custom(player, player, menu);
        return 1;
    }

    CVarList question;
    question.AddInt(kCommandPermission);
    if (kernel->Command(player, creator, question) == 0) return 1;
    if (!kernel->Exists(creator)) return 1;

    const int selectCount = kernel->QueryInt(creator, "SelectCount");
    if (kernel->QueryInt(creator, "IsFighting") == 1 || selectCount < 1) return 1;

    // Take the fight first; a quiet end below does not give it back.
    kernel->SetInt(creator, "SelectCount", selectCount - 1);
    const int left = kernel->QueryInt(creator, "SelectCount");
    if (left == 0) Hide(kernel, creator);
    if (left < 1) kernel->SetInt(creator, "IsFighting", 1);

    const RecordView models(kernel, creator, "ModelInfoRec");
    const int row = models.FindInt(0, kernel->QueryInt(creator, "Model"));
    if (row < 0) return 1;
    const int modelIndex = models.Int(row, 3);

    CVarList started;
    started.AddInt(kCommandEncounterStarted);
    started.AddInt(modelIndex);
    started.AddObject(creator);
    kernel->Command(creator, creator, started);

    std::vector<SpawnEntry> list;
    const int fixed = AppendFixedEntries(kernel, creator, modelIndex, list);
    // Shared with the creator system: never negative, capped for absurd
    // script answers, so the size field below cannot overflow.
    const int wanted = WantedDraws(kernel, GetNpcCount(kernel, creator, player), fixed);
    DrawEntries(kernel, creator, modelIndex, wanted, list);
    if (list.empty()) return 1;

    SendEncounter(kernel, creator, player, fixed + wanted, list);
    return 1;
}

int AreaBossSystem::OnAreaBossNpcKilled(IKernel* kernel, const ObjectId& player, const ObjectId&,
                                        const IVarList&) {
    const ObjectId fight = kernel->QueryObject(player, "Fighting");
    ObjectId creator;
    if (kernel->FindAttr(fight, "HelperInfo")) creator = kernel->QueryObject(fight, "HelperInfo");
    if (!kernel->Exists(creator) || !IsBossCreator(kernel, creator)) return 1;

    kernel->IncInt(creator, "CurNPCCount", -1);
    if (kernel->QueryInt(creator, "CurNPCCount") < 1) Hide(kernel, creator);
    return 1;
}

int AreaBossSystem::OnAreaBossSelectReturned(IKernel* kernel, const ObjectId& player,
                                             const ObjectId&, const IVarList&) {
    const ObjectId creator = FoughtCreator(kernel, player);
    if (!kernel->Exists(creator) || !IsBossCreator(kernel, creator)) return 1;
    if (!IsSoloFighter(kernel, player)) return 1;

    const int selectCount = kernel->QueryInt(creator, "SelectCount");
    if (selectCount < kernel->QueryInt(creator, "MaxSelectCount")) {
        kernel->SetInt(creator, "SelectCount", selectCount + 1);
        if (selectCount + 1 > 0) kernel->SetInt(creator, "CantVisible", 0);
    }
    if (kernel->QueryInt(creator, "SelectCount") > 0) kernel->SetInt(creator, "IsFighting", 0);
    return 1;
}

bool AreaBossSystem::IsSoloFighter(IKernel* kernel, const ObjectId& player) {
    const ObjectId fight = kernel->QueryObject(player, "Fighting");
    const ObjectId team = kernel->GetChild(fight, u"LeftTeam");
    if (!kernel->Exists(team)) return false;
    const RecordView members(kernel, team, "PkMemberInfo");
    for (int i = 0; i < members.Rows(); ++i) {
        const ObjectId member = kernel->QueryRecordObject(team, "PkMemberInfo", i, 1);
        if (!kernel->Exists(member) || member == player) continue;
        const char* config = kernel->GetConfig(member);
        if (config == nullptr || std::string(config) != "Flag") return false;
    }
    return true;
}
