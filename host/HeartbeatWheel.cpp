#include "HeartbeatWheel.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace host {

HeartbeatWheel::HeartbeatWheel() {
    for (auto& level : m_heads)
        for (uint32_t& h : level) h = kNil;
    std::memset(m_bits, 0, sizeof m_bits);
}

uint32_t HeartbeatWheel::Alloc() {
    if (m_freeHead != kNil) {
        uint32_t n = m_freeHead;
        m_freeHead = m_nodes[n].next;
        return n;
    }
    Node node{};
    node.gen = 1;
    node.level = -2;
    m_nodes.push_back(node);
    return static_cast<uint32_t>(m_nodes.size() - 1);
}

void HeartbeatWheel::Free(uint32_t n) {
    Node& node = m_nodes[n];
    node.level = -2;
    ++node.gen;  // outstanding handles stop matching
    node.next = m_freeHead;
    m_freeHead = n;
}

void HeartbeatWheel::Place(uint32_t n) {
    Node& node = m_nodes[n];
    const uint64_t delta = static_cast<uint64_t>(node.due - m_base);
    uint32_t* head;
    if (delta >> (kLevels * kBits) != 0) {
        node.level = -1;
        node.slot = 0;
        head = &m_overflow;
    } else {
        int level = 0;
        while (level < kLevels - 1 && (delta >> ((level + 1) * kBits)) != 0) ++level;
        const uint32_t slot = static_cast<uint32_t>(node.due >> (level * kBits)) & (kSlots - 1);
        node.level = static_cast<int16_t>(level);
        node.slot = static_cast<uint16_t>(slot);
        head = &m_heads[level][slot];
        m_bits[level][slot / 64] |= uint64_t{1} << (slot % 64);
    }
    node.prev = kNil;
    node.next = *head;
    if (*head != kNil) m_nodes[*head].prev = n;
    *head = n;
}

void HeartbeatWheel::Unlink(uint32_t n) {
    Node& node = m_nodes[n];
    uint32_t* head = node.level < 0 ? &m_overflow : &m_heads[node.level][node.slot];
    if (node.prev != kNil)
        m_nodes[node.prev].next = node.next;
    else
        *head = node.next;
    if (node.next != kNil) m_nodes[node.next].prev = node.prev;
    if (node.level >= 0 && *head == kNil)
        m_bits[node.level][node.slot / 64] &= ~(uint64_t{1} << (node.slot % 64));
}

uint64_t HeartbeatWheel::Schedule(int64_t due, uint64_t seq, uint64_t payload) {
    const uint32_t n = Alloc();
    Node& node = m_nodes[n];
    node.due = due < m_base ? m_base : due;
    node.seq = seq;
    node.payload = payload;
    Place(n);
    ++m_count;
    return (uint64_t{m_nodes[n].gen} << 32) | n;
}

bool HeartbeatWheel::Cancel(uint64_t handle) {
    const uint32_t n = static_cast<uint32_t>(handle);
    const uint32_t gen = static_cast<uint32_t>(handle >> 32);
    if (n >= m_nodes.size()) return false;
    Node& node = m_nodes[n];
    if (node.gen != gen || node.level == -2) return false;
    Unlink(n);
    Free(n);
    --m_count;
    return true;
}

void HeartbeatWheel::Cascade(int level, uint32_t slot) {
    uint32_t n = m_heads[level][slot];
    m_heads[level][slot] = kNil;
    m_bits[level][slot / 64] &= ~(uint64_t{1} << (slot % 64));
    while (n != kNil) {
        const uint32_t next = m_nodes[n].next;
        Place(n);  // relative to m_base: lands on a lower level (or the same slot a round later)
        n = next;
    }
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
    uint32_t n = m_overflow;
    m_overflow = kNil;
    while (n != kNil) {
        const uint32_t next = m_nodes[n].next;
        Place(n);
        n = next;
    }
}

int HeartbeatWheel::NextBit(int level, uint32_t from) const {
    for (uint32_t word = from / 64; word < kSlots / 64; ++word) {
        uint64_t bits = m_bits[level][word];
        if (word == from / 64) bits &= ~uint64_t{0} << (from % 64);
        if (bits != 0) return static_cast<int>(word * 64 + __builtin_ctzll(bits));
    }
    return -1;
}

bool HeartbeatWheel::AnyBit(int level) const {
    for (uint64_t w : m_bits[level])
        if (w != 0) return true;
    return false;
}

bool HeartbeatWheel::PopDue(int64_t limit, std::vector<Expired>& out, int64_t& when) {
    out.clear();
    while (m_base <= limit) {
        if ((m_base & (kSlots - 1)) == 0 && m_cascaded != m_base) CascadeAt(m_base);
        const uint32_t slot = static_cast<uint32_t>(m_base) & (kSlots - 1);
        uint32_t n = m_heads[0][slot];
        if (n != kNil) {
            // Every entry of this level-0 slot is due exactly now.
            m_heads[0][slot] = kNil;
            m_bits[0][slot / 64] &= ~(uint64_t{1} << (slot % 64));
            while (n != kNil) {
                const uint32_t next = m_nodes[n].next;
                out.push_back(Expired{m_nodes[n].seq, m_nodes[n].payload});
                Free(n);
                --m_count;
                n = next;
            }
            std::sort(out.begin(), out.end(),
                      [](const Expired& a, const Expired& b) { return a.seq < b.seq; });
            when = m_base;
            ++m_base;
            return true;
        }
        // Nothing now: jump to the next tick that can have work (a level-0
        // slot, or the boundary where a higher slot cascades).
        int64_t next = std::numeric_limits<int64_t>::max();
        for (int level = 0; level < kLevels; ++level) {
            const int shift = level * kBits;
            const uint32_t idx = static_cast<uint32_t>(m_base >> shift) & (kSlots - 1);
            const int64_t roundMask = (int64_t{1} << (shift + kBits)) - 1;
            const int j = idx + 1 < kSlots ? NextBit(level, idx + 1) : -1;
            if (j >= 0) {
                next = (m_base & ~roundMask) + (int64_t{j} << shift);
                break;
            }
            if (AnyBit(level) || (level == kLevels - 1 && m_overflow != kNil)) {
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
    for (const Node& node : m_nodes)
        if (node.level != -2 && (best < 0 || node.due < best)) best = node.due;
    return best;
}

}  // namespace host
