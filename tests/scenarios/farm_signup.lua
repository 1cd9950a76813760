-- Signing up at a farm object: who is told, who is refused in silence, who
-- is paired with whom through command 140, and what a refused or stopped
-- sign-up leaves behind (nothing).
check(lifecycle().ok, "every module initialised")

local BEAT = "AutoTeamFarmSystem::H_WaitLaunchFight"
local field = scene{config = "farm_field", number = 1}
local farm = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}
local other_farm = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}

local function sign_up(p, at) client_message(p, 150493, at) end

local function expect_signed_up(p, at, what)
  check_eq(get(p, "AutoTeamFarm"), at, what .. ": link")
  check_eq(heartbeat(p, BEAT), 1000, what .. ": waiting heartbeat")
end

local function expect_untouched(p, what)
  check(get(p, "AutoTeamFarm"):is_null(), what .. ": no link")
  check_eq(heartbeat(p, BEAT), nil, what .. ": no heartbeat")
end

-- A player already in a team is told "91800" and nothing is stored.
local ted = player{name = "Ted", camp = 1}
local tim = player{name = "Tim", camp = 1}
team(tim, ted)
local t0 = mark()
sign_up(ted, farm)
expect_event{kind = "sysinfo", id = 2, name = "91800", to = ted, args = {}, count = 1, since = t0}
expect_untouched(ted, "player in a team")
check_eq(rows(farm, "AutoTeamRec"), 0, "no row for a player in a team")

-- The first of a camp: row, link and heartbeat, and nobody to ask yet.
local ann = player{name = "Ann", camp = 1}
local t1 = mark()
sign_up(ann, farm)
check_eq(record(farm, "AutoTeamRec"), {{"Ann", 1}})
expect_signed_up(ann, farm, "first of the camp")
expect_no_event{kind = "command_by_name", id = 140, since = t1}
expect_no_event{kind = "sysinfo", since = t1}

-- Refusals after the first test are silent: the same farm again, a second
-- farm while signed up, a scene of type 2, a dead object.
local t2 = mark()
sign_up(ann, farm)
sign_up(ann, other_farm)
check_eq(record(farm, "AutoTeamRec"), {{"Ann", 1}}, "no second row")
check_eq(rows(other_farm, "AutoTeamRec"), 0, "nothing at the second farm")
check_eq(get(ann, "AutoTeamFarm"), farm, "still linked to the first farm")

local closed = scene{config = "farm_closed", number = 2, type = 2, current = false}
local closed_farm = creator{config = "farm", number = 50, scene = closed,
                            props = {MaxSelectCount = 100}}
local ivy = player{name = "Ivy", camp = 1, scene = closed}
sign_up(ivy, closed_farm)
expect_untouched(ivy, "scene of type 2")
check_eq(rows(closed_farm, "AutoTeamRec"), 0)

local gone = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}
destroy(gone)
local jon = player{name = "Jon", camp = 1}
sign_up(jon, gone)
client_message(jon, 150493)  -- no object at all
expect_untouched(jon, "dead farm object")
expect_no_event{kind = "sysinfo", since = t2}
expect_no_event{kind = "command_by_name", since = t2}

-- The farm object comes from the client: an object without the sign-up
-- record is no farm and gets neither rows nor a sign-up.
local kay = player{name = "Kay", camp = 1}
sign_up(kay, jon)
sign_up(kay, field)
expect_untouched(kay, "object that is no farm")
check_eq(rows(jon, "AutoTeamRec"), -1)
check_eq(rows(field, "AutoTeamRec"), -1)

-- The second of the camp: command 140 by name to the first player (in no
-- team yet), naming the newcomer; the host's team module forms the team.
local bob = player{name = "Bob", camp = 1}
local t3 = mark()
sign_up(bob, farm)
expect_event{kind = "command_by_name", id = 140, target_name = "Ann", count = 1, since = t3,
             args = {wide("Ann"), wide("Bob"), 0, 0}}
check_eq(record(farm, "AutoTeamRec"), {{"Ann", 1}, {"Bob", 1}})
expect_signed_up(bob, farm, "second of the camp")
check_eq(team_leader(bob), ann, "the team module joined them")

-- Other camps are never paired with camp 1; the second of camp 2 asks the
-- first of camp 2 although camp 1 signed up earlier.
local cal = player{name = "Cal", camp = 2}
local t4 = mark()
sign_up(cal, farm)
expect_signed_up(cal, farm, "first of camp 2")
expect_no_event{kind = "command_by_name", since = t4}
local dot = player{name = "Dot", camp = 2}
sign_up(dot, farm)
expect_event{kind = "command_by_name", id = 140, target_name = "Cal", count = 1, since = t4,
             args = {wide("Cal"), wide("Dot"), 0, 0}}
check_eq(team_leader(dot), cal)

-- The third of camp 1 asks the leader of the earliest camp-1 player's team.
local eve = player{name = "Eve", camp = 1}
local t5 = mark()
sign_up(eve, farm)
expect_event{kind = "command_by_name", id = 140, target_name = "Ann", count = 1, since = t5,
             args = {wide("Ann"), wide("Eve"), 0, 0}}
check_eq(#team_members(ann), 3)

-- Names are compared exactly: "ann" and "Ann " are other players than "Ann".
local low = player{name = "ann", camp = 3}
local spaced = player{name = "Ann ", camp = 3}
sign_up(low, farm)
sign_up(spaced, farm)
expect_signed_up(low, farm, "lower-case name")
expect_signed_up(spaced, farm, "name with a trailing blank")

-- The earliest same-camp row belongs to a player the kernel cannot find
-- (gone without a leave event). The join stops and takes its row back out,
-- so nothing is left; once that player is back, the sign-up succeeds.
local far = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}
local old = player{name = "Old", camp = 4}
sign_up(old, far)
destroy(old)
local new = player{name = "New", camp = 4}
local t6 = mark()
sign_up(new, far)
check_eq(record(far, "AutoTeamRec"), {{"Old", 4}}, "the stopped join left no row")
expect_untouched(new, "stopped join")
expect_no_event{kind = "command_by_name", since = t6}
local old_again = player{name = "Old", camp = 4}
sign_up(new, far)
check_eq(record(far, "AutoTeamRec"), {{"Old", 4}, {"New", 4}})
expect_signed_up(new, far, "sign-up once the earliest player is back")
check_eq(team_leader(new), old_again)
