#include "VarList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const char kEmptyString[1] = {0};
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

CVarList::CVarList()
    : m_entries(m_inline), m_capacity(kInlineEntries), m_count(0), m_arenaUsed(0) {}

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

CVarList::~CVarList() {
    Clear();
    if (m_entries != m_inline) std::free(m_entries);
}

// ---- storage -----------------------------------------------------------------

bool CVarList::InArena(const void* p) const {
    const unsigned char* c = static_cast<const unsigned char*>(p);
    return c >= m_arena && c < m_arena + kArenaBytes;
}

// Growth is the rare path; keeping it out of line leaves the append itself a
// handful of instructions.
namespace {
[[gnu::noinline, gnu::cold]] void* GrowEntries(const void* entries, bool isInline, uint64_t count,
                                               uint64_t& capacity, size_t entrySize) {
    // Twice the capacity; a size that would overflow is an allocation failure.
    if (capacity > (uint64_t(-1) / 2) / entrySize) throw std::bad_alloc();
    const uint64_t newCapacity = capacity * 2;
    void* grown = std::malloc(newCapacity * entrySize);
    if (grown == nullptr) throw std::bad_alloc();
    std::memcpy(grown, entries, count * entrySize);
    if (!isInline) std::free(const_cast<void*>(entries));
    capacity = newCapacity;
    return grown;
}

void* HeapCopy(const void* data, uint64_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    if (size != 0) std::memcpy(p, data, size);
    return p;
}

// A narrow text is copied in one pass while it fits at the arena's end; only a
// text that does not fit is measured and copied to the heap. The source may be
// an earlier payload of the same arena: that one ends before the arena's end.
void* PlaceNarrow(unsigned char* arena, uint64_t& used, const char* value) {
    char* dst = reinterpret_cast<char*>(arena + used);
    const uint64_t room = CVarList::kArenaBytes - used;
    uint64_t i = 0;
    for (; i < room; ++i) {
        if ((dst[i] = value[i]) == '\0') {
            used += i + 1;
            return dst;
        }
    }
    return HeapCopy(value, i + std::strlen(value + i) + 1);
}

// Callers read a wide text through a char16_t pointer, so its copy in the
// arena starts on an even offset (a skipped byte counts as used).
void* PlaceWide(unsigned char* arena, uint64_t& used, const char16_t* value) {
    const uint64_t size = (WideLength(value) + 1) * sizeof(char16_t);
    const uint64_t offset = (used + 1) & ~uint64_t(1);
    if (offset <= CVarList::kArenaBytes && size <= CVarList::kArenaBytes - offset) {
        std::memcpy(arena + offset, value, size);
        used = offset + size;
        return arena + offset;
    }
    return HeapCopy(value, size);
}
}  // namespace

inline CVarList::Entry& CVarList::PushEntry(uint32_t typeWord) {
    if (m_count == m_capacity) {
        m_entries = static_cast<Entry*>(
            GrowEntries(m_entries, m_entries == m_inline, m_count, m_capacity, sizeof(Entry)));
    }
    Entry& e = m_entries[m_count];
    e.typeWord = typeWord;
    e.value.i64 = 0;
    return e;
}

inline void* CVarList::PlacePayload(const void* data, uint64_t size) {
    void* dst;
    // Compared as room left, so no size can wrap the sum into "fits".
    if (size <= kArenaBytes - m_arenaUsed) {
        dst = m_arena + m_arenaUsed;
        m_arenaUsed += size;
        if (size != 0) std::memcpy(dst, data, size);
        return dst;
    }
    return HeapCopy(data, size);
}

inline void CVarList::FreePayload(const Entry& e) {
    const int type = int(e.typeWord & 15);
    if (type < VTYPE_STRING || type > VTYPE_USERDATA) return;
    if (e.value.p != nullptr && !InArena(e.value.p)) std::free(e.value.p);
}

inline const CVarList::Entry* CVarList::At(uint64_t index, int type) const {
    if (index >= m_count) return nullptr;
    const Entry& e = m_entries[index];
    return int(e.typeWord & 15) == type ? &e : nullptr;
}

// The payload is placed before the entry is committed, so a failed allocation
// leaves the list as it was.
bool CVarList::AddStringTyped(uint32_t typeWord, const char* value) {
    if (value == nullptr) value = kEmptyString;
    PushEntry(typeWord);
    void* p = PlaceNarrow(m_arena, m_arenaUsed, value);
    m_entries[m_count++].value.p = p;
    return true;
}

bool CVarList::AddWideTyped(uint32_t typeWord, const char16_t* value) {
    if (value == nullptr) value = kEmptyWide;
    PushEntry(typeWord);
    void* p = PlaceWide(m_arena, m_arenaUsed, value);
    m_entries[m_count++].value.p = p;
    return true;
}

bool CVarList::AddObjectTyped(uint32_t typeWord, const ObjectId& value) {
    PushEntry(typeWord);
    void* p = PlacePayload(&value, sizeof(ObjectId));
    m_entries[m_count++].value.p = p;
    return true;
}

// ---- appends -----------------------------------------------------------------

bool CVarList::AddInt(int value) {
    PushEntry(VTYPE_INT).value.i = value;
    ++m_count;
    return true;
}

bool CVarList::AddInt64(int64_t value) {
    PushEntry(VTYPE_INT64).value.i64 = value;
    ++m_count;
    return true;
}

bool CVarList::AddFloat(float value) {
    PushEntry(VTYPE_FLOAT).value.f = value;
    ++m_count;
    return true;
}

bool CVarList::AddString(const char* value) {
    return AddStringTyped(VTYPE_STRING, value);
}
bool CVarList::AddWideStr(const char16_t* value) {
    return AddWideTyped(VTYPE_WIDESTR, value);
}
bool CVarList::AddObject(const ObjectId& value) {
    return AddObjectTyped(VTYPE_OBJECT, value);
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
        p = std::malloc(total);
        if (p == nullptr) throw std::bad_alloc();
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
    for (uint64_t i = 0; i < m_count; ++i) FreePayload(m_entries[i]);
    m_count = 0;
    m_arenaUsed = 0;
}

bool CVarList::IsEmpty() const {
    return m_count == 0;
}
uint64_t CVarList::GetCount() const {
    return m_count;
}

uint32_t CVarList::GetTypeWord(uint64_t index) const {
    return index < m_count ? m_entries[index].typeWord : 0;
}

int CVarList::GetType(uint64_t index) const {
    return index < m_count ? int(m_entries[index].typeWord & 15) : 0;
}

int CVarList::GetTag(uint64_t index) const {
    return index < m_count ? int((m_entries[index].typeWord >> 4) & 15) : 0;
}

// ---- reads -------------------------------------------------------------------

int CVarList::IntVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_INT);
    return e ? e->value.i : 0;
}

int64_t CVarList::Int64Val(uint64_t index) const {
    const Entry* e = At(index, VTYPE_INT64);
    return e ? e->value.i64 : 0;
}

float CVarList::FloatVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_FLOAT);
    return e ? e->value.f : 0.0f;
}

const char* CVarList::StringVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_STRING);
    return e ? static_cast<const char*>(e->value.p) : kEmptyString;
}

const char16_t* CVarList::WideStrVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_WIDESTR);
    return e ? static_cast<const char16_t*>(e->value.p) : kEmptyWide;
}

ObjectId CVarList::ObjectVal(uint64_t index) const {
    const Entry* e = At(index, VTYPE_OBJECT);
    if (e == nullptr) return ObjectId{};
    ObjectId id;
    std::memcpy(&id, e->value.p, sizeof id);
    return id;
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
    if (value == nullptr) value = kEmptyString;
    // Place the new copy first: value may point into the old one.
    void* p = PlaceNarrow(m_arena, m_arenaUsed, value);
    FreePayload(m_entries[index]);
    m_entries[index].value.p = p;
    return true;
}

bool CVarList::SetWideStr(uint64_t index, const char16_t* value) {
    if (At(index, VTYPE_WIDESTR) == nullptr) return false;
    if (value == nullptr) value = kEmptyWide;
    void* p = PlaceWide(m_arena, m_arenaUsed, value);
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
