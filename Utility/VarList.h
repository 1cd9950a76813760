// The plug-in's variant list: the first eight entries and up to 64 bytes of
// copied payload live inside the object, so the short lists every callback
// builds never touch the heap.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "IVarList.h"

class CVarList final : public IVarList {
public:
    static constexpr uint64_t kInlineEntries = 8;
    static constexpr uint64_t kArenaBytes = 64;

    CVarList();
    CVarList(const IVarList& other);
    CVarList(const CVarList& other);
    CVarList& operator=(const IVarList& other);
    CVarList& operator=(const CVarList& other);
    ~CVarList() override;

    bool AddInt(int value) override;
    bool AddInt64(int64_t value) override;
    bool AddFloat(float value) override;
    bool AddString(const char* value) override;
    bool AddWideStr(const char16_t* value) override;
    bool AddObject(const ObjectId& value) override;
    bool AddUserData(const void* data, uint64_t size) override;
    bool AddTaggedInt(int tag, int value) override;
    bool AddTaggedFloat(int tag, float value) override;
    bool AddTaggedString(int tag, const char* value) override;
    bool AddTaggedWideStr(int tag, const char16_t* value) override;
    bool AddTaggedObject(int tag, const ObjectId& value) override;

    bool Concat(const IVarList& other) override;
    bool Append(const IVarList& other, uint64_t start, uint64_t count) override;

    void Clear() override;
    bool IsEmpty() const override;
    uint64_t GetCount() const override;

    uint32_t GetTypeWord(uint64_t index) const override;
    int GetType(uint64_t index) const override;
    int GetTag(uint64_t index) const override;

    int IntVal(uint64_t index) const override;
    int64_t Int64Val(uint64_t index) const override;
    float FloatVal(uint64_t index) const override;
    const char* StringVal(uint64_t index) const override;
    const char16_t* WideStrVal(uint64_t index) const override;
    ObjectId ObjectVal(uint64_t index) const override;
    const void* UserDataVal(uint64_t index, uint64_t& size) const override;

    bool SetInt(uint64_t index, int value) override;
    bool SetFloat(uint64_t index, float value) override;
    bool SetString(uint64_t index, const char* value) override;
    bool SetWideStr(uint64_t index, const char16_t* value) override;
    bool SetObject(uint64_t index, const ObjectId& value) override;

    // Introspection for tests and benchmarks: where the entries and the arena
    // stand right now.
    uint64_t Capacity() const { return m_capacity; }
    uint64_t ArenaUsed() const { return m_arenaUsed; }
    bool UsesInlineEntries() const { return m_entries == m_inline; }
    bool InArena(const void* p) const {
        // One unsigned comparison: addresses below the arena wrap to huge offsets.
        return uintptr_t(p) - uintptr_t(m_arena) < kArenaBytes;
    }

private:
    struct Entry {
        uint32_t typeWord;
        union {
            int32_t i;
            float f;
            int64_t i64;
            void* p;
        } value;
    };

    // What reads of a missing or mismatched text entry hand out.
    static constexpr char kNoText[1] = {0};
    static constexpr char16_t kNoWideText[1] = {0};

    // Reserves room for one more entry (doubling) and returns it; the caller
    // fills the value and then counts the entry.
    Entry& PushEntry(uint32_t typeWord);
    // Doubles the entry array: kept out of line, but not marked cold, as a
    // function optimised for size copies the entries byte by byte.
    void GrowEntries();
    // Copies size bytes into the arena when they fit at its end, else onto the heap.
    void* PlacePayload(const void* data, uint64_t size);
    // Copies a narrow text by the same rule, measuring it only when it spills.
    void* PlaceNarrow(const char* value);
    void* PlaceWide(const char16_t* value);
    // A heap block for a payload that does not fit the arena; notes that the
    // list now owns one.
    [[gnu::cold]] void* HeapBlock(uint64_t size);
    [[gnu::cold]] void* HeapCopy(const void* data, uint64_t size);
    [[gnu::cold]] void* HeapCopyNarrow(const char* value, uint64_t knownNonZero);

    // Heap-owned payloads are rare, so the list notes whether it may hold one
    // and destruction skips the search through the entries when it cannot.
    // The note lives in the arena's last byte while that byte is free: zero
    // means no payload has gone to the heap since construction or Clear. A
    // payload that fills the arena to its end overwrites the byte, and a full
    // arena always counts as "may own".
    static constexpr uint64_t kHeapNoteByte = kArenaBytes - 1;
    bool MayOwnHeapBlocks() const {
        return m_arenaUsed == kArenaBytes || m_arena[kHeapNoteByte] != 0;
    }

    // True when the entry's payload is a heap block of its own.
    bool OwnsHeapBlock(const Entry& e) const;
    void FreePayload(const Entry& e);
    // Frees every heap payload; the slow half of Clear and of destruction.
    void FreeHeapPayloads();
    void CopyFrom(const IVarList& other, uint64_t start, uint64_t count);
    const Entry* At(uint64_t index, int type) const;
    bool AddStringTyped(uint32_t typeWord, const char* value);
    bool AddWideTyped(uint32_t typeWord, const char16_t* value);
    bool AddObjectTyped(uint32_t typeWord, const ObjectId& value);

    Entry m_inline[kInlineEntries];
    alignas(8) unsigned char m_arena[kArenaBytes];
    Entry* m_entries;
    uint64_t m_capacity;
    uint64_t m_count;
    uint64_t m_arenaUsed;
};

// Vtable pointer, eight 16-byte entries, the arena, then four 8-byte fields:
// nothing else lives in a list.
static_assert(sizeof(CVarList) == 8 + 8 * 16 + 64 + 4 * 8, "CVarList layout is fixed");

// ---- the short paths, inline ---------------------------------------------------
// Modules build a few small lists in every callback and call them through
// CVarList itself; as the class is final those calls bind statically, and with
// the bodies visible here a whole build-and-read compiles down to a few stores
// and loads. Growth, heap copies and heap frees stay out of line.

inline CVarList::CVarList()
    : m_entries(m_inline), m_capacity(kInlineEntries), m_count(0), m_arenaUsed(0) {
    m_arena[kHeapNoteByte] = 0;
}

inline CVarList::~CVarList() {
    if (__builtin_expect(MayOwnHeapBlocks(), 0)) FreeHeapPayloads();
    if (__builtin_expect(m_entries != m_inline, 0)) std::free(m_entries);
}

inline CVarList::Entry& CVarList::PushEntry(uint32_t typeWord) {
    if (__builtin_expect(m_count == m_capacity, 0)) GrowEntries();
    Entry& e = m_entries[m_count];
    e.typeWord = typeWord;
    e.value.i64 = 0;
    return e;
}

inline void* CVarList::PlacePayload(const void* data, uint64_t size) {
    // Compared as room left, so no size can wrap the sum into "fits".
    if (__builtin_expect(size <= kArenaBytes - m_arenaUsed, 1)) {
        void* dst = m_arena + m_arenaUsed;
        m_arenaUsed += size;
        std::memcpy(dst, data, size);
        return dst;
    }
    return HeapCopy(data, size);
}

// A narrow text is copied in one pass while it fits at the arena's end; only a
// text that does not fit is measured and copied to the heap. The source may be
// an earlier payload of the same arena: that one ends before the arena's end.
inline void* CVarList::PlaceNarrow(const char* value) {
    char* dst = reinterpret_cast<char*>(m_arena + m_arenaUsed);
    const uint64_t room = kArenaBytes - m_arenaUsed;
    for (uint64_t i = 0; i < room; ++i) {
        if ((dst[i] = value[i]) == '\0') {
            m_arenaUsed += i + 1;
            return dst;
        }
    }
    return HeapCopyNarrow(value, room);
}

inline bool CVarList::OwnsHeapBlock(const Entry& e) const {
    // Types 4 to 7 carry a payload pointer; one outside the arena is a heap block.
    return (e.typeWord & 15) - uint32_t(VTYPE_STRING) <= uint32_t(VTYPE_USERDATA - VTYPE_STRING) &&
           !InArena(e.value.p);
}

inline const CVarList::Entry* CVarList::At(uint64_t index, int type) const {
    if (index >= m_count) return nullptr;
    const Entry& e = m_entries[index];
    return int(e.typeWord & 15) == type ? &e : nullptr;
}

inline bool CVarList::AddInt(int value) {
    PushEntry(VTYPE_INT).value.i = value;
    ++m_count;
    return true;
}

inline bool CVarList::AddFloat(float value) {
    PushEntry(VTYPE_FLOAT).value.f = value;
    ++m_count;
    return true;
}

// The payload is placed after the entry's room is reserved and before the
// entry is counted, so a failed allocation leaves the list as it was.
inline bool CVarList::AddStringTyped(uint32_t typeWord, const char* value) {
    if (value == nullptr) value = kNoText;
    Entry& e = PushEntry(typeWord);
    e.value.p = PlaceNarrow(value);
    ++m_count;
    return true;
}

inline bool CVarList::AddObjectTyped(uint32_t typeWord, const ObjectId& value) {
    Entry& e = PushEntry(typeWord);
    e.value.p = PlacePayload(&value, sizeof(ObjectId));
    ++m_count;
    return true;
}

inline bool CVarList::AddString(const char* value) {
    return AddStringTyped(VTYPE_STRING, value);
}

inline bool CVarList::AddObject(const ObjectId& value) {
    return AddObjectTyped(VTYPE_OBJECT, value);
}

inline uint64_t CVarList::GetCount() const {
    return m_count;
}

inline int CVarList::GetType(uint64_t index) const {
    return index < m_count ? int(m_entries[index].typeWord & 15) : 0;
}

inline int CVarList::IntVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_INT);
    return e ? e->value.i : 0;
}

inline float CVarList::FloatVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_FLOAT);
    return e ? e->value.f : 0.0f;
}

inline const char* CVarList::StringVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_STRING);
    return e ? static_cast<const char*>(e->value.p) : kNoText;
}

inline ObjectId CVarList::ObjectVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_OBJECT);
    ObjectId id;
    if (e != nullptr) std::memcpy(&id, e->value.p, sizeof id);
    return id;
}

// One wide text with room for 128 code units inside the object.
class CResultName final : public IResultName {
public:
    static constexpr uint64_t kInlineChars = 128;

    CResultName();
    ~CResultName() override;
    CResultName(const CResultName&) = delete;
    CResultName& operator=(const CResultName&) = delete;

    void SetName(const char16_t* name) override;
    const char16_t* GetName() const override;

    uint64_t Capacity() const { return m_capacity; }

private:
    char16_t m_inline[kInlineChars];
    char16_t* m_buffer;
    uint64_t m_capacity;
    uint64_t m_length;
};
