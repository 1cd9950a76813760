-- Benchmark load: a long run that fills the event log. Each round selects a
-- creator, wins the fight and lets a virtual second pass, in which the
-- creator's model heartbeat re-draws its model. Prints the resident memory
-- and the log position after BENCH_ROUNDS_FIRST rounds and at the end
-- (BENCH_ROUNDS rounds), so the growth per event can be read off one run.
local first_rounds = tonumber(os.getenv("BENCH_ROUNDS_FIRST") or "100")
local rounds = tonumber(os.getenv("BENCH_ROUNDS") or "1000")

local function resident_kb()
  local f = io.open("/proc/self/status")
  if not f then return -1 end
  local text = f:read("a")
  f:close()
  return tonumber(text:match("VmRSS:%s*(%d+)")) or -1
end

local field = scene{config = "north_road", number = 1003}
local camp = creator{config = "bandit_camp", number = 2, scene = field,
                     props = {MaxSelectCount = 2000000000, RefreshTime = 1000000000,
                              RefreshModelTime = 1}}
local alice = player{name = "Alice", camp = 1}

local function round()
  select(alice, camp, 1)
  fight_won(alice)
  advance(1)
end

for _ = 1, first_rounds do round() end
collectgarbage()
print(string.format("bench-checkpoint events=%d rss_kb=%d", mark(), resident_kb()))
for _ = first_rounds + 1, rounds do round() end
collectgarbage()
print(string.format("bench-checkpoint events=%d rss_kb=%d", mark(), resident_kb()))
check(mark() > 0, "the log holds the run")
