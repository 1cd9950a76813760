-- The [AreaBoss] section without CheckFrequency: checks every 60 seconds.
setup{resources = "fixtures/boss_check_default"}
check(lifecycle().ok)
expect_no_event{kind = "trace", contains = "NpcCreatorRefresh.ini"}
local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 2}}
check_eq(heartbeat(boss, "AreaBossSystem::PointTimeRefreshNPC"), 60000)
advance(59)
check_eq(get(boss, "CantVisible"), 0)
advance(1)
check_eq(get(boss, "CantVisible"), 1, "hidden at the first check, 60 s")
