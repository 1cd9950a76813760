// CIniFile: reading INI resource files into sections and items.
#include "IniFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Utility.h"

namespace {

// 'A'-'Z' to 'a'-'z', without a branch: below 'A' the difference wraps.
inline unsigned char Fold(unsigned char c) {
    const bool upper = static_cast<unsigned char>(c - 'A') < 26u;
    return static_cast<unsigned char>(c + (upper ? 'a' - 'A' : 0));
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
        if (Fold(static_cast<unsigned char>(stored[i])) !=
            Fold(static_cast<unsigned char>(name[i])))
            return false;
    }
    return stored[n] == '\0';
}

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A second, well-mixed hash of a name (letters folded) for the load-time
// section table. The name hash proper gives whole runs of numeric section
// names, the game tables' usual keys, one value ("1005" and "1010" alike).
inline uint64_t MixHash(const char* s, size_t n) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= Fold(static_cast<unsigned char>(s[i]));
        h *= 0x100000001b3ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

// A table slot holds the high half of a section's MixHash beside its index
// + 1 (0: empty), so that most probes never touch the section itself.
constexpr uint64_t kTagMask = 0xffffffff00000000ull;
inline uint64_t SlotOf(uint64_t mix, size_t index) {
    return (mix & kTagMask) | uint64_t(index + 1);
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

// How many '=' and '[' bytes [p, p + n) holds. Every entry needs an '=' of
// its own and every section header a '[', so these bound what a parse finds.
struct Marks {
    size_t equals = 0;
    size_t brackets = 0;
};

Marks CountMarks(const char* p, size_t n) {
    Marks m;
    size_t i = 0;
#if defined(__SSE2__)
    // Byte-wide counters, summed before any of them can wrap.
    const __m128i eq = _mm_set1_epi8('=');
    const __m128i br = _mm_set1_epi8('[');
    const __m128i zero = _mm_setzero_si128();
    auto sum = [&](__m128i acc) {
        const __m128i s = _mm_sad_epu8(acc, zero);
        return size_t(_mm_cvtsi128_si32(s)) + size_t(_mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
    };
    while (i + 16 <= n) {
        __m128i accEq = zero;
        __m128i accBr = zero;
        for (int k = 0; k < 255 && i + 16 <= n; ++k, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            accEq = _mm_sub_epi8(accEq, _mm_cmpeq_epi8(v, eq));
            accBr = _mm_sub_epi8(accBr, _mm_cmpeq_epi8(v, br));
        }
        m.equals += sum(accEq);
        m.brackets += sum(accBr);
    }
#endif
    for (; i < n; ++i) {
        m.equals += p[i] == '=';
        m.brackets += p[i] == '[';
    }
    return m;
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

void CIniFile::FreeBlock::operator()(char* block) const {
    std::free(block);
}

void CIniFile::Clear() {
    m_sections.clear();
    m_block.reset();
    m_items = nullptr;
    m_itemCount = 0;
    m_itemCapacity = 0;
    m_loaded = false;
}

// A new block with room for size bytes of text plus the padding, which is
// zeroed.
char* CIniFile::AllocateText(size_t size) {
    m_block.reset(static_cast<char*>(std::malloc(size + kPad)));
    if (!m_block) return nullptr;
    std::memset(m_block.get() + size, 0, kPad);
    return m_block.get();
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
    char* buffer = AllocateText(n + 2);
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
    return ParseText(n + 2);
}

bool CIniFile::LoadFromMemory(const char* data, size_t size) {
    Clear();
    if (data == nullptr && size != 0) return false;
    // The same limit as for files.
    if (size > kMaxFileSize) return false;
    char* buffer = AllocateText(size + 2);
    if (buffer == nullptr) return false;
    if (size != 0) std::memcpy(buffer, data, size);
    buffer[size] = '\r';
    buffer[size + 1] = '\n';
    return ParseText(size + 2);
}

// The block holds size bytes of text ending in CR LF. Grows it by room for as
// many entries as the text can hold, then parses. False only when that
// memory cannot be had; the object is then empty.
bool CIniFile::ParseText(size_t size) {
    const Marks marks = CountMarks(m_block.get(), size);
    // An entry line takes at least four bytes ("k=v" and its line end), and
    // so does a header ("[s]").
    const size_t items = std::min(marks.equals, size / 4);
    const size_t textSpace = (size + kPad + alignof(IniItem) - 1) & ~(alignof(IniItem) - 1);
    if (items > (SIZE_MAX - textSpace) / sizeof(IniItem)) {
        Clear();
        return false;
    }
    char* grown =
        static_cast<char*>(std::realloc(m_block.get(), textSpace + items * sizeof(IniItem)));
    if (grown == nullptr) {
        Clear();
        return false;
    }
    m_block.release();
    m_block.reset(grown);
    m_items = reinterpret_cast<IniItem*>(grown + textSpace);
    m_itemCapacity = items;
    // Beyond a million sections the array grows as it goes rather than be
    // reserved from a count that a file of brackets could inflate.
    m_sections.reserve(std::min({marks.brackets, size / 4, size_t(1) << 20}));

    Parse(grown, size);
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

    // Built in place, field by field: an entry built whole on the stack and
    // copied over costs a stalled wide load per line. The array has room:
    // this entry's '=' was counted.
    IniItem* item = new (m_items + m_itemCount++) IniItem;
    item->key = begin;
    item->value = value;
    item->keyHash = keyHash;
    item->line = line;
    ++m_sections[m_current].items.m_size;
    if (m_reentered) m_entrySection.push_back(uint32_t(m_current));
}

void CIniFile::IndexSections() {
    // Sized at first for as many sections as were reserved from the file's
    // size, so that a big file rarely rehashes.
    size_t grown = m_slots.empty() ? 32 : m_slots.size() * 2;
    const size_t wanted = m_slots.empty() ? m_sections.capacity() : m_sections.size();
    while ((wanted + 1) * 2 > grown) grown *= 2;
    m_slots.assign(grown, 0);
    const size_t mask = grown - 1;
    for (size_t i = 0; i < m_sections.size(); ++i) {
        const char* name = m_sections[i].name;
        const uint64_t mix = MixHash(name, std::strlen(name));
        size_t slot = size_t(mix) & mask;
        while (m_slots[slot] != 0) slot = (slot + 1) & mask;
        m_slots[slot] = SlotOf(mix, i);
    }
}

// Finds exactly the section FindSection would: names are unique once headers
// that differ only in letter case are merged.
size_t CIniFile::FindOrAddSection(char* name, size_t n, uint32_t line, bool& created) {
    const uint32_t hash = HashBytes(name, n);
    if (m_sections.size() < kScannedSections) {
        for (size_t i = 0; i < m_sections.size(); ++i) {
            const IniSection& s = m_sections[i];
            if (s.nameHash == hash && SameName(s.name, name, n)) {
                created = false;
                return i;
            }
        }
    } else {
        // Open addressing, linear probing.
        if ((m_sections.size() + 1) * 2 > m_slots.size()) IndexSections();
        const size_t mask = m_slots.size() - 1;
        const uint64_t mix = MixHash(name, n);
        const uint64_t tag = mix & kTagMask;
        size_t slot = size_t(mix) & mask;
        for (; m_slots[slot] != 0; slot = (slot + 1) & mask) {
            if ((m_slots[slot] & kTagMask) != tag) continue;
            const size_t index = size_t(uint32_t(m_slots[slot]) - 1);
            const IniSection& s = m_sections[index];
            if (s.nameHash == hash && SameName(s.name, name, n)) {
                created = false;
                return index;
            }
        }
        m_slots[slot] = SlotOf(mix, m_sections.size());
    }
    IniSection& s = m_sections.emplace_back();  // in place, as entries are
    s.name = name;
    s.nameHash = hash;
    s.line = line;
    created = true;
    return m_sections.size() - 1;
}

void CIniFile::EnterSection(size_t sect, bool created) {
    if (!created && !m_reentered) {
        // Until a section is re-entered, entries arrive grouped by section in
        // section order; from here on each entry's section is noted so that
        // the entries can be regrouped at the end.
        m_reentered = true;
        m_entrySection.reserve(m_itemCapacity);
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
        std::vector<IniItem> grouped(m_itemCount);
        for (size_t i = 0; i < m_itemCount; ++i) grouped[next[m_entrySection[i]]++] = m_items[i];
        std::copy(grouped.begin(), grouped.end(), m_items);
    }
    const IniItem* start = m_items;
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
