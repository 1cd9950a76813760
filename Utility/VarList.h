// The plug-in's variant list: the first eight entries and up to 64 bytes of
// copied payload live inside the object, so the short lists every callback
// builds never touch the heap.
#pragma once

#include <cstdint>

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
    bool InArena(const void* p) const;

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

    // Reserves room for one more entry (doubling) and returns it.
    Entry& PushEntry(uint32_t typeWord);
    // Copies size bytes into the arena when they fit at its end, else onto the heap.
    void* PlacePayload(const void* data, uint64_t size);
    void FreePayload(const Entry& e);
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
