// The stand-ins for the game's own scripts: the answers and the simulated fights.
#include "StandInScripts.h"

#include "Kernel.h"
#include "TeamSystem.h"

namespace host {

namespace {
const char kCreatorClass[] = "NpcCreator";
}

StandInScripts::StandInScripts(Kernel& kernel, TeamSystem* team) : m_kernel(kernel), m_team(team) {
    m_fightSpec.className = "Fight";
    m_fightSpec.config = "Fight";
    m_fightSpec.properties.push_back({"HelperInfo", ObjectId{}});
    m_teamSpec.className = "FightTeam";
    m_teamSpec.config = "FightTeam";
    m_teamSpec.childName = u"LeftTeam";
}

void StandInScripts::Install() {
    if (!m_handles.empty()) return;
    auto answerOne = [](Kernel&, const ObjectId&, const ObjectId&, const IVarList&) { return 1; };
    m_handles[976] = m_kernel.AddHostCommandHook(kCreatorClass, 976, answerOne, kPriority, kOwner);
    m_handles[995] = m_kernel.AddHostCommandHook(kCreatorClass, 995, answerOne, kPriority, kOwner);
    m_handles[997] = m_kernel.AddHostCommandHook(
        kCreatorClass, 997,
        [](Kernel& k, const ObjectId& self, const ObjectId&, const IVarList& args) {
            k.Note("encounter_chosen", "model index " + std::to_string(args.IntVal(1)), self);
            return 1;
        },
        kPriority, kOwner);
    m_handles[432] = m_kernel.AddHostCommandHook(
        "player", 432,
        [](Kernel& k, const ObjectId& self, const ObjectId&, const IVarList& args) {
            k.Note("select_function_0", "client told " + std::to_string(args.IntVal(1)), self);
            return 1;
        },
        kPriority, kOwner);
    m_handles[1001] = m_kernel.AddHostCommandHook(
        "player", 1001,
        [this](Kernel&, const ObjectId& self, const ObjectId&, const IVarList& args) {
            StartFight(self, args.ObjectVal(1));
            return 1;
        },
        kPriority, kOwner);
}

bool StandInScripts::Disable(int commandId) {
    auto it = m_handles.find(commandId);
    if (it == m_handles.end()) return false;
    const bool removed = m_kernel.RemoveHook(it->second);
    m_handles.erase(it);
    return removed;
}

ObjectId StandInScripts::StartFight(const ObjectId& player, const ObjectId& creator) {
    if (!m_kernel.Exists(player)) return {};
    EndFight(player);

    // A player alone is the whole fight; a leader brings the team.
    const ObjectId self = player;
    std::vector<ObjectId> team;
    const ObjectId* members = &self;
    size_t memberCount = 1;
    if (m_team != nullptr && m_team->Leader(self) == self) {
        team = m_team->Members(self);
        members = team.data();
        memberCount = team.size();
    }

    m_fightSpec.scene = m_kernel.SceneOf(self);
    m_fightSpec.properties[0].second = creator;
    const ObjectId fight = m_kernel.CreateObject(m_fightSpec);
    if (fight.IsNull()) return {};

    m_teamSpec.parent = fight;
    const ObjectId left = m_kernel.CreateObject(m_teamSpec);

    for (size_t i = 0; i < memberCount; ++i) {
        const ObjectId m = members[i];
        HostVarList row;
        row.AddInt(0);
        row.AddObject(m);
        row.AddWideStr(m_kernel.QueryWideStr(m, "Name"));
        m_kernel.AddRecordRowValues(left, "PkMemberInfo", -1, row);
        m_kernel.SetObject(m, "Fighting", fight);
    }
    ++m_fightsStarted;
    HostVarList info;
    info.AddObject(creator);
    info.AddInt(static_cast<int>(memberCount));
    m_kernel.Note("fight_started", "", fight, &info);
    return fight;
}

void StandInScripts::EndFight(const ObjectId& player) {
    const ObjectId fight = m_kernel.QueryObject(player, "Fighting");
    if (!m_kernel.Exists(fight)) {
        if (!fight.IsNull()) m_kernel.SetObject(player, "Fighting", ObjectId{});
        return;
    }
    const ObjectId left = m_kernel.GetChild(fight, u"LeftTeam");
    const int rows = m_kernel.GetRecordRows(left, "PkMemberInfo");
    for (int r = 0; r < rows; ++r) {
        const ObjectId m = m_kernel.QueryRecordObject(left, "PkMemberInfo", r, 1);
        if (m_kernel.Exists(m) && m_kernel.QueryObject(m, "Fighting") == fight)
            m_kernel.SetObject(m, "Fighting", ObjectId{});
    }
    if (m_kernel.QueryObject(player, "Fighting") == fight)
        m_kernel.SetObject(player, "Fighting", ObjectId{});
    m_kernel.Note("fight_ended", "", fight);
    m_kernel.Destroy(fight);
}

int StandInScripts::FightWon(const ObjectId& player, bool endFight) {
    HostVarList msg;
    msg.AddInt(1018);
    const int answer = m_kernel.Command(player, player, msg);
    if (endFight && m_kernel.Exists(player)) EndFight(player);
    return answer;
}

int StandInScripts::FightReturned(const ObjectId& player, bool endFight) {
    HostVarList msg;
    msg.AddInt(1019);
    const int answer = m_kernel.Command(player, player, msg);
    if (endFight && m_kernel.Exists(player)) EndFight(player);
    return answer;
}

}  // namespace host
