// The host's own variant list and the value type the host stores in
// properties, record cells and the event log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "IVarList.h"
#include "ObjectId.h"
#include "VarType.h"

namespace host {

// One typed value. The alternative index equals the VarType code, so
// Value::index() is the type code (bool properties keep VTYPE_BOOL).
using Value = std::variant<std::monostate,        // 0 VTYPE_NONE
                           bool,                  // 1 VTYPE_BOOL
                           int32_t,               // 2 VTYPE_INT
                           float,                 // 3 VTYPE_FLOAT
                           std::string,           // 4 VTYPE_STRING (GBK bytes)
                           std::u16string,        // 5 VTYPE_WIDESTR
                           ObjectId,              // 6 VTYPE_OBJECT
                           std::vector<uint8_t>,  // 7 VTYPE_USERDATA
                           int64_t>;              // 8 VTYPE_INT64

inline int TypeOf(const Value& v) {
    return static_cast<int>(v.index());
}
// The zero value of a type code (monostate for codes outside 1..8).
Value DefaultValue(int type);
// Text of a value as the event log prints it: 12, 1.5, "abc", u"名字"
// (wide strings as UTF-8), obj#3:1, 7L, <4 bytes>, true, none.
std::string FormatValue(const Value& v);
// Name of a type code: "int", "wstring", ... ("type9" beyond the table).
const char* TypeName(int type);

// IVarList over chunks of doubling size (8, 16, 32, ... entries), so appends
// never move earlier entries and the pointers the read operations hand out
// stay valid until that entry is set again or the list is cleared or
// destroyed. An empty list allocates nothing; first chunks are recycled
// through a small per-thread pool, since most lists are short and live for
// one call. Same read/set contract as every IVarList: reads of another type
// or past the end give defaults, sets change an existing entry of the same
// type only and keep its tag.
class HostVarList final : public IVarList {
public:
    HostVarList() = default;
    HostVarList(const IVarList& other);  // copy rule: untagged, types 0, 1, 9-15 skipped
    HostVarList(const HostVarList& other);
    HostVarList& operator=(const IVarList& other);
    HostVarList& operator=(const HostVarList& other);
    HostVarList(HostVarList&& other) noexcept;
    HostVarList& operator=(HostVarList&& other) noexcept;
    ~HostVarList() override;

    // Builds a list from values in order (tags 0); monostate and bool are skipped.
    static HostVarList Of(const std::vector<Value>& values);

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

    // Host-side conveniences.
    bool AddValue(const Value& v);          // false (nothing added) for monostate and bool
    const Value& At(uint64_t index) const;  // monostate past the end

private:
    struct Entry {
        uint32_t typeWord;
        Value value;
    };
    static constexpr uint64_t kFirstChunk = 8;
    const Entry* Find(uint64_t index, int type) const;
    Entry* Find(uint64_t index, int type);
    const Entry& EntryAt(uint64_t index) const;
    Entry& EntryAt(uint64_t index);
    bool Push(int tag, Value v);
    // Push for an int or an id without a tag, written in place when it can be.
    template <typename T>
    bool AddPlain(T value);

    // Chunk 0 (from the pool) and those after it; chunk k holds 8 << k
    // entries. Entries at m_count and beyond always hold monostate.
    static Entry* TakeFirstChunk();
    static void GiveFirstChunk(Entry* chunk);
    static void FreePooledChunk(void* chunk);
    friend struct HostVarListPoolCloser;
    size_t ChunkCount() const { return m_first == nullptr ? 0 : 1 + m_more.size(); }
    void Release();

    Entry* m_first = nullptr;
    std::vector<std::unique_ptr<Entry[]>> m_more;  // chunks 1, 2, ...
    uint64_t m_count = 0;
};

// Entry index of list as a Value, by the copy rule: false (out untouched)
// for none, bool and unknown type codes.
bool ReadValue(const IVarList& list, uint64_t index, Value& out);
// Every value of a list, in order (user data copied, tags dropped).
std::vector<Value> ToValues(const IVarList& list);
// "[1001, obj#12:1, 0, 3, 500, 4]"
std::string FormatVarList(const IVarList& list);

// UTF-16 <-> UTF-8 for wide texts (names, log output, script values): the
// host's only conversion between the two. Unpaired surrogates become U+FFFD.
// Malformed UTF-8 becomes U+FFFD too: one for a sequence that is cut short,
// one for each byte that cannot start or continue a sequence (so overlong
// forms, surrogates and values past U+10FFFF give one per byte). Nothing
// reads past the input.
std::string Utf16ToUtf8(const std::u16string& text);
std::string Utf16ToUtf8(const char16_t* text);
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace host
