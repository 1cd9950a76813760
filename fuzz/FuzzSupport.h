// What the fuzz targets share: a trap for broken invariants, a reader of the
// input's bytes, and a scratch resource folder that lives as long as the process.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A broken invariant stops the run like a crash, so libFuzzer keeps the input.
inline void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// Reads the input front to back; zeros once it runs out.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t Next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    bool Empty() const { return m_pos >= m_size; }
    int64_t Int64() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | Next();
        return int64_t(v);
    }
    std::string Rest() {
        std::string s(reinterpret_cast<const char*>(m_data + m_pos), m_size - m_pos);
        m_pos = m_size;
        return s;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A fresh folder under /tmp named after prefix, with subfolder inside it,
// removed at exit; returned with a trailing '/'. Make one per process.
inline std::string MakeScratchFolder(const char* prefix, const char* subfolder) {
    std::string pattern = std::string("/tmp/") + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::filesystem::create_directories(pattern + "/" + subfolder);
    static std::string keep;  // one scratch folder per process
    keep = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(keep, ignored);
    });
    return pattern + "/";
}

inline void WriteFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

}  // namespace fuzz
