-- One boss point of creator type 1 through its activity cycle on the sample
-- data: visible with full counts after the load, hidden by the first check
-- while its number is inactive, opened one refresh period after the check
-- that sees its number active, hidden again when the number goes inactive.
-- The sample table checks every 30 seconds.
local REFRESH = "AreaBossSystem::WaitRefreshBossNPC"
local CHECK = "AreaBossSystem::PointTimeRefreshNPC"
local MODEL = "NpcCreatorSystem::WaitRefreshModel"

check(lifecycle().ok, "every module initialised")
local field = scene{config = "boss_field", number = 305}
local boss = creator{class = "AreaBossNPCCreator", config = "AreaBossNPCCreator", number = 12,
                     scene = field,
                     props = {CreatorType = 1, MaxSelectCount = 3, SelectCount = 0,
                              RefreshTime = 45}}

-- The load: records from the tables, a model drawn, counts full, visible.
check_eq(rows(boss, "ModelInfoRec"), 2, "both models of creator 12")
check_eq(rows(boss, "NPCInfoRec"), 5, "candidates of indexes 1201 and 1202")
local model = get(boss, "Model")
check(model == 9201 or model == 9202, "a model of creator 12 was drawn: " .. tostring(model))
check_eq(get(boss, "ModelEx"), model)
check_eq(get(boss, "SelectCount"), 3, "SelectCount 0 of 3 becomes 3")
check_eq(get(boss, "CurNPCCount"), 3)
check_eq(get(boss, "IsFighting"), 0)
check_eq(get(boss, "Invisible"), 1)
check_eq(get(boss, "CantVisible"), 0, "visible right after the load")
check_eq(heartbeat(boss, CHECK), 30000, "checked every CheckFrequency seconds")
check_eq(heartbeat(boss, REFRESH), nil, "no refresh before the number is active")
check_eq(heartbeat(boss, MODEL), nil, "the creator system leaves boss points alone")
check_eq(count_events{kind = "sysinfo_world"}, 0, "no notice without NoticeByWorldRefresh")

-- The first check finds the number inactive and hides the boss.
advance(29.999)
check_eq(get(boss, "CantVisible"), 0)
advance(0.001)
check_eq(get(boss, "CantVisible"), 1, "hidden at the first check")
check_eq(get(boss, "Invisible"), 1)

-- Activity on: the next check (60 s) attaches the refresh, which opens the
-- boss one RefreshTime later (105 s), not at the check itself.
set_activity("AreaBossSystem", 1, "12")
advance(30)
check_eq(heartbeat(boss, REFRESH), 45000, "refresh attached with RefreshTime")
check_eq(heartbeat_due(boss, REFRESH), 105000)
check_eq(get(boss, "CantVisible"), 1, "still hidden at the check")
-- A fight used in the meantime is restored by the refresh.
set(boss, "SelectCount", 1)
set(boss, "CurNPCCount", 0)
set(boss, "IsFighting", 1)
advance(44.999)
check_eq(get(boss, "CantVisible"), 1)
advance(0.001)
check_eq(now_ms(), 105000)
check_eq(get(boss, "CantVisible"), 0, "opened one RefreshTime after the check")
check_eq(get(boss, "SelectCount"), 3)
check_eq(get(boss, "CurNPCCount"), 3)
check_eq(get(boss, "IsFighting"), 0)
-- The check at 120 s leaves the running refresh alone.
advance(15)
check_eq(heartbeat_due(boss, REFRESH), 150000, "a running refresh keeps its phase")

-- Activity off: the next check (150 s) detaches the refresh and hides.
set_activity("AreaBossSystem", 0, "12")
local off = mark()
advance(30)
check_eq(heartbeat(boss, REFRESH), nil, "refresh detached")
check_eq(heartbeat(boss, CHECK), 30000, "the check itself stays")
check_eq(get(boss, "CantVisible"), 1, "hidden again")
expect_event{kind = "heartbeat_remove", name = REFRESH, since = off}
-- And nothing opens it again while the number stays inactive.
advance(300)
check_eq(get(boss, "CantVisible"), 1)

-- An unknown number changes nothing; a key of digits and letters works.
set_activity("AreaBossSystem", 1, "99")
advance(30)
check_eq(heartbeat(boss, REFRESH), nil, "number 99 is not a loaded boss")
set_activity("AreaBossSystem", 1, "12abc")
advance(30)
check_eq(heartbeat(boss, REFRESH), 45000, "12abc addresses number 12")
