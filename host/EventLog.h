// The host's event log: every command, message, notice, property change of
// interest, heartbeat attach/detach and log line of a world, stamped with the
// virtual time, kept in order for scenarios and tests to read and match.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "HostVarList.h"
#include "ObjectId.h"

namespace host {

enum class EventKind {
    Command,          // Command(sender, target, args); id = args[0], result = the answer
    CommandByName,    // CommandByName(name, args); result = 1 delivered here, 2 elsewhere, 0 not
    CommandOffline,   // CommandOffline(name, player, senderName, senderNameId, msg)
    Custom,           // Custom(sender, target, args); id = args[0]
    SysInfo,          // SysInfo(player, kind, textId, args); id = info kind
    SysInfoByWorld,   // SysInfoByWorld(kind, textId, args); id = info kind
    Property,         // a property write that changed the value; name, args = [new value]
    HeartbeatAdd,     // name = heartbeat, id = interval ms
    HeartbeatRemove,  // name = heartbeat
    ClassEvent,       // class event raised by the host; name = event
    Trace,            // text = the raw (GBK) line
    Echo,             // text = the raw (GBK) line
    Host,             // the host's own notes and refusals ("[host] ..."); text
    Note,             // stand-in scripts and scenarios: name = what, text = detail
};

// "command", "command_by_name", "command_offline", "custom", "sysinfo",
// "sysinfo_world", "property", "heartbeat_add", "heartbeat_remove",
// "class_event", "trace", "echo", "host", "note".
const char* EventKindName(EventKind kind);
// Inverse of EventKindName; false for an unknown name.
bool ParseEventKind(const std::string& name, EventKind& kind);

struct Event {
    uint64_t seq = 0;    // position in the whole log, from 0, never reused
    int64_t timeMs = 0;  // virtual time when it happened
    EventKind kind = EventKind::Host;
    ObjectId sender;            // sender / notified player / object whose property changed
    ObjectId target;            // target object where there is one
    std::u16string targetName;  // CommandByName / CommandOffline: the player name
    int id = 0;                 // command or message id, notice kind, heartbeat interval
    int result = 0;             // Command answer, delivery result
    std::string name;           // notice text id, property name, heartbeat name, event name
    std::string text;           // Trace/Echo/Host/Note line (raw bytes)
    HostVarList args;           // typed arguments
    std::string argsText;       // FormatVarList(args)

    // One line: "[12.500s] command obj#1:1 -> obj#2:1 [1001, ...] = 1"
    std::string ToString() const;
};

// Filter for reading the log. Empty fields match everything.
struct EventFilter {
    bool anyKind = true;
    EventKind kind = EventKind::Command;
    bool anyId = true;
    int id = 0;
    bool anySender = true;
    ObjectId sender;
    bool anyTarget = true;
    ObjectId target;
    std::string name;      // exact, when not empty
    std::string contains;  // substring of text or argsText, when not empty
    uint64_t fromSeq = 0;  // only events with seq >= fromSeq

    static EventFilter OfKind(EventKind k) {
        EventFilter f;
        f.anyKind = false;
        f.kind = k;
        return f;
    }
    static EventFilter CommandId(int commandId) {
        EventFilter f = OfKind(EventKind::Command);
        f.anyId = false;
        f.id = commandId;
        return f;
    }
    bool Matches(const Event& e) const;
};

// What a caller records: texts by view and arguments by reference, so nothing
// is copied or formatted when the log is off, and only packed bytes when on.
struct EventFields {
    EventKind kind = EventKind::Host;
    int64_t timeMs = 0;
    ObjectId sender;
    ObjectId target;
    int id = 0;
    int result = 0;
    std::string_view name;
    std::string_view text;
    std::u16string_view targetName;
    const IVarList* args = nullptr;
    // Instead of args: a single value, recorded as a list holding just it
    // (property changes pass the stored value without building a list).
    const Value* value = nullptr;
};

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Appends (seq is assigned here) and returns the seq.
    uint64_t Add(Event e);
    // Inline, so that a disabled log costs its callers next to nothing.
    uint64_t Add(const EventFields& fields) {
        if (!m_enabled) return m_nextSeq++;
        return AddEnabled(fields);
    }
    // What Add does when the log is off: the event only takes its seq. For
    // callers that test enabled() first and then need not fill any fields.
    uint64_t Skip() { return m_nextSeq++; }

    // Events still held, oldest first. With a capacity set, the oldest are
    // dropped; seq numbers keep counting. Events are kept packed; this view
    // is unpacked on demand and stays valid until the log changes.
    const std::vector<Event>& events() const;
    size_t size() const;
    // seq the next event will get: a mark for "everything after now".
    uint64_t NextSeq() const { return m_nextSeq; }
    void Clear();
    // 0 = unlimited. When exceeded, the oldest half is dropped at once.
    void SetCapacity(size_t maxEvents) {
        m_capacity = maxEvents;
        UpdatePlain();
    }

    // A copy of the held event with that seq, or null (dropped or not yet
    // added); writing to it does not change the log (SetResult does).
    Event* Get(uint64_t seq);
    // Sets the result of a held event; false when it is not held.
    bool SetResult(uint64_t seq, int result);
    // A disabled log drops what is added (benchmarks); seq still counts.
    void SetEnabled(bool on) {
        m_enabled = on;
        UpdatePlain();
    }
    bool enabled() const { return m_enabled; }

    // Pointers handed out by the readers stay valid until Clear.
    std::vector<const Event*> Find(const EventFilter& filter) const;
    const Event* FindFirst(const EventFilter& filter) const;
    const Event* FindLast(const EventFilter& filter) const;
    size_t Count(const EventFilter& filter) const;

    // Called for each event as it is added (log file, live output).
    using Listener = std::function<void(const Event&)>;
    void SetListener(Listener listener) {
        m_listener = std::move(listener);
        UpdatePlain();
    }

    // Every held event, one ToString() line each (raw bytes kept).
    void WriteTo(std::FILE* out) const;
    std::string Dump() const;

    // Bytes the held events take (packed records and their text), for
    // measuring the cost of a long log.
    size_t MemoryBytes() const;

private:
    struct Store;
    uint64_t AddEnabled(const EventFields& fields);
    uint64_t AddChecked(const EventFields& fields, uint64_t seq);
    // Adding needs no check beyond packing: on, no capacity, no listener.
    void UpdatePlain() { m_plain = m_enabled && m_capacity == 0 && !m_listener; }
    std::unique_ptr<Store> m_store;
    uint64_t m_nextSeq = 0;
    size_t m_capacity = 0;
    bool m_enabled = true;
    bool m_plain = true;
    Listener m_listener;
};

}  // namespace host
