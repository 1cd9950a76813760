#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Utility.h"

namespace {

inline unsigned char Fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

inline uint32_t HashBytes(const char* s, size_t n) {
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i) h = h * 5u + Fold(static_cast<unsigned char>(s[i]));
    return h;
}

// ASCII letters folded, every other byte compared exactly (no locale).
bool SameName(const std::string& a, const char* b, size_t n) {
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Slot of a hash in the load-time section table (the name hash itself is
// weak in its low bits).
inline size_t Spread(uint32_t hash) {
    return size_t((hash * 0x9E3779B1u) >> 7);
}

// Largest file the reader accepts: the byte count must fit a signed 32-bit
// integer, as the resource format has always promised.
constexpr long long kMaxFileSize = 0x7fffffffLL;

// Files up to this size are read into a buffer on the stack.
constexpr size_t kStackBuffer = 4096;

// First CR, LF or NUL in [p, end), or end.
inline const char* FindBreakOrNul(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                         _mm_cmpeq_epi8(v, nul));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && *p != '\r' && *p != '\n' && *p != '\0') ++p;
    return p;
}

// First CR or LF in [p, end), or end.
inline const char* FindBreak(const char* p, const char* end) {
    while (p < end && *p != '\r' && *p != '\n') ++p;
    return p;
}

// Closes the descriptor on every way out.
struct FileHandle {
    int fd;
    ~FileHandle() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

uint32_t IniHash(const char* name) {
    if (name == nullptr) return 0;
    return HashBytes(name, std::strlen(name));
}

CIniFile::CIniFile(const char* path) : m_fileName(path == nullptr ? "" : path) {}

void CIniFile::SetFileName(const char* path) {
    m_fileName = path == nullptr ? "" : path;
}

void CIniFile::Clear() {
    m_sections.clear();
    m_sectionLines.clear();
    m_itemLines.clear();
    m_itemLineStart.clear();
    m_loaded = false;
}

// ---- loading -----------------------------------------------------------------

bool CIniFile::LoadFromFile() {
    Clear();

    // Resource names are written with backslashes; the file system wants '/'.
    std::string mapped;
    const char* path = m_fileName.c_str();
    if (m_fileName.find('\\') != std::string::npos) {
        mapped = m_fileName;
        for (char& c : mapped)
            if (c == '\\') c = '/';
        path = mapped.c_str();
    }

    FileHandle file{::open(path, O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;

    // A size that does not fit the 32-bit count (or cannot be learned) is
    // refused outright rather than truncated into a small or negative
    // allocation that would parse a fragment of the file.
    const off_t size = ::lseek(file.fd, 0, SEEK_END);
    if (size < 0 || static_cast<long long>(size) > kMaxFileSize) return false;

    const size_t n = static_cast<size_t>(size);
    // Small tables (the common case) are read into the stack; a heap block
    // that large would also make the allocator tidy up before serving it.
    char local[kStackBuffer];
    std::unique_ptr<char[]> heap;
    char* buffer = local;
    if (n + 2 > sizeof local) {
        heap.reset(new (std::nothrow) char[n + 2]);
        if (!heap) return false;
        buffer = heap.get();
    }
    // The whole file in one read (looping only where the system hands it over
    // in parts); fewer bytes than the size means the file could not be read.
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(file.fd, buffer + got, n - got, off_t(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += size_t(r);
    }
    // Something that is not a plain file (a directory) may report size 0;
    // it cannot be read at all.
    if (n == 0 && ::pread(file.fd, buffer, 1, 0) < 0) return false;
    // The last line is always terminated, whether or not the file ends in one.
    buffer[n] = '\r';
    buffer[n + 1] = '\n';

    Parse(buffer, n + 2);
    m_loaded = true;
    return true;
}

bool CIniFile::LoadFromMemory(const char* data, size_t size) {
    Clear();
    if (data == nullptr && size != 0) return false;
    Parse(data, size);
    m_loaded = true;
    return true;
}

// ---- parsing -----------------------------------------------------------------

void CIniFile::Parse(const char* data, size_t size) {
    m_current = kNoSection;
    m_runHint = 0;
    m_runStart = 0;
    m_reentered = false;
    // Room for a small file's sections and entries without regrowth.
    m_sections.reserve(16);
    m_sectionLines.reserve(16);
    m_itemLines.reserve(128);

    size_t line = 1;  // as an editor counts: CR LF, LF and a lone CR each end one
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        // A line runs to the next CR or LF; a NUL byte cuts its text short.
        const char* start = p;
        p = FindBreakOrNul(p, end);
        const char* textEnd = p;
        if (p < end && *p == '\0') p = FindBreak(p, end);
        if (textEnd != start) ParseLine(start, textEnd, line);
        if (p < end) {
            if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
            ++p;
            ++line;
        }
    }
    FinishLines();
    std::vector<uint32_t>().swap(m_slots);
    std::vector<uint32_t>().swap(m_entrySection);
}

void CIniFile::ParseLine(const char* begin, const char* end, size_t line) {
    // Spaces and tabs only; other control bytes belong to the line.
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    const size_t len = static_cast<size_t>(end - begin);
    if (len < 2) return;

    if (len >= 3 && begin[0] == '[' && end[-1] == ']') {
        bool created = false;
        const size_t sect = FindOrAddSection(begin + 1, len - 2, line, created);
        if (sect != m_current) EnterSection(sect, created);
        return;
    }
    if ((begin[0] == '/' && begin[1] == '/') || begin[0] == ';') return;
    if (m_current == kNoSection) return;

    const char* eq = static_cast<const char*>(std::memchr(begin, '=', len));
    if (eq == nullptr || eq == begin) return;
    // Nothing after the '=': a key without a value is not stored.
    if (eq + 1 == end) return;

    const char* keyEnd = eq;
    while (keyEnd > begin && IsBlank(keyEnd[-1])) --keyEnd;
    const char* value = eq + 1;
    while (value < end && IsBlank(*value)) ++value;

    const size_t keyLen = size_t(keyEnd - begin);
    m_sections[m_current].items.push_back(IniItem{std::string(begin, keyLen),
                                                  HashBytes(begin, keyLen),
                                                  std::string(value, size_t(end - value))});
    m_itemLines.push_back(uint32_t(line));
    if (m_reentered) m_entrySection.push_back(uint32_t(m_current));
}

size_t CIniFile::FindOrAddSection(const char* name, size_t n, size_t line, bool& created) {
    const uint32_t hash = HashBytes(name, n);
    // Open addressing over section indices (+1, 0 = empty), used only while
    // loading so that thousands of headers do not each scan every section.
    // It finds exactly the section FindSection would: names are unique once
    // headers that differ only in letter case are merged.
    if ((m_sections.size() + 1) * 2 > m_slots.size()) {
        const size_t grown = m_slots.empty() ? 32 : m_slots.size() * 2;
        m_slots.assign(grown, 0);
        const size_t mask = grown - 1;
        for (size_t i = 0; i < m_sections.size(); ++i) {
            size_t slot = Spread(m_sections[i].nameHash) & mask;
            while (m_slots[slot] != 0) slot = (slot + 1) & mask;
            m_slots[slot] = static_cast<uint32_t>(i + 1);
        }
    }
    const size_t mask = m_slots.size() - 1;
    size_t slot = Spread(hash) & mask;
    while (m_slots[slot] != 0) {
        const IniSection& s = m_sections[m_slots[slot] - 1];
        if (s.nameHash == hash && SameName(s.name, name, n)) {
            created = false;
            return m_slots[slot] - 1;
        }
        slot = (slot + 1) & mask;
    }
    m_slots[slot] = static_cast<uint32_t>(m_sections.size() + 1);
    m_sections.emplace_back();
    IniSection& s = m_sections.back();
    s.name.assign(name, n);
    s.nameHash = hash;
    m_sectionLines.push_back(line);
    created = true;
    return m_sections.size() - 1;
}

void CIniFile::EnterSection(size_t sect, bool created) {
    if (m_current != kNoSection) m_runHint = m_sections[m_current].items.size() - m_runStart;
    if (!created && !m_reentered) {
        // Until a section is re-entered, entries arrive grouped by section in
        // section order; from here on each entry's section is noted so the
        // line numbers can be regrouped at the end.
        m_reentered = true;
        m_entrySection.reserve(m_itemLines.capacity());
        for (size_t s = 0; s < m_sections.size(); ++s)
            m_entrySection.insert(m_entrySection.end(), m_sections[s].items.size(), uint32_t(s));
    }
    m_current = sect;
    IniSection& s = m_sections[sect];
    m_runStart = s.items.size();
    // Sections of one file tend to be alike: size a new section like the run
    // of entries just read, so it is allocated once instead of growing.
    if (created && m_runHint != 0) s.items.reserve(m_runHint);
}

void CIniFile::FinishLines() {
    m_itemLineStart.resize(m_sections.size());
    uint32_t start = 0;
    for (size_t s = 0; s < m_sections.size(); ++s) {
        m_itemLineStart[s] = start;
        start += uint32_t(m_sections[s].items.size());
    }
    if (!m_reentered) return;
    // Stable regrouping by section: entries keep their file order inside it.
    std::vector<uint32_t> next(m_itemLineStart);
    std::vector<uint32_t> grouped(m_itemLines.size());
    for (size_t i = 0; i < m_itemLines.size(); ++i)
        grouped[next[m_entrySection[i]]++] = m_itemLines[i];
    m_itemLines.swap(grouped);
}

// ---- reading -----------------------------------------------------------------

const char* CIniFile::GetSectionName(size_t sect) const {
    return sect < m_sections.size() ? m_sections[sect].name.c_str() : "";
}

size_t CIniFile::GetItemCount(size_t sect) const {
    return sect < m_sections.size() ? m_sections[sect].items.size() : 0;
}

bool CIniFile::GetItem(size_t sect, size_t item, const char*& key, const char*& value) const {
    if (sect >= m_sections.size() || item >= m_sections[sect].items.size()) {
        key = "";
        value = "";
        return false;
    }
    const IniItem& it = m_sections[sect].items[item];
    key = it.key.c_str();
    value = it.value.c_str();
    return true;
}

size_t CIniFile::GetSectionLine(size_t sect) const {
    return sect < m_sectionLines.size() ? m_sectionLines[sect] : 0;
}

size_t CIniFile::GetItemLine(size_t sect, size_t item) const {
    if (sect >= m_itemLineStart.size() || item >= m_sections[sect].items.size()) return 0;
    return m_itemLines[m_itemLineStart[sect] + item];
}

const IniSection* CIniFile::FindSection(const char* name) const {
    if (name == nullptr) return nullptr;
    const size_t n = std::strlen(name);
    const uint32_t hash = HashBytes(name, n);
    for (const IniSection& s : m_sections)
        if (s.nameHash == hash && SameName(s.name, name, n)) return &s;
    return nullptr;
}

const IniItem* CIniFile::FindItem(const IniSection& section, const char* key) const {
    if (key == nullptr) return nullptr;
    const size_t n = std::strlen(key);
    const uint32_t hash = HashBytes(key, n);
    for (const IniItem& it : section.items)
        if (it.keyHash == hash && SameName(it.key, key, n)) return &it;
    return nullptr;
}

int CIniFile::ReadInteger(const char* section, const char* key, int def) const {
    const IniSection* s = FindSection(section);
    if (s == nullptr) return def;
    const IniItem* it = FindItem(*s, key);
    if (it == nullptr) return def;
    return StringToInt(it->value.c_str());
}
