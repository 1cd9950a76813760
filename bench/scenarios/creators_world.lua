-- Benchmark load: a world of BENCH_CREATORS loaded creators of the sample
-- data (creator numbers 1 to 5 in turn), for its peak resident memory.
local count = tonumber(os.getenv("BENCH_CREATORS") or "1000")

local field = scene{config = "north_road", number = 1003}
local numbers = {1, 2, 3, 4, 5}
local last
for i = 1, count do
  last = creator{config = "NpcCreator", number = numbers[(i - 1) % #numbers + 1], scene = field}
end
check(get(last, "Model") ~= 0, "the last creator drew a model")
