-- Time points on the sample data: a boss point whose FRTime arrives opens at
-- once, its running refresh restarts so the next refresh is a full period
-- after the time point, and a type 1 point announces itself with its number
-- and the scene's. Time points of another kind or for another object are
-- ignored. The FRTime texts use the host's daily "HH:MM" syntax.
local REFRESH = "AreaBossSystem::WaitRefreshBossNPC"
local CHECK = "AreaBossSystem::PointTimeRefreshNPC"

local field = scene{config = "boss_field", number = 305}

-- Number 12 is active from the start, so its refresh runs every 40 s from
-- the first check at 30 s: 70, 110, ..., 270, 310.
local tyrant = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                       props = {CreatorType = 1, MaxSelectCount = 2, RefreshTime = 40,
                                FRTime = "00:05"}}
set_activity("AreaBossSystem", 1, 12)

-- Number 13 is no type 1 point: no activity check, it opens at 00:07 only.
-- Its NoticeByWorldRefresh announces the load twice: once for the model
-- draw, once for the first refresh, with the same arguments.
local before = mark()
local wyrm = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 13,
                     props = {CreatorType = 0, MaxSelectCount = 1, RefreshTime = 0,
                              NoticeByWorldRefresh = 1, FRTime = "00:07"}}
expect_event{kind = "sysinfo_world", id = 19, name = "80000", args = {"13", "305"}, count = 2,
             since = before}
check_eq(heartbeat(wyrm, CHECK), nil, "only type 1 points are checked")
check_eq(get(wyrm, "CantVisible"), 0)

-- An ordinary creator of the creator system, with an FRTime of its own: the
-- creator system registers no time point for it.
local stall = creator{config = "NpcCreator", number = 1, props = {FRTime = "00:05"}}
set(stall, "CantVisible", 1)

advance(30)
check_eq(heartbeat(tyrant, REFRESH), 40000)
check_eq(heartbeat_due(tyrant, REFRESH), 70000)

-- Time point commands that are not for a boss point change nothing.
set(tyrant, "CantVisible", 1)
set(tyrant, "IsFighting", 1)
local wrong = mark()
command(field, field, 326, 8, tyrant)
command(field, field, 326, 9, stall)
check_eq(get(tyrant, "CantVisible"), 1, "kind 8 is not a boss time point")
check_eq(get(tyrant, "IsFighting"), 1)
check_eq(get(stall, "CantVisible"), 1, "an NpcCreator config is not a boss point")
check_eq(heartbeat_due(tyrant, REFRESH), 70000, "refresh not restarted")
expect_no_event{kind = "sysinfo_world", since = wrong}
expect_no_event{kind = "heartbeat_add", since = wrong}

-- Keep the boss hidden and busy until the time point at 300 s.
advance(235)                  -- 265 s: the refresh at 230 s has shown it
set(tyrant, "CantVisible", 1)
set(tyrant, "IsFighting", 1)
set(tyrant, "SelectCount", 0)
set(tyrant, "CurNPCCount", 0)
check_eq(heartbeat_due(tyrant, REFRESH), 270000)
advance(5)                    -- 270 s: the refresh runs and refills
set(tyrant, "CantVisible", 1)
set(tyrant, "IsFighting", 1)
set(tyrant, "SelectCount", 0)
set(tyrant, "CurNPCCount", 0)
check_eq(heartbeat_due(tyrant, REFRESH), 310000)

local at = mark()
advance(30)                   -- 300 s = 00:05: the time point
expect_command{from = field, to = field, id = 326, args = {9, tyrant}, since = at}
check_eq(get(tyrant, "CantVisible"), 0, "opened by the time point")
check_eq(get(tyrant, "IsFighting"), 0)
check_eq(get(tyrant, "SelectCount"), 2)
check_eq(get(tyrant, "CurNPCCount"), 0, "the kill count waits for the refresh")
check_eq(heartbeat_due(tyrant, REFRESH), 340000, "refresh restarted: a full period from now")
expect_event{kind = "heartbeat_remove", name = REFRESH, since = at}
expect_event{kind = "sysinfo_world", id = 19, name = "80000", args = {"12", "305"}, count = 1,
             since = at}

advance(39)
check_eq(get(tyrant, "CurNPCCount"), 0)
advance(1)
check_eq(get(tyrant, "CurNPCCount"), 2, "next refresh at 340 s")

-- The type 0 point opens at 00:07 without a notice of its own; its refresh
-- notice follows 60 s later (RefreshTime 0 means 60).
set(wyrm, "CantVisible", 1)
set(wyrm, "SelectCount", 0)
local seven = mark()
advance(80)                   -- 420 s = 00:07
check_eq(now_ms(), 420000)
check_eq(get(wyrm, "CantVisible"), 0, "opened by its time point")
check_eq(get(wyrm, "SelectCount"), 1)
check_eq(heartbeat(wyrm, REFRESH), 60000)
expect_no_event{kind = "sysinfo_world", args = {"13", "305"}, since = seven}
advance(60)
expect_event{kind = "sysinfo_world", args = {"13", "305"}, count = 1, since = seven}

-- The next day the time points come again.
local day = mark()
advance(24 * 3600)
check_eq(count_events{kind = "command", id = 326, args = {9, tyrant}, since = day}, 1)
check_eq(count_events{kind = "command", id = 326, args = {9, wyrm}, since = day}, 1)
