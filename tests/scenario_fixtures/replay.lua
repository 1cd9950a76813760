-- Random draws everywhere: a creator that re-draws its model every second
-- between two models, and an encounter drawn by weight on every select.
setup{resources = "res"}
scene{config = "replay", number = 1}
local c = creator{config = "Replay", number = 8,
                  props = {MaxSelectCount = 1000, RefreshTime = 5, RefreshModelTime = 1}}
local d = creator{config = "Draws", number = 7, props = {MaxSelectCount = 1000}}
local p = player{name = "Replayer", camp = 2}
local seen = {}
for i = 1, 60 do
  advance(1)
  seen[get(c, "Model")] = true
  select(p, d, 1)
  fight_won(p)
end
check(seen[8001] and seen[8002], "both models were drawn")
