// CVarList's out-of-line half: growth, heap payloads, copies and the typed reads.
#include "VarList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const char16_t kEmptyWide[1] = {0};

size_t WideLength(const char16_t* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

constexpr uint32_t TypeWord(int tag, int type) {
    return (uint32_t(tag & 15) << 4) | uint32_t(type);
}

}  // namespace

// ---- construction ------------------------------------------------------------

CVarList::CVarList(const IVarList& other) : CVarList() {
    CopyFrom(other, 0, other.GetCount());
}

CVarList::CVarList(const CVarList& other) : CVarList() {
    CopyFrom(other, 0, other.GetCount());
}

CVarList& CVarList::operator=(const IVarList& other) {
    if (&other == this) return *this;
    Clear();
    CopyFrom(other, 0, other.GetCount());
    return *this;
}

CVarList& CVarList::operator=(const CVarList& other) {
    return *this = static_cast<const IVarList&>(other);
}

// ---- storage -----------------------------------------------------------------

void CVarList::GrowEntries() {
    // Twice the capacity; a size that would overflow is an allocation failure.
    if (m_capacity > (uint64_t(-1) / 2) / sizeof(Entry)) throw std::bad_alloc();
    const uint64_t newCapacity = m_capacity * 2;
    Entry* grown = static_cast<Entry*>(std::malloc(newCapacity * sizeof(Entry)));
    if (grown == nullptr) throw std::bad_alloc();
    std::memcpy(grown, m_entries, m_count * sizeof(Entry));
    if (m_entries != m_inline) std::free(m_entries);
    m_entries = grown;
    m_capacity = newCapacity;
}

void* CVarList::HeapBlock(uint64_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    // While the arena's last byte is free it carries the note; once the arena
    // is full the note is implied.
    if (m_arenaUsed < kArenaBytes) m_arena[kHeapNoteByte] = 1;
    return p;
}

void* CVarList::HeapCopy(const void* data, uint64_t size) {
    void* p = HeapBlock(size);
    if (size != 0) std::memcpy(p, data, size);
    return p;
}

// The first knownNonZero characters were already seen not to end the text.
void* CVarList::HeapCopyNarrow(const char* value, uint64_t knownNonZero) {
    return HeapCopy(value, knownNonZero + std::strlen(value + knownNonZero) + 1);
}

// Callers read a wide text through a char16_t pointer, so its copy in the
// arena starts on an even offset (a skipped byte counts as used).
void* CVarList::PlaceWide(const char16_t* value) {
    const uint64_t size = (WideLength(value) + 1) * sizeof(char16_t);
    const uint64_t offset = (m_arenaUsed + 1) & ~uint64_t(1);
    if (offset <= kArenaBytes && size <= kArenaBytes - offset) {
        std::memcpy(m_arena + offset, value, size);
        m_arenaUsed = offset + size;
        return m_arena + offset;
    }
    return HeapCopy(value, size);
}

void CVarList::FreePayload(const Entry& e) {
    if (OwnsHeapBlock(e)) std::free(e.value.p);
}

void CVarList::FreeHeapPayloads() {
    for (uint64_t i = 0; i < m_count; ++i) FreePayload(m_entries[i]);
}

bool CVarList::AddWideTyped(uint32_t typeWord, const char16_t* value) {
    if (value == nullptr) value = kNoWideText;
    PushEntry(typeWord);
    void* p = PlaceWide(value);
    m_entries[m_count++].value.p = p;
    return true;
}

// ---- appends -----------------------------------------------------------------

bool CVarList::AddInt64(int64_t value) {
    PushEntry(VTYPE_INT64).value.i64 = value;
    ++m_count;
    return true;
}

bool CVarList::AddWideStr(const char16_t* value) {
    return AddWideTyped(VTYPE_WIDESTR, value);
}

bool CVarList::AddUserData(const void* data, uint64_t size) {
    if (data == nullptr) size = 0;
    // No block can be larger than PTRDIFF_MAX; a claimed size beyond that is
    // an allocation failure before anything is touched.
    if (size > uint64_t(PTRDIFF_MAX) - sizeof(uint64_t)) throw std::bad_alloc();
    PushEntry(VTYPE_USERDATA);
    const uint64_t total = sizeof(uint64_t) + size;
    void* p;
    if (total <= kArenaBytes - m_arenaUsed) {
        p = m_arena + m_arenaUsed;
        m_arenaUsed += total;
    } else {
        p = HeapBlock(total);
    }
    std::memcpy(p, &size, sizeof size);
    if (size != 0) std::memcpy(static_cast<unsigned char*>(p) + sizeof size, data, size);
    m_entries[m_count++].value.p = p;
    return true;
}

bool CVarList::AddTaggedInt(int tag, int value) {
    PushEntry(TypeWord(tag, VTYPE_INT)).value.i = value;
    ++m_count;
    return true;
}

bool CVarList::AddTaggedFloat(int tag, float value) {
    PushEntry(TypeWord(tag, VTYPE_FLOAT)).value.f = value;
    ++m_count;
    return true;
}

bool CVarList::AddTaggedString(int tag, const char* value) {
    return AddStringTyped(TypeWord(tag, VTYPE_STRING), value);
}

bool CVarList::AddTaggedWideStr(int tag, const char16_t* value) {
    return AddWideTyped(TypeWord(tag, VTYPE_WIDESTR), value);
}

bool CVarList::AddTaggedObject(int tag, const ObjectId& value) {
    return AddObjectTyped(TypeWord(tag, VTYPE_OBJECT), value);
}

// ---- copies ------------------------------------------------------------------

void CVarList::CopyFrom(const IVarList& other, uint64_t start, uint64_t count) {
    for (uint64_t i = start; i < start + count; ++i) {
        switch (other.GetType(i)) {
            case VTYPE_INT:
                AddInt(other.IntVal(i));
                break;
            case VTYPE_FLOAT:
                AddFloat(other.FloatVal(i));
                break;
            case VTYPE_STRING:
                AddString(other.StringVal(i));
                break;
            case VTYPE_WIDESTR:
                AddWideStr(other.WideStrVal(i));
                break;
            case VTYPE_OBJECT:
                AddObject(other.ObjectVal(i));
                break;
            case VTYPE_USERDATA: {
                uint64_t size = 0;
                const void* data = other.UserDataVal(i, size);
                AddUserData(data, size);
                break;
            }
            case VTYPE_INT64:
                AddInt64(other.Int64Val(i));
                break;
            default:
                break;  // none, bool and unknown codes are not copied
        }
    }
}

bool CVarList::Concat(const IVarList& other) {
    // A list concatenated with itself copies only the entries it had before.
    CopyFrom(other, 0, other.GetCount());
    return true;
}

bool CVarList::Append(const IVarList& other, uint64_t start, uint64_t count) {
    const uint64_t total = other.GetCount();
    // Written so that start + count cannot wrap around.
    if (start >= total || count > total - start) return false;
    CopyFrom(other, start, count);
    return true;
}

// ---- state -------------------------------------------------------------------

void CVarList::Clear() {
    if (MayOwnHeapBlocks()) FreeHeapPayloads();
    m_count = 0;
    m_arenaUsed = 0;
    m_arena[kHeapNoteByte] = 0;
}

bool CVarList::IsEmpty() const {
    return m_count == 0;
}

uint32_t CVarList::GetTypeWord(uint64_t index) const {
    return index < m_count ? m_entries[index].typeWord : 0;
}

int CVarList::GetTag(uint64_t index) const {
    return index < m_count ? int((m_entries[index].typeWord >> 4) & 15) : 0;
}

// ---- reads -------------------------------------------------------------------

int64_t CVarList::Int64Val(uint64_t index) const {
    const Entry* e = At(index, VTYPE_INT64);
    return e ? e->value.i64 : 0;
}

const char16_t* CVarList::WideStrVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_WIDESTR);
    return e ? static_cast<const char16_t*>(e->value.p) : kNoWideText;
}

const void* CVarList::UserDataVal(uint64_t index, uint64_t& size) const {
    const Entry* e = At(index, VTYPE_USERDATA);
    if (e == nullptr) {
        size = 0;
        return nullptr;
    }
    std::memcpy(&size, e->value.p, sizeof size);
    return static_cast<const unsigned char*>(e->value.p) + sizeof size;
}

// ---- sets --------------------------------------------------------------------

bool CVarList::SetInt(uint64_t index, int value) {
    if (At(index, VTYPE_INT) == nullptr) return false;
    m_entries[index].value.i = value;
    return true;
}

bool CVarList::SetFloat(uint64_t index, float value) {
    if (At(index, VTYPE_FLOAT) == nullptr) return false;
    m_entries[index].value.f = value;
    return true;
}

bool CVarList::SetString(uint64_t index, const char* value) {
    if (At(index, VTYPE_STRING) == nullptr) return false;
    if (value == nullptr) value = kNoText;
    // Place the new copy first: value may point into the old one.
    void* p = PlaceNarrow(value);
    FreePayload(m_entries[index]);
    m_entries[index].value.p = p;
    return true;
}

bool CVarList::SetWideStr(uint64_t index, const char16_t* value) {
    if (At(index, VTYPE_WIDESTR) == nullptr) return false;
    if (value == nullptr) value = kNoWideText;
    void* p = PlaceWide(value);
    FreePayload(m_entries[index]);
    m_entries[index].value.p = p;
    return true;
}

bool CVarList::SetObject(uint64_t index, const ObjectId& value) {
    if (At(index, VTYPE_OBJECT) == nullptr) return false;
    std::memcpy(m_entries[index].value.p, &value, sizeof value);
    return true;
}

// ---- result name ---------------------------------------------------------------

CResultName::CResultName() : m_buffer(m_inline), m_capacity(kInlineChars), m_length(0) {
    m_inline[0] = 0;
}

CResultName::~CResultName() {
    if (m_buffer != m_inline) delete[] m_buffer;
}

void CResultName::SetName(const char16_t* name) {
    if (name == nullptr) name = kEmptyWide;
    const uint64_t length = WideLength(name);
    if (length < m_capacity) {
        std::memmove(m_buffer, name, (length + 1) * sizeof(char16_t));
    } else {
        const uint64_t capacity = (length + 1) * 2;
        char16_t* grown = new char16_t[capacity];
        std::memcpy(grown, name, (length + 1) * sizeof(char16_t));
        if (m_buffer != m_inline) delete[] m_buffer;
        m_buffer = grown;
        m_capacity = capacity;
    }
    m_length = length;
}

const char16_t* CResultName::GetName() const {
    return m_buffer;
}
