// Hierarchical timer wheel on a virtual millisecond clock: four levels of 256
// slots (1 ms, 256 ms, 65.5 s, 4.7 h per slot) cover 2^32 ms ahead; later due
// times wait in an overflow list. Scheduling and cancelling are O(1); timers
// move down a level at most three times; empty stretches of time are skipped
// through per-level occupancy bitmaps, so a long advance over few timers costs
// little.
//
// Order: PopDue hands out the timers of one due time at a time, ordered by
// the sequence number given at Schedule, so callers that give sequence
// numbers in attach order get (due time, attach order) firing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

class HeartbeatWheel {
public:
    struct Expired {
        uint64_t seq;
        uint64_t payload;
    };

    HeartbeatWheel();

    // Next tick to be processed: every timer due before it has been handed out.
    int64_t base() const { return m_base; }
    size_t size() const { return m_count; }

    // Schedules payload at due (a due before base() is treated as base()).
    // With a period > 0 the timer is periodic: each time it is handed out it
    // is due again period ms later, under the same handle and seq, until
    // cancelled. Returns a handle for Cancel.
    uint64_t Schedule(int64_t due, uint64_t seq, uint64_t payload, int64_t period = 0);
    // False when the handle is unknown, cancelled, or a one-shot timer
    // already handed out.
    bool Cancel(uint64_t handle);

    // Finds the earliest due time d <= limit that has timers, moves base()
    // past it, fills out with its timers ordered by seq (out is cleared first)
    // and sets when = d. Returns false (base() = limit + 1, nothing handed
    // out) when no timer is due by limit.
    bool PopDue(int64_t limit, std::vector<Expired>& out, int64_t& when);

    // Earliest due time of any timer, or -1 when empty (walks the levels).
    int64_t NextDue() const;

private:
    static constexpr int kLevels = 4;
    static constexpr int kBits = 8;
    static constexpr uint32_t kSlots = 1u << kBits;

    // Slots hold the timers themselves, contiguously, so cascading and
    // expiring walk arrays instead of chasing nodes scattered over memory.
    // A cancelled timer stays in its slot and is dropped when met: its id's
    // generation in m_gen no longer matches.
    struct Entry {
        int64_t due;
        int64_t period;  // 0: one-shot
        uint64_t seq;
        uint64_t payload;
        uint32_t id;
        uint32_t gen;
    };

    void Place(const Entry& e);
    void CascadeAt(int64_t tick);
    void Cascade(int level, uint32_t slot);
    // While no cancelled entry waits in a slot, every entry is live and the
    // generation array need not be read at all.
    bool Live(const Entry& e) {
        if (m_deadEntries == 0) return true;
        if (m_gen[e.id] == e.gen) return true;
        --m_deadEntries;  // met once: the caller drops it
        return false;
    }
    bool LiveConst(const Entry& e) const { return m_gen[e.id] == e.gen; }
    void Retire(uint32_t id);
    // Index of the first set bit of level's bitmap in [from, kSlots), or -1.
    int NextBit(int level, uint32_t from) const;

    std::vector<Entry> m_slots[kLevels][kSlots];
    uint64_t m_bits[kLevels][kSlots / 64];
    // Entries in each level's slots, cancelled ones included: a level with
    // none needs no scan of its bitmap.
    size_t m_inLevel[kLevels] = {};
    std::vector<Entry> m_overflow;
    std::vector<uint32_t> m_gen;  // per id; odd = scheduled, even = free
    std::vector<uint32_t> m_freeIds;
    int64_t m_base = 0;
    int64_t m_cascaded = -1;  // tick whose cascade has been done
    size_t m_count = 0;
    size_t m_deadEntries = 0;  // cancelled entries still sitting in slots
    std::vector<Entry> m_moving;
};

}  // namespace host
