-- Leaving the farm: on request (150497) and on "OnLeave" a member tells its
-- leader with 142, a leader tells himself with 141, a player in no team
-- tells nobody; "OnStore" of kind 0, command 1002 and the 141 hook remove
-- silently; command 742 is answered 0 while signed up.
check(lifecycle().ok, "every module initialised")

local BEAT = "AutoTeamFarmSystem::H_WaitLaunchFight"
scene{config = "farm_field", number = 1}
local farm = creator{config = "farm", number = 50, props = {MaxSelectCount = 100}}

local function sign_up(p) client_message(p, 150493, farm) end
local function withdraw(p) client_message(p, 150497) end
local function names_at_farm()
  local out = {}
  for _, row in ipairs(record(farm, "AutoTeamRec")) do out[#out + 1] = row[1] end
  return out
end
local function expect_removed(p, what)
  check(get(p, "AutoTeamFarm"):is_null(), what .. ": link cleared")
  check_eq(heartbeat(p, BEAT), nil, what .. ": heartbeat gone")
end

local ann = player{name = "Ann", camp = 1}
local bob = player{name = "Bob", camp = 1}
local cid = player{name = "Cid", camp = 1}
local ci = player{name = "Ci", camp = 1}
sign_up(ann)
sign_up(bob)
sign_up(cid)
sign_up(ci)
check_eq(team_leader(ci), ann)

-- A member withdraws: 142 from him to the leader, naming both.
local t0 = mark()
withdraw(bob)
expect_command{from = bob, to = ann, id = 142, args = {wide("Ann"), wide("Bob")}, count = 1,
               since = t0}
expect_no_command{id = 141, since = t0}
expect_removed(bob, "member")
check_eq(names_at_farm(), {"Ann", "Cid", "Ci"})
check_eq(team_leader(bob), nil, "the team module let him go")

-- The leader withdraws: 141 to himself. The farm's 141 hook (priority 5)
-- removes him before the team module (10) sees the command, and the removal
-- that follows in the withdrawal finds nothing left to do.
local seen_signed_up
on_command("player", 141, function(self, sender, args)
  seen_signed_up = not get(ann, "AutoTeamFarm"):is_null()
end, {priority = 6, keep_standin = true})
local t1 = mark()
withdraw(ann)
expect_command{from = ann, to = ann, id = 141, args = {wide("Ann"), wide("Ann")}, count = 1,
               since = t1}
expect_no_command{id = 142, since = t1}
check_eq(seen_signed_up, false, "removed by the 141 hook before the team module")
expect_removed(ann, "leader")
expect_event{kind = "heartbeat_remove", from = ann, name = BEAT, count = 1, since = t1}
expect_event{kind = "property", from = ann, name = "AutoTeamFarm", count = 1, since = t1}
check_eq(names_at_farm(), {"Cid", "Ci"})

-- Cid leads now. "Ci" is not "Cid" cut short: the leader test is exact, so
-- she is a member and sends 142.
check_eq(team_leader(ci), cid)
local t2 = mark()
withdraw(ci)
expect_command{from = ci, to = cid, id = 142, args = {wide("Cid"), wide("Ci")}, count = 1,
               since = t2}
expect_no_command{id = 141, since = t2}
check_eq(names_at_farm(), {"Cid"})

-- Cid is alone now (the team dissolved): withdrawing sends nothing.
check_eq(team_leader(cid), nil)
local t3 = mark()
withdraw(cid)
expect_no_command{id = 141, since = t3}
expect_no_command{id = 142, since = t3}
expect_removed(cid, "player in no team")
check_eq(names_at_farm(), {})

-- Withdrawing when not signed up changes nothing, not even the team.
local dan = player{name = "Dan", camp = 1}
local eve = player{name = "Eve", camp = 1}
team(dan, eve)
local t4 = mark()
withdraw(eve)
expect_no_command{since = t4}
check_eq(team_leader(eve), dan)
disband(dan)

-- A leaving member withdraws like one who asks.
sign_up(dan)
sign_up(eve)
local t5 = mark()
leave(eve)
expect_command{to = dan, id = 142, args = {wide("Dan"), wide("Eve")}, count = 1, since = t5}
check_eq(names_at_farm(), {"Dan"})
withdraw(dan)

-- "OnStore": kind 1 keeps the sign-up; kind 0 removes it without a command;
-- a missing kind reads as 0.
local fay = player{name = "Fay", camp = 2}
local gus = player{name = "Gus", camp = 2}
sign_up(fay)
sign_up(gus)
store(fay, 1)
check_eq(get(fay, "AutoTeamFarm"), farm, "kind 1 keeps the sign-up")
local t6 = mark()
store(fay, 0)
expect_removed(fay, "stored with kind 0")
expect_no_command{id = 141, since = t6}
expect_no_command{id = 142, since = t6}
raise(gus, "OnStore", gus)
expect_removed(gus, "stored without a kind")
check_eq(names_at_farm(), {})

-- Command 742 is answered 0 only while the receiver is signed up; command
-- 1002 removes the receiver; the 141 hook removes the player named at index
-- 2, not the receiver.
local hal = player{name = "Hal", camp = 3}
local ida = player{name = "Ida", camp = 3}
check_eq(command(hal, hal, 742), 1, "742 before signing up")
sign_up(hal)
sign_up(ida)
check_eq(command(hal, hal, 742), 0, "742 while signed up")
check_eq(get(hal, "AutoTeamFarm"), farm, "742 changes nothing")

local t7 = mark()
command(ida, ida, 1002)
expect_removed(ida, "command 1002")
expect_no_command{id = 142, since = t7}
check_eq(command(ida, ida, 742), 1, "742 after removal")

sign_up(ida)
command(hal, hal, 141, wide("Hal"), wide("Ida"))
expect_removed(ida, "named by command 141")
check_eq(get(hal, "AutoTeamFarm"), farm, "the receiver of 141 stays")
command(hal, hal, 141, wide("Hal"), wide("Nobody"))
check_eq(get(hal, "AutoTeamFarm"), farm, "an unknown name removes nobody")

-- A link to a farm object that no longer exists is no sign-up.
destroy(farm)
check_eq(command(hal, hal, 742), 1, "742 once the farm is gone")
