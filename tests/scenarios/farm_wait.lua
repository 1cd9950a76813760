-- Waiting for a full team: each signed-up player's heartbeat looks at its
-- team once a second; at five rows of "team" the farm's encounter starts for
-- the leader and the heartbeat ends, the sign-up itself stays.
check(lifecycle().ok, "every module initialised")

local BEAT = "AutoTeamFarmSystem::H_WaitLaunchFight"
scene{config = "farm_field", number = 1}
local farm = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}

local names = {"Ann", "Bob", "Cid", "Dee", "Eve"}
local p = {}
for i = 1, 4 do
  p[i] = player{name = names[i], camp = 1}
  client_message(p[i], 150493, farm)
end
check_eq(rows(p[4], "team"), 4)

-- Four rows: everybody keeps waiting, second after second.
local t0 = mark()
advance(3)
for i = 1, 4 do check_eq(heartbeat(p[i], BEAT), 1000, names[i] .. " still waits") end
expect_no_command{id = 1001, since = t0}

-- A waiting player whose link was cleared drops the heartbeat at the next
-- beat without starting anything.
local lone = player{name = "Lone", camp = 9}
local NULL = get(lone, "AutoTeamFarm")  -- the null object id of a fresh player
client_message(lone, 150493, farm)
check_eq(heartbeat(lone, BEAT), 1000)
set(lone, "AutoTeamFarm", NULL)
local t1 = mark()
advance(1)
check_eq(heartbeat(lone, BEAT), nil, "a cleared link ends the wait")
expect_event{kind = "heartbeat_remove", from = lone, name = BEAT, count = 1, since = t1}
expect_no_command{id = 1001, since = t1}
expect_no_command{id = 997, since = t1}

-- The fifth member fills the team: at the next beat every member's heartbeat
-- starts the encounter for the leader Ann (the farm's data: one fixed NPC at
-- slot 4; the rules script asks for 2 + 5 NPCs), then ends.
p[5] = player{name = names[5], camp = 1}
client_message(p[5], 150493, farm)
check_eq(rows(p[5], "team"), 5)
check_eq(team_leader(p[5]), p[1])
local t2 = mark()
advance(1)
local encounters = events{kind = "command", id = 1001, since = t2}
check_eq(#encounters, 5, "one start per member's heartbeat")
for _, e in ipairs(encounters) do
  check_eq(e.to, p[1], "the leader gets the encounter")
  check_eq({e.args[1], e.args[2], e.args[3], e.args[4], e.args[5]}, {farm, 1, 7, 39501, 4})
end
for i = 1, 5 do
  check_eq(heartbeat(p[i], BEAT), nil, names[i] .. " stopped waiting")
  check_eq(get(p[i], "AutoTeamFarm"), farm, names[i] .. " keeps the sign-up")
end
check_eq(rows(farm, "AutoTeamRec"), 6, "starting keeps the rows (five and Lone's)")

-- Nothing more happens later.
local t3 = mark()
advance(5)
expect_no_command{id = 1001, since = t3}
