// Type codes shared by variant-list entries, property types and record
// column types. Frozen ABI: the numbers travel between host and plug-in.
#pragma once

enum VarType : int {
    VTYPE_NONE = 0,      // also the answer for an index past the end
    VTYPE_BOOL = 1,      // property type only; no list operation appends it
    VTYPE_INT = 2,       // 32-bit signed integer
    VTYPE_FLOAT = 3,     // 32-bit IEEE float
    VTYPE_STRING = 4,    // narrow, zero-terminated (GBK bytes)
    VTYPE_WIDESTR = 5,   // zero-terminated 16-bit code units
    VTYPE_OBJECT = 6,    // ObjectId
    VTYPE_USERDATA = 7,  // byte block with a 64-bit size
    VTYPE_INT64 = 8,     // 64-bit signed integer
};
