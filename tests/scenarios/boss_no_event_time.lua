-- A host without the "EventTimeSystem" module: the area boss system's Init
-- reports the missing module on both channels and fails. This host then
-- skips the module's AfterInit, so boss points loaded later are left alone
-- by it (no activity check, no time point registered), while the creator
-- system keeps serving its own creators.
setup{event_time = false}
local report = lifecycle()
check_eq(report.init_failed, {"AreaBossSystem"})
check_eq(report.after_init_skipped, {"AreaBossSystem"})
check_eq(report.after_init_failed, {})
local lines = events{kind = "echo", since = 0}
check(#lines >= 2, "two console lines")
expect_event{kind = "echo", text = "Not exist EventTimeSystem module!"}
expect_event{kind = "trace", text = "Not exist EventTimeSystem module!"}
expect_event{kind = "echo", contains = "AreaBossSystem.cpp ("}
expect_event{kind = "trace", contains = "AreaBossSystem.cpp ("}
expect_no_event{kind = "trace", contains = "NpcCreatorRefresh.ini"}

local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     props = {CreatorType = 1, MaxSelectCount = 2, FRTime = "20:30"}}
check_eq(heartbeat(boss, "AreaBossSystem::PointTimeRefreshNPC"), nil)
expect_no_event{kind = "note", name = "time_point"}

local stall = creator{config = "NpcCreator", number = 1, props = {MaxSelectCount = 2}}
check_eq(get(stall, "SelectCount"), 2, "the creator system works on")
advance(60)
