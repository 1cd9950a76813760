// The host kit's variant list, value formatting and UTF-16 / UTF-8 conversion.
#include "HostVarList.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace host {

namespace {

const char kEmpty[] = "";
const char16_t kEmptyWide[] = u"";

std::u16string WideFrom(const char16_t* p) {
    return p == nullptr ? std::u16string() : p;
}
std::string NarrowFrom(const char* p) {
    return p == nullptr ? std::string() : p;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Unpaired surrogates become U+FFFD.
std::string Utf8OfUtf16(const char16_t* text, size_t size) {
    std::string out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < size && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

}  // namespace

Value DefaultValue(int type) {
    switch (type) {
        case VTYPE_BOOL:
            return false;
        case VTYPE_INT:
            return int32_t{0};
        case VTYPE_FLOAT:
            return 0.0f;
        case VTYPE_STRING:
            return std::string();
        case VTYPE_WIDESTR:
            return std::u16string();
        case VTYPE_OBJECT:
            return ObjectId{};
        case VTYPE_USERDATA:
            return std::vector<uint8_t>();
        case VTYPE_INT64:
            return int64_t{0};
        default:
            return std::monostate{};
    }
}

const char* TypeName(int type) {
    static const char* const kNames[] = {"none",    "bool",   "int",      "float", "string",
                                         "wstring", "object", "userdata", "int64"};
    if (type >= 0 && type <= 8) return kNames[type];
    return "type?";
}

std::string FormatValue(const Value& v) {
    char buf[64];
    switch (v.index()) {
        case VTYPE_BOOL:
            return std::get<bool>(v) ? "true" : "false";
        case VTYPE_INT:
            return std::to_string(std::get<int32_t>(v));
        case VTYPE_FLOAT:
            std::snprintf(buf, sizeof buf, "%g", static_cast<double>(std::get<float>(v)));
            // Keep floats recognisable: 1 -> 1.0
            if (std::strpbrk(buf, ".eEn") == nullptr) std::strcat(buf, ".0");
            return buf;
        case VTYPE_STRING:
            return "\"" + std::get<std::string>(v) + "\"";
        case VTYPE_WIDESTR:
            return "u\"" + Utf16ToUtf8(std::get<std::u16string>(v)) + "\"";
        case VTYPE_OBJECT: {
            const ObjectId& o = std::get<ObjectId>(v);
            std::snprintf(buf, sizeof buf, "obj#%u:%u", o.ident, o.serial);
            return buf;
        }
        case VTYPE_USERDATA:
            return "<" + std::to_string(std::get<std::vector<uint8_t>>(v).size()) + " bytes>";
        case VTYPE_INT64:
            return std::to_string(std::get<int64_t>(v)) + "L";
        default:
            return "none";
    }
}

// ---- HostVarList -------------------------------------------------------------

HostVarList::HostVarList(const IVarList& other) {
    Concat(other);
}
HostVarList::HostVarList(const HostVarList& other) {
    Concat(other);
}

// ---- the first-chunk pool ----------------------------------------------------
//
// Per thread, so it needs no lock. Pooled chunks keep their entries
// constructed, holding no memory of their own (no texts or bytes). The pool itself is plain data; a
// separate object with a destructor empties it when the thread ends, after which chunks go straight
// back to the heap.

namespace {

constexpr size_t kPoolMax = 64;

struct ChunkPool {
    void* chunks[kPoolMax];
    size_t count;
    bool closing;
    bool closerMade;
};
thread_local ChunkPool t_pool;  // zero-initialised, no destructor

}  // namespace

struct HostVarListPoolCloser {
    ~HostVarListPoolCloser();
};
namespace {
thread_local HostVarListPoolCloser t_closer;
}

HostVarList::Entry* HostVarList::TakeFirstChunk() {
    ChunkPool& pool = t_pool;
    if (pool.count > 0) return static_cast<Entry*>(pool.chunks[--pool.count]);
    return new Entry[kFirstChunk];
}

void HostVarList::GiveFirstChunk(Entry* chunk) {
    ChunkPool& pool = t_pool;
    if (pool.closing || pool.count == kPoolMax) {
        delete[] chunk;
        return;
    }
    if (!pool.closerMade) {
        pool.closerMade = true;
        // Touching it makes it now, so its destructor runs when the thread ends.
        HostVarListPoolCloser* volatile closer = &t_closer;
        (void)closer;
    }
    pool.chunks[pool.count++] = chunk;
}

HostVarListPoolCloser::~HostVarListPoolCloser() {
    ChunkPool& pool = t_pool;
    pool.closing = true;
    while (pool.count > 0) HostVarList::FreePooledChunk(pool.chunks[--pool.count]);
}

void HostVarList::FreePooledChunk(void* chunk) {
    delete[] static_cast<Entry*>(chunk);
}

void HostVarList::Release() {
    if (m_first == nullptr) return;
    const uint64_t used = m_count < kFirstChunk ? m_count : kFirstChunk;
    // Only texts and bytes hold memory; the next Push overwrites the rest.
    for (uint64_t i = 0; i < used; ++i) {
        Value& v = m_first[i].value;
        const size_t type = v.index();
        if (type == VTYPE_STRING || type == VTYPE_WIDESTR || type == VTYPE_USERDATA)
            v = std::monostate{};
    }
    GiveFirstChunk(m_first);
    m_first = nullptr;
    m_more.clear();
    m_count = 0;
}

HostVarList::~HostVarList() {
    Release();
}

HostVarList::HostVarList(HostVarList&& other) noexcept
    : m_first(other.m_first), m_more(std::move(other.m_more)), m_count(other.m_count) {
    other.m_first = nullptr;
    other.m_more.clear();
    other.m_count = 0;
}

HostVarList& HostVarList::operator=(HostVarList&& other) noexcept {
    if (&other != this) {
        Release();
        m_first = other.m_first;
        m_more = std::move(other.m_more);
        m_count = other.m_count;
        other.m_first = nullptr;
        other.m_more.clear();
        other.m_count = 0;
    }
    return *this;
}

HostVarList& HostVarList::operator=(const IVarList& other) {
    if (&other == this) return *this;
    HostVarList copy(other);
    *this = std::move(copy);
    return *this;
}

// Chunk k starts at index 8 * (2^k - 1).
const HostVarList::Entry& HostVarList::EntryAt(uint64_t index) const {
    const uint64_t q = index / kFirstChunk + 1;
    const int k = 63 - __builtin_clzll(q);
    const uint64_t start = kFirstChunk * ((uint64_t{1} << k) - 1);
    return k == 0 ? m_first[index] : m_more[size_t(k) - 1][index - start];
}

HostVarList::Entry& HostVarList::EntryAt(uint64_t index) {
    return const_cast<Entry&>(static_cast<const HostVarList*>(this)->EntryAt(index));
}

HostVarList& HostVarList::operator=(const HostVarList& other) {
    return operator=(static_cast<const IVarList&>(other));
}

HostVarList HostVarList::Of(const std::vector<Value>& values) {
    HostVarList l;
    for (const Value& v : values) l.AddValue(v);
    return l;
}

bool HostVarList::Push(int tag, Value v) {
    uint32_t typeWord = (static_cast<uint32_t>(tag & 15) << 4) | static_cast<uint32_t>(v.index());
    const size_t chunks = ChunkCount();
    const uint64_t capacity = kFirstChunk * ((uint64_t{1} << chunks) - 1);
    if (m_count == capacity) {
        if (chunks == 0)
            m_first = TakeFirstChunk();
        else
            m_more.push_back(std::make_unique<Entry[]>(kFirstChunk << chunks));
    }
    Entry& e = m_count < kFirstChunk ? m_first[m_count] : EntryAt(m_count);
    e.typeWord = typeWord;
    e.value = std::move(v);
    ++m_count;
    return true;
}

// The common case in place: room in the first chunk, no Value to move. An
// empty list has no chunk yet (and then m_count is 0).
template <typename T>
bool HostVarList::AddPlain(T value) {
    if (m_count < kFirstChunk) {
        if (m_first == nullptr) m_first = TakeFirstChunk();
        Entry& e = m_first[m_count++];
        e.value.emplace<T>(value);
        e.typeWord = static_cast<uint32_t>(e.value.index());
        return true;
    }
    return Push(0, value);
}

bool HostVarList::AddInt(int value) {
    return AddPlain(int32_t{value});
}
bool HostVarList::AddInt64(int64_t value) {
    return Push(0, value);
}
bool HostVarList::AddFloat(float value) {
    return Push(0, value);
}
bool HostVarList::AddString(const char* value) {
    return Push(0, NarrowFrom(value));
}
bool HostVarList::AddWideStr(const char16_t* value) {
    return Push(0, WideFrom(value));
}
bool HostVarList::AddObject(const ObjectId& value) {
    return AddPlain(value);
}
bool HostVarList::AddUserData(const void* data, uint64_t size) {
    std::vector<uint8_t> bytes;
    if (data != nullptr && size > 0) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        bytes.assign(p, p + size);
    }
    return Push(0, std::move(bytes));
}
bool HostVarList::AddTaggedInt(int tag, int value) {
    return Push(tag, int32_t{value});
}
bool HostVarList::AddTaggedFloat(int tag, float value) {
    return Push(tag, value);
}
bool HostVarList::AddTaggedString(int tag, const char* value) {
    return Push(tag, NarrowFrom(value));
}
bool HostVarList::AddTaggedWideStr(int tag, const char16_t* value) {
    return Push(tag, WideFrom(value));
}
bool HostVarList::AddTaggedObject(int tag, const ObjectId& value) {
    return Push(tag, value);
}

bool HostVarList::AddValue(const Value& v) {
    if (v.index() == VTYPE_NONE || v.index() == VTYPE_BOOL) return false;
    return Push(0, v);
}

bool HostVarList::Concat(const IVarList& other) {
    if (other.GetCount() > 0) Append(other, 0, other.GetCount());
    return true;
}

bool ReadValue(const IVarList& list, uint64_t i, Value& out) {
    switch (list.GetType(i)) {
        case VTYPE_INT:
            out = int32_t{list.IntVal(i)};
            return true;
        case VTYPE_FLOAT:
            out = list.FloatVal(i);
            return true;
        case VTYPE_STRING:
            out = NarrowFrom(list.StringVal(i));
            return true;
        case VTYPE_WIDESTR:
            out = WideFrom(list.WideStrVal(i));
            return true;
        case VTYPE_OBJECT:
            out = list.ObjectVal(i);
            return true;
        case VTYPE_USERDATA: {
            uint64_t size = 0;
            const void* p = list.UserDataVal(i, size);
            std::vector<uint8_t> bytes;
            if (p != nullptr && size > 0)
                bytes.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + size);
            out = std::move(bytes);
            return true;
        }
        case VTYPE_INT64:
            out = list.Int64Val(i);
            return true;
        default:
            return false;  // none, bool and unknown codes are skipped
    }
}

bool HostVarList::Append(const IVarList& other, uint64_t start, uint64_t count) {
    const uint64_t n = other.GetCount();
    if (start >= n || count > n - start) return false;
    if (&other != this) {
        Value v;
        for (uint64_t i = start; i < start + count; ++i)
            if (ReadValue(other, i, v)) Push(0, std::move(v));
        return true;
    }
    // Read everything first: the appends would otherwise read what they add.
    std::vector<Value> values(1);
    values.reserve(count);
    for (uint64_t i = start; i < start + count; ++i) {
        if (ReadValue(other, i, values.back())) values.emplace_back();
    }
    values.pop_back();
    for (Value& v : values) Push(0, std::move(v));
    return true;
}

void HostVarList::Clear() {
    // Chunks are kept for reuse; their values are released now.
    for (uint64_t i = 0; i < m_count; ++i) EntryAt(i).value = std::monostate{};
    m_count = 0;
}
bool HostVarList::IsEmpty() const {
    return m_count == 0;
}
uint64_t HostVarList::GetCount() const {
    return m_count;
}

uint32_t HostVarList::GetTypeWord(uint64_t index) const {
    return index < m_count ? EntryAt(index).typeWord : 0;
}
int HostVarList::GetType(uint64_t index) const {
    return static_cast<int>(GetTypeWord(index) & 15);
}
int HostVarList::GetTag(uint64_t index) const {
    return static_cast<int>((GetTypeWord(index) >> 4) & 15);
}

const HostVarList::Entry* HostVarList::Find(uint64_t index, int type) const {
    if (index >= m_count) return nullptr;
    const Entry& e = EntryAt(index);
    return static_cast<int>(e.value.index()) == type ? &e : nullptr;
}
HostVarList::Entry* HostVarList::Find(uint64_t index, int type) {
    return const_cast<Entry*>(static_cast<const HostVarList*>(this)->Find(index, type));
}

int HostVarList::IntVal(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_INT);
    return e ? std::get<int32_t>(e->value) : 0;
}
int64_t HostVarList::Int64Val(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_INT64);
    return e ? std::get<int64_t>(e->value) : 0;
}
float HostVarList::FloatVal(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_FLOAT);
    return e ? std::get<float>(e->value) : 0.0f;
}
const char* HostVarList::StringVal(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_STRING);
    return e ? std::get<std::string>(e->value).c_str() : kEmpty;
}
const char16_t* HostVarList::WideStrVal(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_WIDESTR);
    return e ? std::get<std::u16string>(e->value).c_str() : kEmptyWide;
}
ObjectId HostVarList::ObjectVal(uint64_t index) const {
    const Entry* e = Find(index, VTYPE_OBJECT);
    return e ? std::get<ObjectId>(e->value) : ObjectId{};
}
const void* HostVarList::UserDataVal(uint64_t index, uint64_t& size) const {
    const Entry* e = Find(index, VTYPE_USERDATA);
    if (e == nullptr) {
        size = 0;
        return nullptr;
    }
    const auto& bytes = std::get<std::vector<uint8_t>>(e->value);
    size = bytes.size();
    // A zero-size block still answers a non-null pointer, like an allocated one.
    static const uint8_t kNoBytes = 0;
    return bytes.empty() ? &kNoBytes : bytes.data();
}

bool HostVarList::SetInt(uint64_t index, int value) {
    Entry* e = Find(index, VTYPE_INT);
    if (e == nullptr) return false;
    e->value = int32_t{value};
    return true;
}
bool HostVarList::SetFloat(uint64_t index, float value) {
    Entry* e = Find(index, VTYPE_FLOAT);
    if (e == nullptr) return false;
    e->value = value;
    return true;
}
bool HostVarList::SetString(uint64_t index, const char* value) {
    Entry* e = Find(index, VTYPE_STRING);
    if (e == nullptr) return false;
    std::string copy = NarrowFrom(value);  // value may point into this entry
    e->value = std::move(copy);
    return true;
}
bool HostVarList::SetWideStr(uint64_t index, const char16_t* value) {
    Entry* e = Find(index, VTYPE_WIDESTR);
    if (e == nullptr) return false;
    std::u16string copy = WideFrom(value);
    e->value = std::move(copy);
    return true;
}
bool HostVarList::SetObject(uint64_t index, const ObjectId& value) {
    Entry* e = Find(index, VTYPE_OBJECT);
    if (e == nullptr) return false;
    e->value = value;
    return true;
}

const Value& HostVarList::At(uint64_t index) const {
    static const Value kNone;
    return index < m_count ? EntryAt(index).value : kNone;
}

// ---- free functions --------------------------------------------------------

std::vector<Value> ToValues(const IVarList& list) {
    HostVarList copy(list);
    std::vector<Value> out;
    out.reserve(copy.GetCount());
    for (uint64_t i = 0; i < copy.GetCount(); ++i) out.push_back(copy.At(i));
    return out;
}

std::string FormatVarList(const IVarList& list) {
    std::string out = "[";
    const uint64_t n = list.GetCount();
    for (uint64_t i = 0; i < n; ++i) {
        if (i > 0) out += ", ";
        switch (list.GetType(i)) {
            case VTYPE_INT:
                out += FormatValue(int32_t{list.IntVal(i)});
                break;
            case VTYPE_FLOAT:
                out += FormatValue(list.FloatVal(i));
                break;
            case VTYPE_STRING:
                out += FormatValue(NarrowFrom(list.StringVal(i)));
                break;
            case VTYPE_WIDESTR:
                out += FormatValue(WideFrom(list.WideStrVal(i)));
                break;
            case VTYPE_OBJECT:
                out += FormatValue(list.ObjectVal(i));
                break;
            case VTYPE_USERDATA: {
                uint64_t size = 0;
                list.UserDataVal(i, size);
                out += "<" + std::to_string(size) + " bytes>";
                break;
            }
            case VTYPE_INT64:
                out += FormatValue(list.Int64Val(i));
                break;
            default:
                out += "none";
                break;
        }
    }
    out += "]";
    return out;
}

std::string Utf16ToUtf8(const char16_t* text) {
    if (text == nullptr) return std::string();
    return Utf8OfUtf16(text, std::char_traits<char16_t>::length(text));
}

std::string Utf16ToUtf8(const std::u16string& text) {
    return Utf8OfUtf16(text.data(), text.size());
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the second byte,
        // which rules out overlong forms, surrogates and values past U+10FFFF.
        size_t need = 0;
        uint32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 3;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 4;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < need && i + k < n; ++k) {
            const unsigned char c = s[i + k];
            if (c < lo || c > hi) break;
            cp = (cp << 6) | (c & 0x3F);
            lo = 0x80;
            hi = 0xBF;
        }
        i += k;
        if (k < need) {
            out += u'\uFFFD';  // one replacement for the whole cut-short sequence
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

}  // namespace host
