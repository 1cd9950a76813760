-- Rules of the NPC creator system.

function get_npc_count(creator, player, team_count)
    local count = 2 + team_count
    if count > 9
        count = 9
    end
    return count
end
