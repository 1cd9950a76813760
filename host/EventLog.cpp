// The event log: event kinds and lines, filters, and the packed store that
// holds a long run's events compactly.
#include "EventLog.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <type_traits>
#include <typeinfo>

#include "EventLogBytes.h"

namespace host {

namespace {

struct KindName {
    EventKind kind;
    const char* name;
};

const KindName kKindNames[] = {
    {EventKind::Command, "command"},
    {EventKind::CommandByName, "command_by_name"},
    {EventKind::CommandOffline, "command_offline"},
    {EventKind::Custom, "custom"},
    {EventKind::SysInfo, "sysinfo"},
    {EventKind::SysInfoByWorld, "sysinfo_world"},
    {EventKind::Property, "property"},
    {EventKind::HeartbeatAdd, "heartbeat_add"},
    {EventKind::HeartbeatRemove, "heartbeat_remove"},
    {EventKind::ClassEvent, "class_event"},
    {EventKind::Trace, "trace"},
    {EventKind::Echo, "echo"},
    {EventKind::Host, "host"},
    {EventKind::Note, "note"},
};

std::string Obj(const ObjectId& o) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "obj#%u:%u", o.ident, o.serial);
    return buf;
}

}  // namespace

const char* EventKindName(EventKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

bool ParseEventKind(const std::string& name, EventKind& kind) {
    for (const KindName& k : kKindNames)
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

std::string Event::ToString() const {
    char head[64];
    std::snprintf(head, sizeof head, "[%" PRId64 ".%03ds] %s", timeMs / 1000,
                  static_cast<int>(timeMs % 1000), EventKindName(kind));
    std::string s = head;
    switch (kind) {
        case EventKind::Command:
        case EventKind::Custom:
            s += " " + Obj(sender) + " -> " + Obj(target) + " " + argsText;
            if (kind == EventKind::Command) s += " = " + std::to_string(result);
            break;
        case EventKind::CommandByName:
            s += " -> u\"" + Utf16ToUtf8(targetName) + "\" " + argsText + " = " +
                 std::to_string(result);
            break;
        case EventKind::CommandOffline:
            s += " -> u\"" + Utf16ToUtf8(targetName) + "\" " + Obj(target) + " " + text + " " +
                 argsText;
            break;
        case EventKind::SysInfo:
            s += " -> " + Obj(sender) + " kind " + std::to_string(id) + " \"" + name + "\" " +
                 argsText;
            break;
        case EventKind::SysInfoByWorld:
            s += " kind " + std::to_string(id) + " \"" + name + "\" " + argsText;
            break;
        case EventKind::Property:
            s += " " + Obj(sender) + "." + name + " = " + argsText;
            break;
        case EventKind::HeartbeatAdd:
            s += " " + Obj(sender) + " " + name + " every " + std::to_string(id) + " ms";
            break;
        case EventKind::HeartbeatRemove:
            s += " " + Obj(sender) + " " + name;
            break;
        case EventKind::ClassEvent:
            s += " " + name + " on " + Obj(target) + " from " + Obj(sender) + " " + argsText;
            break;
        case EventKind::Note:
            s += " " + name;
            if (!text.empty()) s += ": " + text;
            if (!sender.IsNull()) s += " " + Obj(sender);
            if (!args.IsEmpty()) s += " " + argsText;
            break;
        default:
            s += " " + text;
            break;
    }
    return s;
}

bool EventFilter::Matches(const Event& e) const {
    if (e.seq < fromSeq) return false;
    if (!anyKind && e.kind != kind) return false;
    if (!anyId && e.id != id) return false;
    if (!anySender && e.sender != sender) return false;
    if (!anyTarget && e.target != target) return false;
    if (!name.empty() && e.name != name) return false;
    if (!contains.empty() && e.text.find(contains) == std::string::npos &&
        e.argsText.find(contains) == std::string::npos)
        return false;
    return true;
}

// ---- the packed store ---------------------------------------------------------
//
// An event is a fixed record (times, ids, interned name) plus its texts and
// arguments packed as bytes into large shared chunks, so an event costs some
// 60-100 bytes instead of the several hundred an Event with its strings and
// argument list takes. Texts are formatted only when an event is read.
//
// Every command, message and property change of a run is appended here, so
// adding is kept to one pass: the record goes into a block of records, the
// bytes straight into the chunk being filled.

namespace {

using namespace log_bytes;

constexpr size_t kChunkBytes = size_t{1} << 18;
constexpr unsigned kBlockShift = 10;  // records per block: 1 << kBlockShift
constexpr uint64_t kBlockMask = (uint64_t{1} << kBlockShift) - 1;

enum : uint8_t { kHasTargetName = 1, kHasText = 2, kHasArgs = 4 };

}  // namespace

struct EventLog::Store {
    struct Packed {
        uint64_t seq;
        int64_t timeMs;
        uint64_t sender;  // ObjectId bytes (a plain integer keeps the record
        uint64_t target;  // trivial, so a new block is left unwritten)
        int32_t id;
        int32_t result;
        uint32_t name;   // interned; 0 = empty
        uint32_t chunk;  // absolute chunk number of the bytes
        uint32_t pos;    // offset in that chunk
        uint8_t kind;
        uint8_t flags;
    };
    static_assert(std::is_trivially_default_constructible<Packed>::value,
                  "record blocks are allocated unwritten");
    struct Chunk {
        std::unique_ptr<char[]> data;
        size_t size = 0;
    };

    // The bytes of the event being packed, written straight into the chunk
    // being filled. When that runs out, what the event has so far moves to
    // a new chunk, so an event's bytes always lie in one piece. A local
    // whose address is never taken, so its pointers stay in registers.
    struct Writer {
        Store& store;
        char* start;  // the event's first byte
        char* at;     // where the next byte goes
        char* end;    // end of the chunk

        void Need(size_t n) {
            if (static_cast<size_t>(end - at) < n) {
                char* moved = store.MoveToNewChunk(start, at, n);
                at = moved + (at - start);
                start = moved;
                end = store.roomEnd;
            }
        }
        // Byte, Raw and Varint write into room made by Need.
        void Byte(uint8_t b) { *at++ = static_cast<char>(b); }
        template <typename T>
        void Raw(const T& v) {
            std::memcpy(at, &v, sizeof v);
            at += sizeof v;
        }
        void Varint(uint64_t v) {
            for (; v >= 0x80; v >>= 7) *at++ = static_cast<char>(0x80 | (v & 0x7f));
            *at++ = static_cast<char>(v);
        }
        // A length and that many bytes, making its own room.
        void Bytes(const void* data, size_t n) {
            Need(10 + n);
            Varint(n);
            if (n == 0) return;
            std::memcpy(at, data, n);
            at += n;
        }
    };

    // Records, by absolute index (head..tail), in blocks of 1 << kBlockShift;
    // blocks[0] holds block number firstBlock. The newest block has room
    // from `next` to `nextEnd`.
    std::vector<std::unique_ptr<Packed[]>> blocks;
    uint64_t firstBlock = 0;
    uint64_t head = 0;
    uint64_t tail = 0;
    Packed* next = nullptr;
    Packed* nextEnd = nullptr;

    // Byte chunks; chunks[0] has absolute number firstChunk. The newest has
    // room from `room` to `roomEnd`.
    std::deque<Chunk> chunks;
    uint32_t firstChunk = 0;
    char* roomBase = nullptr;  // start of the newest chunk
    uint32_t roomChunk = 0;    // its absolute number
    char* room = nullptr;
    char* roomEnd = nullptr;

    std::deque<std::string> names{std::string()};
    std::vector<std::string_view> nameViews{std::string_view()};  // names[id], for comparing
    // Every name by its text: open addressing, ids (0 = free slot), at most
    // half full. Names built afresh for each event (a note's name formatted
    // per call, a script's string) miss the cache below and come here.
    std::vector<uint32_t> nameSlots = std::vector<uint32_t>(64, 0);
    // Recent names by where their text lies (checked against the text):
    // most names come from the same few declarations again and again. Two
    // ways a set, so two names that share one still both hit.
    struct NameHit {
        const char* data = nullptr;
        size_t size = 0;
        const char* stored = nullptr;  // names[id].data()
        uint32_t id = 0;
    };
    static constexpr size_t kNameSets = 128;
    NameHit nameHits[kNameSets][2];
    // Unpacked copies handed out by the readers (stable addresses).
    std::deque<Event> views;
    std::vector<Event> all;
    bool allValid = false;

    size_t Size() const { return static_cast<size_t>(tail - head); }
    Packed& At(uint64_t i) { return blocks[(i >> kBlockShift) - firstBlock][i & kBlockMask]; }
    const Packed& At(uint64_t i) const {
        return blocks[(i >> kBlockShift) - firstBlock][i & kBlockMask];
    }
    // The newest record; only while one is held.
    Packed& Newest() { return next[-1]; }

    Packed& Append() {
        if (next == nextEnd) NewBlock();
        ++tail;
        return *next++;
    }
    void NewBlock() {
        // The record blocks are left uninitialised: each slot is written
        // whole when its event is added.
        blocks.emplace_back(new Packed[kBlockMask + 1]);
        next = blocks.back().get() + (tail & kBlockMask);
        nextEnd = blocks.back().get() + kBlockMask + 1;
    }

    // First index at or after head whose seq is >= seq.
    uint64_t LowerBound(uint64_t seq) const {
        uint64_t lo = head;
        uint64_t hi = tail;
        while (lo < hi) {
            const uint64_t mid = lo + (hi - lo) / 2;
            if (At(mid).seq < seq)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    // Where readers start: the filter's fromSeq skips the older events.
    uint64_t FirstFor(const EventFilter& f) const {
        return f.fromSeq == 0 || head == tail ? head : LowerBound(f.fromSeq);
    }

    [[gnu::always_inline]] uint32_t Intern(std::string_view name) {
        if (name.empty()) return 0;
        const uintptr_t at = reinterpret_cast<uintptr_t>(name.data());
        NameHit* set = nameHits[(at >> 3) & (kNameSets - 1)];
        for (int way = 0; way < 2; ++way) {
            const NameHit& hit = set[way];
            if (hit.data == name.data() && hit.size == name.size() &&
                SameBytes(hit.stored, name.data(), name.size()))
                return hit.id;
        }
        const uint32_t id = InternSlow(name);
        set[1] = set[0];
        set[0] = {name.data(), name.size(), names[id].data(), id};
        return id;
    }
    [[gnu::noinline]] uint32_t InternSlow(std::string_view name) {
        const size_t mask = nameSlots.size() - 1;
        size_t i = HashBytes(name.data(), name.size()) & mask;
        for (; nameSlots[i] != 0; i = (i + 1) & mask) {
            const std::string_view known = nameViews[nameSlots[i]];
            if (known.size() == name.size() && SameBytes(known.data(), name.data(), name.size()))
                return nameSlots[i];
        }
        names.emplace_back(name);
        const uint32_t id = static_cast<uint32_t>(names.size() - 1);
        nameViews.push_back(names.back());
        nameSlots[i] = id;
        if (2 * names.size() > nameSlots.size()) GrowNameSlots();
        return id;
    }
    void GrowNameSlots() {
        std::vector<uint32_t> slots(nameSlots.size() * 2, 0);
        const size_t mask = slots.size() - 1;
        for (uint32_t id = 1; id < nameViews.size(); ++id) {
            size_t i = HashBytes(nameViews[id].data(), nameViews[id].size()) & mask;
            while (slots[i] != 0) i = (i + 1) & mask;
            slots[i] = id;
        }
        nameSlots.swap(slots);
    }

    // A new chunk for the event being written, with its `have` bytes so
    // far; returns where they now start.
    [[gnu::noinline]] char* MoveToNewChunk(const char* start, const char* at, size_t n) {
        const size_t have = static_cast<size_t>(at - start);
        Chunk c;
        c.size = std::max(kChunkBytes, have + n);
        c.data.reset(new char[c.size]);
        if (have > 0) std::memcpy(c.data.get(), start, have);
        roomBase = c.data.get();
        roomEnd = roomBase + c.size;
        roomChunk = firstChunk + static_cast<uint32_t>(chunks.size());
        chunks.push_back(std::move(c));
        return roomBase;
    }

    // The arguments as HostVarList's copy keeps them: untagged, none, bool
    // and unknown codes skipped. False (nothing written) when none is kept.
    // One pass: the count goes first, as if every entry were kept, in as
    // many bytes as the full count takes; it is mended when some were not.
    [[gnu::always_inline]] static bool PutArgs(Writer& out, const IVarList& args) {
        const uint64_t n = args.GetCount();
        if (n == 0) return false;
        const size_t countBytes = n < 0x80 ? 1 : VarintLength(n);
        out.Need(countBytes);
        const size_t countAt = static_cast<size_t>(out.at - out.start);
        out.Varint(n);
        uint64_t kept = 0;
        // The host's own lists are read entry by entry, one call for each
        // instead of a type and a value call. (The same type_info object
        // means this very class; a list whose type_info only looks different
        // takes the general way, which writes the same bytes.)
        if (&typeid(args) == &typeid(HostVarList)) {
            const auto& list = static_cast<const HostVarList&>(args);
            for (uint64_t i = 0; i < n; ++i) kept += PutEntry(out, list.At(i)) ? 1 : 0;
            return Mend(out, countAt, countBytes, n, kept);
        }
        for (uint64_t i = 0; i < n; ++i) {
            const int type = args.GetType(i);
            // Most arguments are ints: tested before the switch.
            if (type == VTYPE_INT) {
                out.Need(1 + sizeof(int32_t));
                out.Byte(VTYPE_INT);
                out.Raw(int32_t{args.IntVal(i)});
                ++kept;
                continue;
            }
            switch (type) {
                case VTYPE_FLOAT:
                    out.Need(1 + sizeof(float));
                    out.Byte(VTYPE_FLOAT);
                    out.Raw(args.FloatVal(i));
                    break;
                case VTYPE_STRING: {
                    const char* s = args.StringVal(i);
                    out.Need(1);
                    out.Byte(VTYPE_STRING);
                    out.Bytes(s, s == nullptr ? 0 : std::strlen(s));
                    break;
                }
                case VTYPE_WIDESTR: {
                    const char16_t* s = args.WideStrVal(i);
                    const size_t len = s == nullptr ? 0 : std::char_traits<char16_t>::length(s);
                    out.Need(1);
                    out.Byte(VTYPE_WIDESTR);
                    out.Bytes(s, len * sizeof(char16_t));
                    break;
                }
                case VTYPE_OBJECT: {
                    const ObjectId id = args.ObjectVal(i);
                    out.Need(1 + 2 * sizeof(uint32_t));
                    out.Byte(VTYPE_OBJECT);
                    out.Raw(id.ident);
                    out.Raw(id.serial);
                    break;
                }
                case VTYPE_USERDATA: {
                    uint64_t size = 0;
                    const void* p = args.UserDataVal(i, size);
                    out.Need(1);
                    out.Byte(VTYPE_USERDATA);
                    out.Bytes(p, p == nullptr ? 0 : size);
                    break;
                }
                case VTYPE_INT64:
                    out.Need(1 + sizeof(int64_t));
                    out.Byte(VTYPE_INT64);
                    out.Raw(int64_t{args.Int64Val(i)});
                    break;
                default:
                    continue;
            }
            ++kept;
        }
        return Mend(out, countAt, countBytes, n, kept);
    }

    // Puts the count of the entries PutArgs kept in place of the full count
    // written before them: false, with the count taken back, when none was.
    static bool Mend(Writer& out, size_t countAt, size_t countBytes, uint64_t n, uint64_t kept) {
        if (kept == n) return true;
        // Relative to the event's start: its bytes may have moved to a new
        // chunk since.
        char* count = out.start + countAt;
        if (kept == 0) {
            out.at = count;
            return false;
        }
        // A varint padded to countBytes: continuation bits on all but the last.
        for (size_t k = 0; k + 1 < countBytes; ++k, kept >>= 7)
            count[k] = static_cast<char>(0x80 | (kept & 0x7f));
        count[countBytes - 1] = static_cast<char>(kept);
        return true;
    }

    // One kept entry as PutArgs writes it: its type code, then its bytes
    // (text up to a zero byte, as a list reads it). False, with nothing
    // written, for the types a list copy skips.
    [[gnu::always_inline]] static bool PutEntry(Writer& out, const Value& v) {
        const int type = TypeOf(v);
        if (type < VTYPE_INT || type > VTYPE_INT64) return false;
        out.Need(1 + sizeof(int64_t));
        out.Byte(static_cast<uint8_t>(type));
        switch (type) {
            case VTYPE_INT:
                out.Raw(*std::get_if<int32_t>(&v));
                break;
            case VTYPE_FLOAT:
                out.Raw(*std::get_if<float>(&v));
                break;
            case VTYPE_STRING: {
                const char* s = std::get_if<std::string>(&v)->c_str();
                out.Bytes(s, std::strlen(s));
                break;
            }
            case VTYPE_WIDESTR: {
                const char16_t* s = std::get_if<std::u16string>(&v)->c_str();
                out.Bytes(s, std::char_traits<char16_t>::length(s) * sizeof(char16_t));
                break;
            }
            case VTYPE_OBJECT: {
                const ObjectId& id = *std::get_if<ObjectId>(&v);
                out.Raw(id.ident);
                out.Raw(id.serial);
                break;
            }
            case VTYPE_USERDATA: {
                const auto& bytes = *std::get_if<std::vector<uint8_t>>(&v);
                out.Bytes(bytes.data(), bytes.size());
                break;
            }
            default:  // VTYPE_INT64
                out.Raw(*std::get_if<int64_t>(&v));
                break;
        }
        return true;
    }

    // The bytes PutArgs writes for a list holding just v (nothing, false, for
    // the types a list skips).
    [[gnu::always_inline]] static bool PutValue(Writer& out, const Value& v) {
        const int type = TypeOf(v);
        if (type < VTYPE_INT || type > VTYPE_INT64) return false;
        out.Need(1);
        out.Byte(1);
        return PutEntry(out, v);
    }

    [[gnu::always_inline]] void Pack(const EventFields& f, uint64_t seq) {
        Packed& p = Append();
        p.seq = seq;
        p.timeMs = f.timeMs;
        p.sender = IdBits(f.sender);
        p.target = IdBits(f.target);
        p.id = f.id;
        p.result = f.result;
        p.name = Intern(f.name);
        p.kind = static_cast<uint8_t>(f.kind);
        uint8_t flags = 0;
        Writer out{*this, room, room, roomEnd};
        if (!f.targetName.empty()) {
            flags |= kHasTargetName;
            out.Bytes(f.targetName.data(), f.targetName.size() * sizeof(char16_t));
        }
        if (!f.text.empty()) {
            flags |= kHasText;
            out.Bytes(f.text.data(), f.text.size());
        }
        if (f.value != nullptr) {
            if (PutValue(out, *f.value)) flags |= kHasArgs;
        } else if (f.args != nullptr && PutArgs(out, *f.args)) {
            flags |= kHasArgs;
        }
        p.flags = flags;
        if (flags != 0) {
            p.chunk = roomChunk;
            p.pos = static_cast<uint32_t>(out.start - roomBase);
        } else {
            p.chunk = 0;
            p.pos = 0;
        }
        room = out.at;
        roomEnd = out.end;
        allValid = false;
    }

    const char* Bytes(const Packed& p) const {
        if (p.flags == 0) return nullptr;
        return chunks[p.chunk - firstChunk].data.get() + p.pos;
    }

    Event Unpack(const Packed& p) const {
        Event e;
        e.seq = p.seq;
        e.timeMs = p.timeMs;
        e.kind = static_cast<EventKind>(p.kind);
        e.sender = IdFromBits(p.sender);
        e.target = IdFromBits(p.target);
        e.id = p.id;
        e.result = p.result;
        e.name = names[p.name];
        const char* b = Bytes(p);
        if (p.flags & kHasTargetName) {
            const size_t len = GetVarint(b);
            e.targetName.assign(len / sizeof(char16_t), u'\0');
            if (len > 0) std::memcpy(&e.targetName[0], b, len);
            b += len;
        }
        if (p.flags & kHasText) {
            const size_t len = GetVarint(b);
            e.text.assign(b, len);
            b += len;
        }
        if (p.flags & kHasArgs) {
            GetArgs(b, e.args);
            e.argsText = FormatVarList(e.args);
        }
        return e;
    }

    // The fields a filter can test without unpacking, then the rest.
    bool Matches(const EventFilter& f, const Packed& p) const {
        if (p.seq < f.fromSeq) return false;
        if (!f.anyKind && static_cast<EventKind>(p.kind) != f.kind) return false;
        if (!f.anyId && p.id != f.id) return false;
        if (!f.anySender && p.sender != IdBits(f.sender)) return false;
        if (!f.anyTarget && p.target != IdBits(f.target)) return false;
        if (!f.name.empty() && names[p.name] != f.name) return false;
        if (f.contains.empty()) return true;
        return f.Matches(Unpack(p));
    }

    // Readers hand out pointers into views; a long run of reads would keep
    // every copy, so once many are out the oldest are let go.
    void TrimViews() {
        if (views.size() > (size_t{1} << 16)) views.clear();
    }

    const Event* View(const Packed& p) {
        views.push_back(Unpack(p));
        return &views.back();
    }

    Packed* Find(uint64_t seq) {
        if (head == tail) return nullptr;
        // Usually asked for the newest event (a command's answer), else a
        // recent one; seqs are consecutive unless the log was disabled for
        // a while, so the direct position is tried before a search.
        Packed& newest = Newest();
        if (seq == newest.seq) return &newest;
        if (seq > newest.seq || seq < At(head).seq) return nullptr;
        const uint64_t back = newest.seq - seq;
        if (back < Size()) {
            Packed& guess = At(tail - 1 - back);
            if (guess.seq == seq) return &guess;
        }
        const uint64_t i = LowerBound(seq);
        return i < tail && At(i).seq == seq ? &At(i) : nullptr;
    }

    void DropFront(size_t n) {
        head += n;
        // Blocks before the first held record's are free, but never the
        // newest, which `next` points into.
        const uint64_t lastBlock = firstBlock + blocks.size() - 1;
        const uint64_t freeTo = std::min(head >> kBlockShift, lastBlock);
        if (freeTo > firstBlock) {
            blocks.erase(blocks.begin(),
                         blocks.begin() + static_cast<std::ptrdiff_t>(freeTo - firstBlock));
            firstBlock = freeTo;
        }
        // Chunks before the first held event's bytes hold only dropped events.
        // The chunk being filled is kept in any case.
        uint32_t keepFrom =
            chunks.empty() ? firstChunk : firstChunk + static_cast<uint32_t>(chunks.size()) - 1;
        for (uint64_t i = head; i < tail; ++i) {
            const Packed& p = At(i);
            if (p.flags != 0) {
                keepFrom = p.chunk;
                break;
            }
        }
        while (firstChunk < keepFrom && !chunks.empty()) {
            chunks.pop_front();
            ++firstChunk;
        }
        allValid = false;
    }
};

EventLog::EventLog() : m_store(new Store) {}
EventLog::~EventLog() = default;

uint64_t EventLog::Add(Event e) {
    EventFields f;
    f.kind = e.kind;
    f.timeMs = e.timeMs;
    f.sender = e.sender;
    f.target = e.target;
    f.id = e.id;
    f.result = e.result;
    f.name = e.name;
    f.text = e.text;
    f.targetName = e.targetName;
    f.args = &e.args;
    return Add(f);
}

uint64_t EventLog::AddEnabled(const EventFields& fields) {
    const uint64_t seq = m_nextSeq++;
    if (!m_plain) return AddChecked(fields, seq);
    m_store->Pack(fields, seq);
    return seq;
}

// Off, capped or listened to: the checks kept off the common way.
uint64_t EventLog::AddChecked(const EventFields& fields, uint64_t seq) {
    if (!m_enabled) return seq;
    Store& s = *m_store;
    if (m_capacity > 0 && s.Size() >= m_capacity) s.DropFront(s.Size() - m_capacity / 2);
    s.Pack(fields, seq);
    if (m_listener) m_listener(s.Unpack(s.Newest()));
    return seq;
}

const std::vector<Event>& EventLog::events() const {
    Store& s = *m_store;
    if (!s.allValid) {
        s.all.clear();
        s.all.reserve(s.Size());
        for (uint64_t i = s.head; i < s.tail; ++i) s.all.push_back(s.Unpack(s.At(i)));
        s.allValid = true;
    }
    return s.all;
}

size_t EventLog::size() const {
    return m_store->Size();
}

Event* EventLog::Get(uint64_t seq) {
    Store& s = *m_store;
    const Store::Packed* p = s.Find(seq);
    if (p == nullptr) return nullptr;
    s.TrimViews();
    s.views.push_back(s.Unpack(*p));
    return &s.views.back();
}

bool EventLog::SetResult(uint64_t seq, int result) {
    Store::Packed* p = m_store->Find(seq);
    if (p == nullptr) return false;
    p->result = result;
    m_store->allValid = false;
    return true;
}

void EventLog::Clear() {
    Store& s = *m_store;
    s.head = s.tail;
    s.blocks.clear();
    s.firstBlock = s.tail >> kBlockShift;
    s.next = s.nextEnd = nullptr;
    s.firstChunk += static_cast<uint32_t>(s.chunks.size());
    s.chunks.clear();
    s.roomBase = s.room = s.roomEnd = nullptr;
    s.views.clear();
    s.all.clear();
    s.allValid = false;
}

std::vector<const Event*> EventLog::Find(const EventFilter& filter) const {
    Store& s = *m_store;
    s.TrimViews();
    std::vector<const Event*> out;
    for (uint64_t i = s.FirstFor(filter); i < s.tail; ++i)
        if (s.Matches(filter, s.At(i))) out.push_back(s.View(s.At(i)));
    return out;
}

const Event* EventLog::FindFirst(const EventFilter& filter) const {
    Store& s = *m_store;
    s.TrimViews();
    for (uint64_t i = s.FirstFor(filter); i < s.tail; ++i)
        if (s.Matches(filter, s.At(i))) return s.View(s.At(i));
    return nullptr;
}

const Event* EventLog::FindLast(const EventFilter& filter) const {
    Store& s = *m_store;
    s.TrimViews();
    const uint64_t first = s.FirstFor(filter);
    for (uint64_t i = s.tail; i > first; --i)
        if (s.Matches(filter, s.At(i - 1))) return s.View(s.At(i - 1));
    return nullptr;
}

size_t EventLog::Count(const EventFilter& filter) const {
    const Store& s = *m_store;
    size_t n = 0;
    for (uint64_t i = s.FirstFor(filter); i < s.tail; ++i)
        if (s.Matches(filter, s.At(i))) ++n;
    return n;
}

void EventLog::WriteTo(std::FILE* out) const {
    const Store& s = *m_store;
    for (uint64_t i = s.head; i < s.tail; ++i) {
        const std::string line = s.Unpack(s.At(i)).ToString();
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    }
}

std::string EventLog::Dump() const {
    const Store& s = *m_store;
    std::string text;
    for (uint64_t i = s.head; i < s.tail; ++i) {
        text += s.Unpack(s.At(i)).ToString();
        text += '\n';
    }
    return text;
}

size_t EventLog::MemoryBytes() const {
    const Store& s = *m_store;
    size_t n = s.Size() * sizeof(Store::Packed);
    for (const Store::Chunk& c : s.chunks) n += c.size;
    return n;
}

}  // namespace host
