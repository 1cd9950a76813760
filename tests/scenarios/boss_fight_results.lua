-- Fight results at a boss point on the sample data: every won fight (1018)
-- counts one boss down and the last one hides the point; a fight handed
-- back (1019) by a player who fought alone returns the selection.
local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 3, RefreshTime = 600}}
set_activity("AreaBossSystem", 1, 12)
check_eq(get(boss, "CurNPCCount"), 3)

local ann = player{name = "Ann", camp = 1}
local ben = player{name = "Ben", camp = 1}
local cal = player{name = "Cal", camp = 1}

-- Kills: 3 -> 2 -> 1 leave the point open, the third hides it.
select(ann, boss, 1)
check_eq(get(get(ann, "Fighting"), "HelperInfo"), boss, "the stand-in fight is for the boss")
fight_won(ann)
check_eq(get(boss, "CurNPCCount"), 2)
check_eq(get(boss, "CantVisible"), 0, "bosses left: still open")
select(ben, boss, 1)
fight_won(ben)
check_eq(get(boss, "CurNPCCount"), 1)
check_eq(get(boss, "Invisible"), 1)
check_eq(get(boss, "CantVisible"), 0)
select(cal, boss, 1)
check_eq(get(boss, "SelectCount"), 0, "the third select took the last fight")
fight_won(cal)
check_eq(get(boss, "CurNPCCount"), 0)
check_eq(get(boss, "CantVisible"), 1, "the last kill hides the point")

-- A kill reported by a player in no fight, or a fight of an ordinary
-- creator, changes nothing.
local stray = mark()
fight_won(ann)
local plain = creator{config = "NpcCreator", number = 1, props = {MaxSelectCount = 5}}
select(ann, plain, 1)
fight_won(ann)
check_eq(get(boss, "CurNPCCount"), 0)
expect_no_event{kind = "property", name = "CurNPCCount", since = stray}

-- The refresh ten minutes after activation fills everything again.
advance(630)
check_eq(get(boss, "CurNPCCount"), 3)
check_eq(get(boss, "SelectCount"), 3)
check_eq(get(boss, "CantVisible"), 0)

-- Returns. A fight taken and handed back by a player alone gives it back:
-- the count goes 0 -> 1, the point shows and is no longer fighting.
select(ann, boss, 1)
select(ben, boss, 1)
select(cal, boss, 1)
check_eq(get(boss, "SelectCount"), 0)
check_eq(get(boss, "IsFighting"), 1)
check_eq(get(boss, "CantVisible"), 1)
fight_returned(cal)
check_eq(get(boss, "SelectCount"), 1, "the solo fighter's selection came back")
check_eq(get(boss, "CantVisible"), 0)
check_eq(get(boss, "IsFighting"), 0)
check_eq(get(boss, "Invisible"), 1, "Invisible is never cleared")

-- A team's fight: the left team holds a second player, nothing comes back.
local dee = player{name = "Dee", camp = 1}
local eli = player{name = "Eli", camp = 1}
team(dee, eli)
select(dee, boss, 1)
check_eq(get(boss, "SelectCount"), 0)
check_eq(get(boss, "IsFighting"), 1)
local left = child(get(dee, "Fighting"), "LeftTeam")
check_eq(rows(left, "PkMemberInfo"), 2, "leader and member in the left team")
local team_return = mark()
fight_returned(dee)
check_eq(get(boss, "SelectCount"), 0, "no selection back for a team")
check_eq(get(boss, "IsFighting"), 1)
check_eq(get(boss, "CantVisible"), 1)
expect_no_event{kind = "property", from = boss, since = team_return}

-- At the maximum the count stays, but the point stops fighting.
set(boss, "SelectCount", 2)
set(boss, "IsFighting", 0)
select(ann, boss, 1)
check_eq(get(get(ann, "Fighting"), "HelperInfo"), boss)
set(boss, "SelectCount", 3)
set(boss, "IsFighting", 1)
set(boss, "CantVisible", 1)
fight_returned(ann)
check_eq(get(boss, "SelectCount"), 3, "never above MaxSelectCount")
check_eq(get(boss, "IsFighting"), 0)
check_eq(get(boss, "CantVisible"), 1, "visibility only changes with the count")
