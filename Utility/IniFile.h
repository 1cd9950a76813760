// Reader of the INI resource files: sections of key=value lines, read whole
// into memory. Names compare without regard to ASCII letter case; bytes pass
// through unchanged, so GBK text survives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

uint32_t IniHash(const char* name);

struct IniItem {
    std::string key;
    uint32_t keyHash = 0;
    std::string value;  // never empty
};

struct IniSection {
    std::string name;  // as written between the brackets, not trimmed
    uint32_t nameHash = 0;
    std::vector<IniItem> items;
};

class CIniFile {
public:
    explicit CIniFile(const char* path);

    // Replaces the file name; the contents stay until the next load.
    void SetFileName(const char* path);
    const std::string& GetFileName() const { return m_fileName; }

    // Empties the object, then reads and parses the whole file. False when the
    // file cannot be opened or read, or is 2 GiB or larger.
    bool LoadFromFile();
    // Parses bytes as if they were the file's contents (fuzzers, tools).
    bool LoadFromMemory(const char* data, size_t size);
    bool IsLoaded() const { return m_loaded; }

    size_t GetSectionCount() const { return m_sections.size(); }
    const char* GetSectionName(size_t sect) const;
    size_t GetItemCount(size_t sect) const;
    bool GetItem(size_t sect, size_t item, const char*& key, const char*& value) const;

    int ReadInteger(const char* section, const char* key, int def) const;
    const IniSection* FindSection(const char* name) const;
    const IniItem* FindItem(const IniSection& section, const char* key) const;

    // Where in the file each section header and each item stood (1-based
    // line numbers), for tools that report diagnostics. Same shape as the
    // sections; filled by every load.
    size_t GetSectionLine(size_t sect) const;
    size_t GetItemLine(size_t sect, size_t item) const;

private:
    void Clear();
    void Parse(const char* data, size_t size);
    void ParseLine(const char* begin, const char* end, size_t line);
    size_t FindOrAddSection(const char* name, size_t n, size_t line, bool& created);
    void EnterSection(size_t sect, bool created);
    void FinishLines();

    std::vector<IniSection> m_sections;
    std::string m_fileName;
    bool m_loaded = false;
    std::vector<size_t> m_sectionLines;
    // Item line numbers grouped by section: items of section s start at
    // m_itemLineStart[s]. One array for all items rather than one per section.
    std::vector<uint32_t> m_itemLines;
    std::vector<uint32_t> m_itemLineStart;

    // Load-time scratch.
    std::vector<uint32_t> m_slots;         // open-addressing section lookup
    std::vector<uint32_t> m_entrySection;  // section of each entry, once a section is re-entered
    bool m_reentered = false;
    static constexpr size_t kNoSection = size_t(-1);
    size_t m_current = kNoSection;  // section that entry lines go to
    size_t m_runHint = 0;           // entries in the previous run of one section
    size_t m_runStart = 0;          // first entry of the current run
};
