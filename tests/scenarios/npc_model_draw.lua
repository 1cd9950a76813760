-- Model re-draws on the clock. The fixture's creator 71 weighs its models
-- 6334/32768, 0.3 and 0.5; a fresh generator draws 41, 18467, 6334, 26500,
-- 19169, 15724, 11478, 29358, 26962 (/32768), one per model draw.
setup{resources = "fixtures/npc_edges"}

local field = scene{config = "edge_field", number = 77}
local c = creator{config = "edge", number = 71, scene = field,
                  props = {RefreshTime = 600, RefreshModelTime = 10, NoticeByWorldRefresh = 1}}
local function model_at(seconds)
  advance_ms(seconds * 1000 - now_ms())
  return get(c, "Model")
end

-- Load: 0.0013 -> first row.
check_eq(get(c, "Model"), 7101)
check_eq(get(c, "Index"), 711)
check_eq(get(c, "NpcConfig"), 71100)
check_eq(get(c, "NPCDes"), "Edge first")
check_eq(model_at(10), 7103, "0.564 passes 0.193 + 0.3 only with the third weight")
check_eq(get(c, "NpcConfig"), 71300)
-- The running sum must be greater than the draw: equal is not enough.
check_eq(model_at(20), 7102, "a sum equal to the draw moves on to the next row")
check_eq(get(c, "Index"), 712)
check_eq(model_at(30), 7103)

-- The same model again with a description: nothing is written, but the
-- draw is still announced.
local same = mark()
check_eq(model_at(40), 7103)
expect_no_event{kind = "property", since = same}
expect_event{kind = "sysinfo_world", name = "80000", args = {"71", "77"}, since = same}

check_eq(model_at(50), 7102, "0.480 is below 0.193 + 0.3")

-- Creator 72 weighs 0.2, 0.3, 0.5; its load takes draw 7, 0.350: not past
-- 0.2, past 0.5, so the second model.
local twenty = creator{config = "edge", number = 72, scene = field, props = {RefreshTime = 600}}
check_eq(get(twenty, "Model"), 7202)
check_eq(get(twenty, "NpcConfig"), 72200)

check_eq(model_at(60), 7103)
-- The same model drawn again but with an empty description: it is applied.
set(c, "NPCDes", "")
check_eq(model_at(70), 7103, "0.823 -> third row again")
check_eq(get(c, "NPCDes"), "Edge third")
