-- Rules of the NPC creator system: one and a half NPCs per member.
function get_npc_count(creator, player, team_count)
    return team_count * 1.5
end
