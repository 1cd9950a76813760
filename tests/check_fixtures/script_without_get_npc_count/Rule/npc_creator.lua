-- Rules of the NPC creator system.

-- The function was renamed by mistake.
function npc_count(creator, player, team_count)
    return 2 + team_count
end
