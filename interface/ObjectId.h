// The host's handle of a game object.
//
// Frozen ABI: the host and the plug-in pass this value across the library
// boundary by value and by reference, so its size (8 bytes), its two 32-bit
// fields and its trivially copyable nature must never change. The all-zero
// value is the null identifier; two identifiers are equal only when all eight
// bytes are equal. Whether an identifier names a live object is asked of the
// kernel (IKernel::Exists), never of the value itself.
#pragma once

#include <cstdint>
#include <type_traits>

struct ObjectId {
    uint32_t ident = 0;   // slot of the object in the host's object table
    uint32_t serial = 0;  // generation of that slot, so stale handles never match

    constexpr bool IsNull() const { return ident == 0 && serial == 0; }
    constexpr uint64_t Packed() const { return (uint64_t(serial) << 32) | ident; }
    static constexpr ObjectId FromPacked(uint64_t v) {
        return ObjectId{uint32_t(v & 0xffffffffu), uint32_t(v >> 32)};
    }
};

constexpr bool operator==(const ObjectId& a, const ObjectId& b) {
    return a.ident == b.ident && a.serial == b.serial;
}
constexpr bool operator!=(const ObjectId& a, const ObjectId& b) { return !(a == b); }
constexpr bool operator<(const ObjectId& a, const ObjectId& b) { return a.Packed() < b.Packed(); }

static_assert(sizeof(ObjectId) == 8, "ObjectId is part of the host ABI");
static_assert(std::is_trivially_copyable<ObjectId>::value, "ObjectId is copied as a unit");
