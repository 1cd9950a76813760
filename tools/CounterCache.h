// A small direct-mapped cache in front of a std::map keyed by int: the
// simulator bumps the same few counters millions of times.
#pragma once

#include <cstdint>
#include <map>

namespace tools {

// Entry of map for key (made when absent), as map[key] gives it. Map nodes
// never move, so the cached addresses stay good while the map lives and no
// key is erased.
template <typename V>
class CounterCache {
public:
    explicit CounterCache(std::map<int, V>& map) : m_map(map) {}

    __attribute__((always_inline)) V& operator[](int key) {
        Slot& s = m_slots[(static_cast<uint32_t>(key) * 2654435761u) >> (32 - kBits)];
        if (s.value == nullptr || s.key != key) s = {key, &m_map[key]};
        return *s.value;
    }

private:
    static constexpr int kBits = 5;
    struct Slot {
        int key = 0;
        V* value = nullptr;
    };
    std::map<int, V>& m_map;
    Slot m_slots[1 << kBits];
};

}  // namespace tools
