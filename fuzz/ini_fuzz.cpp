// Arbitrary bytes through the INI reader: load, walk every section and entry,
// look each one up again, and check what the reader promises about them.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "IniFile.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIniFile ini("");
    Check(ini.LoadFromMemory(reinterpret_cast<const char*>(data), size));
    Check(ini.IsLoaded());

    for (size_t s = 0; s < ini.GetSectionCount(); ++s) {
        const char* name = ini.GetSectionName(s);
        const IniSection* found = ini.FindSection(name);
        // Headers that differ only in letter case share one section, so a
        // section's own name finds that very section.
        Check(found != nullptr && std::strcmp(found->name.c_str(), name) == 0);
        Check(found->nameHash == IniHash(name));
        Check(ini.GetSectionLine(s) >= 1);

        size_t lastLine = 0;
        for (size_t i = 0; i < ini.GetItemCount(s); ++i) {
            const char* key = nullptr;
            const char* value = nullptr;
            Check(ini.GetItem(s, i, key, value));
            const size_t k = std::strlen(key);
            const size_t v = std::strlen(value);
            Check(k > 0 && v > 0);
            Check(!Blank(key[0]) && !Blank(key[k - 1]) && !Blank(value[0]) && !Blank(value[v - 1]));
            Check(std::strchr(key, '=') == nullptr);
            Check(std::strpbrk(value, "\r\n") == nullptr && std::strpbrk(key, "\r\n") == nullptr);
            // Entries of one section come in file order.
            const size_t line = ini.GetItemLine(s, i);
            Check(line >= lastLine && line >= 1);
            lastLine = line;

            const IniItem* first = ini.FindItem(*found, key);
            Check(first != nullptr && first->keyHash == IniHash(key));
            Check(first <= &found->items[i]);
            (void)ini.ReadInteger(name, key, 0);
        }
    }
    (void)ini.ReadInteger("AreaBoss", "CheckFrequency", 60);
    return 0;
}
