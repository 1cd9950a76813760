// Kernel internals shared by its source files: the object, record, hook and
// heartbeat types and the small helpers every part uses. Not for other code.
#pragma once

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Kernel.h"

namespace host {
namespace kernel_detail {

inline std::string Obj(const ObjectId& o) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "obj#%u:%u", o.ident, o.serial);
    return buf;
}

inline std::string Str(const char* s) {
    return s == nullptr ? std::string() : std::string(s);
}
inline std::u16string Wide(const char16_t* s) {
    return s == nullptr ? std::u16string() : s;
}

// printf into a std::string (lines are cut at 511 bytes).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

inline bool ValidType(int type) {
    return type >= VTYPE_BOOL && type <= VTYPE_INT64;
}

// A value may go into a slot declared with type: same type, or an int into a
// bool slot (stored as int 0/1, which is how the kernel keeps bools).
inline bool Accepts(int declared, const Value& v) {
    if (declared == VTYPE_NONE) return TypeOf(v) != VTYPE_NONE && TypeOf(v) != VTYPE_BOOL;
    if (declared == VTYPE_BOOL) return TypeOf(v) == VTYPE_INT || TypeOf(v) == VTYPE_BOOL;
    return TypeOf(v) == declared;
}

inline Value Normalise(int declared, Value v) {
    if (declared == VTYPE_BOOL) {
        if (TypeOf(v) == VTYPE_BOOL) return int32_t{std::get<bool>(v) ? 1 : 0};
        return int32_t{std::get<int32_t>(v) != 0 ? 1 : 0};
    }
    return v;
}

// Storage form of a declared type's zero value (bools are kept as ints).
inline Value StoredDefault(int type) {
    if (type == VTYPE_BOOL) return int32_t{0};
    return DefaultValue(type);
}

inline constexpr char kEmpty[] = "";
inline constexpr char16_t kEmptyWide[] = u"";

enum HookKind { kClassEvent = 0, kCommandHook = 1, kCustomHook = 2 };

// The events the kernel raises itself, made once: a name kept at one address
// is found by address in the lookups that follow.
inline const std::string kOnSelect = "OnSelect";
inline const std::string kOnLoad = "OnLoad";
inline const std::string kOnStore = "OnStore";
inline const std::string kOnLeave = "OnLeave";
inline const std::string kNoEvent;  // command and custom hooks have no event name

// True for the names above: their texts never change, so a name at the same
// address is the same name without comparing its text.
inline bool IsKernelEventName(const std::string& name) {
    return &name == &kOnSelect || &name == &kOnLoad || &name == &kOnStore || &name == &kOnLeave;
}

}  // namespace kernel_detail

// A class's view of every declaration on its chain: a slot per property and
// per record, found by name without building a string. Slots only grow (a
// base class may declare more later); names point into the declarations,
// which never move.
struct Kernel::Layout {
    std::vector<const PropertyDecl*> props;
    std::unordered_map<std::string_view, uint32_t> propSlot;
    std::vector<const RecordDecl*> records;
    std::unordered_map<std::string_view, uint32_t> recordSlot;
    // The class is or derives from "player" / "BaseScene" (a chain is fixed
    // when the class is declared).
    bool isPlayer = false;
    bool isScene = false;
};

struct Kernel::NameCache {
    struct Entry {
        const char* name = nullptr;
        int cls = -1;
        uint32_t slot = 0;
    };
    static constexpr size_t kSize = 1024;  // a power of two
    Entry props[kSize];
    Entry records[kSize];
    static size_t Index(const char* name, int cls) {
        const uintptr_t p = reinterpret_cast<uintptr_t>(name);
        return ((p >> 3) ^ (p >> 13) ^ (static_cast<size_t>(cls) * 0x9e37u)) & (kSize - 1);
    }

    // The plug-in reads the same cells and properties of the same objects
    // over and over: a hit keyed by (name pointer, object id) skips finding
    // the object, its class layout and the slot. A hit is good while its
    // object's epoch matches: the epoch moves on whenever that object dies
    // or its property or record vector may have moved, so a stale pointer is
    // never used, and one object's death or growth leaves the hits of the
    // others in place. Only names in fixed texts get hits: their text cannot
    // change under the same address, so no text is compared.
    struct RecordHit {
        const char* name = nullptr;
        ObjectId obj;
        uint32_t epoch = 0;
        Record* record = nullptr;
        const RecordDecl* decl = nullptr;
    };
    struct PropHit {
        const char* name = nullptr;
        ObjectId obj;
        uint32_t epoch = 0;
        Value* value = nullptr;
        const PropertyDecl* decl = nullptr;
    };
    static constexpr int kHitBits = 9;
    static constexpr size_t kHits = size_t{1} << kHitBits;
    RecordHit recordHits[kHits];
    PropHit propHits[kHits];
    static size_t HitIndex(const char* name, const ObjectId& obj) {
        // Multiplicative hashing: the top bits depend on every bit of the
        // pointer and the ident, so a few hot names never keep colliding.
        const uint64_t key = reinterpret_cast<uintptr_t>(name) ^ (uint64_t{obj.ident} << 40);
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kHitBits));
    }
};

// Rows stored contiguously, row r at cells[r * cols ...].
struct Kernel::Record {
    std::vector<Value> cells;
    int rows = 0;
    // A text of a cell was handed out: the cells must not move while a
    // dispatch runs (they go to the graveyard instead).
    bool lent = false;
};

// Kernel::Recycle empties every field for reuse: a new field is emptied there too.
struct Kernel::Object {
    ObjectId id;
    int cls = -1;
    std::string config;
    int configIndex = 0;
    ObjectId scene;
    ObjectId parent;
    std::u16string childName;
    std::vector<ObjectId> children;
    std::vector<Value> props;     // by the class layout's slot; empty until first used
    std::vector<Record> records;  // likewise
    std::vector<uint32_t> beats;
    bool isPlayer = false;
    uint64_t born = 0;
};

struct Kernel::Hook {
    int handle = 0;
    int kind = 0;
    int classIndex = -1;
    int id = 0;
    std::string event;
    int priority = 0;
    uint64_t seq = 0;
    KernelCallback fn = nullptr;
    HostHook hostFn;
    std::string owner;
    bool enabled = true;
    bool removed = false;
};

struct Kernel::HookList {
    std::vector<std::unique_ptr<Hook>> all;
    std::vector<std::unique_ptr<Hook>> retired;  // removed during a dispatch
    uint64_t version = 1;
    struct Cached {
        uint64_t version = 0;
        std::vector<const Hook*> hooks;
    };
    std::unordered_map<uint64_t, Cached> commandCache;
    std::unordered_map<int, Cached> customCache;
    // Ordered by (class, event name); looked up by a view of the name, so a
    // dispatch builds no key string.
    struct EventKeyLess {
        using is_transparent = void;
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            if (a.first != b.first) return a.first < b.first;
            return std::string_view(a.second) < std::string_view(b.second);
        }
    };
    std::map<std::pair<int, std::string>, Cached, EventKeyLess> eventCache;
    // The last few lookups by (class, where the name lies), checked against
    // the key's text: the same events of the same classes come again and
    // again. Map entries never move nor go.
    struct EventHit {
        int cls = -1;
        const char* data = nullptr;
        std::pair<const std::pair<int, std::string>, Cached>* entry = nullptr;
    };
    EventHit eventHits[16];
    // The same for commands, by (class, command id). Map nodes never move
    // nor go, so a hit stays good for the kernel's life.
    struct CommandHit {
        int cls = -1;
        int id = 0;
        Cached* entry = nullptr;
    };
    CommandHit commandHits[16];
    // One scratch list per dispatch depth, so nested dispatches never clobber
    // the list an outer one is walking.
    std::vector<std::vector<const Hook*>> scratch;
};

struct Kernel::Beat {
    ObjectId obj;
    uint32_t name = 0;
    int interval = 0;
    int64_t due = 0;
    uint64_t seq = 0;
    uint64_t timer = 0;
    uint32_t gen = 0;
    bool live = false;
};

struct Kernel::Timer {
    std::function<void()> fn;
    uint64_t wheel = 0;
    uint32_t gen = 0;
    bool live = false;
};

}  // namespace host
