-- What loading a creator sets up: heartbeat periods, counters, visibility,
-- and the creators this system leaves alone. Shipped game data.
local W_NPC = "NpcCreatorSystem::WaitRefreshNPC"
local W_MODEL = "NpcCreatorSystem::WaitRefreshModel"

-- Periods below 1 second mean 60 seconds; the model period falls back to
-- the refresh period.
local zero = creator{config = "shrine", number = 3, props = {RefreshTime = 0, RefreshModelTime = 0}}
check_eq(heartbeat(zero, W_NPC), 60000)
check_eq(heartbeat(zero, W_MODEL), 60000)
local thirty = creator{config = "shrine", number = 3,
                       props = {RefreshTime = 30, RefreshModelTime = -5}}
check_eq(heartbeat(thirty, W_NPC), 30000)
check_eq(heartbeat(thirty, W_MODEL), 30000)

-- Periods too long for 32-bit milliseconds saturate instead of wrapping to
-- a negative or tiny interval.
local long = creator{config = "shrine", number = 3,
                     props = {RefreshTime = 3000000, RefreshModelTime = 2147483647}}
check_eq(heartbeat(long, W_NPC), 2147483647)
check_eq(heartbeat(long, W_MODEL), 2147483647)

-- Loading an object that already carries both heartbeats adds neither again
-- (the candidate records are appended to again: a second model row, and the
-- candidates of both model rows after the three already there).
local again = mark()
load(thirty)
expect_no_event{kind = "heartbeat_add", since = again}
check_eq(heartbeat(thirty, W_NPC), 30000)
check_eq(rows(thirty, "ModelInfoRec"), 2)
check_eq(rows(thirty, "NPCInfoRec"), 9)

-- Counters are raised to the maximum, never lowered; a hidden creator is
-- shown again when Invisible is exactly 1.
local busy = creator{config = "shrine", number = 3,
                     props = {SelectCount = 5, MaxSelectCount = 3, Invisible = 1, CantVisible = 1}}
check_eq(get(busy, "SelectCount"), 5)
check_eq(get(busy, "CantVisible"), 0)
check_eq(get(busy, "Invisible"), 1)
local odd = creator{config = "shrine", number = 3,
                    props = {SelectCount = -4, MaxSelectCount = 3, Invisible = 2, CantVisible = 1}}
check_eq(get(odd, "SelectCount"), 3)
check_eq(get(odd, "CantVisible"), 1)

-- The creator's scripts answer command 995 with 0: no model heartbeat, so
-- the model drawn at load stays for good.
on_command("NpcCreator", 995, function() return 0 end)
local still = creator{config = "bandit_camp", number = 2, props = {RefreshTime = 10}}
check_eq(heartbeat(still, W_NPC), 10000)
check_eq(heartbeat(still, W_MODEL), nil)
local model = get(still, "Model")
advance(600)
check_eq(get(still, "Model"), model)

-- A creator whose config is exactly "AreaBossNPCCreator" belongs to the area
-- boss system; one character more and it is an ordinary creator.
local boss_like = creator{config = "AreaBossNPCCreator", number = 3}
check_eq(rows(boss_like, "ModelInfoRec"), 0)
check_eq(heartbeat(boss_like, W_NPC), nil)
local ordinary = creator{config = "AreaBossNPCCreatorX", number = 3}
check_eq(rows(ordinary, "ModelInfoRec"), 1)
check_eq(heartbeat(ordinary, W_NPC), 60000)

-- A creator number the tables do not know: empty records, no encounter.
local unknown = creator{config = "nowhere", number = 999, props = {NpcConfig = 77}}
check_eq(rows(unknown, "ModelInfoRec"), 0)
check_eq(rows(unknown, "NPCInfoRec"), 0)
check_eq(get(unknown, "NpcConfig"), 77)
local p = player{name = "Pia", camp = 2}
local nothing = mark()
select(p, unknown, 1)
expect_no_command{id = 997, since = nothing}
expect_no_command{id = 1001, since = nothing}
