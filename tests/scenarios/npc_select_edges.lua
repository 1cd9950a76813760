-- Encounters on select, on a fixture whose rules script answers 3, or two
-- billion for teams of three or more. Draws follow the fresh generator:
-- 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358 (/32768).
setup{resources = "fixtures/npc_edges"}

-- Rows the formation cannot hold are refused while the tables are read, each
-- with the offending entry on the next line.
local slot_type = events{kind = "trace", contains = "slot type out of range"}
check_eq(#slot_type, 1)
expect_event{kind = "trace", contains = "79000,0.5,4"}
expect_event{kind = "trace", contains = "fixed slot out of range"}
expect_event{kind = "trace", contains = "79001,9,3"}

local den = creator{config = "wolf_den", number = 70, props = {MaxSelectCount = 1}}
check_eq(get(den, "Index"), 7)  -- draw 1 picks the only model
check_eq(record(den, "NPCInfoRec"), {{7, 500, 4.9, 3}, {7, 601, 0.5, 0}, {7, 602, 0.5, 0}})

-- The fixed NPC comes first at slot 4 (4.9 truncated); the two type-0 draws
-- (0.564 -> 602, 0.193 -> 601) take slot 3, then slot 0.
local alice = player{name = "Alice", camp = 1}
local first = mark()
select(alice, den, 1)
expect_command{from = alice, to = alice, id = 1001, since = first,
               args = {den, 0, 3, 500, 4, 602, 3, 601, 0}}
check_eq(get(den, "SelectCount"), 0, "the last selection is taken")
check_eq(get(den, "Invisible"), 0)
check_eq(get(den, "CantVisible"), 0, "still visible at 0")

-- Below zero: hidden, and the encounter is built all the same.
local second = mark()
select(alice, den, 1)
check_eq(get(den, "SelectCount"), -1)
check_eq(get(den, "Invisible"), 1)
check_eq(get(den, "CantVisible"), 1)
expect_command{from = alice, to = alice, id = 1001, since = second,
               args = {den, 0, 3, 500, 4, 602, 3, 602, 0}}

-- Weights of 0.1 + 0.2 cannot reach the draw 0.350: only the fixed NPC is
-- sent, but the size field still counts the two wanted draws.
local cover = creator{config = "thin_cover", number = 73}  -- load uses draw 6
local thin = mark()
select(alice, cover, 1)
expect_command{from = alice, to = alice, id = 1001, since = thin, args = {cover, 0, 3, 73100, 2}}

-- A leader of three: the script answers two billion. The draws stop at 256
-- with a log line, the size field says 1 + 256, and every NPC past the ninth
-- stands at the slot its type falls back to.
local bob = player{name = "Bob", camp = 1}
local cid = player{name = "Cid", camp = 1}
local dan = player{name = "Dan", camp = 1}
team(bob, cid, dan)
local absurd = mark()
select(bob, den, 1)
local list = expect_command{from = bob, to = bob, id = 1001, since = absurd}
if list then
  check_eq(list.args[1], den)
  check_eq(list.args[2], 1, "leader flag")
  check_eq(list.args[3], 257, "size field counts the capped draws")
  check_eq(#list.args, 3 + 2 * 257, "one fixed and 256 drawn NPCs")
  check_eq(list.args[#list.args], 0, "the tenth and later NPCs of type 0 fall back to slot 0")
end
expect_event{kind = "trace", contains = "capped at 256", since = absurd}
expect_event{kind = "trace", contains = "2000000000", since = absurd}

-- A member who does not lead counts as one: flag 0, ordinary size.
local member = mark()
select(cid, den, 1)
expect_command{from = cid, to = cid, id = 1001, since = member,
               args = {den, 0, 3, 500, 4, ANY, ANY, ANY, ANY}}
expect_no_event{kind = "trace", since = member}
