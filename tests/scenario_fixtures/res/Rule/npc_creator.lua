-- Encounter size for the scenario runner's fixture world: the member count
-- the host passes in, plus two.
function get_npc_count(creator, player, count)
  return count + 2
end
