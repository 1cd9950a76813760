-- Benchmark load: BENCH_PAIRS times a select of a creator of the sample data
-- and the won fight it starts, with the event log on. The instruction-count
-- script runs it at two sizes and divides the difference by the extra pairs.
local pairs_to_run = tonumber(os.getenv("BENCH_PAIRS") or "100")

local field = scene{config = "north_road", number = 1003}
-- The counter never runs dry and its refresh never falls due, so every select
-- starts a fight.
local camp = creator{config = "bandit_camp", number = 2, scene = field,
                     props = {MaxSelectCount = 2000000000, RefreshTime = 1000000000}}
local alice = player{name = "Alice", camp = 1}

local before = get(camp, "SelectCount")
for _ = 1, pairs_to_run - 1 do
  select(alice, camp, 1)
  fight_won(alice)
end
-- The checks look at the last pair only, so that they cost the same at
-- every size and drop out of the difference.
local last = mark()
select(alice, camp, 1)
fight_won(alice)
expect_command{to = alice, id = 1001, since = last}
check_eq(get(camp, "SelectCount"), before - pairs_to_run, "every select took a fight")
