// Byte-level helpers of the event log's packed store: varints, raw and
// word loads, name compares and hashes, and reading packed arguments back.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "HostVarList.h"
#include "ObjectId.h"

namespace host {
namespace log_bytes {

inline size_t VarintLength(uint64_t v) {
    size_t n = 1;
    for (; v >= 0x80; v >>= 7) ++n;
    return n;
}

inline uint64_t GetVarint(const char*& p) {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t b = static_cast<uint8_t>(*p++);
        v |= uint64_t{b & 0x7fu} << shift;
        if ((b & 0x80) == 0) return v;
    }
}

template <typename T>
T GetRaw(const char*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

inline uint64_t IdBits(const ObjectId& id) {
    return id.Packed();
}

inline ObjectId IdFromBits(uint64_t v) {
    return ObjectId::FromPacked(v);
}

template <typename T>
T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Equal bytes, compared a word at a time: names are short and checked on
// every event, where a call to memcmp would cost more than the compare.
[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t n) {
    if (n >= 8) {
        for (size_t i = 0; i + 8 < n; i += 8)
            if (Load<uint64_t>(a + i) != Load<uint64_t>(b + i)) return false;
        return Load<uint64_t>(a + n - 8) == Load<uint64_t>(b + n - 8);
    }
    if (n >= 4)
        return Load<uint32_t>(a) == Load<uint32_t>(b) &&
               Load<uint32_t>(a + n - 4) == Load<uint32_t>(b + n - 4);
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// A quick hash of a name's bytes, a word at a time.
inline uint64_t HashBytes(const char* p, size_t n) {
    constexpr uint64_t kMul = 0x9e3779b97f4a7c15ull;
    uint64_t h = n * kMul;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) h = (h ^ Load<uint64_t>(p + i)) * kMul;
    for (; i < n; ++i) h = (h ^ static_cast<uint8_t>(p[i])) * kMul;
    return h ^ (h >> 29);
}

inline void GetArgs(const char*& p, HostVarList& out) {
    const uint64_t n = GetVarint(p);
    for (uint64_t i = 0; i < n; ++i) {
        const int type = static_cast<uint8_t>(*p++);
        switch (type) {
            case VTYPE_INT:
                out.AddInt(GetRaw<int32_t>(p));
                break;
            case VTYPE_FLOAT:
                out.AddFloat(GetRaw<float>(p));
                break;
            case VTYPE_STRING: {
                const size_t len = GetVarint(p);
                out.AddValue(std::string(p, len));
                p += len;
                break;
            }
            case VTYPE_WIDESTR: {
                const size_t len = GetVarint(p);
                std::u16string s(len / sizeof(char16_t), u'\0');
                if (len > 0) std::memcpy(&s[0], p, len);
                out.AddValue(std::move(s));
                p += len;
                break;
            }
            case VTYPE_OBJECT: {
                ObjectId id;
                id.ident = GetRaw<uint32_t>(p);
                id.serial = GetRaw<uint32_t>(p);
                out.AddObject(id);
                break;
            }
            case VTYPE_USERDATA: {
                const size_t len = GetVarint(p);
                out.AddValue(std::vector<uint8_t>(p, p + len));
                p += len;
                break;
            }
            case VTYPE_INT64:
                out.AddInt64(GetRaw<int64_t>(p));
                break;
            default:
                return;
        }
    }
}

}  // namespace log_bytes
}  // namespace host
