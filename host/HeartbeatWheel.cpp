// The hierarchical timer wheel behind the kernel's heartbeats and timers.
#include "HeartbeatWheel.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace host {

HeartbeatWheel::HeartbeatWheel() {
    std::memset(m_bits, 0, sizeof m_bits);
}

void HeartbeatWheel::Place(const Entry& e) {
    const uint64_t delta = static_cast<uint64_t>(e.due - m_base);
    if (delta >> (kLevels * kBits) != 0) {
        m_overflow.push_back(e);
        return;
    }
    int level = 0;
    while (level < kLevels - 1 && (delta >> ((level + 1) * kBits)) != 0) ++level;
    const uint32_t slot = static_cast<uint32_t>(e.due >> (level * kBits)) & (kSlots - 1);
    m_slots[level][slot].push_back(e);
    m_bits[level][slot / 64] |= uint64_t{1} << (slot % 64);
    ++m_inLevel[level];
}

uint64_t HeartbeatWheel::Schedule(int64_t due, uint64_t seq, uint64_t payload, int64_t period) {
    uint32_t id;
    if (!m_freeIds.empty()) {
        id = m_freeIds.back();
        m_freeIds.pop_back();
    } else {
        id = static_cast<uint32_t>(m_gen.size());
        m_gen.push_back(0);
    }
    const uint32_t gen = ++m_gen[id];  // odd: scheduled
    Place(Entry{due < m_base ? m_base : due, period > 0 ? period : 0, seq, payload, id, gen});
    ++m_count;
    return (uint64_t{gen} << 32) | id;
}

void HeartbeatWheel::Retire(uint32_t id) {
    ++m_gen[id];  // even: free; entries still carrying the old gen are dead
    m_freeIds.push_back(id);
    --m_count;
}

bool HeartbeatWheel::Cancel(uint64_t handle) {
    const uint32_t id = static_cast<uint32_t>(handle);
    const uint32_t gen = static_cast<uint32_t>(handle >> 32);
    if (id >= m_gen.size() || m_gen[id] != gen || (gen & 1) == 0) return false;
    Retire(id);
    ++m_deadEntries;
    return true;
}

void HeartbeatWheel::Cascade(int level, uint32_t slot) {
    std::vector<Entry>& from = m_slots[level][slot];
    if (from.empty()) return;
    m_moving.swap(from);  // from keeps the old m_moving's capacity
    m_bits[level][slot / 64] &= ~(uint64_t{1} << (slot % 64));
    m_inLevel[level] -= m_moving.size();
    for (const Entry& e : m_moving)
        if (Live(e)) Place(e);  // lands lower (or in this slot, a whole round later)
    m_moving.clear();
}

void HeartbeatWheel::CascadeAt(int64_t tick) {
    m_cascaded = tick;
    // Lower levels first: an entry coming down from a higher level never
    // lands in a lower slot that is still to be cascaded at this tick.
    for (int level = 1; level < kLevels; ++level) {
        const uint32_t idx = static_cast<uint32_t>(tick >> (level * kBits)) & (kSlots - 1);
        Cascade(level, idx);
        if (idx != 0) return;
    }
    // The top level wrapped: overflow entries that now fit move in.
    std::vector<Entry> waiting;
    waiting.swap(m_overflow);
    for (const Entry& e : waiting)
        if (Live(e)) Place(e);
}

int HeartbeatWheel::NextBit(int level, uint32_t from) const {
    for (uint32_t word = from / 64; word < kSlots / 64; ++word) {
        uint64_t bits = m_bits[level][word];
        if (word == from / 64) bits &= ~uint64_t{0} << (from % 64);
        if (bits != 0) return static_cast<int>(word * 64 + __builtin_ctzll(bits));
    }
    return -1;
}

bool HeartbeatWheel::PopDue(int64_t limit, std::vector<Expired>& out, int64_t& when) {
    out.clear();
    while (m_base <= limit) {
        if ((m_base & (kSlots - 1)) == 0 && m_cascaded != m_base) CascadeAt(m_base);
        const uint32_t slot = static_cast<uint32_t>(m_base) & (kSlots - 1);
        if (!m_slots[0][slot].empty()) {
            // Every entry of this level-0 slot is due exactly now. Periodic
            // ones are re-armed before the caller runs them (a period is at
            // least 1 ms, so never into this slot), so a callback can still
            // cancel them by their handle.
            m_moving.swap(m_slots[0][slot]);
            m_bits[0][slot / 64] &= ~(uint64_t{1} << (slot % 64));
            m_inLevel[0] -= m_moving.size();
            const int64_t tick = m_base++;
            for (Entry& e : m_moving) {
                if (!Live(e)) continue;
                out.push_back(Expired{e.seq, e.payload});
                if (e.period > 0) {
                    e.due += e.period;
                    Place(e);
                } else {
                    Retire(e.id);
                }
            }
            m_moving.clear();
            if (out.empty()) continue;  // only cancelled timers were here
            // Entries arrive roughly in order; sort only when they are not.
            auto bySeq = [](const Expired& a, const Expired& b) { return a.seq < b.seq; };
            if (!std::is_sorted(out.begin(), out.end(), bySeq))
                std::sort(out.begin(), out.end(), bySeq);
            when = tick;
            return true;
        }
        // Nothing now: jump to the next tick that can have work (a level-0
        // slot, or the boundary where a higher slot cascades).
        int64_t next = std::numeric_limits<int64_t>::max();
        for (int level = 0; level < kLevels; ++level) {
            const bool overflowNext = level == kLevels - 1 && !m_overflow.empty();
            if (m_inLevel[level] == 0 && !overflowNext) continue;  // nothing here to scan
            const int shift = level * kBits;
            const uint32_t idx = static_cast<uint32_t>(m_base >> shift) & (kSlots - 1);
            const int64_t roundMask = (int64_t{1} << (shift + kBits)) - 1;
            const int j = idx + 1 < kSlots ? NextBit(level, idx + 1) : -1;
            if (j >= 0) {
                next = (m_base & ~roundMask) + (int64_t{j} << shift);
                break;
            }
            if (m_inLevel[level] != 0 || overflowNext) {
                next = (m_base | roundMask) + 1;  // entries of the next round
                break;
            }
        }
        if (next > limit) {
            m_base = limit + 1;
            return false;
        }
        m_base = next;
    }
    return false;
}

int64_t HeartbeatWheel::NextDue() const {
    int64_t best = -1;
    auto consider = [&](const std::vector<Entry>& v) {
        for (const Entry& e : v)
            if (LiveConst(e) && (best < 0 || e.due < best)) best = e.due;
    };
    for (const auto& level : m_slots)
        for (const auto& slot : level) consider(slot);
    consider(m_overflow);
    return best;
}

}  // namespace host
