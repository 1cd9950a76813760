// The host module "TeamSystem": teams of players with a leader.
//
// Each member's "team" record holds one row per member of its team, [Name,
// object id], the leader first, then the others in joining order; the module
// rewrites every member's record whenever the team changes, so the records
// never drift from the team. Commands on "player" it answers (host hooks,
// priority kHookPriority):
//   140 [140, leader name, newcomer name, 0, 0]: adds the newcomer to the
//       leader's team, creating the team with the leader when the leader has
//       none. Refused (logged) when either is not here, the newcomer already is
//       in a team, the named leader leads no team but is in one, or the team
//       is full.
//   141 / 142 [id, leader name, member name]: takes the named member out of
//       the receiver's team (a member of another team is left alone). When
//       the leader leaves, the next member leads; a team left with one member
//       is dissolved.
// A destroyed player leaves its team the same way.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "IHostModules.h"
#include "ObjectId.h"

namespace host {

class Kernel;

class TeamSystem final : public ITeamSystem {
public:
    static constexpr int kMaxMembers = 5;
    static constexpr int kHookPriority = 10;

    explicit TeamSystem(Kernel& kernel);
    ~TeamSystem() override;
    TeamSystem(const TeamSystem&) = delete;
    TeamSystem& operator=(const TeamSystem&) = delete;

    // Registers the command hooks and the destroy listener (once).
    void Install();

    // ITeamSystem
    bool IsTeamLeader(IKernel* kernel, const ObjectId& player) override;
    const char16_t* GetTeamLeaderName(IKernel* kernel, const ObjectId& player) override;
    bool IsInTeam(IKernel* kernel, const ObjectId& player) override;
    int GetTeamMembers(IKernel* kernel, const ObjectId& player, IVarList& members) override;

    // Host API (scenarios, tests). Each keeps the "team" records in sync.
    // Adds member to leader's team (made when leader has none). False when
    // either is not a live player, member is in a team, leader is a member
    // but not the leader, or the team is full.
    bool Join(const ObjectId& leader, const ObjectId& member);
    bool Leave(const ObjectId& member);
    bool Disband(const ObjectId& anyMember);
    // Members, the leader first; empty without a team.
    std::vector<ObjectId> Members(const ObjectId& player) const;
    ObjectId Leader(const ObjectId& player) const;  // null without a team
    size_t TeamCount() const { return m_teams.size(); }

private:
    int OnJoinCommand(const IVarList& args);
    int OnLeaveCommand(const ObjectId& self, const IVarList& args);
    void Sync(uint32_t team);
    void ClearRecord(const ObjectId& player);
    uint32_t TeamOf(const ObjectId& player) const;  // 0 = none

    Kernel& m_kernel;
    bool m_installed = false;
    uint32_t m_nextTeam = 1;
    std::map<uint32_t, std::vector<ObjectId>> m_teams;  // leader first
    std::map<ObjectId, uint32_t> m_teamOf;
    std::u16string m_nameBuffer;  // GetTeamLeaderName result
};

}  // namespace host
