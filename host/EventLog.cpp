// The event log: event kinds and lines, filters, and the packed store that
// holds a long run's events compactly.
#include "EventLog.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <unordered_map>

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

namespace {

constexpr size_t kChunkBytes = size_t{1} << 18;

enum : uint8_t { kHasTargetName = 1, kHasText = 2, kHasArgs = 4 };

// Bytes of the event being packed: a reused buffer written through a
// pointer, since every command and property change of a run passes here.
struct ByteWriter {
    std::vector<char> buf;
    size_t len = 0;

    char* Room(size_t n) {
        if (buf.size() - len < n) buf.resize(std::max(buf.size() * 2, len + n + 256));
        return buf.data() + len;
    }
    void Byte(uint8_t b) {
        *Room(1) = static_cast<char>(b);
        ++len;
    }
    void Put(const void* data, size_t n) {
        if (n == 0) return;
        std::memcpy(Room(n), data, n);
        len += n;
    }
    template <typename T>
    void Raw(const T& v) {
        Put(&v, sizeof v);
    }
    void Varint(uint64_t v) {
        char* d = Room(10);
        size_t k = 0;
        while (v >= 0x80) {
            d[k++] = static_cast<char>(0x80 | (v & 0x7f));
            v >>= 7;
        }
        d[k++] = static_cast<char>(v);
        len += k;
    }
    void Bytes(const void* data, size_t n) {
        Varint(n);
        Put(data, n);
    }
};

uint64_t GetVarint(const char*& p) {
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

bool KeptType(int type) {
    return type >= VTYPE_INT && type <= VTYPE_INT64;
}

// The arguments as HostVarList's copy keeps them: untagged, none, bool and
// unknown codes skipped. False (nothing written) when none is kept.
bool PutArgs(ByteWriter& out, const IVarList& args) {
    const uint64_t n = args.GetCount();
    // The types of the first entries are kept from the count for the write.
    constexpr uint64_t kRemembered = 32;
    uint8_t types[kRemembered];
    uint64_t kept = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int type = args.GetType(i);
        if (i < kRemembered) types[i] = static_cast<uint8_t>(type);
        kept += KeptType(type) ? 1 : 0;
    }
    if (kept == 0) return false;
    out.Varint(kept);
    for (uint64_t i = 0; i < n; ++i) {
        const int type = i < kRemembered ? types[i] : args.GetType(i);
        if (!KeptType(type)) continue;
        out.Byte(static_cast<uint8_t>(type));
        switch (type) {
            case VTYPE_INT:
                out.Raw(int32_t{args.IntVal(i)});
                break;
            case VTYPE_FLOAT:
                out.Raw(args.FloatVal(i));
                break;
            case VTYPE_STRING: {
                const char* s = args.StringVal(i);
                out.Bytes(s, s == nullptr ? 0 : std::strlen(s));
                break;
            }
            case VTYPE_WIDESTR: {
                const char16_t* s = args.WideStrVal(i);
                const size_t len = s == nullptr ? 0 : std::char_traits<char16_t>::length(s);
                out.Bytes(s, len * sizeof(char16_t));
                break;
            }
            case VTYPE_OBJECT: {
                const ObjectId id = args.ObjectVal(i);
                out.Raw(id.ident);
                out.Raw(id.serial);
                break;
            }
            case VTYPE_USERDATA: {
                uint64_t size = 0;
                const void* p = args.UserDataVal(i, size);
                out.Bytes(p, p == nullptr ? 0 : size);
                break;
            }
            default:  // VTYPE_INT64
                out.Raw(int64_t{args.Int64Val(i)});
                break;
        }
    }
    return true;
}

// The bytes PutArgs writes for a list holding just v (nothing, false, for
// the types a list skips).
bool PutValue(ByteWriter& out, const Value& v) {
    const int type = TypeOf(v);
    if (!KeptType(type)) return false;
    out.Varint(1);
    out.Byte(static_cast<uint8_t>(type));
    switch (type) {
        case VTYPE_INT:
            out.Raw(std::get<int32_t>(v));
            break;
        case VTYPE_FLOAT:
            out.Raw(std::get<float>(v));
            break;
        case VTYPE_STRING: {
            const char* s =
                std::get<std::string>(v).c_str();  // up to a zero byte, as a list reads it
            out.Bytes(s, std::strlen(s));
            break;
        }
        case VTYPE_WIDESTR: {
            const char16_t* s = std::get<std::u16string>(v).c_str();
            out.Bytes(s, std::char_traits<char16_t>::length(s) * sizeof(char16_t));
            break;
        }
        case VTYPE_OBJECT: {
            const ObjectId& id = std::get<ObjectId>(v);
            out.Raw(id.ident);
            out.Raw(id.serial);
            break;
        }
        case VTYPE_USERDATA: {
            const auto& bytes = std::get<std::vector<uint8_t>>(v);
            out.Bytes(bytes.data(), bytes.size());
            break;
        }
        default:  // VTYPE_INT64
            out.Raw(std::get<int64_t>(v));
            break;
    }
    return true;
}

void GetArgs(const char*& p, HostVarList& out) {
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

}  // namespace

struct EventLog::Store {
    struct Packed {
        uint64_t seq;
        int64_t timeMs;
        ObjectId sender;
        ObjectId target;
        int32_t id;
        int32_t result;
        uint32_t name;   // interned; 0 = empty
        uint32_t chunk;  // absolute chunk number of the bytes
        uint32_t pos;    // offset in that chunk
        uint8_t kind;
        uint8_t flags;
    };
    struct Chunk {
        std::unique_ptr<char[]> data;
        size_t size = 0;
        size_t used = 0;
    };

    std::deque<Packed> events;
    std::deque<Chunk> chunks;
    uint32_t firstChunk = 0;  // absolute number of chunks.front()
    std::deque<std::string> names{std::string()};
    std::unordered_map<std::string_view, uint32_t> nameIds;
    ByteWriter scratch;
    // Recent names by where their text lies (checked against the text):
    // most names come from the same few declarations again and again.
    struct NameHit {
        const char* data = nullptr;
        size_t size = 0;
        uint32_t id = 0;
    };
    NameHit nameHits[64];
    // Unpacked copies handed out by the readers (stable addresses).
    std::deque<Event> views;
    std::vector<Event> all;
    bool allValid = false;

    uint32_t Intern(std::string_view name) {
        if (name.empty()) return 0;
        const uintptr_t at = reinterpret_cast<uintptr_t>(name.data());
        NameHit& hit = nameHits[((at >> 3) ^ (at >> 9) ^ name.size()) & 63];
        if (hit.data == name.data() && hit.size == name.size() &&
            std::memcmp(names[hit.id].data(), name.data(), name.size()) == 0)
            return hit.id;
        const uint32_t id = InternSlow(name);
        hit = {name.data(), name.size(), id};
        return id;
    }
    uint32_t InternSlow(std::string_view name) {
        auto it = nameIds.find(name);
        if (it != nameIds.end()) return it->second;
        names.emplace_back(name);
        const uint32_t id = static_cast<uint32_t>(names.size() - 1);
        nameIds.emplace(names.back(), id);
        return id;
    }

    // Copies scratch into the chunks; sets where it went.
    void Place(Packed& p) {
        const size_t n = scratch.len;
        if (n == 0) {
            p.chunk = 0;
            p.pos = 0;
            return;
        }
        if (chunks.empty() || chunks.back().size - chunks.back().used < n) {
            Chunk c;
            c.size = std::max(kChunkBytes, n);
            c.data.reset(new char[c.size]);
            chunks.push_back(std::move(c));
        }
        Chunk& c = chunks.back();
        std::memcpy(c.data.get() + c.used, scratch.buf.data(), n);
        p.chunk = firstChunk + static_cast<uint32_t>(chunks.size() - 1);
        p.pos = static_cast<uint32_t>(c.used);
        c.used += n;
    }

    void Pack(const EventFields& f, uint64_t seq) {
        Packed p{};
        p.seq = seq;
        p.timeMs = f.timeMs;
        p.sender = f.sender;
        p.target = f.target;
        p.id = f.id;
        p.result = f.result;
        p.name = Intern(f.name);
        p.kind = static_cast<uint8_t>(f.kind);
        scratch.len = 0;
        if (!f.targetName.empty()) {
            p.flags |= kHasTargetName;
            scratch.Bytes(f.targetName.data(), f.targetName.size() * sizeof(char16_t));
        }
        if (!f.text.empty()) {
            p.flags |= kHasText;
            scratch.Bytes(f.text.data(), f.text.size());
        }
        if (f.value != nullptr) {
            if (PutValue(scratch, *f.value)) p.flags |= kHasArgs;
        } else if (f.args != nullptr && f.args->GetCount() > 0 && PutArgs(scratch, *f.args)) {
            p.flags |= kHasArgs;
        }
        Place(p);
        events.push_back(p);
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
        e.sender = p.sender;
        e.target = p.target;
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
        if (!f.anySender && p.sender != f.sender) return false;
        if (!f.anyTarget && p.target != f.target) return false;
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
        if (events.empty() || seq > events.back().seq || seq < events.front().seq) return nullptr;
        // Usually asked for a recent event, and seqs are consecutive unless
        // the log was disabled for a while: try the direct position first.
        const uint64_t back = events.back().seq - seq;
        if (back < events.size()) {
            Packed& guess = events[events.size() - 1 - back];
            if (guess.seq == seq) return &guess;
        }
        auto it = std::lower_bound(events.begin(), events.end(), seq,
                                   [](const Packed& e, uint64_t s) { return e.seq < s; });
        return it != events.end() && it->seq == seq ? &*it : nullptr;
    }

    void DropFront(size_t n) {
        events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(n));
        // Chunks before the first held event's bytes hold only dropped events.
        // The chunk being filled is kept in any case.
        uint32_t keepFrom =
            chunks.empty() ? firstChunk : firstChunk + static_cast<uint32_t>(chunks.size()) - 1;
        for (const Packed& p : events)
            if (p.flags != 0) {
                keepFrom = p.chunk;
                break;
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

uint64_t EventLog::Add(const EventFields& fields) {
    const uint64_t seq = m_nextSeq++;
    if (!m_enabled) return seq;
    Store& s = *m_store;
    if (m_capacity > 0 && s.events.size() >= m_capacity)
        s.DropFront(s.events.size() - m_capacity / 2);
    s.Pack(fields, seq);
    if (m_listener) m_listener(s.Unpack(s.events.back()));
    return seq;
}

const std::vector<Event>& EventLog::events() const {
    Store& s = *m_store;
    if (!s.allValid) {
        s.all.clear();
        s.all.reserve(s.events.size());
        for (const Store::Packed& p : s.events) s.all.push_back(s.Unpack(p));
        s.allValid = true;
    }
    return s.all;
}

size_t EventLog::size() const {
    return m_store->events.size();
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
    s.events.clear();
    s.firstChunk += static_cast<uint32_t>(s.chunks.size());
    s.chunks.clear();
    s.views.clear();
    s.all.clear();
    s.allValid = false;
}

std::vector<const Event*> EventLog::Find(const EventFilter& filter) const {
    m_store->TrimViews();
    std::vector<const Event*> out;
    for (const Store::Packed& p : m_store->events)
        if (m_store->Matches(filter, p)) out.push_back(m_store->View(p));
    return out;
}

const Event* EventLog::FindFirst(const EventFilter& filter) const {
    m_store->TrimViews();
    for (const Store::Packed& p : m_store->events)
        if (m_store->Matches(filter, p)) return m_store->View(p);
    return nullptr;
}

const Event* EventLog::FindLast(const EventFilter& filter) const {
    m_store->TrimViews();
    const auto& events = m_store->events;
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if (m_store->Matches(filter, *it)) return m_store->View(*it);
    return nullptr;
}

size_t EventLog::Count(const EventFilter& filter) const {
    size_t n = 0;
    for (const Store::Packed& p : m_store->events)
        if (m_store->Matches(filter, p)) ++n;
    return n;
}

void EventLog::WriteTo(std::FILE* out) const {
    for (const Store::Packed& p : m_store->events) {
        const std::string line = m_store->Unpack(p).ToString();
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    }
}

std::string EventLog::Dump() const {
    std::string s;
    for (const Store::Packed& p : m_store->events) {
        s += m_store->Unpack(p).ToString();
        s += '\n';
    }
    return s;
}

size_t EventLog::MemoryBytes() const {
    const Store& s = *m_store;
    size_t n = s.events.size() * sizeof(Store::Packed);
    for (const Store::Chunk& c : s.chunks) n += c.size;
    return n;
}

}  // namespace host
