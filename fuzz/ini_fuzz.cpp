// Arbitrary bytes through the INI reader: load, walk every section and entry,
// look each one up again, check what the reader promises about them, and
// compare the whole result with a plain line-by-line reading of the same
// bytes (the reader's fast paths must not change what it finds).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "IniFile.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

struct RefItem {
    std::string key, value;
    size_t line;
};
struct RefSection {
    std::string name;
    size_t line;
    std::vector<RefItem> items;
};

// The format read the slow, obvious way.
std::vector<RefSection> Reference(const char* data, size_t size) {
    std::vector<RefSection> out;
    long current = -1;
    size_t lineNo = 1;
    size_t i = 0;
    while (i < size) {
        std::string text;
        bool cut = false;
        while (i < size && data[i] != '\r' && data[i] != '\n') {
            if (data[i] == '\0') cut = true;
            if (!cut) text += data[i];
            ++i;
        }
        const size_t thisLine = lineNo;
        if (i < size) {
            if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
            ++i;
            ++lineNo;
        }
        size_t b = 0, e = text.size();
        while (b < e && Blank(text[b])) ++b;
        while (e > b && Blank(text[e - 1])) --e;
        const std::string t = text.substr(b, e - b);
        if (t.size() < 2) continue;
        if (t.size() >= 3 && t.front() == '[' && t.back() == ']') {
            const std::string name = t.substr(1, t.size() - 2);
            current = -1;
            for (size_t s = 0; s < out.size(); ++s)
                if (SameNoCase(out[s].name, name)) {
                    current = long(s);
                    break;
                }
            if (current < 0) {
                out.push_back(RefSection{name, thisLine, {}});
                current = long(out.size() - 1);
            }
            continue;
        }
        if (t.compare(0, 2, "//") == 0 || t[0] == ';') continue;
        if (current < 0) continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == t.size()) continue;
        size_t ke = eq;
        while (ke > 0 && Blank(t[ke - 1])) --ke;
        size_t vb = eq + 1;
        while (vb < t.size() && Blank(t[vb])) ++vb;
        out[size_t(current)].items.push_back(RefItem{t.substr(0, ke), t.substr(vb), thisLine});
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    CIniFile ini("");
    Check(ini.LoadFromMemory(bytes, size));
    Check(ini.IsLoaded());

    const std::vector<RefSection> want = Reference(bytes, size);
    Check(ini.GetSectionCount() == want.size());

    for (size_t s = 0; s < ini.GetSectionCount(); ++s) {
        const char* name = ini.GetSectionName(s);
        Check(want[s].name == name);
        Check(ini.GetSectionLine(s) == want[s].line);
        const IniSection* found = ini.FindSection(name);
        // Headers that differ only in letter case share one section, so a
        // section's own name finds that very section.
        Check(found != nullptr && std::strcmp(found->name, name) == 0);
        Check(found->nameHash == IniHash(name));
        Check(ini.GetItemCount(s) == want[s].items.size());

        for (size_t i = 0; i < ini.GetItemCount(s); ++i) {
            const char* key = nullptr;
            const char* value = nullptr;
            Check(ini.GetItem(s, i, key, value));
            Check(want[s].items[i].key == key && want[s].items[i].value == value);
            Check(ini.GetItemLine(s, i) == want[s].items[i].line);
            Check(key[0] != '\0' && value[0] != '\0');

            const IniItem* first = ini.FindItem(*found, key);
            Check(first != nullptr && first->keyHash == IniHash(key));
            Check(first <= &found->items[i]);
            (void)ini.ReadInteger(name, key, 0);
        }
    }
    (void)ini.ReadInteger("AreaBoss", "CheckFrequency", 60);
    return 0;
}
