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
    // Returns a handle for Cancel.
    uint64_t Schedule(int64_t due, uint64_t seq, uint64_t payload);
    // False when the handle is unknown, already handed out or cancelled.
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
    static constexpr uint32_t kNil = 0xffffffffu;

    struct Node {
        int64_t due;
        uint64_t seq;
        uint64_t payload;
        uint32_t next;
        uint32_t prev;
        uint32_t gen;
        int16_t level;  // -1: overflow, -2: free / handed out
        uint16_t slot;
    };

    void Place(uint32_t n);
    void Unlink(uint32_t n);
    void CascadeAt(int64_t tick);
    void Cascade(int level, uint32_t slot);
    uint32_t Alloc();
    void Free(uint32_t n);
    // Index of the first set bit of level's bitmap in [from, kSlots), or -1.
    int NextBit(int level, uint32_t from) const;
    bool AnyBit(int level) const;

    std::vector<Node> m_nodes;
    uint32_t m_freeHead = kNil;
    uint32_t m_heads[kLevels][kSlots];
    uint64_t m_bits[kLevels][kSlots / 64];
    uint32_t m_overflow = kNil;
    int64_t m_base = 0;
    int64_t m_cascaded = -1;  // tick whose cascade has been done
    size_t m_count = 0;
    std::vector<uint32_t> m_batch;
};

}  // namespace host
