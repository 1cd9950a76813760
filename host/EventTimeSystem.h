// The host module "EventTimeSystem": time points on the virtual clock that
// come back, when due, as command 326 to scene objects (class BaseScene or
// derived), args [326, kind, then the registered args], sender = the scene
// itself. The command goes to the scene of the first object among the args
// when that object stands in a live scene, otherwise to every scene.
//
// Time text syntax (blanks around items are ignored):
//   "HH:MM"          every day at that time; virtual time 0 is 00:00 of day 0.
//   "HH:MM:SS"       the same with seconds.
//   "A;B;..."        several daily times (each as above).
//   "+N"             once, N seconds (1 .. 2^31-1) after the registration.
// A daily time first fires at its next occurrence strictly after the current
// virtual time. Anything else (empty items, hours above 23, minutes or
// seconds above 59, signs, trailing text) is refused: false and a host log line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HostVarList.h"
#include "IHostModules.h"

namespace host {

class Kernel;

class EventTimeSystem final : public IEventTimeSystem {
public:
    static constexpr int kCommandId = 326;
    static constexpr int64_t kDayMs = 24LL * 3600 * 1000;

    struct TimePoint {
        bool once = false;
        int64_t offsetMs = 0;  // daily: time of day; once: delay
    };

    explicit EventTimeSystem(Kernel& kernel);

    bool AddTimePointEvent(int kind, const char* timeText, int param,
                           const IVarList& args) override;

    // Parses a time text; false with why set when it is not understood.
    static bool ParseTimeText(const std::string& text, std::vector<TimePoint>& points,
                              std::string& why);

    // Registered events still pending (a daily one stays for ever).
    size_t PendingCount() const;
    // Deliveries made so far.
    uint64_t Deliveries() const { return m_deliveries; }

private:
    struct Event {
        int kind;
        int param;
        std::string text;
        HostVarList args;
        TimePoint point;
        uint64_t timer = 0;
        bool live = true;
    };
    void Arm(size_t index, int64_t due);
    void Deliver(size_t index);

    Kernel& m_kernel;
    std::vector<Event> m_events;
    uint64_t m_deliveries = 0;
};

}  // namespace host
