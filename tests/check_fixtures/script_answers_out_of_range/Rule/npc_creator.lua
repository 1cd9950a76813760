-- A team of four or five gets more NPCs than the formation holds; a player
-- alone gets none.
function get_npc_count(creator, player, team_count)
    if team_count == 1 then
        return 0
    end
    return 2 * team_count + 1
end
