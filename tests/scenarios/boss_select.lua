-- Fights at a boss point: a select takes one fight and draws the boss
-- encounter from the creator's records. The fixture has one model whose
-- index holds two fixed NPCs (slots 4 and 2) and two drawn ones, and a rules
-- script that asks for as many NPCs as the team count it is given.
setup{resources = "fixtures/boss_select"}
check(lifecycle().ok, "every module initialised")

local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 3, RefreshTime = 600}}
set_activity("AreaBossSystem", 1, 12)
check_eq(get(boss, "Model"), 9290)
check_eq(get(boss, "SelectCount"), 3)

local alice = player{name = "Alice", camp = 1}

-- Function 0 only opens the menu. The boss handler sends the menu message
-- and nothing else; the creator system's own select (the class derives from
-- NpcCreator) adds its menu message and command 432.
local menu = mark()
select(alice, boss, 0)
local boss_menu = events{kind = "custom", id = 50060, since = menu}
check_eq(#boss_menu, 2, "one menu message from each system")
check_eq(boss_menu[1].args, {90})
check_eq(count_events{kind = "command", id = 432, since = menu}, 1, "432 from the creator system only")
expect_no_command{id = 976, since = menu}
check_eq(get(boss, "SelectCount"), 3, "no fight taken by the menu")

-- Alone, the script asks for 1 NPC: both fixed ones, no draw, size field 2.
local first = mark()
select(alice, boss, 1)
expect_command{from = alice, to = boss, id = 976, since = first}
expect_command{from = boss, to = boss, id = 997, args = {1290, boss}, since = first}
expect_command{from = alice, to = alice, id = 1001, since = first,
               args = {boss, 0, 2, 39290, 4, 39291, 2}}
check_eq(get(boss, "SelectCount"), 2)
check_eq(get(boss, "CantVisible"), 0)
check_eq(get(boss, "IsFighting"), 0)

-- A leader of four: the script asks for 4, so two NPCs are drawn after the
-- two fixed ones, and the leader flag is set.
local bob = player{name = "Bob", camp = 1}
local cid = player{name = "Cid", camp = 1}
local dan = player{name = "Dan", camp = 1}
local eve = player{name = "Eve", camp = 1}
team(bob, cid, dan, eve)
local second = mark()
select(bob, boss, 1)
local list = expect_command{from = bob, to = bob, id = 1001, since = second,
                            args = {boss, 1, 4, 39290, 4, 39291, 2, ANY, ANY, ANY, ANY}}
if list then
  -- Type 0 takes slot 3, then 0; type 1 takes slot 1 (4 is taken).
  local free = {[39292] = {3, 0}, [39293] = {1, 7}}
  for i = 8, 10, 2 do
    local npc, slot = list.args[i], list.args[i + 1]
    check(free[npc] ~= nil, "drawn NPC from the table: " .. tostring(npc))
    if free[npc] then check_eq(slot, table.remove(free[npc], 1), "slot of " .. npc) end
  end
end
check_eq(get(boss, "SelectCount"), 1)

-- The last fight: SelectCount 1 becomes 0, the boss hides and is marked as
-- fighting, and the list is still sent.
local last = mark()
select(alice, boss, 1)
expect_command{from = alice, to = alice, id = 1001, since = last}
check_eq(get(boss, "SelectCount"), 0)
check_eq(get(boss, "Invisible"), 1)
check_eq(get(boss, "CantVisible"), 1)
check_eq(get(boss, "IsFighting"), 1)

-- No fight left: after the permission question nothing happens.
local empty = mark()
select(cid, boss, 1)
expect_command{from = cid, to = boss, id = 976, since = empty}
expect_no_command{id = 997, since = empty}
expect_no_command{id = 1001, since = empty}
expect_no_event{kind = "property", since = empty}

-- Fighting with fights left: refused all the same.
set(boss, "SelectCount", 2)
local busy = mark()
select(cid, boss, 1)
expect_no_command{id = 1001, since = busy}
check_eq(get(boss, "SelectCount"), 2)

-- The creator's own scripts refuse the select: nothing changes.
set(boss, "IsFighting", 0)
on_command("NpcCreator", 976, function() return 0 end)
local refused = mark()
select(cid, boss, 1)
expect_no_command{id = 997, since = refused}
expect_no_event{kind = "property", since = refused}
