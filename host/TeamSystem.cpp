// The team host module: teams of players with a leader.
#include "TeamSystem.h"

#include <algorithm>

#include "HostVarList.h"
#include "Kernel.h"

namespace host {

namespace {
const char kTeamRecord[] = "team";
constexpr int kJoinCommand = 140;
constexpr int kLeaderLeaves = 141;
constexpr int kMemberLeaves = 142;
}  // namespace

TeamSystem::TeamSystem(Kernel& kernel) : m_kernel(kernel) {}
TeamSystem::~TeamSystem() = default;

void TeamSystem::Install() {
    if (m_installed) return;
    m_installed = true;
    m_kernel.AddHostCommandHook(
        "player", kJoinCommand,
        [this](Kernel&, const ObjectId&, const ObjectId&, const IVarList& args) {
            return OnJoinCommand(args);
        },
        kHookPriority, "team");
    for (int id : {kLeaderLeaves, kMemberLeaves})
        m_kernel.AddHostCommandHook(
            "player", id,
            [this](Kernel&, const ObjectId& self, const ObjectId&, const IVarList& args) {
                return OnLeaveCommand(self, args);
            },
            kHookPriority, "team");
    m_kernel.AddDestroyListener([this](const ObjectId& obj) {
        if (TeamOf(obj) != 0) Leave(obj);
    });
}

uint32_t TeamSystem::TeamOf(const ObjectId& player) const {
    auto it = m_teamOf.find(player);
    return it == m_teamOf.end() ? 0 : it->second;
}

bool TeamSystem::IsTeamLeader(IKernel*, const ObjectId& player) {
    const uint32_t t = TeamOf(player);
    return t != 0 && m_teams.at(t).front() == player;
}

const char16_t* TeamSystem::GetTeamLeaderName(IKernel*, const ObjectId& player) {
    m_nameBuffer.clear();
    const uint32_t t = TeamOf(player);
    if (t != 0) m_nameBuffer = m_kernel.QueryWideStr(m_teams.at(t).front(), "Name");
    return m_nameBuffer.c_str();
}

bool TeamSystem::IsInTeam(IKernel*, const ObjectId& player) {
    return TeamOf(player) != 0;
}

int TeamSystem::GetTeamMembers(IKernel*, const ObjectId& player, IVarList& members) {
    const uint32_t t = TeamOf(player);
    if (t == 0) return 0;
    const std::vector<ObjectId>& team = m_teams.at(t);
    for (const ObjectId& m : team) members.AddObject(m);
    return static_cast<int>(team.size());
}

std::vector<ObjectId> TeamSystem::Members(const ObjectId& player) const {
    const uint32_t t = TeamOf(player);
    return t == 0 ? std::vector<ObjectId>{} : m_teams.at(t);
}

ObjectId TeamSystem::Leader(const ObjectId& player) const {
    const uint32_t t = TeamOf(player);
    return t == 0 ? ObjectId{} : m_teams.at(t).front();
}

bool TeamSystem::Join(const ObjectId& leader, const ObjectId& member) {
    const bool leaderOk =
        m_kernel.Exists(leader) && m_kernel.IsA(m_kernel.ClassOf(leader), "player");
    const bool memberOk =
        m_kernel.Exists(member) && m_kernel.IsA(m_kernel.ClassOf(member), "player");
    if (!leaderOk || !memberOk || leader == member) {
        m_kernel.HostLog("team join refused: both must be live players, and different");
        return false;
    }
    if (TeamOf(member) != 0) {
        m_kernel.HostLog("team join refused: the newcomer is in a team already");
        return false;
    }
    uint32_t t = TeamOf(leader);
    if (t != 0 && m_teams.at(t).front() != leader) {
        m_kernel.HostLog("team join refused: the named leader does not lead its team");
        return false;
    }
    if (t != 0 && m_teams.at(t).size() >= static_cast<size_t>(kMaxMembers)) {
        m_kernel.HostLog("team join refused: the team is full");
        return false;
    }
    if (t == 0) {
        t = m_nextTeam++;
        m_teams[t] = {leader};
        m_teamOf[leader] = t;
    }
    m_teams[t].push_back(member);
    m_teamOf[member] = t;
    Sync(t);
    return true;
}

bool TeamSystem::Leave(const ObjectId& member) {
    const uint32_t t = TeamOf(member);
    if (t == 0) return false;
    std::vector<ObjectId>& team = m_teams[t];
    team.erase(std::remove(team.begin(), team.end(), member), team.end());
    m_teamOf.erase(member);
    ClearRecord(member);
    if (team.size() <= 1) {
        // One player is no team.
        for (const ObjectId& m : team) {
            m_teamOf.erase(m);
            ClearRecord(m);
        }
        m_teams.erase(t);
        return true;
    }
    Sync(t);
    return true;
}

bool TeamSystem::Disband(const ObjectId& anyMember) {
    const uint32_t t = TeamOf(anyMember);
    if (t == 0) return false;
    for (const ObjectId& m : m_teams[t]) {
        m_teamOf.erase(m);
        ClearRecord(m);
    }
    m_teams.erase(t);
    return true;
}

void TeamSystem::ClearRecord(const ObjectId& player) {
    if (m_kernel.Exists(player)) m_kernel.ClearRecord(player, kTeamRecord);
}

void TeamSystem::Sync(uint32_t t) {
    const std::vector<ObjectId> team = m_teams[t];
    for (const ObjectId& holder : team) {
        if (!m_kernel.Exists(holder)) continue;
        m_kernel.ClearRecord(holder, kTeamRecord);
        for (const ObjectId& m : team) {
            HostVarList row;
            row.AddWideStr(m_kernel.QueryWideStr(m, "Name"));
            row.AddObject(m);
            m_kernel.AddRecordRowValues(holder, kTeamRecord, -1, row);
        }
    }
}

int TeamSystem::OnJoinCommand(const IVarList& args) {
    const ObjectId leader = m_kernel.FindPlayer(args.WideStrVal(1));
    const ObjectId newcomer = m_kernel.FindPlayer(args.WideStrVal(2));
    if (leader.IsNull() || newcomer.IsNull()) {
        m_kernel.HostLog("team request 140 ignored: leader or newcomer is not here");
        return 1;
    }
    if (leader == newcomer) return 1;
    Join(leader, newcomer);
    return 1;
}

int TeamSystem::OnLeaveCommand(const ObjectId& self, const IVarList& args) {
    const ObjectId member = m_kernel.FindPlayer(args.WideStrVal(2));
    if (member.IsNull() || TeamOf(member) == 0) return 1;
    // Only a member of the receiver's own team can be taken out through it.
    if (TeamOf(member) != TeamOf(self)) {
        m_kernel.HostLog("team command " + std::to_string(args.IntVal(0)) +
                         " ignored: the named member is not in the receiver's team");
        return 1;
    }
    Leave(member);
    return 1;
}

}  // namespace host
