#include "EventLog.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

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

uint64_t EventLog::Add(Event e) {
    const uint64_t seq = m_nextSeq++;
    if (!m_enabled) return seq;
    e.seq = seq;
    if (e.argsText.empty() && !e.args.IsEmpty()) e.argsText = FormatVarList(e.args);
    if (m_capacity > 0 && m_events.size() >= m_capacity) {
        const size_t drop = m_events.size() - m_capacity / 2;
        m_events.erase(m_events.begin(), m_events.begin() + static_cast<std::ptrdiff_t>(drop));
    }
    m_events.push_back(std::move(e));
    if (m_listener) m_listener(m_events.back());
    return seq;
}

Event* EventLog::Get(uint64_t seq) {
    if (m_events.empty() || seq > m_events.back().seq) return nullptr;
    // Usually asked for a recent event, and seqs are consecutive unless the
    // log was disabled for a while: try the direct position first.
    const uint64_t back = m_events.back().seq - seq;
    if (back < m_events.size()) {
        Event& guess = m_events[m_events.size() - 1 - back];
        if (guess.seq == seq) return &guess;
    }
    auto it = std::lower_bound(m_events.begin(), m_events.end(), seq,
                               [](const Event& e, uint64_t s) { return e.seq < s; });
    return it != m_events.end() && it->seq == seq ? &*it : nullptr;
}

void EventLog::Clear() {
    m_events.clear();
}

std::vector<const Event*> EventLog::Find(const EventFilter& filter) const {
    std::vector<const Event*> out;
    for (const Event& e : m_events)
        if (filter.Matches(e)) out.push_back(&e);
    return out;
}

const Event* EventLog::FindFirst(const EventFilter& filter) const {
    for (const Event& e : m_events)
        if (filter.Matches(e)) return &e;
    return nullptr;
}

const Event* EventLog::FindLast(const EventFilter& filter) const {
    for (auto it = m_events.rbegin(); it != m_events.rend(); ++it)
        if (filter.Matches(*it)) return &*it;
    return nullptr;
}

size_t EventLog::Count(const EventFilter& filter) const {
    size_t n = 0;
    for (const Event& e : m_events)
        if (filter.Matches(e)) ++n;
    return n;
}

void EventLog::WriteTo(std::FILE* out) const {
    for (const Event& e : m_events) {
        std::string line = e.ToString();
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    }
}

std::string EventLog::Dump() const {
    std::string s;
    for (const Event& e : m_events) {
        s += e.ToString();
        s += '\n';
    }
    return s;
}

}  // namespace host
