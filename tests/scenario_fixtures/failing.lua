-- A scenario that must fail: the runner reports the line of the failed
-- check with expected and actual values, goes on, and exits non-zero.
setup{resources = "res"}
local c = creator{config = "Failing", number = 7, props = {MaxSelectCount = 2}}
check_eq(get(c, "SelectCount"), 3, "select count")  -- FAILS HERE
check(get(c, "Model") == 7001, "this one passes")
