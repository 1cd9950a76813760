// Kernel heartbeats and the virtual clock: declared beats attached to objects,
// host timers, and advancing time in due order.

#include <algorithm>
#include <climits>
#include <exception>

#include "Kernel.h"
#include "KernelInternal.h"

namespace {
constexpr uint64_t kTimerFlag = uint64_t{1} << 63;
}  // namespace

namespace host {

using namespace kernel_detail;

// ---- heartbeats and the clock ------------------------------------------------------------------

uint32_t Kernel::InternName(const std::string& name) {
    auto it = m_nameIds.find(name);
    if (it != m_nameIds.end()) return it->second;
    const uint32_t id = static_cast<uint32_t>(m_names.size());
    m_names.push_back(name);
    m_beatFuncs.push_back(nullptr);
    m_nameIds[name] = id;
    return id;
}

bool Kernel::DeclareHeartBeat(const char* name, HeartBeatFunc func) {
    if (name == nullptr || *name == '\0' || func == nullptr) {
        HostLog("DeclareHeartBeat refused: no name or no function");
        return false;
    }
    const uint32_t id = InternName(name);
    if (m_beatFuncs[id] != nullptr && m_beatFuncs[id] != func) {
        HostLog(Format("DeclareHeartBeat(\"%s\") refused: the name is bound to another function",
                       name));
        return false;
    }
    m_beatFuncs[id] = func;
    return true;
}

bool Kernel::AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) {
    Object* o = Get(obj);
    const std::string beatName = Str(name);
    if (o == nullptr) {
        HostLog(Format("AddHeartBeat(%s, \"%s\") refused: no such object", Obj(obj).c_str(),
                       beatName.c_str()));
        return false;
    }
    auto nit = m_nameIds.find(beatName);
    if (nit == m_nameIds.end() || m_beatFuncs[nit->second] == nullptr) {
        HostLog(Format("AddHeartBeat(%s, \"%s\") refused: the heartbeat is not declared",
                       Obj(obj).c_str(), beatName.c_str()));
        return false;
    }
    if (intervalMs < 1) {
        HostLog(Format("AddHeartBeat(%s, \"%s\", %d) refused: the interval must be at least 1 ms",
                       Obj(obj).c_str(), beatName.c_str(), intervalMs));
        return false;
    }
    for (uint32_t b : o->beats) {
        if (m_beats[b].name == nit->second) {  // carried at most once
            ++m_repeatedBeatAttaches;
            return false;
        }
    }
    uint32_t idx;
    if (!m_freeBeats.empty()) {
        idx = m_freeBeats.back();
        m_freeBeats.pop_back();
    } else {
        idx = static_cast<uint32_t>(m_beats.size());
        m_beats.emplace_back();
    }
    Beat& b = m_beats[idx];
    b.obj = obj;
    b.name = nit->second;
    b.interval = intervalMs;
    b.due = m_now + intervalMs;
    b.seq = m_attachSeq++;
    b.gen = (b.gen + 1) & 0x7fffffffu;
    b.live = true;
    const uint64_t payload = (uint64_t{b.gen} << 32) | idx;
    b.timer = m_wheel.Schedule(b.due, b.seq, payload, intervalMs);
    o->beats.push_back(idx);
    ++m_liveBeats;
    {
        EventFields e;
        e.timeMs = m_now;
        e.kind = EventKind::HeartbeatAdd;
        e.sender = obj;
        e.name = m_names[nit->second];
        e.id = intervalMs;
        m_log.Add(e);
    }
    return true;
}

void Kernel::DetachBeat(uint32_t idx, bool logRemoval) {
    Beat& b = m_beats[idx];
    if (!b.live) return;
    m_wheel.Cancel(b.timer);
    b.live = false;
    if (Object* o = Get(b.obj)) {
        auto& beats = o->beats;
        beats.erase(std::remove(beats.begin(), beats.end(), idx), beats.end());
    }
    if (logRemoval) {
        EventFields e;
        e.timeMs = m_now;
        e.kind = EventKind::HeartbeatRemove;
        e.sender = b.obj;
        e.name = m_names[b.name];
        m_log.Add(e);
    }
    m_freeBeats.push_back(idx);
    --m_liveBeats;
}

bool Kernel::RemoveHeartBeat(const ObjectId& obj, const char* name) {
    Object* o = Get(obj);
    if (o == nullptr || name == nullptr) return false;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return false;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) {
            DetachBeat(b, true);
            return true;
        }
    return false;
}

bool Kernel::FindHeartBeat(const ObjectId& obj, const char* name) {
    return HeartbeatInterval(obj, Str(name)) > 0;
}

int Kernel::HeartbeatInterval(const ObjectId& obj, const std::string& name) const {
    const Object* o = Get(obj);
    if (o == nullptr) return 0;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return 0;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) return m_beats[b].interval;
    return 0;
}

int64_t Kernel::HeartbeatDue(const ObjectId& obj, const std::string& name) const {
    const Object* o = Get(obj);
    if (o == nullptr) return -1;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return -1;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) return m_beats[b].due;
    return -1;
}

uint64_t Kernel::ScheduleAt(int64_t dueMs, std::function<void()> fn) {
    uint32_t idx;
    if (!m_freeTimers.empty()) {
        idx = m_freeTimers.back();
        m_freeTimers.pop_back();
    } else {
        idx = static_cast<uint32_t>(m_timers.size());
        m_timers.emplace_back();
    }
    Timer& t = m_timers[idx];
    t.fn = std::move(fn);
    t.gen = (t.gen + 1) & 0x7fffffffu;
    t.live = true;
    const int64_t due = dueMs <= m_now ? m_now + 1 : dueMs;
    const uint64_t payload = kTimerFlag | (uint64_t{t.gen} << 32) | idx;
    t.wheel = m_wheel.Schedule(due, m_attachSeq++, payload);
    return payload & ~kTimerFlag;
}

bool Kernel::CancelTimer(uint64_t handle) {
    const uint32_t idx = static_cast<uint32_t>(handle);
    const uint32_t gen = static_cast<uint32_t>(handle >> 32) & 0x7fffffffu;
    if (idx >= m_timers.size()) return false;
    Timer& t = m_timers[idx];
    if (!t.live || t.gen != gen) return false;
    m_wheel.Cancel(t.wheel);
    t.live = false;
    t.fn = nullptr;
    m_freeTimers.push_back(idx);
    return true;
}

void Kernel::FireBeat(uint64_t payload, int64_t due) {
    if (payload & kTimerFlag) {
        const uint32_t idx = static_cast<uint32_t>(payload);
        const uint32_t gen = static_cast<uint32_t>(payload >> 32) & 0x7fffffffu;
        if (idx >= m_timers.size() || !m_timers[idx].live || m_timers[idx].gen != gen) return;
        std::function<void()> fn = std::move(m_timers[idx].fn);
        m_timers[idx].live = false;
        m_timers[idx].fn = nullptr;
        m_freeTimers.push_back(idx);
        try {
            if (fn) fn();
        } catch (const std::exception& e) {
            HostLog(std::string("a host timer threw: ") + e.what());
        }
        return;
    }
    const uint32_t idx = static_cast<uint32_t>(payload);
    const uint32_t gen = static_cast<uint32_t>(payload >> 32);
    if (idx >= m_beats.size() || !m_beats[idx].live || m_beats[idx].gen != gen) return;
    const ObjectId obj = m_beats[idx].obj;
    const HeartBeatFunc fn = m_beatFuncs[m_beats[idx].name];
    if (Get(obj) == nullptr) {
        DetachBeat(idx, false);
        return;
    }
    if (m_options.logHeartbeatFires) Note("heartbeat", m_names[m_beats[idx].name], obj);
    if (EnterDispatch("heartbeat", obj)) {
        try {
            fn(this, obj);
        } catch (...) {
            HostLog("heartbeat " + m_names[m_beats[idx].name] + " threw");
        }
        LeaveDispatch();
    }
    // The wheel has re-armed the beat already; a removal inside the
    // callback cancelled that. m_beats may have grown meanwhile: index again.
    Beat& b = m_beats[idx];
    if (b.live && b.gen == gen) b.due = due + b.interval;
}

void Kernel::AdvanceTime(int64_t ms) {
    if (ms < 0) {
        HostLog(Format("AdvanceTime(%lld) refused: time does not run backwards",
                       static_cast<long long>(ms)));
        return;
    }
    if (m_advancing || m_depth > 0) {
        HostLog("AdvanceTime inside a callback refused");
        return;
    }
    m_advancing = true;
    constexpr int64_t kEnd = INT64_MAX / 4;
    const int64_t target = ms > kEnd - m_now ? kEnd : m_now + ms;
    std::vector<HeartbeatWheel::Expired>& batch = m_beatBatch;  // reused: no nesting here
    int64_t when = 0;
    while (m_wheel.PopDue(target, batch, when)) {
        m_now = when;
        for (size_t i = 0; i < batch.size(); ++i) {
            // Beats of one millisecond lie scattered in memory: fetch a few ahead.
            if (i + 4 < batch.size() && !(batch[i + 4].payload & kTimerFlag)) {
                const uint32_t ahead = static_cast<uint32_t>(batch[i + 4].payload);
                if (ahead < m_beats.size()) __builtin_prefetch(&m_beats[ahead]);
            }
            FireBeat(batch[i].payload, when);
        }
    }
    m_now = target;
    m_advancing = false;
}

}  // namespace host
