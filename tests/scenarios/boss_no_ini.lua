-- Without "Npc\NpcCreatorRefresh.ini" the area boss system logs the missing
-- file and its path, and checks every boss point every 10 seconds.
setup{resources = "fixtures/boss_no_ini"}
check(lifecycle().ok, "a missing table does not fail Init")
expect_event{kind = "trace", contains = "not found"}
local path = expect_event{kind = "trace", contains = "NpcCreatorRefresh.ini"}
check(path ~= nil and path.text:sub(-#"Npc\\NpcCreatorRefresh.ini") == "Npc\\NpcCreatorRefresh.ini",
      "the path is logged as written")

local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 2, RefreshTime = 20}}
check_eq(heartbeat(boss, "AreaBossSystem::PointTimeRefreshNPC"), 10000)
advance(9.999)
check_eq(get(boss, "CantVisible"), 0)
advance(0.001)
check_eq(get(boss, "CantVisible"), 1, "hidden by the check at 10 s")

set_activity("AreaBossSystem", 1, "12")
advance(10)
check_eq(heartbeat_due(boss, "AreaBossSystem::WaitRefreshBossNPC"), 40000)
advance(20)
check_eq(get(boss, "CantVisible"), 0, "open at 40 s")
