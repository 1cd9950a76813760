// Reader of the INI resource files: sections of key=value lines, read whole
// into memory. Names compare without regard to ASCII letter case; bytes pass
// through unchanged, so GBK text survives.
//
// The reader keeps its own copy of the file and cuts it into zero-terminated
// names, keys and values in place, so loading makes no string copies. Every
// pointer it hands out (names, keys, values, sections, entries) points into
// that copy or into its entry arrays and stays valid until the next load or
// the reader's destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

uint32_t IniHash(const char* name);

struct IniItem {
    const char* key = nullptr;    // trimmed, zero-terminated
    const char* value = nullptr;  // trimmed, zero-terminated, never empty
    uint32_t keyHash = 0;
    uint32_t line = 0;  // 1-based line of the entry in the file
};

// The entries of one section, in file order: a view into the reader's single
// array of entries.
class IniItemList {
public:
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const IniItem& operator[](size_t i) const { return m_data[i]; }
    const IniItem* begin() const { return m_data; }
    const IniItem* end() const { return m_data + m_size; }

private:
    friend class CIniFile;
    const IniItem* m_data = nullptr;
    size_t m_size = 0;
};

struct IniSection {
    const char* name = nullptr;  // as written between the brackets, not trimmed
    uint32_t nameHash = 0;
    uint32_t line = 0;  // 1-based line of the first header with this name
    IniItemList items;
};

class CIniFile {
public:
    explicit CIniFile(const char* path);
    // Sections and entries point into the object's own storage.
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // Replaces the file name; the contents stay until the next load.
    void SetFileName(const char* path);
    const std::string& GetFileName() const { return m_fileName; }

    // Empties the object, then reads and parses the whole file. False when the
    // file cannot be opened or read, or is 2 GiB or larger.
    bool LoadFromFile();
    // Parses bytes as if they were the file's contents (fuzzers, tools). The
    // bytes are copied; the caller's buffer need not outlive the call.
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
    // line numbers), for tools that report diagnostics.
    size_t GetSectionLine(size_t sect) const;
    size_t GetItemLine(size_t sect, size_t item) const;

private:
    struct FreeBlock {
        void operator()(char* block) const;
    };

    void Clear();
    char* AllocateText(size_t size);
    bool ParseText(size_t size);
    void Parse(char* data, size_t size);
    void AddEntry(char* begin, char* end, uint32_t line);
    size_t FindOrAddSection(char* name, size_t n, uint32_t line, bool& created);
    void IndexSections();
    void EnterSection(size_t sect, bool created);
    void Finish();

    std::vector<IniSection> m_sections;
    std::string m_fileName;
    bool m_loaded = false;
    // One block per load: the file's text, cut into the strings above, then
    // every entry of every section, grouped by section in section order (each
    // section's item list is a slice of it). The entry array is sized from
    // the text before parsing and never regrows.
    std::unique_ptr<char, FreeBlock> m_block;
    IniItem* m_items = nullptr;
    size_t m_itemCount = 0;
    size_t m_itemCapacity = 0;

    // Load-time scratch.
    std::vector<uint64_t> m_slots;         // open-addressing section lookup, once there are many
    std::vector<uint32_t> m_entrySection;  // section of each entry, once a section is re-entered
    bool m_reentered = false;
    static constexpr size_t kNoSection = size_t(-1);
    size_t m_current = kNoSection;  // section that entry lines go to
};
