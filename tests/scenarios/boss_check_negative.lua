-- CheckFrequency -5: no boss point gets the activity check, so activity
-- states neither show nor hide it; it still opens on its refresh after a
-- time point.
setup{resources = "fixtures/boss_check_negative"}
check(lifecycle().ok)
local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 2, RefreshTime = 20,
                              FRTime = "00:10"}}
check_eq(heartbeat(boss, "AreaBossSystem::PointTimeRefreshNPC"), nil, "no activity check")
check_eq(get(boss, "CantVisible"), 0, "visible after the load")

advance(120)
check_eq(get(boss, "CantVisible"), 0, "never hidden for being inactive")
set_activity("AreaBossSystem", 1, "12")
advance(120)
check_eq(heartbeat(boss, "AreaBossSystem::WaitRefreshBossNPC"), nil, "never opened by activity")

-- The time point at 00:10 still attaches the refresh.
set(boss, "CantVisible", 1)
advance(360)
check_eq(now_ms(), 600000)
check_eq(get(boss, "CantVisible"), 0, "opened by the time point")
check_eq(heartbeat(boss, "AreaBossSystem::WaitRefreshBossNPC"), 20000)
set_activity("AreaBossSystem", 0, "12")
advance(600)
check_eq(heartbeat(boss, "AreaBossSystem::WaitRefreshBossNPC"), 20000, "nothing detaches it")
