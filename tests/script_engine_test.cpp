// The Lua engine behind RunScriptFunction: value conversion both ways, the
// script cache, and every failure mode ending in one log line, no results and
// an engine that still works.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScriptEngine.h"
#include "VarList.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace fs = std::filesystem;
using host::ScriptEngine;
using host::ScriptLimits;

namespace {

class ScriptEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/script_engine_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void Write(const std::string& name, const std::string& text) {
        fs::path p = fs::path(dir_) / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }

    std::unique_ptr<ScriptEngine> Make(ScriptLimits limits = {}) {
        auto engine = std::make_unique<ScriptEngine>(dir_, limits);
        engine->SetLog([this](const std::string& line) { log_.push_back(line); });
        return engine;
    }

    std::string dir_;
    std::vector<std::string> log_;
};

// ---- host values to Lua ------------------------------------------------------

TEST_F(ScriptEngineTest, ArgumentsArriveWithTheirLuaTypes) {
    Write("t.lua", R"(
function types(...)
  local out = {}
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    out[#out + 1] = (math.type(v) or type(v))
  end
  return table.concat(out, ",")
end)");
    auto engine = Make();
    CVarList args;
    args.AddInt(-7);
    args.AddInt64(int64_t(1) << 40);
    args.AddFloat(2.5f);
    args.AddString("abc");
    args.AddWideStr(u"x");
    args.AddObject(ObjectId{3, 4});
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "types", args, 1, res));
    ASSERT_EQ(res.GetCount(), 1u);
    EXPECT_STREQ(res.StringVal(0), "integer,integer,float,string,string,userdata");
}

TEST_F(ScriptEngineTest, NumbersKeepTheirValues) {
    Write("t.lua", R"(
function f(a, b, c) return tostring(a) .. "|" .. tostring(b) .. "|" .. tostring(c) end)");
    auto engine = Make();
    CVarList args;
    args.AddInt(INT_MIN);
    args.AddInt64(int64_t(-5000000000));
    args.AddFloat(0.25f);
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    EXPECT_STREQ(res.StringVal(0), "-2147483648|-5000000000|0.25");
}

TEST_F(ScriptEngineTest, NarrowStringBytesPassUnchanged) {
    Write("t.lua", "function f(s) return #s, s:byte(1), s:byte(2), s end");
    auto engine = Make();
    CVarList args;
    args.AddString("\xC4\xE3\xBA\xC3");  // GBK text, not UTF-8
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 4, res));
    EXPECT_EQ(res.IntVal(0), 4);
    EXPECT_EQ(res.IntVal(1), 0xC4);
    EXPECT_EQ(res.IntVal(2), 0xE3);
    EXPECT_STREQ(res.StringVal(3), "\xC4\xE3\xBA\xC3");
}

TEST_F(ScriptEngineTest, WideStringsBecomeUtf8) {
    Write("t.lua", "function f(s) return s, #s end");
    auto engine = Make();
    CVarList args;
    args.AddWideStr(u"A\u00e9\u4e2d\U0001F600");
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 2, res));
    EXPECT_STREQ(res.StringVal(0), "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(res.IntVal(1), 1 + 2 + 3 + 4);
}

TEST_F(ScriptEngineTest, ObjectIdsPrintCompareAndExposeFields) {
    Write("t.lua", R"(
function f(a, b, c)
  return tostring(a), a == b, a == c, a.ident, a.serial, a:is_null(), c ~= a
end)");
    auto engine = Make();
    CVarList args;
    args.AddObject(ObjectId{12, 34});
    args.AddObject(ObjectId{12, 34});
    args.AddObject(ObjectId{12, 35});
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 7, res));
    ASSERT_EQ(res.GetCount(), 7u);
    EXPECT_STREQ(res.StringVal(0), "obj#12:34");
    EXPECT_EQ(res.IntVal(1), 1);
    EXPECT_EQ(res.IntVal(2), 0);  // serial differs: another generation of the slot
    EXPECT_EQ(res.IntVal(3), 12);
    EXPECT_EQ(res.IntVal(4), 34);
    EXPECT_EQ(res.IntVal(5), 0);
    EXPECT_EQ(res.IntVal(6), 1);
}

TEST_F(ScriptEngineTest, ObjectIdMetatableCannotBeReplaced) {
    Write("t.lua", "function f(a) return getmetatable(a) == false, pcall(setmetatable, a, {}) end");
    auto engine = Make();
    CVarList args;
    args.AddObject(ObjectId{1, 1});
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 2, res));
    EXPECT_EQ(res.IntVal(0), 1);
    EXPECT_EQ(res.IntVal(1), 0);  // setmetatable on userdata is an error
}

TEST_F(ScriptEngineTest, UserDataArrivesAsByteString) {
    Write("t.lua", "function f(s) return #s, s:byte(3) end");
    auto engine = Make();
    const unsigned char bytes[] = {1, 0, 200, 4};
    CVarList args;
    args.AddUserData(bytes, sizeof bytes);
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 2, res));
    EXPECT_EQ(res.IntVal(0), 4);
    EXPECT_EQ(res.IntVal(1), 200);
}

// ---- Lua values to the host --------------------------------------------------

TEST_F(ScriptEngineTest, ResultsConvertToHostTypes) {
    Write("t.lua", R"(function f(id) return 42, 3.0, 2.5, true, false, "s\x80", id end)");
    auto engine = Make();
    CVarList args;
    args.AddObject(ObjectId{7, 8});
    CVarList res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 7, res));
    ASSERT_EQ(res.GetCount(), 7u);
    EXPECT_EQ(res.GetType(0), VTYPE_INT);
    EXPECT_EQ(res.IntVal(0), 42);
    EXPECT_EQ(res.GetType(1), VTYPE_INT);  // a number without fraction reads as int
    EXPECT_EQ(res.IntVal(1), 3);
    EXPECT_EQ(res.GetType(2), VTYPE_FLOAT);
    EXPECT_FLOAT_EQ(res.FloatVal(2), 2.5f);
    EXPECT_EQ(res.GetType(3), VTYPE_INT);
    EXPECT_EQ(res.IntVal(3), 1);
    EXPECT_EQ(res.IntVal(4), 0);
    EXPECT_STREQ(res.StringVal(5), "s\x80");
    EXPECT_EQ(res.GetType(6), VTYPE_OBJECT);
    EXPECT_EQ(res.ObjectVal(6), (ObjectId{7, 8}));
    EXPECT_TRUE(log_.empty());
}

TEST_F(ScriptEngineTest, IntegersOutsideInt32SaturateAndAreLogged) {
    Write("t.lua", "function f() return 1 << 40, -(1 << 40), 2^40 end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 3, res));
    EXPECT_EQ(res.IntVal(0), INT_MAX);
    EXPECT_EQ(res.IntVal(1), INT_MIN);
    EXPECT_EQ(res.GetType(2), VTYPE_FLOAT);  // a float that large stays a float
    EXPECT_EQ(log_.size(), 2u);
}

TEST_F(ScriptEngineTest, ResultCountLimitsAndMissingResultsAreNotInvented) {
    Write("t.lua", "function three() return 1, 2, 3 end\nfunction none() end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("t.lua", "three", args, 2, res));
    EXPECT_EQ(res.GetCount(), 2u);
    res.Clear();
    ASSERT_TRUE(engine->Call("t.lua", "none", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);  // the caller falls back to its own value
    ASSERT_TRUE(engine->Call("t.lua", "three", args, -1, res));
    EXPECT_EQ(res.GetCount(), 0u);
}

TEST_F(ScriptEngineTest, NilEndsTheResultsSoNothingShiftsIndex) {
    Write("t.lua", "function f() return 1, nil, 3 end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 3, res));
    ASSERT_EQ(res.GetCount(), 1u);
    EXPECT_EQ(res.IntVal(0), 1);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("dropped"), std::string::npos);
}

TEST_F(ScriptEngineTest, UnsupportedResultFailsWithoutPartialResults) {
    Write("t.lua", "function f() return 1, {} end");
    auto engine = Make();
    CVarList args, res;
    res.AddInt(99);
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 2, res));
    ASSERT_EQ(res.GetCount(), 1u);  // the earlier entry only: nothing appended
    EXPECT_EQ(res.IntVal(0), 99);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("table"), std::string::npos);
}

// ---- loading and caching -----------------------------------------------------

TEST_F(ScriptEngineTest, ScriptIsLoadedOnceAndKeepsItsGlobals) {
    Write("Rule/c.lua",
          "loads = (loads or 0) + 1\ncalls = 0\nfunction f() calls = calls + 1 return loads, calls "
          "end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("Rule\\c.lua", "f", args, 2, res));
    ASSERT_TRUE(engine->Call("Rule\\c.lua", "f", args, 2, res));
    // Forward slashes name the same cached script.
    ASSERT_TRUE(engine->Call("Rule/c.lua", "f", args, 2, res));
    ASSERT_EQ(res.GetCount(), 6u);
    EXPECT_EQ(res.IntVal(4), 1);
    EXPECT_EQ(res.IntVal(5), 3);
}

TEST_F(ScriptEngineTest, EditedFileIsReadAgainOnlyAfterReload) {
    Write("t.lua", "function f() return 1 end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    Write("t.lua", "function f() return 2 end");
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    engine->Reload();
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    ASSERT_EQ(res.GetCount(), 3u);
    EXPECT_EQ(res.IntVal(1), 1);
    EXPECT_EQ(res.IntVal(2), 2);
}

TEST_F(ScriptEngineTest, ScriptsHaveSeparateGlobals) {
    Write("a.lua", "value = 'a'\nfunction get() return value end");
    Write("b.lua", "value = 'b'\nfunction get() return value end");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("a.lua", "get", args, 1, res));
    ASSERT_TRUE(engine->Call("b.lua", "get", args, 1, res));
    ASSERT_TRUE(engine->Call("a.lua", "get", args, 1, res));
    EXPECT_STREQ(res.StringVal(0), "a");
    EXPECT_STREQ(res.StringVal(1), "b");
    EXPECT_STREQ(res.StringVal(2), "a");
}

// Names come as std::string or as the caller's own texts: both reach the same
// cached script and function, and a null text is an empty name.
TEST_F(ScriptEngineTest, NamesAsTextsOrStringsReachTheSameScript) {
    Write("t.lua", "n = 0\nfunction f() n = n + 1 return n end\nfunction g() return -n end");
    auto engine = Make();
    CVarList args, res;
    char name[] = "t.lua";
    ASSERT_TRUE(engine->Call(name, "f", args, 1, res));
    ASSERT_TRUE(engine->Call(std::string(name), std::string("f"), args, 1, res));
    ASSERT_TRUE(engine->Call(name, "g", args, 1, res));
    name[0] = 'u';  // the same buffer naming another script
    EXPECT_FALSE(engine->Call(name, "f", args, 1, res));
    EXPECT_FALSE(engine->Call(nullptr, "f", args, 1, res));
    EXPECT_FALSE(engine->Call("t.lua", nullptr, args, 1, res));
    ASSERT_EQ(res.GetCount(), 3u);
    EXPECT_EQ(res.IntVal(1), 2);
    EXPECT_EQ(res.IntVal(2), -2);
    ASSERT_EQ(log_.size(), 3u);
    EXPECT_NE(log_[0].find("script u.lua: f: cannot open"), std::string::npos) << log_[0];
    EXPECT_EQ(log_[1], "script : f: empty script name");
    EXPECT_EQ(log_[2], "script t.lua: : function '' not found");
}

TEST_F(ScriptEngineTest, ResourceDirWithoutTrailingSeparatorWorks) {
    Write("t.lua", "function f() return 5 end");
    ScriptEngine engine(dir_ + "/");
    ScriptEngine engine2(dir_);
    CVarList args, res;
    ASSERT_TRUE(engine.Call("t.lua", "f", args, 1, res));
    ASSERT_TRUE(engine2.Call("t.lua", "f", args, 1, res));
    EXPECT_EQ(res.GetCount(), 2u);
}

// ---- failures ----------------------------------------------------------------

TEST_F(ScriptEngineTest, MissingScriptIsOneLogLineAndNoResults) {
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("Rule\\none.lua", "f", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("Rule\\none.lua"), std::string::npos);
}

TEST_F(ScriptEngineTest, MissingFunctionIsOneLogLine) {
    Write("t.lua", "function f() return 1 end\nnot_a_function = 3");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "g", args, 1, res));
    EXPECT_FALSE(engine->Call("t.lua", "not_a_function", args, 1, res));
    // Library functions are not the script's own.
    EXPECT_FALSE(engine->Call("t.lua", "print", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);
    ASSERT_EQ(log_.size(), 3u);
    EXPECT_NE(log_[0].find("'g' not found"), std::string::npos);
    EXPECT_TRUE(engine->Call("t.lua", "f", args, 1, res));
}

TEST_F(ScriptEngineTest, RuntimeErrorIsLoggedWithTraceback) {
    Write("t.lua",
          "local function inner() error('broken rule') end\nfunction f() inner() return 1 end");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("t.lua:1: broken rule"), std::string::npos) << log_[0];
    EXPECT_NE(log_[0].find("stack traceback"), std::string::npos) << log_[0];
    EXPECT_NE(log_[0].find("inner"), std::string::npos) << log_[0];
}

TEST_F(ScriptEngineTest, NonStringErrorObjectIsDescribed) {
    Write("t.lua", "function f() error({}) end");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 1, res));
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("error object is a table value"), std::string::npos);
}

TEST_F(ScriptEngineTest, EndlessRecursionAndStrayYieldAreErrors) {
    Write("t.lua",
          "local function down(n) return down(n + 1) + 1 end\n"
          "function deep() return down(0) end\n"
          "function stray() coroutine.yield(1) end\n"
          "function ok() return 4 end");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "deep", args, 1, res));
    EXPECT_FALSE(engine->Call("t.lua", "stray", args, 1, res));
    ASSERT_EQ(log_.size(), 2u);
    EXPECT_NE(log_[0].find("stack overflow"), std::string::npos) << log_[0];
    EXPECT_NE(log_[1].find("yield"), std::string::npos) << log_[1];
    EXPECT_EQ(res.GetCount(), 0u);
    EXPECT_TRUE(engine->Call("t.lua", "ok", args, 1, res));
}

TEST_F(ScriptEngineTest, SyntaxErrorIsNotCachedSoAFixedFileLoads) {
    Write("t.lua", "function f( return 1 end");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 1, res));
    ASSERT_EQ(log_.size(), 1u);
    Write("t.lua", "function f() return 1 end");
    EXPECT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    EXPECT_EQ(res.IntVal(0), 1);
}

TEST_F(ScriptEngineTest, EndlessLoopIsStoppedByTheBudget) {
    Write("t.lua", "function spin() while true do end end\nfunction ok() return 1 end");
    ScriptLimits limits;
    limits.instructionBudget = 100000;
    auto engine = Make(limits);
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "spin", args, 1, res));
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("instruction budget"), std::string::npos) << log_[0];
    EXPECT_TRUE(engine->Call("t.lua", "ok", args, 1, res));
    EXPECT_EQ(res.IntVal(0), 1);
}

TEST_F(ScriptEngineTest, BudgetCannotBeEscapedWithPcallOrCoroutines) {
    Write("t.lua", R"(
function catch_all()
  while true do pcall(function() while true do end end) end
end
function in_coroutine()
  while true do
    local co = coroutine.create(function() while true do end end)
    coroutine.resume(co)
  end
end
function ok() return 2 end)");
    ScriptLimits limits;
    limits.instructionBudget = 50000;
    auto engine = Make(limits);
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "catch_all", args, 1, res));
    EXPECT_FALSE(engine->Call("t.lua", "in_coroutine", args, 1, res));
    EXPECT_EQ(log_.size(), 2u);
    EXPECT_TRUE(engine->Call("t.lua", "ok", args, 1, res));
    EXPECT_EQ(res.IntVal(0), 2);
}

TEST_F(ScriptEngineTest, BudgetIsPerCall) {
    // Each call uses about half the budget; the budget must not accumulate.
    Write("t.lua", "function work() local n = 0 for i = 1, 20000 do n = n + i end return n end");
    ScriptLimits limits;
    limits.instructionBudget = 100000;
    auto engine = Make(limits);
    CVarList args, res;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(engine->Call("t.lua", "work", args, 1, res)) << i;
    EXPECT_TRUE(log_.empty());
}

TEST_F(ScriptEngineTest, EndlessLoopWhileLoadingLeavesNothingCached) {
    Write("t.lua", "while true do end");
    ScriptLimits limits;
    limits.instructionBudget = 10000;
    auto engine = Make(limits);
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 1, res));
    Write("t.lua", "function f() return 3 end");
    EXPECT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    EXPECT_EQ(res.IntVal(0), 3);
}

TEST_F(ScriptEngineTest, RunawayMemoryHitsTheCapAndTheEngineRecovers) {
    Write("t.lua", R"(
store = {}
function hog()
  while true do store[#store + 1] = string.rep("x", 4096) .. #store end
end
function hog_caught() pcall(hog) return 1 end
function ok() return #store end)");
    ScriptLimits limits;
    limits.memoryCap = 4u << 20;
    limits.instructionBudget = 0;  // only the cap can stop hog
    auto engine = Make(limits);
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "hog", args, 1, res));
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("memory cap"), std::string::npos) << log_[0];
    // The script's globals held the memory; they were dropped, so the next
    // call starts from a fresh load.
    EXPECT_LT(engine->MemoryInUse(), limits.memoryCap / 2);
    ASSERT_TRUE(engine->Call("t.lua", "ok", args, 1, res));
    EXPECT_EQ(res.IntVal(0), 0);
    // Catching the memory error inside the script does not turn it into a success.
    res.Clear();
    EXPECT_FALSE(engine->Call("t.lua", "hog_caught", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);
    EXPECT_TRUE(engine->Call("t.lua", "ok", args, 1, res));
}

TEST_F(ScriptEngineTest, HugeSingleAllocationIsRefused) {
    Write("t.lua", "function f() return #string.rep('x', 100 * 1024 * 1024) end");
    ScriptLimits limits;
    limits.memoryCap = 8u << 20;
    auto engine = Make(limits);
    CVarList args, res;
    EXPECT_FALSE(engine->Call("t.lua", "f", args, 1, res));
    EXPECT_EQ(res.GetCount(), 0u);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_NE(log_[0].find("memory cap"), std::string::npos);
}

// ---- sandbox -----------------------------------------------------------------

TEST_F(ScriptEngineTest, DangerousLibraryFunctionsAreAbsent) {
    Write("t.lua", R"(
function f()
  return io == nil, os.execute == nil, os.remove == nil, os.getenv == nil, load == nil,
         dofile == nil, loadfile == nil, string.dump == nil, require == nil,
         type(os.time()) == "number"
end)");
    auto engine = Make();
    CVarList args, res;
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 10, res));
    ASSERT_EQ(res.GetCount(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(res.IntVal(i), 1) << "check " << i;
}

TEST_F(ScriptEngineTest, NamesLeavingTheResourceDirAreRefused) {
    Write("inside.lua", "function f() return 1 end");
    auto engine = Make();
    CVarList args, res;
    EXPECT_FALSE(engine->Call("../inside.lua", "f", args, 1, res));
    EXPECT_FALSE(engine->Call("Rule\\..\\..\\inside.lua", "f", args, 1, res));
    EXPECT_FALSE(engine->Call(dir_ + "/inside.lua", "f", args, 1, res));
    EXPECT_FALSE(engine->Call("", "f", args, 1, res));
    EXPECT_EQ(log_.size(), 4u);
    EXPECT_EQ(res.GetCount(), 0u);
}

TEST_F(ScriptEngineTest, PrintGoesToTheLog) {
    Write("t.lua", "function f(id) print('count', 3, id) return 0 end");
    auto engine = Make();
    CVarList args, res;
    args.AddObject(ObjectId{1, 2});
    ASSERT_TRUE(engine->Call("t.lua", "f", args, 1, res));
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0], "script print: count\t3\tobj#1:2");
}

TEST_F(ScriptEngineTest, RandomSequenceIsTheSameInEveryEngine) {
    Write("t.lua", "function f() return math.random(1, 1000000), math.random(1, 1000000) end");
    auto a = Make();
    auto b = Make();
    CVarList args, ra, rb;
    ASSERT_TRUE(a->Call("t.lua", "f", args, 2, ra));
    ASSERT_TRUE(b->Call("t.lua", "f", args, 2, rb));
    EXPECT_EQ(ra.IntVal(0), rb.IntVal(0));
    EXPECT_EQ(ra.IntVal(1), rb.IntVal(1));
}

// ---- text helpers ------------------------------------------------------------

TEST(ScriptText, UnpairedSurrogatesBecomeReplacementCharacters) {
    const char16_t text[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(host::script::WideToUtf8(text),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(host::script::WideToUtf8(nullptr), "");
}

TEST(ScriptText, Utf8RoundTripsAndInvalidBytesAreReplaced) {
    std::u16string wide = u"Zh\u4e2d\U0001F600";
    EXPECT_EQ(host::script::Utf8ToWide(host::script::WideToUtf8(wide.c_str())), wide);
    // A lone continuation byte, an overlong form and a truncated sequence.
    EXPECT_EQ(host::script::Utf8ToWide("a\x80"
                                       "b\xC0\xAF"
                                       "c\xE4\xB8"),
              u"a\uFFFDb\uFFFD\uFFFDc\uFFFD");
}

// PushVarList stands outside any engine call: its ids take the metatable
// from the registry, not from a stack slot of the engine.
TEST(ScriptText, PushVarListPushesIdsAScriptCanRead) {
    lua_State* L = luaL_newstate();
    ASSERT_NE(L, nullptr);
    host::script::RegisterObjectIdType(L);
    lua_pushinteger(L, 99);  // whatever lies below must not be taken for the metatable
    lua_pushinteger(L, 98);
    CVarList list;
    list.AddInt(7);
    list.AddObject(ObjectId{12, 3});
    ASSERT_EQ(host::script::PushVarList(L, list), 2);
    EXPECT_EQ(lua_tointeger(L, -2), 7);
    ObjectId id;
    ASSERT_TRUE(host::script::ToObjectId(L, -1, id));
    EXPECT_EQ(id, (ObjectId{12, 3}));
    lua_close(L);
}

}  // namespace

// Runaway scripts stop at a limit that is cheap to reach, each with one log
// line naming that limit, and the engine answers the next call normally.
TEST_F(ScriptEngineTest, RunawayScriptsStopAtANamedLimit) {
    Write("r.lua", R"(
        function recurse(n) return recurse((n or 0) + 1) + 1 end
        function churn() while true do pcall(string.rep, "x", 60000000) end end
        function grow() local t = {} while true do t[#t + 1] = {} end end
        function fine() return 7 end
    )");
    auto engine = Make();
    const std::pair<const char*, const char*> cases[] = {
        {"recurse", "call depth limit of 1000 levels exceeded"},
        {"churn", "memory cap: allocation budget of"},
        {"grow", "memory cap: allocation budget of"},
    };
    for (const auto& [function, limit] : cases) {
        log_.clear();
        CVarList args, results;
        EXPECT_FALSE(engine->Call("r.lua", function, args, 1, results)) << function;
        EXPECT_EQ(results.GetCount(), 0u);
        ASSERT_EQ(log_.size(), 1u) << function;
        EXPECT_NE(log_[0].find(limit), std::string::npos) << log_[0];
        CVarList none, answer;
        ASSERT_TRUE(engine->Call("r.lua", "fine", none, 1, answer)) << "after " << function;
        EXPECT_EQ(answer.IntVal(0), 7);
    }
}
