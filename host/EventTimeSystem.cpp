// The event-time host module: time texts, time points and the commands they send when due.
#include "EventTimeSystem.h"

#include <cctype>
#include <climits>

#include "Kernel.h"

namespace host {

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// Exactly one or two digits, 0 .. max.
bool TwoDigits(const std::string& s, int max, int& out) {
    if (s.empty() || s.size() > 2) return false;
    int v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}

bool ParseItem(const std::string& item, EventTimeSystem::TimePoint& p, std::string& why) {
    if (item.empty()) {
        why = "empty time";
        return false;
    }
    if (item[0] == '+') {
        const std::string digits = item.substr(1);
        if (digits.empty() || digits.size() > 10) {
            why = "\"" + item + "\": +N needs 1 to 10 digits";
            return false;
        }
        long long v = 0;
        for (char c : digits) {
            if (!std::isdigit(static_cast<unsigned char>(c))) {
                why = "\"" + item + "\": +N takes digits only";
                return false;
            }
            v = v * 10 + (c - '0');
        }
        if (v < 1 || v > INT_MAX) {
            why = "\"" + item + "\": +N must be 1 .. 2147483647 seconds";
            return false;
        }
        p.once = true;
        p.offsetMs = v * 1000;
        return true;
    }
    const size_t c1 = item.find(':');
    if (c1 == std::string::npos) {
        why = "\"" + item + "\": expected HH:MM, HH:MM:SS or +N";
        return false;
    }
    const size_t c2 = item.find(':', c1 + 1);
    int h = 0, m = 0, s = 0;
    const std::string hs = item.substr(0, c1);
    const std::string ms =
        item.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    const bool ok = TwoDigits(hs, 23, h) && TwoDigits(ms, 59, m) &&
                    (c2 == std::string::npos || TwoDigits(item.substr(c2 + 1), 59, s));
    if (!ok) {
        why = "\"" + item + "\": hours 0-23, minutes and seconds 0-59, one or two digits each";
        return false;
    }
    p.once = false;
    p.offsetMs = ((h * 60LL + m) * 60 + s) * 1000;
    return true;
}

}  // namespace

EventTimeSystem::EventTimeSystem(Kernel& kernel) : m_kernel(kernel) {}

bool EventTimeSystem::ParseTimeText(const std::string& text, std::vector<TimePoint>& points,
                                    std::string& why) {
    points.clear();
    size_t start = 0;
    while (true) {
        const size_t semi = text.find(';', start);
        const std::string item =
            Trim(text.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
        TimePoint p;
        if (!ParseItem(item, p, why)) {
            points.clear();
            return false;
        }
        points.push_back(p);
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return true;
}

bool EventTimeSystem::AddTimePointEvent(int kind, const char* timeText, int param,
                                        const IVarList& args) {
    const std::string text = timeText == nullptr ? std::string() : timeText;
    std::vector<TimePoint> points;
    std::string why;
    if (!ParseTimeText(text, points, why)) {
        m_kernel.HostLog("time point refused (kind " + std::to_string(kind) + ", text \"" + text +
                         "\"): " + why);
        return false;
    }
    HostVarList copy(args);
    m_kernel.Note(
        "time_point",
        "kind " + std::to_string(kind) + " at \"" + text + "\" param " + std::to_string(param),
        ObjectId{}, &copy);
    for (const TimePoint& p : points) {
        Event e;
        e.kind = kind;
        e.param = param;
        e.text = text;
        e.args = copy;
        e.point = p;
        m_events.push_back(std::move(e));
        const size_t index = m_events.size() - 1;
        const int64_t now = m_kernel.Now();
        int64_t due;
        if (p.once) {
            due = now + p.offsetMs;
        } else {
            // Next occurrence strictly after now.
            const int64_t dayStart = now - now % kDayMs;
            due = dayStart + p.offsetMs;
            if (due <= now) due += kDayMs;
        }
        Arm(index, due);
    }
    return true;
}

void EventTimeSystem::Arm(size_t index, int64_t due) {
    m_events[index].timer = m_kernel.ScheduleAt(due, [this, index] { Deliver(index); });
}

void EventTimeSystem::Deliver(size_t index) {
    // Copy what the delivery needs: commands may register more time points,
    // which grows m_events.
    const int kind = m_events[index].kind;
    const HostVarList args = m_events[index].args;
    const bool once = m_events[index].point.once;
    if (once) {
        m_events[index].live = false;
    } else {
        Arm(index, m_kernel.Now() + kDayMs);
    }
    ++m_deliveries;
    HostVarList msg;
    msg.AddInt(kCommandId);
    msg.AddInt(kind);
    msg.Concat(args);
    // A time point about an object that stands in a scene goes to that scene
    // only: a handler answering it with a world notice would otherwise speak
    // once per scene.
    std::vector<ObjectId> scenes;
    for (uint64_t i = 0; i < args.GetCount(); ++i) {
        if (args.GetType(i) != VTYPE_OBJECT) continue;
        const ObjectId scene = m_kernel.SceneOf(args.ObjectVal(i));
        if (m_kernel.Exists(scene)) scenes.push_back(scene);
        break;
    }
    if (scenes.empty()) scenes = m_kernel.ObjectsOfClass("BaseScene");
    if (scenes.empty()) {
        m_kernel.HostLog("time point of kind " + std::to_string(kind) +
                         " is due but there is no scene to deliver command 326 to");
        return;
    }
    for (const ObjectId& scene : scenes)
        if (m_kernel.Exists(scene)) m_kernel.Command(scene, scene, msg);
}

size_t EventTimeSystem::PendingCount() const {
    size_t n = 0;
    for (const Event& e : m_events)
        if (e.live) ++n;
    return n;
}

}  // namespace host
