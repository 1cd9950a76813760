-- A host without a team module: Init of the NPC creator system fails with
-- its two-line error report, written to Echo and then to Trace. (The auto
-- team farm system, initialised first, reports the same message from its own
-- source file.)
setup{team_system = false}
local report = lifecycle()
check(not report.ok, "Init failed")
local failed = {}
for _, name in ipairs(report.init_failed) do failed[name] = true end
check(failed["NpcCreatorSystem"], "the NPC creator system reports its failure")

local logged = {}
for _, e in ipairs(events{}) do
  if e.kind == "echo" or e.kind == "trace" then logged[#logged + 1] = e end
end
local at
for i = 2, #logged do
  if logged[i].kind == "echo" and logged[i].text:find("NpcCreatorSystem.cpp %(%d+%)$") then
    at = i - 1
    break
  end
end
check(at ~= nil, "location line of the NPC creator system logged")
if at then
  local four = {logged[at], logged[at + 1], logged[at + 2], logged[at + 3]}
  check_eq({four[1].kind, four[2].kind, four[3].kind, four[4].kind},
           {"echo", "echo", "trace", "trace"})
  check_eq(four[1].text, "Not exist TeamSystem module!")
  check_eq(four[3].text, four[1].text)
  check_eq(four[4].text, four[2].text)
end
