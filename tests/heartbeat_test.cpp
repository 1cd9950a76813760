// Timer wheel and kernel heartbeats on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "HeartbeatWheel.h"
#include "Kernel.h"

using host::HeartbeatWheel;
using host::Kernel;
using host::KernelOptions;
using host::ObjectSpec;

namespace {

// Reference scheduler: a sorted multiset of (due, seq, payload).
struct Reference {
    std::map<std::pair<int64_t, uint64_t>, uint64_t> timers;
    int64_t base = 0;
    void Schedule(int64_t due, uint64_t seq, uint64_t payload) {
        timers[{std::max(due, base), seq}] = payload;
    }
    bool PopDue(int64_t limit, std::vector<HeartbeatWheel::Expired>& out, int64_t& when) {
        out.clear();
        if (timers.empty() || timers.begin()->first.first > limit) {
            base = std::max(base, limit + 1);
            return false;
        }
        when = timers.begin()->first.first;
        while (!timers.empty() && timers.begin()->first.first == when) {
            out.push_back({timers.begin()->first.second, timers.begin()->second});
            timers.erase(timers.begin());
        }
        base = when + 1;
        return true;
    }
};

std::vector<std::tuple<int64_t, uint64_t, uint64_t>> Drain(HeartbeatWheel& w, int64_t limit) {
    std::vector<std::tuple<int64_t, uint64_t, uint64_t>> fired;
    std::vector<HeartbeatWheel::Expired> batch;
    int64_t when = 0;
    while (w.PopDue(limit, batch, when))
        for (auto& e : batch) fired.emplace_back(when, e.seq, e.payload);
    return fired;
}

}  // namespace

TEST(HeartbeatWheel, FiresInDueThenSequenceOrder) {
    HeartbeatWheel w;
    w.Schedule(500, 3, 30);
    w.Schedule(20, 7, 70);
    w.Schedule(500, 1, 10);
    w.Schedule(70000, 2, 20);  // level 2
    w.Schedule(300, 9, 90);    // level 1
    const auto fired = Drain(w, 100000);
    ASSERT_EQ(fired.size(), 5u);
    EXPECT_EQ(fired[0], std::make_tuple(int64_t{20}, uint64_t{7}, uint64_t{70}));
    EXPECT_EQ(fired[1], std::make_tuple(int64_t{300}, uint64_t{9}, uint64_t{90}));
    EXPECT_EQ(fired[2], std::make_tuple(int64_t{500}, uint64_t{1}, uint64_t{10}));
    EXPECT_EQ(fired[3], std::make_tuple(int64_t{500}, uint64_t{3}, uint64_t{30}));
    EXPECT_EQ(fired[4], std::make_tuple(int64_t{70000}, uint64_t{2}, uint64_t{20}));
    EXPECT_EQ(w.size(), 0u);
}

TEST(HeartbeatWheel, StopsAtTheLimitAndResumes) {
    HeartbeatWheel w;
    w.Schedule(1000, 0, 1);
    w.Schedule(1001, 1, 2);
    EXPECT_EQ(Drain(w, 999).size(), 0u);
    EXPECT_EQ(w.base(), 1000);
    auto first = Drain(w, 1000);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(std::get<2>(first[0]), 1u);
    auto second = Drain(w, 5000);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(std::get<0>(second[0]), 1001);
}

TEST(HeartbeatWheel, CancelledTimerNeverFiresAndStaleHandleIsRefused) {
    HeartbeatWheel w;
    const uint64_t a = w.Schedule(100, 0, 1);
    const uint64_t b = w.Schedule(100, 1, 2);
    EXPECT_TRUE(w.Cancel(a));
    EXPECT_FALSE(w.Cancel(a));  // twice
    auto fired = Drain(w, 200);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(std::get<2>(fired[0]), 2u);
    EXPECT_FALSE(w.Cancel(b));  // already handed out
    // The node of a is reused; its old handle must not cancel the newcomer.
    const uint64_t c = w.Schedule(300, 2, 3);
    EXPECT_FALSE(w.Cancel(a));
    EXPECT_EQ(Drain(w, 300).size(), 1u);
    EXPECT_FALSE(w.Cancel(c));
    EXPECT_FALSE(w.Cancel(uint64_t{12345} << 32 | 999999));  // never issued
}

TEST(HeartbeatWheel, PeriodicTimerRearmsUnderItsHandleUntilCancelled) {
    HeartbeatWheel w;
    const uint64_t h = w.Schedule(300, 5, 50, 300);
    w.Schedule(600, 1, 10);  // one-shot, earlier seq: leads at 600
    auto fired = Drain(w, 1000);
    ASSERT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired[0], std::make_tuple(int64_t{300}, uint64_t{5}, uint64_t{50}));
    EXPECT_EQ(fired[1], std::make_tuple(int64_t{600}, uint64_t{1}, uint64_t{10}));
    EXPECT_EQ(fired[2], std::make_tuple(int64_t{600}, uint64_t{5}, uint64_t{50}));
    EXPECT_EQ(fired[3], std::make_tuple(int64_t{900}, uint64_t{5}, uint64_t{50}));
    EXPECT_EQ(w.size(), 1u);
    EXPECT_TRUE(w.Cancel(h));
    EXPECT_EQ(Drain(w, 5000).size(), 0u);
    EXPECT_EQ(w.size(), 0u);
}

TEST(HeartbeatWheel, DueInThePastFiresAtTheNextTick) {
    HeartbeatWheel w;
    Drain(w, 5000);
    w.Schedule(10, 0, 1);
    auto fired = Drain(w, 6000);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(std::get<0>(fired[0]), 5001);
}

TEST(HeartbeatWheel, FarFutureTimersSurviveTheOverflowList) {
    HeartbeatWheel w;
    const int64_t far = (int64_t{1} << 33) + 12345;  // beyond 2^32 ms ahead
    w.Schedule(far, 0, 1);
    w.Schedule(int64_t{1} << 32, 1, 2);  // exactly at the top level's reach
    EXPECT_EQ(w.NextDue(), int64_t{1} << 32);
    auto fired = Drain(w, far + 10);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(std::get<0>(fired[0]), int64_t{1} << 32);
    EXPECT_EQ(std::get<0>(fired[1]), far);
}

TEST(HeartbeatWheel, MatchesReferenceUnderRandomScheduleCancelAndAdvance) {
    std::mt19937_64 rng(42);
    HeartbeatWheel w;
    Reference ref;
    std::vector<std::pair<uint64_t, std::pair<int64_t, uint64_t>>> live;  // handle, ref key
    uint64_t seq = 0;
    int64_t now = 0;
    std::vector<HeartbeatWheel::Expired> a, b;
    for (int round = 0; round < 3000; ++round) {
        const int ops = static_cast<int>(rng() % 8);
        for (int i = 0; i < ops; ++i) {
            // Spread over every level: ms, seconds, hours, days.
            static const int64_t spans[] = {50, 300, 70000, 20000000, 5000000000LL};
            const int64_t due = now + 1 + static_cast<int64_t>(rng() % spans[rng() % 5]);
            const uint64_t payload = seq * 10;
            const uint64_t h = w.Schedule(due, seq, payload);
            ref.Schedule(due, seq, payload);
            live.push_back({h, {due, seq}});
            ++seq;
        }
        if (!live.empty() && rng() % 3 == 0) {
            const size_t k = rng() % live.size();
            const bool inWheel = w.Cancel(live[k].first);
            const bool inRef = ref.timers.erase(live[k].second) == 1;
            ASSERT_EQ(inWheel, inRef);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
        }
        const int64_t limit =
            now + static_cast<int64_t>(rng() % (rng() % 4 == 0 ? 100000000 : 600));
        while (true) {
            int64_t wa = 0, wb = 0;
            const bool ga = w.PopDue(limit, a, wa);
            const bool gb = ref.PopDue(limit, b, wb);
            ASSERT_EQ(ga, gb) << "round " << round;
            if (!ga) break;
            ASSERT_EQ(wa, wb);
            ASSERT_EQ(a.size(), b.size());
            for (size_t i = 0; i < a.size(); ++i) {
                EXPECT_EQ(a[i].seq, b[i].seq);
                EXPECT_EQ(a[i].payload, b[i].payload);
            }
        }
        now = limit;
        ASSERT_EQ(w.size(), ref.timers.size());
    }
}

// ---- kernel heartbeats -----------------------------------------------------------

namespace {

struct BeatLog {
    std::vector<std::tuple<int64_t, std::string, ObjectId>> fired;
    ObjectId removeOnFire;  // RemoveHeartBeat(removeTarget, removeName) inside A
    std::string removeName;
    ObjectId addOnFire;      // AddHeartBeat(addOnFire, "B", 250) inside A
    ObjectId destroyOnFire;  // Destroy(destroyOnFire) inside A
    bool removeSelf = false;
};
BeatLog g_beats;
Kernel* g_kernel = nullptr;

int BeatA(IKernel* k, const ObjectId& obj) {
    g_beats.fired.emplace_back(g_kernel->Now(), "A", obj);
    if (!g_beats.removeOnFire.IsNull()) {
        k->RemoveHeartBeat(g_beats.removeOnFire, g_beats.removeName.c_str());
        g_beats.removeOnFire = {};
    }
    if (!g_beats.addOnFire.IsNull()) {
        k->AddHeartBeat(g_beats.addOnFire, "B", 250);
        g_beats.addOnFire = {};
    }
    if (!g_beats.destroyOnFire.IsNull()) {
        g_kernel->Destroy(g_beats.destroyOnFire);
        g_beats.destroyOnFire = {};
    }
    if (g_beats.removeSelf) k->RemoveHeartBeat(obj, "A");
    return 1;
}

int BeatB(IKernel*, const ObjectId& obj) {
    g_beats.fired.emplace_back(g_kernel->Now(), "B", obj);
    return 1;
}

int BeatNested(IKernel* k, const ObjectId&) {
    static_cast<Kernel*>(k)->AdvanceTime(1000);  // refused: inside a callback
    return 1;
}

class KernelHeartbeat : public ::testing::Test {
protected:
    void SetUp() override {
        KernelOptions o;
        o.echoToTerminal = false;
        kernel = std::make_unique<Kernel>(o);
        g_kernel = kernel.get();
        g_beats = BeatLog{};
        ASSERT_TRUE(kernel->DeclareHeartBeat("A", BeatA));
        ASSERT_TRUE(kernel->DeclareHeartBeat("B", BeatB));
        scene = kernel->CreateScene("scene1", 1);
        x = kernel->CreatePlayer(u"x", 1);
        y = kernel->CreatePlayer(u"y", 1);
    }
    void TearDown() override { g_kernel = nullptr; }
    std::unique_ptr<Kernel> kernel;
    ObjectId scene, x, y;
};

}  // namespace

TEST_F(KernelHeartbeat, PeriodicBeatsFireInDueThenAttachOrder) {
    ASSERT_TRUE(kernel->AddHeartBeat(y, "B", 1000));
    ASSERT_TRUE(kernel->AddHeartBeat(x, "A", 500));
    kernel->AdvanceTime(2000);
    // A at 500, 1000, 1500, 2000; B at 1000, 2000; at a tie B (attached first) leads.
    std::vector<std::tuple<int64_t, std::string, ObjectId>> expected = {
        {500, "A", x},  {1000, "B", y}, {1000, "A", x},
        {1500, "A", x}, {2000, "B", y}, {2000, "A", x}};
    EXPECT_EQ(g_beats.fired, expected);
    EXPECT_EQ(kernel->Now(), 2000);
    EXPECT_EQ(kernel->HeartbeatDue(x, "A"), 2500);
}

TEST_F(KernelHeartbeat, AdvancingInSmallStepsGivesTheSameFiringsAsOneLeap) {
    kernel->AddHeartBeat(x, "A", 333);
    kernel->AddHeartBeat(y, "B", 1000);
    for (int i = 0; i < 70; ++i) kernel->AdvanceTime(43);
    const auto stepped = g_beats.fired;

    KernelOptions o;
    o.echoToTerminal = false;
    Kernel other(o);
    g_kernel = &other;
    g_beats = BeatLog{};
    other.DeclareHeartBeat("A", BeatA);
    other.DeclareHeartBeat("B", BeatB);
    other.CreateScene("scene1", 1);
    const ObjectId ox = other.CreatePlayer(u"x", 1);
    const ObjectId oy = other.CreatePlayer(u"y", 1);
    ASSERT_EQ(ox, x);
    ASSERT_EQ(oy, y);
    other.AddHeartBeat(ox, "A", 333);
    other.AddHeartBeat(oy, "B", 1000);
    other.AdvanceTime(70 * 43);
    EXPECT_EQ(g_beats.fired, stepped);
    g_kernel = kernel.get();
}

TEST_F(KernelHeartbeat, BeatRemovedByAnEarlierCallbackInTheSameMillisecondDoesNotFire) {
    kernel->AddHeartBeat(x, "A", 1000);
    kernel->AddHeartBeat(y, "B", 1000);  // due at the same time, after A
    g_beats.removeOnFire = y;
    g_beats.removeName = "B";
    kernel->AdvanceTime(5000);
    for (const auto& f : g_beats.fired) EXPECT_NE(std::get<1>(f), "B");
    EXPECT_FALSE(kernel->FindHeartBeat(y, "B"));
    EXPECT_EQ(kernel->HeartbeatCount(), 1u);
}

TEST_F(KernelHeartbeat, BeatAddedInACallbackFirstFiresOneIntervalLater) {
    kernel->AddHeartBeat(x, "A", 1000);
    g_beats.addOnFire = y;
    kernel->AdvanceTime(1600);
    // B added at 1000 with 250 ms: 1250, 1500.
    std::vector<std::tuple<int64_t, std::string, ObjectId>> expected = {
        {1000, "A", x}, {1250, "B", y}, {1500, "B", y}};
    EXPECT_EQ(g_beats.fired, expected);
}

TEST_F(KernelHeartbeat, BeatRemovingItselfStops) {
    kernel->AddHeartBeat(x, "A", 100);
    g_beats.removeSelf = true;
    kernel->AdvanceTime(1000);
    EXPECT_EQ(g_beats.fired.size(), 1u);
    EXPECT_FALSE(kernel->FindHeartBeat(x, "A"));
    // Attaching it again works after the removal.
    g_beats.removeSelf = false;
    EXPECT_TRUE(kernel->AddHeartBeat(x, "A", 100));
    kernel->AdvanceTime(100);
    EXPECT_EQ(g_beats.fired.size(), 2u);
}

TEST_F(KernelHeartbeat, DestroyedObjectLosesItsBeatsEvenInsideACallback) {
    kernel->AddHeartBeat(x, "A", 100);
    kernel->AddHeartBeat(y, "B", 100);
    g_beats.destroyOnFire = y;
    kernel->AdvanceTime(1000);
    for (const auto& f : g_beats.fired) EXPECT_NE(std::get<1>(f), "B");
    EXPECT_FALSE(kernel->Exists(y));
    EXPECT_EQ(kernel->HeartbeatCount(), 1u);
}

TEST_F(KernelHeartbeat, RefusesUndeclaredDuplicateAndNonPositive) {
    EXPECT_FALSE(kernel->AddHeartBeat(x, "Nope", 100));
    EXPECT_FALSE(kernel->AddHeartBeat(x, "A", 0));
    EXPECT_FALSE(kernel->AddHeartBeat(x, "A", -5));
    EXPECT_TRUE(kernel->AddHeartBeat(x, "A", 100));
    EXPECT_FALSE(kernel->AddHeartBeat(x, "A", 200));  // carried once; interval kept
    EXPECT_EQ(kernel->HeartbeatInterval(x, "A"), 100);
    EXPECT_EQ(kernel->RepeatedBeatAttaches(), 1u);  // only the duplicate counts
    EXPECT_FALSE(kernel->AddHeartBeat(ObjectId{999, 1}, "A", 100));
    EXPECT_FALSE(kernel->RemoveHeartBeat(x, "B"));
    EXPECT_FALSE(kernel->DeclareHeartBeat("A", BeatB));  // bound elsewhere
    EXPECT_TRUE(kernel->DeclareHeartBeat("A", BeatA));   // same binding again is fine
    EXPECT_GE(kernel->log().Count(host::EventFilter::OfKind(host::EventKind::Host)), 5u);
}

TEST_F(KernelHeartbeat, AddAndRemoveAreRecordedInTheEventLog) {
    kernel->AddHeartBeat(x, "A", 750);
    kernel->RemoveHeartBeat(x, "A");
    const host::Event* add =
        kernel->log().FindFirst(host::EventFilter::OfKind(host::EventKind::HeartbeatAdd));
    const host::Event* rem =
        kernel->log().FindFirst(host::EventFilter::OfKind(host::EventKind::HeartbeatRemove));
    ASSERT_NE(add, nullptr);
    ASSERT_NE(rem, nullptr);
    EXPECT_EQ(add->name, "A");
    EXPECT_EQ(add->id, 750);
    EXPECT_EQ(add->sender, x);
    EXPECT_LT(add->seq, rem->seq);
}

TEST_F(KernelHeartbeat, AdvanceTimeInsideACallbackAndBackwardsAreRefused) {
    kernel->DeclareHeartBeat("Nested", BeatNested);
    kernel->AddHeartBeat(x, "Nested", 100);
    kernel->AdvanceTime(100);
    EXPECT_EQ(kernel->Now(), 100);
    kernel->AdvanceTime(-50);
    EXPECT_EQ(kernel->Now(), 100);
    EXPECT_EQ(kernel->log().Count([] {
        host::EventFilter f = host::EventFilter::OfKind(host::EventKind::Host);
        f.contains = "AdvanceTime";
        return f;
    }()),
              2u);
}

TEST_F(KernelHeartbeat, HostTimersShareTheClockAndCanBeCancelled) {
    std::vector<std::string> order;
    kernel->AddHeartBeat(x, "A", 1000);
    kernel->ScheduleAt(1000, [&] { order.push_back("timer"); });
    const uint64_t gone = kernel->ScheduleAt(500, [&] { order.push_back("cancelled"); });
    EXPECT_TRUE(kernel->CancelTimer(gone));
    EXPECT_FALSE(kernel->CancelTimer(gone));
    kernel->AdvanceTime(1000);
    // The beat was attached before the timer was scheduled: it fires first.
    ASSERT_EQ(g_beats.fired.size(), 1u);
    ASSERT_EQ(order, std::vector<std::string>{"timer"});
}

namespace {
uint64_t g_count = 0;
int CountBeat(IKernel*, const ObjectId&) {
    ++g_count;
    return 1;
}
}  // namespace

TEST(KernelHeartbeatLoad, TwoHundredThousandBeatsFireExactlyAsOften) {
    KernelOptions o;
    o.echoToTerminal = false;
    Kernel kernel(o);
    kernel.log().SetEnabled(false);
    kernel.DeclareHeartBeat("Count", CountBeat);
    kernel.CreateScene("s", 1);
    g_count = 0;
    uint64_t expected = 0;
    const int64_t span = 2 * 60 * 1000;  // two virtual minutes: every interval fires twice or more
    for (int i = 0; i < 200000; ++i) {
        ObjectSpec objDef;
        objDef.className = "Flag";
        objDef.raiseOnLoad = false;
        const ObjectId obj = kernel.CreateObject(objDef);
        const int interval = 1000 * (1 + i % 60);
        ASSERT_TRUE(kernel.AddHeartBeat(obj, "Count", interval));
        expected += static_cast<uint64_t>(span / interval);
    }
    EXPECT_EQ(kernel.HeartbeatCount(), 200000u);
    kernel.AdvanceTime(span);
    EXPECT_EQ(g_count, expected);
}
