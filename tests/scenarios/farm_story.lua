-- The whole story on the sample world: five players of one camp sign up at
-- the farm object, the team module gathers them into one team from the
-- farm's team requests, and at the next beat the team's leader receives the
-- farm's encounter and the stand-in game script starts the fight. Players of
-- another camp who sign up in between stay out of it.
check(lifecycle().ok, "every module initialised")

local BEAT = "AutoTeamFarmSystem::H_WaitLaunchFight"
scene{config = "farm_field", number = 1}
local farm = creator{config = "farm", number = 50, props = {MaxSelectCount = 10, RefreshTime = 600}}
check_eq(get(farm, "Model"), 9501, "the farm's model from the sample tables")
check_eq(get(farm, "Index"), 5001)

local names = {"Ann", "Bob", "Cid", "Dee", "Eve"}
local camp1 = {}
local camp2 = {}
for i, name in ipairs(names) do
  camp1[i] = player{name = name, camp = 1}
  client_message(camp1[i], 150493, farm)
  if i <= 2 then
    camp2[i] = player{name = name .. "2", camp = 2}
    client_message(camp2[i], 150493, farm)
  end
  if i < 5 then
    advance(1)  -- a beat between sign-ups: nothing starts before the team is full
    expect_no_command{id = 1001}
  end
end

-- Four team requests, all to Ann, who leads the team they built.
check_eq(count_events{kind = "command_by_name", id = 140, target_name = "Ann"}, 4)
check_eq(team_members(camp1[5]), camp1, "one team of five, Ann first")
check_eq(team_members(camp2[1]), camp2, "camp 2 forms its own team")

local start = mark()
advance(1)
local list = expect_command{from = camp1[1], to = camp1[1], id = 1001, since = start,
                            args = {farm, 1, 7, 39501, 4, ANY, ANY, ANY, ANY, ANY, ANY, ANY,
                                    ANY, ANY, ANY, ANY, ANY}}
if list then
  for i = 6, 16, 2 do
    local npc = list.args[i]
    check(npc == 39511 or npc == 39512, "drawn NPC from the farm's table: " .. tostring(npc))
  end
end
check_eq(count_events{kind = "command", id = 1001, since = start}, 5,
         "each member's beat starts it once, always for Ann")
expect_command{from = farm, to = farm, id = 997, args = {5001, farm}, since = start}
for i = 1, 5 do check_eq(heartbeat(camp1[i], BEAT), nil) end
check_eq(heartbeat(camp2[1], BEAT), 1000, "camp 2 keeps waiting")

local fight = get(camp1[1], "Fighting")
check(fight ~= nil and not fight:is_null(), "the stand-in script started the fight")
check_eq(get(fight, "HelperInfo"), farm)

-- After the fight the players leave the farm one by one.
fight_won(camp1[1])
for i = 5, 1, -1 do client_message(camp1[i], 150497) end
check_eq(record(farm, "AutoTeamRec"), {{"Ann2", 2}, {"Bob2", 2}})
