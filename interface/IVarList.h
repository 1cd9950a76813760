// Ordered list of typed values: every call between host and plug-in that
// carries a variable number of values passes one of these.
//
// Frozen ABI: the host calls these operations through the virtual table, so
// the slot order below must never change. Indices are 64-bit unsigned.
//
// Read contract: a read whose index is past the end, or whose entry holds a
// different type code, returns the default (0, 0.0f, "", u"", the null
// ObjectId, nullptr with size 0). Reads never convert between types; the tag
// takes no part in the comparison. Returned pointers stay valid until the
// entry is set again, or the list is cleared or destroyed.
//
// Set contract: sets change an existing entry of the same type code only and
// return false otherwise; the entry's tag is kept.
#pragma once

#include <cstdint>

#include "ObjectId.h"
#include "VarType.h"

class IVarList {
public:
    virtual ~IVarList() = default;

    // Appends; each returns true.
    virtual bool AddInt(int value) = 0;
    virtual bool AddInt64(int64_t value) = 0;
    virtual bool AddFloat(float value) = 0;
    virtual bool AddString(const char* value) = 0;
    virtual bool AddWideStr(const char16_t* value) = 0;
    virtual bool AddObject(const ObjectId& value) = 0;
    virtual bool AddUserData(const void* data, uint64_t size) = 0;
    // Tagged appends store a 4-bit tag beside the type code (tag & 15).
    virtual bool AddTaggedInt(int tag, int value) = 0;
    virtual bool AddTaggedFloat(int tag, float value) = 0;
    virtual bool AddTaggedString(int tag, const char* value) = 0;
    virtual bool AddTaggedWideStr(int tag, const char16_t* value) = 0;
    virtual bool AddTaggedObject(int tag, const ObjectId& value) = 0;

    // Appends every entry of other (untagged copies; types 0, 1, 9-15 skipped).
    virtual bool Concat(const IVarList& other) = 0;
    // Appends entries [start, start + count) of other; false and nothing
    // appended when that range does not lie inside other.
    virtual bool Append(const IVarList& other, uint64_t start, uint64_t count) = 0;

    // Drops every entry; keeps the entry array for reuse.
    virtual void Clear() = 0;
    virtual bool IsEmpty() const = 0;
    virtual uint64_t GetCount() const = 0;

    // Whole 32-bit type word: code in bits 0-3, tag in bits 4-7; 0 past the end.
    virtual uint32_t GetTypeWord(uint64_t index) const = 0;
    virtual int GetType(uint64_t index) const = 0;
    virtual int GetTag(uint64_t index) const = 0;

    virtual int IntVal(uint64_t index) const = 0;
    virtual int64_t Int64Val(uint64_t index) const = 0;
    virtual float FloatVal(uint64_t index) const = 0;
    virtual const char* StringVal(uint64_t index) const = 0;
    virtual const char16_t* WideStrVal(uint64_t index) const = 0;
    virtual ObjectId ObjectVal(uint64_t index) const = 0;
    virtual const void* UserDataVal(uint64_t index, uint64_t& size) const = 0;

    virtual bool SetInt(uint64_t index, int value) = 0;
    virtual bool SetFloat(uint64_t index, float value) = 0;
    virtual bool SetString(uint64_t index, const char* value) = 0;
    virtual bool SetWideStr(uint64_t index, const char16_t* value) = 0;
    virtual bool SetObject(uint64_t index, const ObjectId& value) = 0;
};

// Holder of one wide text, filled by whoever is asked for a name.
// Frozen ABI: three slots in this order.
class IResultName {
public:
    virtual ~IResultName() = default;
    virtual void SetName(const char16_t* name) = 0;
    virtual const char16_t* GetName() const = 0;
};
