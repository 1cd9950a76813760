// CVarList and CResultName: storage placement, growth, read defaults, set
// rules, the copy rule and the promise that short lists never touch the heap.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "VarList.h"

// ---- allocation counting ----------------------------------------------------
// CVarList takes its memory from std::malloc, and operator new ends in malloc
// too, so counting malloc calls on this thread counts every heap allocation a
// list makes. Under AddressSanitizer malloc belongs to the sanitizer runtime,
// so its hook interface does the counting there instead of an override.
namespace {
thread_local uint64_t t_mallocCalls = 0;
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define VARLIST_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARLIST_TEST_ASAN 1
#endif
#endif

#ifdef VARLIST_TEST_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));
namespace {
void CountMalloc(const volatile void*, size_t) {
    ++t_mallocCalls;
}
void IgnoreFree(const volatile void*) {}
const bool g_counting = __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree) != 0;
}  // namespace
#else
extern "C" void* __libc_malloc(size_t size);
extern "C" void* malloc(size_t size) noexcept {
    ++t_mallocCalls;
    return __libc_malloc(size);
}
namespace {
const bool g_counting = true;
}  // namespace
#endif

namespace {

// Heap allocations made on this thread since construction.
class AllocationCounter {
public:
    AllocationCounter() : m_start(t_mallocCalls) {}
    uint64_t Count() const { return t_mallocCalls - m_start; }

private:
    uint64_t m_start;
};

#define REQUIRE_ALLOCATION_COUNTING() \
    if (!g_counting) GTEST_SKIP() << "malloc hooks unavailable in this build; count not checked"

// A list from outside the library (as a host would hand one over), able to
// hold type codes CVarList never makes and to notice reads past its end.
class ForeignList final : public IVarList {
public:
    struct Item {
        uint32_t typeWord = 0;
        int64_t number = 0;
        float f = 0.0f;
        std::string s;
        std::u16string w;
        ObjectId o;
        std::vector<unsigned char> bytes;
    };

    void Push(Item item) { m_items.push_back(std::move(item)); }
    void PushRaw(uint32_t typeWord, int64_t number) {
        Item it;
        it.typeWord = typeWord;
        it.number = number;
        m_items.push_back(it);
    }
    bool ReadPastEnd() const { return m_readPastEnd; }

    bool AddInt(int v) override { return AddTaggedInt(0, v); }
    bool AddInt64(int64_t v) override {
        PushRaw(VTYPE_INT64, v);
        return true;
    }
    bool AddFloat(float v) override { return AddTaggedFloat(0, v); }
    bool AddString(const char* v) override { return AddTaggedString(0, v); }
    bool AddWideStr(const char16_t* v) override { return AddTaggedWideStr(0, v); }
    bool AddObject(const ObjectId& v) override { return AddTaggedObject(0, v); }
    bool AddUserData(const void* data, uint64_t size) override {
        Item it;
        it.typeWord = VTYPE_USERDATA;
        const unsigned char* b = static_cast<const unsigned char*>(data);
        it.bytes.assign(b, b + size);
        m_items.push_back(it);
        return true;
    }
    bool AddTaggedInt(int tag, int v) override {
        PushRaw(uint32_t((tag & 15) << 4 | VTYPE_INT), v);
        return true;
    }
    bool AddTaggedFloat(int tag, float v) override {
        Item it;
        it.typeWord = uint32_t((tag & 15) << 4 | VTYPE_FLOAT);
        it.f = v;
        m_items.push_back(it);
        return true;
    }
    bool AddTaggedString(int tag, const char* v) override {
        Item it;
        it.typeWord = uint32_t((tag & 15) << 4 | VTYPE_STRING);
        it.s = v;
        m_items.push_back(it);
        return true;
    }
    bool AddTaggedWideStr(int tag, const char16_t* v) override {
        Item it;
        it.typeWord = uint32_t((tag & 15) << 4 | VTYPE_WIDESTR);
        it.w = v;
        m_items.push_back(it);
        return true;
    }
    bool AddTaggedObject(int tag, const ObjectId& v) override {
        Item it;
        it.typeWord = uint32_t((tag & 15) << 4 | VTYPE_OBJECT);
        it.o = v;
        m_items.push_back(it);
        return true;
    }
    bool Concat(const IVarList&) override { return false; }
    bool Append(const IVarList&, uint64_t, uint64_t) override { return false; }
    void Clear() override { m_items.clear(); }
    bool IsEmpty() const override { return m_items.empty(); }
    uint64_t GetCount() const override { return m_items.size(); }

    uint32_t GetTypeWord(uint64_t i) const override {
        const Item* it = Get(i);
        return it ? it->typeWord : 0;
    }
    int GetType(uint64_t i) const override { return int(GetTypeWord(i) & 15); }
    int GetTag(uint64_t i) const override { return int((GetTypeWord(i) >> 4) & 15); }
    int IntVal(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_INT);
        return it ? int(it->number) : 0;
    }
    int64_t Int64Val(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_INT64);
        return it ? it->number : 0;
    }
    float FloatVal(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_FLOAT);
        return it ? it->f : 0.0f;
    }
    const char* StringVal(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_STRING);
        return it ? it->s.c_str() : "";
    }
    const char16_t* WideStrVal(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_WIDESTR);
        return it ? it->w.c_str() : u"";
    }
    ObjectId ObjectVal(uint64_t i) const override {
        const Item* it = Get(i, VTYPE_OBJECT);
        return it ? it->o : ObjectId{};
    }
    const void* UserDataVal(uint64_t i, uint64_t& size) const override {
        const Item* it = Get(i, VTYPE_USERDATA);
        size = it ? it->bytes.size() : 0;
        return it ? it->bytes.data() : nullptr;
    }
    bool SetInt(uint64_t, int) override { return false; }
    bool SetFloat(uint64_t, float) override { return false; }
    bool SetString(uint64_t, const char*) override { return false; }
    bool SetWideStr(uint64_t, const char16_t*) override { return false; }
    bool SetObject(uint64_t, const ObjectId&) override { return false; }

private:
    const Item* Get(uint64_t i, int type = -1) const {
        if (i >= m_items.size()) {
            m_readPastEnd = true;
            return nullptr;
        }
        const Item& it = m_items[i];
        if (type >= 0 && int(it.typeWord & 15) != type) return nullptr;
        return &it;
    }

    std::vector<Item> m_items;
    mutable bool m_readPastEnd = false;
};

ObjectId Obj(uint32_t ident, uint32_t serial) {
    return ObjectId{ident, serial};
}

// A string whose copy takes exactly bytes bytes (terminator included).
std::string OfPayload(size_t bytes) {
    return std::string(bytes - 1, 'x');
}

// ---- growth -----------------------------------------------------------------

TEST(CVarListGrowth, StartsInlineWithRoomForEight) {
    CVarList l;
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_EQ(l.GetCount(), 0u);
    EXPECT_EQ(l.Capacity(), 8u);
    EXPECT_EQ(l.ArenaUsed(), 0u);
    EXPECT_TRUE(l.UsesInlineEntries());
}

TEST(CVarListGrowth, NinthAppendMovesToHeapArrayOfSixteen) {
    REQUIRE_ALLOCATION_COUNTING();
    CVarList l;
    for (int i = 0; i < 8; ++i) l.AddInt(i * 10);
    EXPECT_TRUE(l.UsesInlineEntries());
    AllocationCounter counter;
    l.AddInt(80);
    const uint64_t allocations = counter.Count();
    EXPECT_EQ(allocations, 1u);
    EXPECT_FALSE(l.UsesInlineEntries());
    EXPECT_EQ(l.Capacity(), 16u);
    ASSERT_EQ(l.GetCount(), 9u);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(l.IntVal(i), i * 10) << "entry " << i;
}

TEST(CVarListGrowth, SeventeenthAppendDoublesToThirtyTwo) {
    REQUIRE_ALLOCATION_COUNTING();
    CVarList l;
    for (int i = 0; i < 16; ++i) l.AddInt(i);
    EXPECT_EQ(l.Capacity(), 16u);
    AllocationCounter counter;
    l.AddFloat(16.5f);
    const uint64_t allocations = counter.Count();
    EXPECT_EQ(allocations, 1u);
    EXPECT_EQ(l.Capacity(), 32u);
    ASSERT_EQ(l.GetCount(), 17u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(l.IntVal(i), i);
    EXPECT_FLOAT_EQ(l.FloatVal(16), 16.5f);
}

TEST(CVarListGrowth, PayloadsStayPutWhenTheEntryArrayMoves) {
    CVarList l;
    l.AddString("arena");                // in the arena
    l.AddString(OfPayload(80).c_str());  // on the heap
    l.AddWideStr(u"wide");
    l.AddObject(Obj(7, 9));
    const char* arenaString = l.StringVal(0);
    const char* heapString = l.StringVal(1);
    const char16_t* wide = l.WideStrVal(2);
    for (int i = 0; i < 30; ++i) l.AddInt(i);
    EXPECT_EQ(l.Capacity(), 64u);
    EXPECT_EQ(l.StringVal(0), arenaString);
    EXPECT_EQ(l.StringVal(1), heapString);
    EXPECT_EQ(l.WideStrVal(2), wide);
    EXPECT_STREQ(l.StringVal(0), "arena");
    EXPECT_EQ(std::string(l.StringVal(1)), OfPayload(80));
    EXPECT_EQ(std::u16string(l.WideStrVal(2)), u"wide");
    EXPECT_EQ(l.ObjectVal(3), Obj(7, 9));
}

TEST(CVarListGrowth, ShortListsMakeNoHeapAllocation) {
    REQUIRE_ALLOCATION_COUNTING();
    const unsigned char blob[4] = {1, 2, 3, 4};
    const std::string s16 = OfPayload(16), s22 = OfPayload(22);
    AllocationCounter counter;
    {
        // Eight entries, 64 payload bytes: 16 + 6 + 8 + 12 + 22.
        CVarList l;
        l.AddInt(1);
        l.AddFloat(2.0f);
        l.AddString(s16.c_str());
        l.AddWideStr(u"ab");
        l.AddObject(Obj(1, 2));
        l.AddUserData(blob, sizeof blob);
        l.AddInt64(-5);
        l.AddString(s22.c_str());
        EXPECT_EQ(l.ArenaUsed(), 64u);
    }
    const uint64_t allocations = counter.Count();
    EXPECT_EQ(allocations, 0u);
}

// ---- payload placement ------------------------------------------------------

TEST(CVarListPlacement, PayloadsLieBackToBackInTheArena) {
    CVarList l;
    l.AddString("abc");
    l.AddWideStr(u"xy");
    l.AddObject(Obj(3, 4));
    EXPECT_TRUE(l.InArena(l.StringVal(0)));
    EXPECT_TRUE(l.InArena(l.WideStrVal(1)));
    const char* base = l.StringVal(0);
    EXPECT_EQ(reinterpret_cast<const char*>(l.WideStrVal(1)), base + 4);
    EXPECT_EQ(l.ArenaUsed(), 4u + 6u + 8u);
    EXPECT_EQ(l.ObjectVal(2), Obj(3, 4));
}

TEST(CVarListPlacement, StringThatNoLongerFitsGoesToHeapAndLaterShortOneBackToArena) {
    REQUIRE_ALLOCATION_COUNTING();
    CVarList l;
    const std::string a = OfPayload(30), b = OfPayload(30), c = OfPayload(10);
    l.AddString(a.c_str());
    l.AddString(b.c_str());
    EXPECT_EQ(l.ArenaUsed(), 60u);
    AllocationCounter counter;
    l.AddString(c.c_str());  // 60 + 10 > 64
    const uint64_t heapAllocations = counter.Count();
    EXPECT_EQ(heapAllocations, 1u);
    EXPECT_FALSE(l.InArena(l.StringVal(2)));
    EXPECT_EQ(l.ArenaUsed(), 60u);

    AllocationCounter counter2;
    l.AddString("abc");  // 60 + 4 == 64 still fits at the end
    const uint64_t arenaAllocations = counter2.Count();
    EXPECT_EQ(arenaAllocations, 0u);
    EXPECT_TRUE(l.InArena(l.StringVal(3)));
    EXPECT_EQ(l.StringVal(3), l.StringVal(0) + 60);
    EXPECT_EQ(l.ArenaUsed(), 64u);

    EXPECT_EQ(std::string(l.StringVal(0)), a);
    EXPECT_EQ(std::string(l.StringVal(1)), b);
    EXPECT_EQ(std::string(l.StringVal(2)), c);
    EXPECT_STREQ(l.StringVal(3), "abc");
}

TEST(CVarListPlacement, ExactlySixtyFourBytesFitButOneMoreDoesNot) {
    CVarList fits;
    fits.AddString(OfPayload(64).c_str());
    EXPECT_TRUE(fits.InArena(fits.StringVal(0)));
    EXPECT_EQ(fits.ArenaUsed(), 64u);

    CVarList spills;
    spills.AddString(OfPayload(65).c_str());
    EXPECT_FALSE(spills.InArena(spills.StringVal(0)));
    EXPECT_EQ(spills.ArenaUsed(), 0u);
    EXPECT_EQ(std::string(spills.StringVal(0)), OfPayload(65));
}

TEST(CVarListPlacement, WideStringAndUserDataSizesCountTowardsTheArena) {
    CVarList l;
    l.AddWideStr(u"abc");  // (3 + 1) * 2
    EXPECT_EQ(l.ArenaUsed(), 8u);
    std::vector<unsigned char> block(48, 0xAB);
    l.AddUserData(block.data(), block.size());  // 8 + 48
    EXPECT_EQ(l.ArenaUsed(), 64u);
    l.AddObject(Obj(1, 1));  // no room left: a heap object
    EXPECT_EQ(l.ArenaUsed(), 64u);
    EXPECT_EQ(l.ObjectVal(2), Obj(1, 1));
    uint64_t size = 0;
    const void* data = l.UserDataVal(1, size);
    EXPECT_TRUE(l.InArena(data));
    ASSERT_EQ(size, 48u);
    EXPECT_EQ(std::memcmp(data, block.data(), 48), 0);
}

TEST(CVarListPlacement, UserDataOneByteTooLargeForTheArenaGoesToHeap) {
    CVarList l;
    std::vector<unsigned char> block(57);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i);
    l.AddUserData(block.data(), block.size());  // 8 + 57 = 65
    EXPECT_EQ(l.ArenaUsed(), 0u);
    uint64_t size = 0;
    const void* data = l.UserDataVal(0, size);
    EXPECT_FALSE(l.InArena(data));
    ASSERT_EQ(size, 57u);
    EXPECT_EQ(std::memcmp(data, block.data(), 57), 0);
}

TEST(CVarListPlacement, WideStringCopiesStartOnAnEvenOffset) {
    // Readers index a wide text through a char16_t pointer; an odd address
    // would be a misaligned access for every one of them.
    CVarList l;
    l.AddString("ab");  // 3 bytes: the arena's end is odd
    l.AddWideStr(u"xy");
    const char16_t* wide = l.WideStrVal(1);
    EXPECT_TRUE(l.InArena(wide));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide) % alignof(char16_t), 0u);
    EXPECT_EQ(reinterpret_cast<const char*>(wide), l.StringVal(0) + 4);
    EXPECT_EQ(l.ArenaUsed(), 3u + 1u + 6u);
    EXPECT_EQ(wide[0], u'x');
    EXPECT_EQ(wide[1], u'y');
    l.AddString("c");  // narrow texts need no alignment
    EXPECT_EQ(l.StringVal(2), l.StringVal(0) + 10);

    EXPECT_TRUE(l.SetWideStr(1, u"z"));  // the end is odd again (11)
    EXPECT_EQ(reinterpret_cast<uintptr_t>(l.WideStrVal(1)) % alignof(char16_t), 0u);
    EXPECT_EQ(l.ArenaUsed(), 12u + 4u);
    EXPECT_EQ(std::u16string(l.WideStrVal(1)), u"z");
}

TEST(CVarListPlacement, WideStringPaddingDecidesWhetherItStillFits) {
    CVarList fits;
    fits.AddString(OfPayload(59).c_str());
    fits.AddWideStr(u"a");  // padded to 60, 60 + 4 == 64
    EXPECT_TRUE(fits.InArena(fits.WideStrVal(1)));
    EXPECT_EQ(fits.ArenaUsed(), 64u);

    CVarList spills;
    spills.AddString(OfPayload(61).c_str());
    spills.AddWideStr(u"a");  // padded to 62, 62 + 4 > 64
    EXPECT_FALSE(spills.InArena(spills.WideStrVal(1)));
    EXPECT_EQ(spills.ArenaUsed(), 61u);
    EXPECT_EQ(std::u16string(spills.WideStrVal(1)), u"a");
    spills.AddString("b");  // the last three bytes are still free
    EXPECT_TRUE(spills.InArena(spills.StringVal(2)));
    EXPECT_EQ(spills.ArenaUsed(), 63u);
}

// ---- reads ------------------------------------------------------------------

TEST(CVarListRead, WrongTypeGivesDefaultNotConversion) {
    CVarList l;
    l.AddInt(42);
    l.AddFloat(3.5f);
    l.AddString("17");
    l.AddInt64(int64_t(1) << 40);
    EXPECT_STREQ(l.StringVal(0), "");
    EXPECT_NE(l.StringVal(0), nullptr);
    EXPECT_EQ(l.FloatVal(0), 0.0f);
    EXPECT_EQ(l.Int64Val(0), 0);
    EXPECT_EQ(l.IntVal(1), 0);
    EXPECT_EQ(l.IntVal(2), 0);
    EXPECT_EQ(l.IntVal(3), 0);
    EXPECT_EQ(l.Int64Val(3), int64_t(1) << 40);
    EXPECT_EQ(std::u16string(l.WideStrVal(2)), u"");
    EXPECT_TRUE(l.ObjectVal(2).IsNull());
    uint64_t size = 99;
    EXPECT_EQ(l.UserDataVal(0, size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(CVarListRead, PastTheEndGivesDefaults) {
    CVarList l;
    l.AddInt(1);
    l.AddTaggedString(3, "s");
    l.AddObject(Obj(1, 2));
    for (uint64_t index : {uint64_t(3), uint64_t(5), UINT64_MAX}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(l.IntVal(index), 0);
        EXPECT_EQ(l.Int64Val(index), 0);
        EXPECT_EQ(l.FloatVal(index), 0.0f);
        EXPECT_STREQ(l.StringVal(index), "");
        EXPECT_EQ(std::u16string(l.WideStrVal(index)), u"");
        EXPECT_TRUE(l.ObjectVal(index).IsNull());
        uint64_t size = 7;
        EXPECT_EQ(l.UserDataVal(index, size), nullptr);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(l.GetType(index), 0);
        EXPECT_EQ(l.GetTag(index), 0);
        EXPECT_EQ(l.GetTypeWord(index), 0u);
    }
}

TEST(CVarListRead, TagTakesNoPartInTypeComparison) {
    CVarList l;
    l.AddTaggedInt(9, -3);
    l.AddTaggedFloat(1, 0.25f);
    l.AddTaggedString(15, "tagged");
    l.AddTaggedWideStr(2, u"w");
    l.AddTaggedObject(4, Obj(5, 6));
    EXPECT_EQ(l.IntVal(0), -3);
    EXPECT_EQ(l.FloatVal(1), 0.25f);
    EXPECT_STREQ(l.StringVal(2), "tagged");
    EXPECT_EQ(std::u16string(l.WideStrVal(3)), u"w");
    EXPECT_EQ(l.ObjectVal(4), Obj(5, 6));
    EXPECT_EQ(l.GetType(0), VTYPE_INT);
    EXPECT_EQ(l.GetTag(0), 9);
    EXPECT_EQ(l.GetTag(2), 15);
}

TEST(CVarListRead, TypeWordHoldsTagTimesSixteenPlusCodeAndNothingElse) {
    CVarList l;
    l.AddTaggedInt(0x13, 1);  // only the low four bits of the tag count
    l.AddTaggedObject(-1, Obj(1, 1));
    l.AddInt64(5);
    EXPECT_EQ(l.GetTypeWord(0), 3u * 16 + VTYPE_INT);
    EXPECT_EQ(l.GetTag(0), 3);
    EXPECT_EQ(l.GetTypeWord(1), 15u * 16 + VTYPE_OBJECT);
    EXPECT_EQ(l.GetTypeWord(2), uint32_t(VTYPE_INT64));
    EXPECT_EQ(l.GetTag(2), 0);
}

TEST(CVarListRead, ValuesOfEveryTypeRoundTrip) {
    CVarList l;
    const unsigned char blob[3] = {0, 0xFF, 0x10};
    l.AddInt(INT32_MIN);
    l.AddInt64(INT64_MIN);
    l.AddFloat(-0.5f);
    l.AddString("\xC4\xE3\xBA\xC3");  // GBK bytes pass through untouched
    l.AddWideStr(u"\u540D\u5B57");
    l.AddObject(Obj(0xFFFFFFFFu, 0x80000000u));
    l.AddUserData(blob, sizeof blob);
    l.AddUserData(nullptr, 0);
    EXPECT_EQ(l.IntVal(0), INT32_MIN);
    EXPECT_EQ(l.Int64Val(1), INT64_MIN);
    EXPECT_EQ(l.FloatVal(2), -0.5f);
    EXPECT_STREQ(l.StringVal(3), "\xC4\xE3\xBA\xC3");
    EXPECT_EQ(std::u16string(l.WideStrVal(4)), u"\u540D\u5B57");
    EXPECT_EQ(l.ObjectVal(5), Obj(0xFFFFFFFFu, 0x80000000u));
    uint64_t size = 0;
    const void* data = l.UserDataVal(6, size);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, blob, 3), 0);
    EXPECT_NE(data, static_cast<const void*>(blob));
    EXPECT_EQ(l.GetType(7), VTYPE_USERDATA);
    l.UserDataVal(7, size);
    EXPECT_EQ(size, 0u);
    const int expected[] = {VTYPE_INT,     VTYPE_INT64,  VTYPE_FLOAT,    VTYPE_STRING,
                            VTYPE_WIDESTR, VTYPE_OBJECT, VTYPE_USERDATA, VTYPE_USERDATA};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(l.GetType(i), expected[i]) << "entry " << i;
}

TEST(CVarListRead, AppendedStringIsACopyNotTheCallersBuffer) {
    char text[] = "before";
    CVarList l;
    l.AddString(text);
    std::strcpy(text, "after!");
    EXPECT_STREQ(l.StringVal(0), "before");
}

// ---- sets -------------------------------------------------------------------

TEST(CVarListSet, WrongTypeOrPastTheEndReturnsFalseAndChangesNothing) {
    CVarList l;
    l.AddInt(1);
    l.AddFloat(2.0f);
    l.AddString("s");
    l.AddWideStr(u"w");
    l.AddObject(Obj(1, 1));
    EXPECT_FALSE(l.SetInt(1, 5));
    EXPECT_FALSE(l.SetFloat(0, 5.0f));
    EXPECT_FALSE(l.SetString(3, "x"));
    EXPECT_FALSE(l.SetWideStr(2, u"x"));
    EXPECT_FALSE(l.SetObject(0, Obj(2, 2)));
    EXPECT_FALSE(l.SetInt(5, 5));
    EXPECT_FALSE(l.SetString(UINT64_MAX, "x"));
    EXPECT_EQ(l.GetCount(), 5u);
    EXPECT_EQ(l.IntVal(0), 1);
    EXPECT_EQ(l.FloatVal(1), 2.0f);
    EXPECT_STREQ(l.StringVal(2), "s");
    EXPECT_EQ(std::u16string(l.WideStrVal(3)), u"w");
    EXPECT_EQ(l.ObjectVal(4), Obj(1, 1));
}

TEST(CVarListSet, SetKeepsTheTag) {
    CVarList l;
    l.AddTaggedInt(5, 1);
    l.AddTaggedFloat(6, 1.0f);
    l.AddTaggedString(7, "a");
    l.AddTaggedWideStr(8, u"b");
    l.AddTaggedObject(9, Obj(1, 1));
    EXPECT_TRUE(l.SetInt(0, 10));
    EXPECT_TRUE(l.SetFloat(1, 10.0f));
    EXPECT_TRUE(l.SetString(2, "changed"));
    EXPECT_TRUE(l.SetWideStr(3, u"changed"));
    EXPECT_TRUE(l.SetObject(4, Obj(2, 3)));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(l.GetTag(i), 5 + i) << "entry " << i;
    EXPECT_EQ(l.IntVal(0), 10);
    EXPECT_EQ(l.FloatVal(1), 10.0f);
    EXPECT_STREQ(l.StringVal(2), "changed");
    EXPECT_EQ(std::u16string(l.WideStrVal(3)), u"changed");
    EXPECT_EQ(l.ObjectVal(4), Obj(2, 3));
}

TEST(CVarListSet, SetObjectOverwritesInPlace) {
    CVarList l;
    l.AddObject(Obj(1, 1));
    const uint64_t before = l.ArenaUsed();
    EXPECT_TRUE(l.SetObject(0, Obj(0, 0)));
    EXPECT_TRUE(l.ObjectVal(0).IsNull());
    EXPECT_EQ(l.ArenaUsed(), before);
}

TEST(CVarListSet, SetStringDoesNotReclaimArenaSpace) {
    CVarList l;
    l.AddString("abc");
    l.AddInt(1);
    const char* old = l.StringVal(0);
    EXPECT_EQ(l.ArenaUsed(), 4u);
    EXPECT_TRUE(l.SetString(0, "xyz"));
    EXPECT_EQ(l.ArenaUsed(), 8u);  // the new copy follows the old one
    EXPECT_EQ(l.StringVal(0), old + 4);
    EXPECT_STREQ(l.StringVal(0), "xyz");

    const std::string big = OfPayload(60);  // 8 + 60 > 64
    EXPECT_TRUE(l.SetString(0, big.c_str()));
    EXPECT_FALSE(l.InArena(l.StringVal(0)));
    EXPECT_EQ(l.ArenaUsed(), 8u);
    EXPECT_EQ(std::string(l.StringVal(0)), big);

    // The heap copy is released; a short text fits at the arena's end again.
    EXPECT_TRUE(l.SetString(0, "hi"));
    EXPECT_TRUE(l.InArena(l.StringVal(0)));
    EXPECT_EQ(l.StringVal(0), old + 8);
    EXPECT_EQ(l.ArenaUsed(), 11u);
    EXPECT_EQ(l.IntVal(1), 1);
}

TEST(CVarListSet, SetWideStrPlacesTheCopyLikeAnAppend) {
    CVarList l;
    l.AddWideStr(u"ab");  // 6 bytes
    EXPECT_TRUE(l.SetWideStr(0, u"abcd"));
    EXPECT_EQ(l.ArenaUsed(), 6u + 10u);
    EXPECT_EQ(std::u16string(l.WideStrVal(0)), u"abcd");
    const std::u16string longText(40, u'z');  // 82 bytes
    EXPECT_TRUE(l.SetWideStr(0, longText.c_str()));
    EXPECT_FALSE(l.InArena(l.WideStrVal(0)));
    EXPECT_EQ(std::u16string(l.WideStrVal(0)), longText);
}

TEST(CVarListSet, SetStringFromItsOwnValueKeepsTheText) {
    CVarList l;
    const std::string big = OfPayload(70);
    l.AddString(big.c_str());  // heap copy
    EXPECT_TRUE(l.SetString(0, l.StringVal(0)));
    EXPECT_EQ(std::string(l.StringVal(0)), big);
    l.AddWideStr(std::u16string(50, u'q').c_str());
    EXPECT_TRUE(l.SetWideStr(1, l.WideStrVal(1)));
    EXPECT_EQ(std::u16string(l.WideStrVal(1)), std::u16string(50, u'q'));
}

// ---- Append, Concat and the copy rule ---------------------------------------

class CVarListCopy : public ::testing::Test {
protected:
    void SetUp() override {
        source.AddInt(10);
        source.AddString("one");
        source.AddFloat(2.5f);
        source.AddObject(Obj(3, 3));
    }
    CVarList source;
};

TEST_F(CVarListCopy, AppendRangeReachingPastTheEndAppendsNothing) {
    CVarList l;
    l.AddInt(-1);
    EXPECT_FALSE(l.Append(source, 2, 3));
    EXPECT_FALSE(l.Append(source, 4, 0));
    EXPECT_FALSE(l.Append(source, 4, 1));
    EXPECT_EQ(l.GetCount(), 1u);
    EXPECT_EQ(l.IntVal(0), -1);
}

TEST_F(CVarListCopy, AppendCopiesTheRequestedRangeInOrder) {
    CVarList l;
    EXPECT_TRUE(l.Append(source, 1, 3));
    ASSERT_EQ(l.GetCount(), 3u);
    EXPECT_STREQ(l.StringVal(0), "one");
    EXPECT_EQ(l.FloatVal(1), 2.5f);
    EXPECT_EQ(l.ObjectVal(2), Obj(3, 3));
    // The copies are the list's own.
    EXPECT_NE(l.StringVal(0), source.StringVal(1));
}

TEST_F(CVarListCopy, AppendOfZeroEntriesInsideTheListSucceeds) {
    CVarList l;
    EXPECT_TRUE(l.Append(source, 0, 0));
    EXPECT_TRUE(l.Append(source, 3, 1));
    ASSERT_EQ(l.GetCount(), 1u);
    EXPECT_EQ(l.ObjectVal(0), Obj(3, 3));
}

TEST_F(CVarListCopy, AppendFromAnEmptyListFails) {
    CVarList empty, l;
    EXPECT_FALSE(l.Append(empty, 0, 0));
    EXPECT_TRUE(l.IsEmpty());
}

TEST_F(CVarListCopy, AppendWhoseEndWrapsPastTwoToTheSixtyFourIsRefused) {
    ForeignList foreign;
    foreign.AddInt(1);
    foreign.AddInt(2);
    foreign.AddInt(3);
    foreign.AddInt(4);
    CVarList l;
    EXPECT_FALSE(l.Append(foreign, 1, UINT64_MAX));      // 1 + max wraps to 0
    EXPECT_FALSE(l.Append(foreign, 2, UINT64_MAX - 1));  // wraps to 0
    EXPECT_FALSE(l.Append(foreign, 3, UINT64_MAX - 1));  // wraps to 1
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_FALSE(foreign.ReadPastEnd());
}

TEST_F(CVarListCopy, ConcatAppendsEveryEntryAfterTheExistingOnes) {
    CVarList l;
    l.AddInt64(99);
    EXPECT_TRUE(l.Concat(source));
    ASSERT_EQ(l.GetCount(), 5u);
    EXPECT_EQ(l.Int64Val(0), 99);
    EXPECT_EQ(l.IntVal(1), 10);
    EXPECT_STREQ(l.StringVal(2), "one");
    EXPECT_EQ(l.FloatVal(3), 2.5f);
    EXPECT_EQ(l.ObjectVal(4), Obj(3, 3));
    CVarList empty;
    EXPECT_TRUE(l.Concat(empty));
    EXPECT_EQ(l.GetCount(), 5u);
}

TEST_F(CVarListCopy, ConcatWithItselfCopiesTheEntriesItHadBefore) {
    // Enough payload to move strings to the heap and the array to grow.
    source.AddString(OfPayload(70).c_str());
    source.AddWideStr(u"wide");
    EXPECT_TRUE(source.Concat(source));
    ASSERT_EQ(source.GetCount(), 12u);
    for (uint64_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(source.GetType(i + 6), source.GetType(i));
    }
    EXPECT_EQ(source.IntVal(6), 10);
    EXPECT_STREQ(source.StringVal(7), "one");
    EXPECT_EQ(std::string(source.StringVal(10)), OfPayload(70));
    EXPECT_EQ(std::u16string(source.WideStrVal(11)), u"wide");
}

TEST_F(CVarListCopy, TagsAreNotCopied) {
    CVarList tagged;
    tagged.AddTaggedInt(3, 7);
    tagged.AddTaggedFloat(4, 1.5f);
    tagged.AddTaggedString(5, "s");
    tagged.AddTaggedWideStr(6, u"w");
    tagged.AddTaggedObject(7, Obj(8, 8));

    CVarList copied(tagged);
    CVarList assigned;
    assigned.AddInt(1);
    assigned = tagged;
    CVarList concatenated;
    concatenated.Concat(tagged);
    CVarList appended;
    appended.Append(tagged, 0, 5);

    for (const CVarList* l : {&copied, &assigned, &concatenated, &appended}) {
        ASSERT_EQ(l->GetCount(), 5u);
        for (uint64_t i = 0; i < 5; ++i) {
            EXPECT_EQ(l->GetTag(i), 0);
            EXPECT_EQ(l->GetTypeWord(i), uint32_t(tagged.GetType(i)));
        }
        EXPECT_EQ(l->IntVal(0), 7);
        EXPECT_EQ(l->FloatVal(1), 1.5f);
        EXPECT_STREQ(l->StringVal(2), "s");
        EXPECT_EQ(std::u16string(l->WideStrVal(3)), u"w");
        EXPECT_EQ(l->ObjectVal(4), Obj(8, 8));
    }
}

TEST_F(CVarListCopy, CopyKeepsInt64AndUserData) {
    CVarList l;
    const unsigned char blob[] = {9, 8, 7, 6, 5};
    l.AddInt64(-(int64_t(1) << 50));
    l.AddUserData(blob, sizeof blob);
    CVarList copy(l);
    EXPECT_EQ(copy.Int64Val(0), -(int64_t(1) << 50));
    uint64_t size = 0;
    const void* data = copy.UserDataVal(1, size);
    ASSERT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(data, blob, sizeof blob), 0);
    EXPECT_NE(data, l.UserDataVal(1, size));
}

TEST_F(CVarListCopy, ForeignEntriesOfUnknownTypesAreSkipped) {
    ForeignList foreign;
    foreign.PushRaw(VTYPE_NONE, 0);
    foreign.AddInt(1);
    foreign.PushRaw(VTYPE_BOOL, 1);
    foreign.AddString("kept");
    foreign.PushRaw(9, 0);
    foreign.PushRaw(15 | (2 << 4), 0);
    foreign.AddInt64(64);
    CVarList copy(foreign);
    ASSERT_EQ(copy.GetCount(), 3u);
    EXPECT_EQ(copy.IntVal(0), 1);
    EXPECT_STREQ(copy.StringVal(1), "kept");
    EXPECT_EQ(copy.Int64Val(2), 64);
    EXPECT_FALSE(foreign.ReadPastEnd());
}

TEST_F(CVarListCopy, AssignmentReplacesTheOldEntries) {
    CVarList l;
    l.AddString(OfPayload(100).c_str());
    l.AddInt(5);
    for (int i = 0; i < 10; ++i) l.AddInt(i);
    l = source;
    ASSERT_EQ(l.GetCount(), 4u);
    EXPECT_EQ(l.IntVal(0), 10);
    EXPECT_STREQ(l.StringVal(1), "one");
    // The arena starts over: the first string lands at its beginning.
    EXPECT_EQ(l.ArenaUsed(), 4u + 8u);
}

TEST_F(CVarListCopy, SelfAssignmentKeepsTheEntries) {
    CVarList& alias = source;
    source = alias;
    ASSERT_EQ(source.GetCount(), 4u);
    EXPECT_STREQ(source.StringVal(1), "one");
    const IVarList& asInterface = source;
    source = asInterface;
    ASSERT_EQ(source.GetCount(), 4u);
    EXPECT_EQ(source.ObjectVal(3), Obj(3, 3));
}

TEST_F(CVarListCopy, ConstructFromForeignList) {
    ForeignList foreign;
    foreign.AddTaggedWideStr(3, u"name");
    foreign.AddFloat(0.75f);
    const IVarList& asInterface = foreign;
    CVarList copy(asInterface);
    ASSERT_EQ(copy.GetCount(), 2u);
    EXPECT_EQ(std::u16string(copy.WideStrVal(0)), u"name");
    EXPECT_EQ(copy.GetTag(0), 0);
    EXPECT_EQ(copy.FloatVal(1), 0.75f);
}

// ---- Clear ------------------------------------------------------------------

TEST(CVarListClear, KeepsTheGrownArrayAndReusesItWithoutAllocating) {
    REQUIRE_ALLOCATION_COUNTING();
    CVarList l;
    for (int i = 0; i < 12; ++i) l.AddInt(i);
    l.AddString(OfPayload(90).c_str());
    EXPECT_EQ(l.Capacity(), 16u);
    l.Clear();
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_EQ(l.GetCount(), 0u);
    EXPECT_EQ(l.Capacity(), 16u);
    EXPECT_EQ(l.ArenaUsed(), 0u);
    EXPECT_FALSE(l.UsesInlineEntries());
    EXPECT_EQ(l.IntVal(0), 0);

    AllocationCounter counter;
    for (int i = 0; i < 9; ++i) l.AddInt(100 + i);
    l.AddString("fits");
    const uint64_t allocations = counter.Count();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(l.IntVal(8), 108);
    EXPECT_TRUE(l.InArena(l.StringVal(9)));
}

TEST(CVarListClear, ArenaStartsOverAfterClear) {
    CVarList l;
    l.AddString("first");
    const char* start = l.StringVal(0);
    l.AddString(OfPayload(60).c_str());
    l.Clear();
    l.AddString("again");
    EXPECT_EQ(l.StringVal(0), start);
    EXPECT_STREQ(l.StringVal(0), "again");
    EXPECT_EQ(l.ArenaUsed(), 6u);
}

// ---- allocation failure -----------------------------------------------------

TEST(CVarListFailure, AbsurdUserDataSizeIsAnAllocationFailureNotAnArenaWrite) {
    // A size whose total with the arena offset wraps around must not be
    // taken for one that fits the arena.
    CVarList l;
    l.AddString("abc");
    const unsigned char byte = 1;
    EXPECT_THROW(l.AddUserData(&byte, UINT64_MAX - 8), std::bad_alloc);
    EXPECT_THROW(l.AddUserData(&byte, UINT64_MAX), std::bad_alloc);
    EXPECT_THROW(l.AddUserData(&byte, UINT64_MAX / 2), std::bad_alloc);
    ASSERT_EQ(l.GetCount(), 1u);
    EXPECT_EQ(l.ArenaUsed(), 4u);
    EXPECT_STREQ(l.StringVal(0), "abc");
    l.AddInt(3);
    EXPECT_EQ(l.IntVal(1), 3);
}

// ---- CResultName ------------------------------------------------------------

TEST(CResultName, StartsEmptyWithInlineRoomFor128) {
    CResultName name;
    ASSERT_NE(name.GetName(), nullptr);
    EXPECT_EQ(name.GetName()[0], u'\0');
    EXPECT_EQ(name.Capacity(), 128u);
}

TEST(CResultName, TextShorterThanCapacityStaysInline) {
    REQUIRE_ALLOCATION_COUNTING();
    CResultName name;
    const char16_t* inlineBuffer = name.GetName();
    const std::u16string text(127, u'a');
    AllocationCounter counter;
    name.SetName(text.c_str());
    const uint64_t allocations = counter.Count();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(name.GetName(), inlineBuffer);
    EXPECT_EQ(name.Capacity(), 128u);
    EXPECT_EQ(std::u16string(name.GetName()), text);
}

TEST(CResultName, LongerTextMovesToHeapWithTwiceLengthPlusOne) {
    CResultName name;
    const std::u16string text(128, u'b');
    name.SetName(text.c_str());
    EXPECT_EQ(name.Capacity(), 2u * 129u);
    EXPECT_EQ(std::u16string(name.GetName()), text);

    const std::u16string longer(300, u'c');
    name.SetName(longer.c_str());
    EXPECT_EQ(name.Capacity(), 2u * 301u);
    EXPECT_EQ(std::u16string(name.GetName()), longer);

    // A shorter text reuses the heap buffer in place.
    const char16_t* heapBuffer = name.GetName();
    name.SetName(u"short");
    EXPECT_EQ(name.GetName(), heapBuffer);
    EXPECT_EQ(name.Capacity(), 2u * 301u);
    EXPECT_EQ(std::u16string(name.GetName()), u"short");
    name.SetName(u"");
    EXPECT_EQ(std::u16string(name.GetName()), u"");
}

TEST(CResultName, SettingItsOwnTextKeepsIt) {
    CResultName name;
    const std::u16string text(200, u'd');
    name.SetName(text.c_str());
    name.SetName(name.GetName());
    EXPECT_EQ(std::u16string(name.GetName()), text);
    // Capacity 402: a text of exactly that length moves out again.
    const std::u16string atCapacity(402, u'e');
    name.SetName(atCapacity.c_str());
    EXPECT_EQ(name.Capacity(), 2u * 403u);
    EXPECT_EQ(std::u16string(name.GetName()), atCapacity);
}

TEST(CResultName, UsableThroughTheInterface) {
    CResultName concrete;
    IResultName& name = concrete;
    name.SetName(u"\u73A9\u5BB6");
    EXPECT_EQ(std::u16string(name.GetName()), u"\u73A9\u5BB6");
}

}  // namespace
