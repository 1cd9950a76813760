-- Smoke test of the scenario runner on the real plug-in: build a small
-- world from the runner's own fixture data, select a creator, win the fight,
-- let the clock restore the creator, and replace a stand-in game script.
setup{resources = "../scenario_fixtures/res"}

local names = modules()
check_eq(names, {"AutoTeamFarmSystem", "AreaBossSystem", "NpcCreatorSystem"}, "creator-list order")
check(lifecycle().ok, "every module initialised")

local town = scene{config = "smoke_town", number = 1}
local c = creator{config = "SmokeCreator", number = 7, scene = town,
                  props = {MaxSelectCount = 2, RefreshTime = 30, RefreshModelTime = 0}}

-- Loading prepared the creator from the fixture tables.
check_eq(get(c, "SelectCount"), 2, "load raises SelectCount to MaxSelectCount")
check_eq(get(c, "Model"), 7001)
check_eq(get(c, "Index"), 70)
check_eq(rows(c, "NPCInfoRec"), 3)
check_eq(record(c, "NPCInfoRec")[1], {70, 500, 4.9, 3})
check_eq(heartbeat(c, "NpcCreatorSystem::WaitRefreshNPC"), 30000)
check_eq(heartbeat(c, "NpcCreatorSystem::WaitRefreshModel"), 30000)

local alice = player{name = "Alice", camp = 1}
local before = mark()
select(alice, c, 1)

expect_command{from = alice, to = c, id = 976, since = before}
expect_command{from = c, to = c, id = 997, args = {70, c}, since = before}
-- The script asks for 1 + 2 NPCs: the fixed one at slot 4, then two drawn
-- NPCs of slot type 0, which stand at slots 3 and 0.
local list = expect_command{from = alice, to = alice, id = 1001, since = before,
                            args = {c, 0, 3, 500, 4, ANY, 3, ANY, 0}}
check(list ~= nil and (list.args[6] == 601 or list.args[6] == 602), "drawn NPC from the table")
check_eq(get(c, "SelectCount"), 1)

-- The stand-in fight script started a fight for the creator.
local fight = get(alice, "Fighting")
check(fight ~= nil and not fight:is_null(), "a fight was started")
check_eq(get(fight, "HelperInfo"), c)

fight_won(alice)
expect_command{to = alice, id = 1018, since = before}
check(get(alice, "Fighting"):is_null(), "the fight ended")

-- Thirty virtual seconds later the refresh heartbeat restores the counter.
advance(30)
check_eq(now_ms(), 30000)
check_eq(get(c, "SelectCount"), 2, "refresh restores SelectCount")

-- A scenario handler replaces the stand-in permission script.
local asked = 0
on_command("NpcCreator", 976, function(self, sender, args)
  asked = asked + 1
  check_eq(self, c)
  check_eq(sender, alice)
  check_eq(args.id, 976)
  return 0
end)
local refused = mark()
select(alice, c, 1)
check_eq(asked, 1, "the replacement handler ran once")
expect_no_command{id = 1001, since = refused}
check_eq(get(c, "SelectCount"), 2, "a refused select takes nothing")
