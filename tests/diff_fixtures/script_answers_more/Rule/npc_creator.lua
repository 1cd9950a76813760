-- Rules of the NPC creator system.

-- Size of an encounter: two NPCs plus one per member of the player's team
-- (team_count is 1 for a player alone or not leading a team), never more than
-- the nine formation slots.
function get_npc_count(creator, player, team_count)
    local count = 3 + team_count
    if count > 9 then
        count = 9
    end
    if count < 1 then
        count = 1
    end
    return count
end
