#include "IniFile.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "Utility.h"

namespace {

inline unsigned char Fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

uint32_t HashBytes(const char* s, size_t n) {
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

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Largest file the reader accepts: the byte count must fit a signed 32-bit
// integer, as the resource format has always promised.
constexpr long long kMaxFileSize = 0x7fffffffLL;

}  // namespace

uint32_t IniHash(const char* name) {
    if (name == nullptr) return 0;
    return HashBytes(name, std::strlen(name));
}

CIniFile::CIniFile(const char* path) : m_fileName(path == nullptr ? "" : path) {}

void CIniFile::SetFileName(const char* path) { m_fileName = path == nullptr ? "" : path; }

void CIniFile::Clear() {
    m_sections.clear();
    m_sectionLines.clear();
    m_itemLines.clear();
    m_slots.clear();
    m_loaded = false;
}

bool CIniFile::LoadFromFile() {
    Clear();

    // Resource names are written with backslashes; the file system wants '/'.
    std::string path = m_fileName;
    for (char& c : path)
        if (c == '\\') c = '/';

    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return false;

    // A size that does not fit the 32-bit count (or cannot be learned, as for
    // a directory) is refused outright rather than truncated into a small or
    // negative allocation that would parse a fragment of the file.
    long long size = -1;
    if (std::fseek(fp, 0, SEEK_END) == 0) size = static_cast<long long>(ftello(fp));
    if (size < 0 || size > kMaxFileSize || std::fseek(fp, 0, SEEK_SET) != 0) {
        std::fclose(fp);
        return false;
    }

    const size_t n = static_cast<size_t>(size);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[n + 2]);
    if (!buffer) {
        std::fclose(fp);
        return false;
    }
    const size_t got = n == 0 ? 0 : std::fread(buffer.get(), 1, n, fp);
    std::fclose(fp);
    if (got != n) return false;
    // The last line is always terminated, whether or not the file ends in one.
    buffer[n] = '\r';
    buffer[n + 1] = '\n';

    Parse(buffer.get(), n + 2);
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

int CIniFile::FindOrAddSection(const char* name, size_t n, size_t line) {
    const uint32_t hash = HashBytes(name, n);
    // Open addressing over section indices (+1, 0 = empty), used only while
    // loading so that thousands of headers do not each scan every section.
    // It finds exactly the section FindSection would: names are unique once
    // headers that differ only in letter case are merged.
    if ((m_sections.size() + 1) * 2 > m_slots.size()) {
        const size_t grown = m_slots.empty() ? 64 : m_slots.size() * 2;
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
        if (s.nameHash == hash && SameName(s.name, name, n)) return int(m_slots[slot] - 1);
        slot = (slot + 1) & mask;
    }
    m_slots[slot] = static_cast<uint32_t>(m_sections.size() + 1);
    m_sections.emplace_back();
    IniSection& s = m_sections.back();
    s.name.assign(name, n);
    s.nameHash = hash;
    m_sectionLines.push_back(line);
    m_itemLines.emplace_back();
    return int(m_sections.size() - 1);
}

void CIniFile::ParseLine(const char* begin, const char* end, size_t line, int& current) {
    // Spaces and tabs only; other control bytes belong to the line.
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    const size_t len = static_cast<size_t>(end - begin);
    if (len < 2) return;

    if (len >= 3 && begin[0] == '[' && end[-1] == ']') {
        current = FindOrAddSection(begin + 1, len - 2, line);
        return;
    }
    if ((begin[0] == '/' && begin[1] == '/') || begin[0] == ';') return;
    if (current < 0) return;

    const char* eq = static_cast<const char*>(std::memchr(begin, '=', len));
    if (eq == nullptr || eq == begin) return;
    // Nothing after the '=': a key without a value is not stored.
    if (eq + 1 == end) return;

    const char* keyEnd = eq;
    while (keyEnd > begin && IsBlank(keyEnd[-1])) --keyEnd;
    const char* value = eq + 1;
    while (value < end && IsBlank(*value)) ++value;

    IniSection& s = m_sections[size_t(current)];
    s.items.emplace_back();
    IniItem& item = s.items.back();
    item.key.assign(begin, size_t(keyEnd - begin));
    item.keyHash = HashBytes(begin, size_t(keyEnd - begin));
    item.value.assign(value, size_t(end - value));
    m_itemLines[size_t(current)].push_back(line);
}

void CIniFile::Parse(const char* data, size_t size) {
    int current = -1;
    size_t line = 1;  // as an editor counts: CR LF, LF and a lone CR each end one
    const char* p = data;
    const char* const end = data + size;
    while (p < end) {
        // A line runs to the next CR or LF; a NUL byte cuts its text short.
        const char* start = p;
        const char* textEnd = nullptr;
        while (p < end) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c <= '\r') {
                if (c == '\r' || c == '\n') break;
                if (c == 0 && textEnd == nullptr) textEnd = p;
            }
            ++p;
        }
        if (textEnd == nullptr) textEnd = p;
        if (textEnd != start) ParseLine(start, textEnd, line, current);
        if (p < end) {
            if (*p == '\r' && p + 1 < end && p[1] == '\n') ++p;
            ++p;
            ++line;
        }
    }
    std::vector<uint32_t>().swap(m_slots);
}

size_t CIniFile::Spread(uint32_t hash) { return size_t((hash * 0x9E3779B1u) >> 7); }

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
    if (sect >= m_itemLines.size() || item >= m_itemLines[sect].size()) return 0;
    return m_itemLines[sect][item];
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
