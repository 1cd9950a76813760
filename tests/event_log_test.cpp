// The packed event log: what goes in comes out unchanged, results can be set
// later, and a capped long run keeps its memory bounded.
#include <gtest/gtest.h>

#include "EventLog.h"

namespace {

using host::Event;
using host::EventFields;
using host::EventFilter;
using host::EventKind;
using host::EventLog;
using host::HostVarList;

TEST(PackedEventLog, EveryFieldAndArgumentTypeRoundTrips) {
    EventLog log;
    HostVarList args;
    args.AddInt(-7);
    args.AddFloat(1.5f);
    args.AddString("gbk\xb0\xa1");
    args.AddWideStr(u"名字");
    args.AddObject(ObjectId{3, 9});
    args.AddInt64(int64_t{1} << 40);
    const char bytes[] = {1, 0, 2};
    args.AddUserData(bytes, sizeof bytes);
    EventFields f;
    f.kind = EventKind::CommandOffline;
    f.timeMs = 12500;
    f.sender = ObjectId{1, 2};
    f.target = ObjectId{4, 5};
    f.id = 1001;
    f.result = 2;
    f.name = "OnSelect";
    f.text = "from u\"a\" #1";
    f.targetName = u"Bob";
    f.args = &args;
    const uint64_t seq = log.Add(f);
    log.Add(Event{});  // an empty event packs no bytes

    const Event* e = log.Get(seq);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, EventKind::CommandOffline);
    EXPECT_EQ(e->timeMs, 12500);
    EXPECT_EQ(e->sender, (ObjectId{1, 2}));
    EXPECT_EQ(e->target, (ObjectId{4, 5}));
    EXPECT_EQ(e->id, 1001);
    EXPECT_EQ(e->result, 2);
    EXPECT_EQ(e->name, "OnSelect");
    EXPECT_EQ(e->text, "from u\"a\" #1");
    EXPECT_EQ(e->targetName, u"Bob");
    EXPECT_EQ(host::ToValues(e->args), host::ToValues(args));
    EXPECT_EQ(e->argsText, host::FormatVarList(args));

    EXPECT_TRUE(log.SetResult(seq, 0));
    EXPECT_EQ(log.FindFirst(EventFilter::OfKind(EventKind::CommandOffline))->result, 0);
    EXPECT_FALSE(log.SetResult(99, 1));
    EventFilter byText;
    byText.contains = "obj#3:9";  // matched in the arguments' text, formatted on reading
    EXPECT_EQ(log.Count(byText), 1u);
}

// A single value (how property changes are recorded) reads back as the
// list holding just that value would.
TEST(PackedEventLog, SingleValueReadsBackAsItsOneEntryList) {
    const host::Value values[] = {int32_t{-3},
                                  2.5f,
                                  std::string("a\0b", 3),
                                  std::u16string(u"名"),
                                  ObjectId{7, 8},
                                  std::vector<uint8_t>{},
                                  std::vector<uint8_t>{9, 0},
                                  int64_t{-1},
                                  true,
                                  std::monostate{}};
    for (const host::Value& v : values) {
        EventLog log;
        EventFields one;
        one.value = &v;
        const HostVarList list = HostVarList::Of({v});
        EventFields many;
        many.args = &list;
        const uint64_t a = log.Add(one);
        const uint64_t b = log.Add(many);
        EXPECT_EQ(log.Get(a)->argsText, log.Get(b)->argsText) << host::FormatValue(v);
        EXPECT_EQ(log.Get(a)->args.GetCount(), list.GetCount()) << host::FormatValue(v);
    }
}

TEST(PackedEventLog, CappedLongRunFreesTheOldestBytes) {
    EventLog log;
    log.SetCapacity(1000);
    HostVarList args;
    args.AddString(std::string(200, 'x').c_str());
    EventFields f;
    f.kind = EventKind::Note;
    f.args = &args;
    size_t peak = 0;
    for (int i = 0; i < 20000; ++i) {
        f.id = i;
        log.Add(f);
        peak = std::max(peak, log.MemoryBytes());
    }
    EXPECT_LE(log.size(), 1000u);
    EXPECT_EQ(log.events().back().id, 19999);
    EXPECT_EQ(log.events().back().args.StringVal(0), std::string(200, 'x'));
    EXPECT_LT(peak, 20000u * 200u / 4);  // far below what was ever added
}

// Events whose bytes meet the end of a chunk move there whole; every event
// reads back as added, whichever chunk it ended up in.
TEST(PackedEventLog, EventsAcrossChunkEndsReadBackWhole) {
    EventLog log;
    const std::string text(1000, 't');
    std::vector<uint64_t> seqs;
    for (int i = 0; i < 1200; ++i) {  // some 1.2 MB: several chunk ends
        HostVarList args;
        args.AddInt(i);
        args.AddString(std::string(static_cast<size_t>(i % 7) * 50, 's').c_str());
        args.AddObject(ObjectId{uint32_t(i), 1});
        EventFields f;
        f.kind = EventKind::Note;
        f.id = i;
        f.text = text;
        f.args = &args;
        seqs.push_back(log.Add(f));
    }
    for (int i = 0; i < 1200; ++i) {
        const Event* e = log.Get(seqs[size_t(i)]);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->text, text) << i;
        ASSERT_EQ(e->args.IntVal(0), i);
        ASSERT_EQ(e->args.StringVal(1), std::string(static_cast<size_t>(i % 7) * 50, 's'));
        ASSERT_EQ(e->args.ObjectVal(2), (ObjectId{uint32_t(i), 1}));
    }
}

// Seq lookups and fromSeq reads with gaps in the seqs (log off for a while)
// and the oldest events dropped by a capacity.
TEST(PackedEventLog, SeqLookupsSurviveGapsAndDrops) {
    EventLog log;
    log.SetCapacity(3000);
    EventFields f;
    f.kind = EventKind::Host;
    for (int i = 0; i < 5000; ++i) {
        log.SetEnabled(i % 10 < 7);  // seqs 7, 8, 9 of each ten are not held
        f.id = i;
        log.Add(f);
    }
    const uint64_t oldest = log.events().front().seq;
    struct Case {
        uint64_t seq;
        bool held;
    };
    const Case cases[] = {{4996, true},   {4997, false},       {4990, true}, {4009, false},
                          {oldest, true}, {oldest - 1, false}, {0, false},   {5000, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(log.Get(c.seq) != nullptr, c.held) << c.seq;
        EXPECT_EQ(log.SetResult(c.seq, 5), c.held) << c.seq;
        if (c.held) {
            EXPECT_EQ(log.Get(c.seq)->result, 5);
        }
        EventFilter from;
        from.fromSeq = c.seq;
        size_t expected = 0;
        for (const Event& e : log.events()) expected += e.seq >= c.seq ? 1 : 0;
        EXPECT_EQ(log.Count(from), expected) << c.seq;
        const Event* want = nullptr;
        for (const Event& e : log.events())
            if (e.seq >= c.seq && want == nullptr) want = &e;
        const Event* first = log.FindFirst(from);
        ASSERT_EQ(first == nullptr, want == nullptr) << c.seq;
        if (first != nullptr) {
            EXPECT_EQ(first->seq, want->seq);
        }
    }
}

}  // namespace
