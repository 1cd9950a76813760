#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Utility.h"

namespace {

inline unsigned char Fold(unsigned char c) {
    return static_cast<unsigned char>(c + (static_cast<unsigned char>(c - 'A') < 26u ? 'a' - 'A' : 0));
}

inline uint32_t HashBytes(const char* s, size_t n) {
    uint32_t h = 0;
    for (size_t i = 0; i < n; ++i) h = h * 5u + Fold(static_cast<unsigned char>(s[i]));
    return h;
}

// A stored (zero-terminated) name against n bytes of another, ASCII letters
// folded and every other byte compared exactly (no locale). Neither holds a
// NUL before its end, so a shorter stored name differs at its terminator.
bool SameName(const char* stored, const char* name, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (Fold(static_cast<unsigned char>(stored[i])) != Fold(static_cast<unsigned char>(name[i])))
            return false;
    }
    return stored[n] == '\0';
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
constexpr size_t kMaxFileSize = 0x7fffffff;

// Readable bytes past the CR LF that closes the text, so the line scan may
// load a whole block at a time without checking for the end.
constexpr size_t kPad = 16;

// Up to this many sections a header is looked up by scanning them; past it,
// through a hash table, so thousands of headers do not each scan them all.
constexpr size_t kScannedSections = 16;

// First CR, LF or NUL at or after p. The text always ends in CR LF and is
// followed by kPad readable bytes, so there is always one to find.
inline char* FindBreakOrNul(char* p) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    for (;;) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                         _mm_cmpeq_epi8(v, nul));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#else
    while (*p != '\r' && *p != '\n' && *p != '\0') ++p;
    return p;
#endif
}

// First CR or LF at or after p (the rest of a line cut short by a NUL).
inline char* FindBreak(char* p) {
    while (*p != '\r' && *p != '\n') ++p;
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
    m_items.clear();
    m_loaded = false;
}

// Room for size bytes of text plus the padding, which is zeroed. The old
// contents are dead by now; a buffer that is large enough is reused.
char* CIniFile::Reserve(size_t size) {
    if (m_bufferSize < size + kPad) {
        m_buffer.reset();
        m_bufferSize = 0;
        m_buffer.reset(new (std::nothrow) char[size + kPad]);
        if (!m_buffer) return nullptr;
        m_bufferSize = size + kPad;
    }
    std::memset(m_buffer.get() + size, 0, kPad);
    return m_buffer.get();
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
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxFileSize) return false;

    const size_t n = static_cast<size_t>(size);
    char* buffer = Reserve(n + 2);
    if (buffer == nullptr) return false;
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
    // The same limit as for files.
    if (size > kMaxFileSize) return false;
    char* buffer = Reserve(size + 2);
    if (buffer == nullptr) return false;
    if (size != 0) std::memcpy(buffer, data, size);
    buffer[size] = '\r';
    buffer[size + 1] = '\n';
    Parse(buffer, size + 2);
    m_loaded = true;
    return true;
}

// ---- parsing -----------------------------------------------------------------

// data holds the text ending in CR LF, followed by kPad readable bytes. Names,
// keys and values are cut out of it in place: a NUL goes after each one's
// last byte (over the ']', the blank or '=' after a key, the line break or a
// blank after a value).
void CIniFile::Parse(char* data, size_t size) {
    m_current = kNoSection;
    m_reentered = false;
    m_slots.clear();
    m_entrySection.clear();
    // Game tables run at a few dozen bytes per entry and a few hundred per
    // section; guessing from the size spares most regrowth.
    // The guess is capped: a huge file of anything else must not reserve
    // more than it will use.
    m_sections.reserve(std::min<size_t>(size / 256 + 8, size_t(1) << 16));
    m_items.reserve(std::min<size_t>(size / 24 + 16, size_t(1) << 21));

    uint32_t line = 1;  // as an editor counts: CR LF, LF and a lone CR each end one
    char* p = data;
    char* const end = data + size;
    while (p < end) {
        // A line runs to the next CR or LF; a NUL byte cuts its text short.
        char* b = p;
        char* e = FindBreakOrNul(p);
        char* brk = *e == '\0' ? FindBreak(e) : e;
        // Where the next line starts is settled before any terminator is
        // written over this line's break.
        p = brk + ((brk[0] == '\r' && brk[1] == '\n') ? 2 : 1);
        const uint32_t thisLine = line++;

        // Spaces and tabs only; other control bytes belong to the line.
        while (b < e && IsBlank(*b)) ++b;
        while (e > b && IsBlank(e[-1])) --e;
        const size_t len = size_t(e - b);
        if (len < 2) continue;

        if (b[0] == '[' && e[-1] == ']' && len >= 3) {
            e[-1] = '\0';
            bool created = false;
            const size_t sect = FindOrAddSection(b + 1, len - 2, thisLine, created);
            if (sect != m_current) EnterSection(sect, created);
            continue;
        }
        if ((b[0] == '/' && b[1] == '/') || b[0] == ';') continue;
        if (m_current == kNoSection) continue;
        AddEntry(b, e, thisLine);
    }
    Finish();
}

// One trimmed line [begin, end) of at least two bytes, none of them NUL, in
// the current section.
void CIniFile::AddEntry(char* begin, char* end, uint32_t line) {
    // The key's hash is taken on the way to the '=', as it stood after the
    // key's last non-blank byte.
    uint32_t h = 0;
    uint32_t keyHash = 0;
    char* keyEnd = begin;
    char* q = begin;
    for (; q < end && *q != '='; ++q) {
        const unsigned char c = static_cast<unsigned char>(*q);
        h = h * 5u + Fold(c);
        if (!IsBlank(char(c))) {
            keyHash = h;
            keyEnd = q + 1;
        }
    }
    // No '=', or nothing before it. Nothing after it: a key without a value
    // is not stored.
    if (q == end || q == begin || q + 1 == end) return;

    // The line ends in a non-blank byte after the '=', so the value is never
    // empty.
    char* value = q + 1;
    while (IsBlank(*value)) ++value;
    *keyEnd = '\0';
    *end = '\0';

    m_items.push_back(IniItem{begin, value, keyHash, line});
    ++m_sections[m_current].items.m_size;
    if (m_reentered) m_entrySection.push_back(uint32_t(m_current));
}

void CIniFile::IndexSections() {
    size_t grown = m_slots.empty() ? 32 : m_slots.size() * 2;
    while ((m_sections.size() + 1) * 2 > grown) grown *= 2;
    m_slots.assign(grown, 0);
    const size_t mask = grown - 1;
    for (size_t i = 0; i < m_sections.size(); ++i) {
        size_t slot = Spread(m_sections[i].nameHash) & mask;
        while (m_slots[slot] != 0) slot = (slot + 1) & mask;
        m_slots[slot] = static_cast<uint32_t>(i + 1);
    }
}

// Finds exactly the section FindSection would: names are unique once headers
// that differ only in letter case are merged.
size_t CIniFile::FindOrAddSection(char* name, size_t n, uint32_t line, bool& created) {
    const uint32_t hash = HashBytes(name, n);
    size_t slot = 0;
    if (m_sections.size() < kScannedSections) {
        for (size_t i = 0; i < m_sections.size(); ++i) {
            const IniSection& s = m_sections[i];
            if (s.nameHash == hash && SameName(s.name, name, n)) {
                created = false;
                return i;
            }
        }
    } else {
        // Open addressing over section indices (+1, 0 = empty).
        if ((m_sections.size() + 1) * 2 > m_slots.size()) IndexSections();
        const size_t mask = m_slots.size() - 1;
        slot = Spread(hash) & mask;
        while (m_slots[slot] != 0) {
            const IniSection& s = m_sections[m_slots[slot] - 1];
            if (s.nameHash == hash && SameName(s.name, name, n)) {
                created = false;
                return m_slots[slot] - 1;
            }
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = static_cast<uint32_t>(m_sections.size() + 1);
    }
    IniSection s;
    s.name = name;
    s.nameHash = hash;
    s.line = line;
    m_sections.push_back(s);
    created = true;
    return m_sections.size() - 1;
}

void CIniFile::EnterSection(size_t sect, bool created) {
    if (!created && !m_reentered) {
        // Until a section is re-entered, entries arrive grouped by section in
        // section order; from here on each entry's section is noted so that
        // the entries can be regrouped at the end.
        m_reentered = true;
        m_entrySection.reserve(m_items.capacity());
        for (size_t s = 0; s < m_sections.size(); ++s)
            m_entrySection.insert(m_entrySection.end(), m_sections[s].items.m_size, uint32_t(s));
    }
    m_current = sect;
}

void CIniFile::Finish() {
    if (m_reentered) {
        // Stable regrouping by section: entries keep their file order inside it.
        std::vector<size_t> next(m_sections.size());
        size_t start = 0;
        for (size_t s = 0; s < m_sections.size(); ++s) {
            next[s] = start;
            start += m_sections[s].items.m_size;
        }
        std::vector<IniItem> grouped(m_items.size());
        for (size_t i = 0; i < m_items.size(); ++i) grouped[next[m_entrySection[i]]++] = m_items[i];
        m_items.swap(grouped);
    }
    const IniItem* start = m_items.data();
    for (IniSection& s : m_sections) {
        s.items.m_data = start;
        start += s.items.m_size;
    }
}

// ---- reading -----------------------------------------------------------------

const char* CIniFile::GetSectionName(size_t sect) const {
    return sect < m_sections.size() ? m_sections[sect].name : "";
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
    key = it.key;
    value = it.value;
    return true;
}

size_t CIniFile::GetSectionLine(size_t sect) const {
    return sect < m_sections.size() ? m_sections[sect].line : 0;
}

size_t CIniFile::GetItemLine(size_t sect, size_t item) const {
    if (sect >= m_sections.size() || item >= m_sections[sect].items.size()) return 0;
    return m_sections[sect].items[item].line;
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
    return StringToInt(it->value);
}
