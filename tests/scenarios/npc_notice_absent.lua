-- Creators whose class has no notice properties at all: model draws and
-- beaten encounters are never announced.
setup{resources = "fixtures/npc_noflags"}
check(lifecycle().ok, "every module initialised")

local c = creator{config = "quiet", number = 80, props = {RefreshModelTime = 5}}
check(not has(c, "NoticeByWorldRefresh"), "the class lacks the refresh flag")
check(not has(c, "NoticeByWorldBeKilled"), "the class lacks the kill flag")
check_eq(get(c, "NPCDes"), "Quiet one")

advance(30)  -- six model draws
local p = player{name = "Quinn", camp = 1}
select(p, c, 1)
expect_command{to = p, id = 1001, args = {c, 0, 2, ANY, 4, ANY, 3}}
fight_won(p)
expect_no_event{kind = "sysinfo_world"}
