-- Fails for teams: the leader's table is never filled.
local teams = {}
function get_npc_count(creator, player, team_count)
    if team_count > 1 then
        return teams[player].size
    end
    return 3
end
