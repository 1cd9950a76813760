// The shared helpers: the per-thread random generator, number/text
// conversions, the splitter and the error report.
#include "Utility.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "RecordingKernel.h"
#include "VarList.h"

namespace {

// Runs fn on a thread that has never drawn a random number.
template <typename Fn>
void OnFreshThread(Fn fn) {
    std::thread t(fn);
    t.join();
}

std::vector<std::string> Tokens(const IVarList& list) {
    std::vector<std::string> out;
    for (uint64_t i = 0; i < list.GetCount(); ++i) {
        EXPECT_EQ(list.GetType(i), VTYPE_STRING) << "token " << i;
        out.push_back(list.StringVal(i));
    }
    return out;
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiters,
                               int limit = 0) {
    CVarList out;
    SplitString(out, text, delimiters, limit);
    return Tokens(out);
}

using Strings = std::vector<std::string>;

// ---- random generator -------------------------------------------------------

TEST(RandomFloat, FreshThreadStartsWithTheKnownSequence) {
    float values[3] = {-1, -1, -1};
    OnFreshThread([&] {
        for (float& v : values) v = RandomFloat(1.0f);
    });
    EXPECT_EQ(values[0], 0.001251220703125f);
    EXPECT_EQ(values[1], 0.563568115234375f);
    EXPECT_EQ(values[2], 0.19329833984375f);
}

TEST(RandomFloat, RawDrawsOfAFreshThread) {
    int draws[3] = {-1, -1, -1};
    OnFreshThread([&] {
        for (int& d : draws) d = RandomDraw();
    });
    EXPECT_EQ(draws[0], 41);
    EXPECT_EQ(draws[1], 18467);
    EXPECT_EQ(draws[2], 6334);
}

TEST(RandomFloat, NonPositiveBoundGivesZeroWithoutDrawing) {
    float zero = -1, negative = -1, minusInf = -1, nan = -1, first = -1;
    OnFreshThread([&] {
        zero = RandomFloat(0.0f);
        negative = RandomFloat(-1.0f);
        minusInf = RandomFloat(-std::numeric_limits<float>::infinity());
        nan = RandomFloat(std::numeric_limits<float>::quiet_NaN());
        first = RandomFloat(1.0f);
    });
    EXPECT_EQ(zero, 0.0f);
    EXPECT_EQ(negative, 0.0f);
    EXPECT_EQ(minusInf, 0.0f);
    EXPECT_EQ(nan, 0.0f);
    EXPECT_EQ(first, 0.001251220703125f);  // still the first draw
}

TEST(RandomFloat, EachThreadHasItsOwnState) {
    // Advance this thread's generator; a new thread must not see it.
    for (int i = 0; i < 10; ++i) RandomFloat(1.0f);
    float a = -1, b = -1;
    std::thread ta([&] { a = RandomFloat(1.0f); });
    std::thread tb([&] { b = RandomFloat(1.0f); });
    ta.join();
    tb.join();
    EXPECT_EQ(a, 0.001251220703125f);
    EXPECT_EQ(b, 0.001251220703125f);
}

TEST(RandomFloat, ResetReturnsToTheStartingState) {
    OnFreshThread([] {
        const float first = RandomFloat(1.0f);
        RandomFloat(1.0f);
        ResetRandomState();
        EXPECT_EQ(RandomFloat(1.0f), first);
    });
}

TEST(RandomFloat, ScalesTheFractionByTheBound) {
    float scaled = -1;
    OnFreshThread([&] { scaled = RandomFloat(8.0f); });
    EXPECT_EQ(scaled, 41.0f / 32768.0f * 8.0f);
}

TEST(RandomFloat, UnitDrawsAreMultiplesOfOne32768thBelowOne) {
    OnFreshThread([] {
        for (int i = 0; i < 200000; ++i) {
            const float v = RandomFloat(1.0f);
            ASSERT_GE(v, 0.0f);
            ASSERT_LT(v, 1.0f);
            const float scaled = v * 32768.0f;
            ASSERT_EQ(scaled, std::floor(scaled)) << "draw " << i;
        }
    });
}

// ---- numbers and text -------------------------------------------------------

TEST(IntToString, PrintsLikePercentD) {
    EXPECT_EQ(IntToString(-7), "-7");
    EXPECT_EQ(IntToString(0), "0");
    EXPECT_EQ(IntToString(1018), "1018");
    EXPECT_EQ(IntToString(INT_MAX), "2147483647");
    EXPECT_EQ(IntToString(INT_MIN), "-2147483648");
}

TEST(StringToInt, ReadsLeadingDecimalNumber) {
    EXPECT_EQ(StringToInt(" 42abc"), 42);
    EXPECT_EQ(StringToInt("\t\n-5x"), -5);
    EXPECT_EQ(StringToInt("+17"), 17);
    EXPECT_EQ(StringToInt("007"), 7);
    EXPECT_EQ(StringToInt("0x1A"), 0);  // base 10 only
    EXPECT_EQ(StringToInt("12 34"), 12);
}

TEST(StringToInt, NoDigitsGiveZero) {
    EXPECT_EQ(StringToInt("abc"), 0);
    EXPECT_EQ(StringToInt(""), 0);
    EXPECT_EQ(StringToInt("-"), 0);
    EXPECT_EQ(StringToInt("  +x"), 0);
    EXPECT_EQ(StringToInt(static_cast<const char*>(nullptr)), 0);
}

TEST(StringToInt, SaturatesAtThe32BitRange) {
    EXPECT_EQ(StringToInt("99999999999"), INT_MAX);
    EXPECT_EQ(StringToInt("-99999999999"), INT_MIN);
    EXPECT_EQ(StringToInt("2147483647"), INT_MAX);
    EXPECT_EQ(StringToInt("2147483648"), INT_MAX);
    EXPECT_EQ(StringToInt("-2147483648"), INT_MIN);
    EXPECT_EQ(StringToInt("-2147483649"), INT_MIN);
    // Far beyond even 64 bits.
    EXPECT_EQ(StringToInt("123456789012345678901234567890"), INT_MAX);
    EXPECT_EQ(StringToInt("-123456789012345678901234567890"), INT_MIN);
}

TEST(StringToInt, StringObjectOverloadConvertsTheSameWay) {
    EXPECT_EQ(StringToInt(std::string(" 42abc")), 42);
    EXPECT_EQ(StringToInt(std::string("99999999999")), INT_MAX);
    EXPECT_EQ(StringToInt(std::string()), 0);
    // The text ends at an embedded zero, as a C string would.
    std::string withZero = "12";
    withZero += '\0';
    withZero += "34";
    EXPECT_EQ(StringToInt(withZero), 12);
}

TEST(StringToFloat, ReadsLikeAtofRoundedToFloat) {
    EXPECT_EQ(StringToFloat("1.5"), 1.5f);
    EXPECT_EQ(StringToFloat(" -2.5e2xyz"), -250.0f);
    EXPECT_EQ(StringToFloat(".5"), 0.5f);
    EXPECT_EQ(StringToFloat("0.1"), 0.1f);
    EXPECT_EQ(StringToFloat("3"), 3.0f);
    EXPECT_EQ(StringToFloat("0.3333333333333333"), float(1.0 / 3.0));
}

TEST(StringToFloat, NoNumberGivesZero) {
    EXPECT_EQ(StringToFloat("abc"), 0.0f);
    EXPECT_EQ(StringToFloat(""), 0.0f);
    EXPECT_EQ(StringToFloat("e5"), 0.0f);
    EXPECT_EQ(StringToFloat(nullptr), 0.0f);
}

// ---- SplitString -------------------------------------------------------------

TEST(SplitString, RunsOfDelimitersAreOneSeparatorAndTrailingOnesAddNothing) {
    EXPECT_EQ(Split("a,,b,", ","), (Strings{"a", "b"}));
    EXPECT_EQ(Split("a,b,c", ","), (Strings{"a", "b", "c"}));
}

TEST(SplitString, EmptyTextGivesOneEmptyToken) {
    EXPECT_EQ(Split("", ","), (Strings{""}));
}

TEST(SplitString, TextOfOnlyDelimitersGivesNothing) {
    EXPECT_EQ(Split(",,", ","), Strings{});
    EXPECT_EQ(Split(",", ","), Strings{});
}

TEST(SplitString, LeadingDelimitersAddNoEmptyToken) {
    EXPECT_EQ(Split(",,a,b", ","), (Strings{"a", "b"}));
}

TEST(SplitString, LimitKeepsTheUnsplitRestInTheLastToken) {
    EXPECT_EQ(Split("x,y,z", ",", 1), (Strings{"x", "y,z"}));
    EXPECT_EQ(Split("a,b,c,d", ",", 2), (Strings{"a", "b", "c,d"}));
    EXPECT_EQ(Split("a,b,,,", ",", 1), (Strings{"a", "b,,,"}));
    EXPECT_EQ(Split("a,b", ",", 5), (Strings{"a", "b"}));
}

TEST(SplitString, LeadingRunUsesUpOnePassOfTheLimit) {
    EXPECT_EQ(Split(",x,y", ",", 1), (Strings{"x,y"}));
    EXPECT_EQ(Split(",,x,y,z", ",", 2), (Strings{"x", "y,z"}));
}

TEST(SplitString, AnyByteOfTheSetDelimits) {
    EXPECT_EQ(Split("a b;c ;d", " ;"), (Strings{"a", "b", "c", "d"}));
}

TEST(SplitString, EmptyDelimiterSetGivesTheWholeText) {
    EXPECT_EQ(Split("a,b", ""), (Strings{"a,b"}));
    EXPECT_EQ(Split("", ""), (Strings{""}));
}

TEST(SplitString, TextWithoutDelimiterIsOneToken) {
    EXPECT_EQ(Split("1001", ","), (Strings{"1001"}));
}

TEST(SplitString, AppendsAfterWhatTheListHolds) {
    CVarList out;
    out.AddInt(7);
    SplitString(out, "p,q", ",", 0);
    ASSERT_EQ(out.GetCount(), 3u);
    EXPECT_EQ(out.IntVal(0), 7);
    EXPECT_STREQ(out.StringVal(1), "p");
    EXPECT_STREQ(out.StringVal(2), "q");
}

TEST(SplitString, ManyTokensGrowTheList) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += IntToString(i) + ",";
    const Strings tokens = Split(text, ",");
    ASSERT_EQ(tokens.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(StringToInt(tokens[i]), i);
}

// ---- error report -------------------------------------------------------------

TEST(ReportError, EchoesBothLinesThenTracesThem) {
    RecordingKernel kernel;
    ReportError(&kernel, "Not exist TeamSystem module!", "rules/Some.cpp", 42);
    EXPECT_EQ(kernel.Texts(),
              (Strings{"Echo(Not exist TeamSystem module!)", "Echo(rules/Some.cpp (42))",
                       "Trace(Not exist TeamSystem module!)", "Trace(rules/Some.cpp (42))"}));
}

TEST(ReportError, MacroNamesThisFileAndLine) {
    RecordingKernel kernel;
    const int line = __LINE__ + 1;
    REPORT_ERROR(&kernel, std::string("boom"));
    const std::string location = std::string(__FILE__) + " (" + std::to_string(line) + ")";
    EXPECT_EQ(kernel.Texts(), (Strings{"Echo(boom)", "Echo(" + location + ")", "Trace(boom)",
                                       "Trace(" + location + ")"}));
}

// ---- periods -------------------------------------------------------------------

TEST(Periods, SecondsToMsSaturatesInsteadOfWrapping) {
    EXPECT_EQ(SecondsToMs(5), 5000);
    EXPECT_EQ(SecondsToMs(0), 0);
    EXPECT_EQ(SecondsToMs(2147483), 2147483000);
    EXPECT_EQ(SecondsToMs(2147484), INT_MAX);
    EXPECT_EQ(SecondsToMs(INT_MAX), INT_MAX);
    EXPECT_EQ(SecondsToMs(-3), -3000);
    EXPECT_EQ(SecondsToMs(INT_MIN), INT_MIN);
}

TEST(Periods, BelowOneSecondMeansSixty) {
    EXPECT_EQ(PeriodOrDefault(0), 60);
    EXPECT_EQ(PeriodOrDefault(-5), 60);
    EXPECT_EQ(PeriodOrDefault(1), 1);
    EXPECT_EQ(PeriodOrDefault(3600), 3600);
}

// A host that switches to a decimal-comma locale reads the same weights,
// and hexadecimal, "inf" and "nan" read as their leading decimal part. The
// locale is compiled into a scratch directory when the system has none.
TEST(StringToFloat, ReadsTheSameUnderADecimalCommaLocale) {
    std::string made;
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        char dir[] = "/tmp/locale_test.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        made = dir;
        const std::string cmd = "localedef -i de_DE -f UTF-8 " + made + "/de_DE.UTF-8 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE.UTF-8";
        setenv("LOCPATH", made.c_str(), 1);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    }
    ASSERT_EQ(std::strtod("0,5", nullptr), 0.5);  // the locale is in force
    const std::pair<const char*, float> cases[] = {
        {"0.5", 0.5f}, {" -1.25e1", -12.5f}, {"0,5", 0.0f}, {"inf", 0.0f},
        {"nan", 0.0f}, {"0x1", 0.0f},        {"2x", 2.0f},  {"1e", 1.0f},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(StringToFloat(text), want) << text;
    EXPECT_EQ(StringToInt(" 42abc"), 42);
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    if (!made.empty() && std::system(("rm -rf '" + made + "'").c_str()) != 0) std::perror("rm");
}

}  // namespace
