-- World notices on the shipped data: "80000" after every model draw of a
-- creator whose NoticeByWorldRefresh is above 0, "80001" when a player beats
-- the encounter of a creator whose NoticeByWorldBeKilled is exactly 1.
local town = scene{config = "river_town", number = 2001}
local function shrine(refresh, killed)
  return creator{config = "shrine", number = 3, scene = town,
                 props = {RefreshTime = 20, NoticeByWorldRefresh = refresh,
                          NoticeByWorldBeKilled = killed}}
end

local before = mark()
local quiet = shrine(0, 0)
check_eq(count_events{kind = "sysinfo_world", since = before}, 0, "flag 0: no refresh notice")
local loud = shrine(2, 1)
expect_event{kind = "sysinfo_world", id = 19, name = "80000", args = {"3", "2001"}, since = before}
check_eq(count_events{kind = "sysinfo_world", since = before}, 1)

-- Every model draw is announced, also when the model stays the same (the
-- shrine has a single model).
local clock = mark()
advance(40)
check_eq(count_events{kind = "sysinfo_world", name = "80000", since = clock}, 2)

-- Kill notices: only for exactly 1.
local hero = player{name = "Hero", camp = 1}
local function beat(c)
  select(hero, c, 1)
  local m = mark()
  fight_won(hero)
  return m
end
local m1 = beat(quiet)
expect_no_event{kind = "sysinfo_world", name = "80001", since = m1}
local m2 = beat(loud)
expect_event{kind = "sysinfo_world", id = 19, name = "80001", args = {"River spirits", "Hero"},
             since = m2}
local two = shrine(0, 2)
local m3 = beat(two)
expect_no_event{kind = "sysinfo_world", name = "80001", since = m3}

-- A fight result without a fight, or for a creator that is gone: nothing.
local m4 = mark()
fight_won(hero)
select(hero, loud, 1)
destroy(loud)
fight_won(hero)
expect_no_event{kind = "sysinfo_world", since = m4}
