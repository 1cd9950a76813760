-- The road of one encounter on the shipped game data: a bandit camp creator
-- (number 2) is loaded, selected, its fight list sent, the fight won and
-- announced, its counter restored and its model re-drawn on the clock, and a
-- second select draws from the new model's candidates.
--
-- The world runs on a fresh thread, so the plug-in's draws are the known
-- sequence 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358 (/32768).
check(lifecycle().ok, "every module initialised")

local forest = scene{config = "north_road", number = 1003}
local camp = creator{config = "bandit_camp", number = 2, scene = forest,
                     props = {MaxSelectCount = 2, RefreshTime = 30, RefreshModelTime = 120,
                              NoticeByWorldRefresh = 1, NoticeByWorldBeKilled = 1}}

-- Load: the three models and their nine candidates are copied in, the first
-- draw (0.0013) picks the scouts, and the draw is announced.
check_eq(rows(camp, "ModelInfoRec"), 3)
check_eq(record(camp, "ModelInfoRec")[2], {1202, 0.3, "Bandit raiders", 202})
check_eq(rows(camp, "NPCInfoRec"), 9)
check_eq(record(camp, "NPCInfoRec")[6], {203, 30110, 4, 3})
check_eq(get(camp, "Model"), 1201)
check_eq(get(camp, "ModelEx"), 1201)
check_eq(get(camp, "Index"), 201)
check_eq(get(camp, "NPCDes"), "Bandit scouts")
check_eq(get(camp, "NpcConfig"), 30101)
check_eq(get(camp, "SelectCount"), 2)
check_eq(heartbeat(camp, "NpcCreatorSystem::WaitRefreshNPC"), 30000)
check_eq(heartbeat(camp, "NpcCreatorSystem::WaitRefreshModel"), 120000)
expect_event{kind = "sysinfo_world", id = 19, name = "80000", args = {"2", "1003"}}
expect_command{from = camp, to = camp, id = 995}

-- A player alone: the rules script asks for 2 + 1 NPCs, all drawn.
-- 0.564 -> 30102 (type 2: slot 5), 0.193 -> 30101 (type 0: slot 3),
-- 0.809 -> 30102 (type 2, slot 5 taken: slot 2).
local alice = player{name = "Alice", camp = 1, scene = forest}
local first = mark()
select(alice, camp, 1)
expect_command{from = alice, to = camp, id = 976, since = first}
expect_command{from = camp, to = camp, id = 997, args = {201, camp}, since = first}
expect_command{from = alice, to = alice, id = 1001, since = first,
               args = {camp, 0, 3, 30102, 5, 30101, 3, 30102, 2}}
check_eq(get(camp, "SelectCount"), 1)

-- The host's fight script started the fight; winning it is announced with
-- the creator's description and the winner's name.
local fight = get(alice, "Fighting")
check_eq(get(fight, "HelperInfo"), camp)
local won = mark()
fight_won(alice)
expect_event{kind = "sysinfo_world", id = 19, name = "80001", args = {"Bandit scouts", "Alice"},
             since = won}

-- The counter comes back every 30 s; the model is re-drawn at 120 s:
-- 0.585 passes 0.5 + 0.3, so the raiders (index 202) take over.
advance(30)
check_eq(get(camp, "SelectCount"), 2)
local redraw = mark()
advance(90)
check_eq(get(camp, "Model"), 1202)
check_eq(get(camp, "ModelEx"), 1202)
check_eq(get(camp, "Index"), 202)
check_eq(get(camp, "NPCDes"), "Bandit raiders")
check_eq(get(camp, "NpcConfig"), 30101)
check_eq(count_events{kind = "sysinfo_world", name = "80000", since = redraw}, 1)

-- The next select draws from index 202: 0.480 and 0.350 pass 0.3 + 0.4
-- (30103, type 1: slots 4 then 1), 0.896 reaches the last row (30104,
-- type 2: slot 5).
local second = mark()
select(alice, camp, 1)
expect_command{from = alice, to = alice, id = 1001, since = second,
               args = {camp, 0, 3, 30103, 4, 30103, 1, 30104, 5}}
