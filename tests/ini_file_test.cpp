// The INI resource reader: line splitting, headers, comments, entries,
// lookups, integer reads, reloads and refusal of oversized files.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "IniFile.h"

using ::testing::ElementsAre;
using ::testing::Pair;

namespace {

// A private directory under the system temp dir, removed with its files.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/ini_test_XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) != nullptr) m_path = buf.data();
    }
    ~TempDir() {
        for (auto it = m_files.rbegin(); it != m_files.rend(); ++it) {
            if (::unlink(it->c_str()) != 0) ::rmdir(it->c_str());
        }
        if (!m_path.empty()) ::rmdir(m_path.c_str());
    }
    const std::string& path() const { return m_path; }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string full = m_path + "/" + name;
        std::FILE* fp = std::fopen(full.c_str(), "wb");
        if (fp == nullptr) return "";
        std::fwrite(bytes.data(), 1, bytes.size(), fp);
        std::fclose(fp);
        m_files.push_back(full);
        return full;
    }
    std::string MakeDir(const std::string& name) {
        const std::string full = m_path + "/" + name;
        ::mkdir(full.c_str(), 0700);
        m_files.push_back(full);
        return full;
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries ItemsOf(const CIniFile& ini, size_t sect) {
    Entries out;
    for (size_t i = 0; i < ini.GetItemCount(sect); ++i) {
        const char* key = nullptr;
        const char* value = nullptr;
        EXPECT_TRUE(ini.GetItem(sect, i, key, value));
        out.emplace_back(key, value);
    }
    return out;
}

std::vector<std::string> SectionNames(const CIniFile& ini) {
    std::vector<std::string> out;
    for (size_t i = 0; i < ini.GetSectionCount(); ++i) out.emplace_back(ini.GetSectionName(i));
    return out;
}

// Every parsing case runs twice: through a real file and through memory, so
// the two loaders can never drift apart.
enum class Source { kFile, kMemory };

class IniParse : public ::testing::TestWithParam<Source> {
protected:
    CIniFile& Load(const std::string& text) {
        if (GetParam() == Source::kFile) {
            ini.SetFileName(dir.Write("t" + std::to_string(++m_n) + ".ini", text).c_str());
            EXPECT_TRUE(ini.LoadFromFile());
        } else {
            EXPECT_TRUE(ini.LoadFromMemory(text.data(), text.size()));
        }
        EXPECT_TRUE(ini.IsLoaded());
        return ini;
    }

    TempDir dir;
    CIniFile ini{""};

private:
    int m_n = 0;
};

INSTANTIATE_TEST_SUITE_P(BothLoaders, IniParse, ::testing::Values(Source::kFile, Source::kMemory),
                         [](const auto& info) {
                             return info.param == Source::kFile ? "File" : "Memory";
                         });

TEST_P(IniParse, EmptyFileHasNoSections) {
    Load("");
    EXPECT_EQ(ini.GetSectionCount(), 0u);
    EXPECT_EQ(ini.ReadInteger("AreaBoss", "CheckFrequency", 42), 42);
}

TEST_P(IniParse, EntriesBeforeFirstHeaderAreIgnored) {
    Load("a=1\nb=2\n[S]\nc=3\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("S"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("c", "3")));
}

TEST_P(IniParse, HeaderNameKeepsInnerSpaces) {
    Load("[ AreaBoss]\nx=1\n[AreaBoss ]\ny=2\n  [Mid Name]\t\nz=3\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre(" AreaBoss", "AreaBoss ", "Mid Name"));
    EXPECT_EQ(ini.FindSection("AreaBoss"), nullptr);
    EXPECT_NE(ini.FindSection(" areaboss"), nullptr);
    EXPECT_EQ(ini.ReadInteger("Mid Name", "z", 0), 3);
}

TEST_P(IniParse, HeaderWithTrailingCommentIsNoHeader) {
    Load("[A]\nx=1\n[B] ; boss list\ny=2\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("A"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("x", "1"), Pair("y", "2")));
}

TEST_P(IniParse, LookupsIgnoreAsciiLetterCase) {
    Load("[areaboss]\ncheckfrequency=30\n");
    EXPECT_EQ(ini.ReadInteger("AreaBoss", "CheckFrequency", -1), 30);
    EXPECT_EQ(ini.ReadInteger("AREABOSS", "CHECKFREQUENCY", -1), 30);
    const IniSection* s = ini.FindSection("AreaBoss");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->name, "areaboss");  // stored as written
    EXPECT_NE(ini.FindItem(*s, "CheckFrequency"), nullptr);
    EXPECT_EQ(ini.FindItem(*s, "CheckFrequenc"), nullptr);
}

TEST_P(IniParse, CaseFoldingStopsAtAsciiLetters) {
    // 0xC1 and 0xE1 differ by 0x20 like 'A'/'a' but are not letters.
    Load("[\xC1]\nk=1\n[\xE1]\nk=2\n[@]\nk=3\n[`]\nk=4\n");
    EXPECT_EQ(ini.GetSectionCount(), 4u);
    EXPECT_EQ(ini.ReadInteger("\xC1", "k", 0), 1);
    EXPECT_EQ(ini.ReadInteger("\xE1", "k", 0), 2);
    EXPECT_EQ(ini.ReadInteger("@", "k", 0), 3);
    EXPECT_EQ(ini.ReadInteger("`", "k", 0), 4);
}

TEST_P(IniParse, KeyWithoutValueIsNotStored) {
    Load("[S]\nempty=\nblank=  \t \nkept=1\n");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("kept", "1")));
    EXPECT_EQ(ini.ReadInteger("S", "empty", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "blank", 8), 8);
}

TEST_P(IniParse, MalformedLinesAreSkipped) {
    Load("[S]\n=1\n  =2\nnoequals\n[]\nx\n \tx\t \n[S2\nk=v\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("S"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("k", "v")));
}

TEST_P(IniParse, SplitsAtFirstEqualsSign) {
    Load("[S]\na = b = c\n");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("a", "b = c")));
}

TEST_P(IniParse, ValueKeepsQuotesBracketsAndSemicolons) {
    Load("[S]\nv = \"x\" [y] ; z // w\n");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("v", "\"x\" [y] ; z // w")));
}

TEST_P(IniParse, CommentsOnlyAtLineStart) {
    Load("[S]\n//a=1\n;b=2\n  ; c=3\n\t//d=4\n/e=5\n#f=6\n");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("/e", "5"), Pair("#f", "6")));
}

TEST_P(IniParse, TrimsOnlySpacesAndTabs) {
    Load("[S]\n \t key \t=\t value \t\n\vk\v=\vv\v\n");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("key", "value"), Pair("\vk\v", "\vv\v")));
}

TEST_P(IniParse, LastLineWithoutLineEndIsParsed) {
    Load("[S]\r\na=1\r\nb=2");
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("a", "1"), Pair("b", "2")));
}

TEST_P(IniParse, CrOnlyLfOnlyAndCrLfEndingsParseAlike) {
    const Entries want = {{"a", "1"}, {"b", "2"}};
    for (const char* text : {"[S]\ra=1\r\rb=2\r", "[S]\na=1\n\nb=2\n", "[S]\r\na=1\r\n\r\nb=2\r\n",
                             "[S]\n\ra=1\r\n\n\rb=2"}) {
        Load(text);
        ASSERT_EQ(ini.GetSectionCount(), 1u) << text;
        EXPECT_EQ(ItemsOf(ini, 0), want);
    }
}

TEST_P(IniParse, ByteOrderMarkHidesFirstHeader) {
    Load("\xEF\xBB\xBF[S]\na=1\n[T]\nb=2\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("T"));
    EXPECT_EQ(ini.ReadInteger("S", "a", -1), -1);
}

TEST_P(IniParse, RepeatedHeaderContinuesFirstSection) {
    Load("[Boss]\na=1\n[Other]\nx=9\n[BOSS]\nb=2\na=3\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("Boss", "Other"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("a", "1"), Pair("b", "2"), Pair("a", "3")));
    EXPECT_EQ(ini.ReadInteger("boss", "A", 0), 1);  // first entry wins
}

TEST_P(IniParse, HashCollisionsStayDistinct) {
    // 'a'*5+'f' == 'b'*5+'a': same hash, different names.
    ASSERT_EQ(IniHash("af"), IniHash("ba"));
    Load("[af]\nk=1\n[ba]\nk=2\n[AF]\nj=3\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("af", "ba"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("k", "1"), Pair("j", "3")));
    EXPECT_EQ(ini.ReadInteger("ba", "k", 0), 2);
    const IniSection* s = ini.FindSection("af");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ini.FindItem(*s, "ba"), nullptr);
}

TEST_P(IniParse, ManySectionsRevisitedInAnyOrder) {
    std::string text;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 3000; ++i)
            text += "[" + std::string(round ? "SEC" : "sec") + std::to_string(i) + "]\nk" +
                    std::to_string(round) + "=" + std::to_string(i * 10 + round) + "\n";
    Load(text);
    ASSERT_EQ(ini.GetSectionCount(), 3000u);
    for (size_t i = 0; i < 3000; i += 499) {
        EXPECT_EQ(ini.GetSectionName(i), "sec" + std::to_string(i));
        EXPECT_THAT(ItemsOf(ini, i), ElementsAre(Pair("k0", std::to_string(i * 10)),
                                                 Pair("k1", std::to_string(i * 10 + 1))));
    }
}

TEST_P(IniParse, NulByteCutsItsLine) {
    const char raw[] = "[S]\na=12\0tail\nb=2\n\0c=3\n";
    Load(std::string(raw, sizeof raw - 1));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("a", "12"), Pair("b", "2")));
}

TEST_P(IniParse, MultiByteTextPassesThroughUnchanged) {
    // GBK for a section, key and value.
    Load("[\xB9\xD6\xCE\xEF]\n\xC3\xFB\xD7\xD6=\xC0\xC7,0.5\n");
    EXPECT_THAT(SectionNames(ini), ElementsAre("\xB9\xD6\xCE\xEF"));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("\xC3\xFB\xD7\xD6", "\xC0\xC7,0.5")));
}

TEST_P(IniParse, StoredHashesMatchIniHash) {
    Load("[Npc Model]\nWolf_01=1201,0.25,wolf,7\n");
    const IniSection* s = ini.FindSection("npc model");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->nameHash, IniHash("Npc Model"));
    ASSERT_EQ(s->items.size(), 1u);
    EXPECT_EQ(s->items[0].keyHash, IniHash("wolf_01"));
}

TEST_P(IniParse, LineNumbersCountEveryPhysicalLine) {
    Load("; head\r\n[A]\r\n\r\nx=1\r\n[B]\ry=2\r\r//c\nz=3\n[a]\nw=4\n");
    ASSERT_EQ(ini.GetSectionCount(), 2u);
    EXPECT_EQ(ini.GetSectionLine(0), 2u);
    EXPECT_EQ(ini.GetSectionLine(1), 5u);
    EXPECT_EQ(ini.GetItemLine(0, 0), 4u);
    EXPECT_EQ(ini.GetItemLine(0, 1), 11u);  // continued by [a] on line 10
    EXPECT_EQ(ini.GetItemLine(1, 0), 6u);
    EXPECT_EQ(ini.GetItemLine(1, 1), 9u);
}

TEST_P(IniParse, LineNumbersFollowEntriesIntoRevisitedSections) {
    // 1 [A]  2 a1  3 [B]  4 b1  5 b2  6 [a]  7 a2  8 [C]  9 c1  10 [b]  11 b3  12 [A]  13 a3
    Load("[A]\na1=1\n[B]\nb1=1\nb2=2\n[a]\na2=2\n[C]\nc1=1\n[b]\nb3=3\n[A]\na3=3\n");
    ASSERT_THAT(SectionNames(ini), ElementsAre("A", "B", "C"));
    auto lines = [&](size_t s) {
        std::vector<size_t> out;
        for (size_t i = 0; i < ini.GetItemCount(s); ++i) out.push_back(ini.GetItemLine(s, i));
        return out;
    };
    EXPECT_THAT(lines(0), ElementsAre(2u, 7u, 13u));
    EXPECT_THAT(lines(1), ElementsAre(4u, 5u, 11u));
    EXPECT_THAT(lines(2), ElementsAre(9u));
    EXPECT_THAT(ItemsOf(ini, 0), ElementsAre(Pair("a1", "1"), Pair("a2", "2"), Pair("a3", "3")));
    EXPECT_EQ(ini.GetSectionLine(0), 1u);
    EXPECT_EQ(ini.GetSectionLine(2), 8u);
}

TEST_P(IniParse, UnevenSectionSizesKeepEveryEntry) {
    // A big section followed by small and empty ones, then a big one again.
    std::string text = "[Big]\n";
    for (int i = 0; i < 40; ++i) text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    text += "[Small]\nk=1\n[Empty]\n[Big2]\n";
    for (int i = 0; i < 50; ++i) text += "k" + std::to_string(i) + "=v\n";
    Load(text);
    ASSERT_EQ(ini.GetSectionCount(), 4u);
    EXPECT_EQ(ini.GetItemCount(0), 40u);
    EXPECT_EQ(ini.GetItemCount(1), 1u);
    EXPECT_EQ(ini.GetItemCount(2), 0u);
    EXPECT_EQ(ini.GetItemCount(3), 50u);
    EXPECT_EQ(ini.ReadInteger("Big", "k39", -1), 39);
    EXPECT_EQ(ini.GetItemLine(3, 49), 95u);  // 1 + 40 + 4 + 50
}

TEST_P(IniParse, EntriesAsDenseAsTheFormatAllows) {
    // Every line the shortest entry there is, the last without a line end:
    // the entries fill as much of the file as they possibly can.
    std::string text = "[S]\n";
    for (int i = 0; i < 600; ++i)
        text += std::string(1, char('a' + i % 26)) + "=" + char('0' + i % 10) + "\n";
    text += "z=9";
    Load(text);
    ASSERT_EQ(ini.GetItemCount(0), 601u);
    const Entries items = ItemsOf(ini, 0);
    EXPECT_EQ(items[0], std::make_pair(std::string("a"), std::string("0")));
    EXPECT_EQ(items[599], std::make_pair(std::string("b"), std::string("9")));
    EXPECT_EQ(items[600], std::make_pair(std::string("z"), std::string("9")));
    EXPECT_EQ(ini.GetItemLine(0, 600), 602u);
}

TEST_P(IniParse, ReadIntegerConvertsLikeStrtol) {
    Load(
        "[S]\nplain=42\nneg=-17\nplus=+8\ntrail=12abc\nwords=abc\nspace=  9\n"
        "big=99999999999\nsmall=-99999999999\nmax=2147483647\nhex=0x10\nfrac=3.9\n");
    EXPECT_EQ(ini.ReadInteger("S", "plain", -1), 42);
    EXPECT_EQ(ini.ReadInteger("S", "neg", -1), -17);
    EXPECT_EQ(ini.ReadInteger("S", "plus", -1), 8);
    EXPECT_EQ(ini.ReadInteger("S", "trail", -1), 12);
    EXPECT_EQ(ini.ReadInteger("S", "words", -1), 0);  // no digits: 0, not the default
    EXPECT_EQ(ini.ReadInteger("S", "space", -1), 9);
    EXPECT_EQ(ini.ReadInteger("S", "big", -1), INT_MAX);
    EXPECT_EQ(ini.ReadInteger("S", "small", -1), INT_MIN);
    EXPECT_EQ(ini.ReadInteger("S", "max", -1), INT_MAX);
    EXPECT_EQ(ini.ReadInteger("S", "hex", -1), 0);
    EXPECT_EQ(ini.ReadInteger("S", "frac", -1), 3);
    EXPECT_EQ(ini.ReadInteger("S", "missing", -1), -1);
    EXPECT_EQ(ini.ReadInteger("T", "plain", -5), -5);
    EXPECT_EQ(ini.ReadInteger(nullptr, "plain", -6), -6);
    EXPECT_EQ(ini.ReadInteger("S", nullptr, -7), -7);
}

TEST_P(IniParse, DuplicateKeysAreAllWalked) {
    Load("[S]\nk=1\nk=2\nK=3\n");
    EXPECT_EQ(ini.GetItemCount(0), 3u);
    EXPECT_EQ(ini.ReadInteger("S", "k", 0), 1);
}

TEST_P(IniParse, IndexesPastTheEndAnswerEmpty) {
    Load("[S]\nk=1\n");
    EXPECT_STREQ(ini.GetSectionName(1), "");
    EXPECT_EQ(ini.GetItemCount(5), 0u);
    const char* key = nullptr;
    const char* value = nullptr;
    EXPECT_FALSE(ini.GetItem(0, 1, key, value));
    EXPECT_STREQ(key, "");
    EXPECT_STREQ(value, "");
    EXPECT_FALSE(ini.GetItem(3, 0, key, value));
    EXPECT_EQ(ini.GetSectionLine(1), 0u);
    EXPECT_EQ(ini.GetItemLine(0, 1), 0u);
}

// ---- files -------------------------------------------------------------------

TEST(IniFile, HashFoldsLettersAndTakesBytesUnsigned) {
    EXPECT_EQ(IniHash(""), 0u);
    EXPECT_EQ(IniHash("Ab"), 97u * 5 + 98);
    EXPECT_EQ(IniHash("AB"), IniHash("ab"));
    EXPECT_EQ(IniHash("\xB0\xA1"), 0xB0u * 5 + 0xA1);
    EXPECT_EQ(IniHash(nullptr), 0u);
    // Twenty 0xFF bytes: 255 * (5^20 - 1) / 4, modulo 2^32.
    uint64_t pow5 = 1;
    for (int i = 0; i < 20; ++i) pow5 *= 5;  // fits: 5^20 < 2^47
    const uint32_t want = uint32_t(255 * ((pow5 - 1) / 4));
    EXPECT_EQ(IniHash(std::string(20, '\xFF').c_str()), want);
}

TEST(IniFile, FilesOfEverySmallSizeReadWhole) {
    // The line scan reads the text in blocks of 16 bytes: every alignment of
    // the file's end against them, and a few larger files. The last line has
    // no line end and must still count.
    TempDir dir;
    std::vector<size_t> sizes = {4095, 4096, 4097, 70000};
    for (size_t size = 18; size < 60; ++size) sizes.push_back(size);
    for (size_t size : sizes) {
        std::string text = "[S]\n";
        const std::string tail = "\nlast=end";
        const std::string pad(size - text.size() - 4 - tail.size(), 'x');
        text += "pad=" + pad + tail;
        ASSERT_EQ(text.size(), size);
        CIniFile ini(dir.Write("s" + std::to_string(size) + ".ini", text).c_str());
        ASSERT_TRUE(ini.LoadFromFile()) << size;
        const Entries items = ItemsOf(ini, 0);
        ASSERT_EQ(items.size(), 2u) << size;
        EXPECT_TRUE(items[0].second == pad) << size;
        EXPECT_EQ(items[1], std::make_pair(std::string("last"), std::string("end"))) << size;
    }
}

TEST(IniFile, MissingFileFailsAndLeavesObjectEmpty) {
    TempDir dir;
    CIniFile ini(dir.Write("a.ini", "[S]\nk=1\n").c_str());
    ASSERT_TRUE(ini.LoadFromFile());
    const char* name = ini.GetSectionName(0);
    ini.SetFileName((dir.path() + "/none.ini").c_str());
    EXPECT_EQ(ini.GetSectionCount(), 1u);  // contents stay until the next load
    EXPECT_STREQ(name, "S");
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_FALSE(ini.IsLoaded());
    EXPECT_EQ(ini.GetSectionCount(), 0u);
    EXPECT_EQ(ini.ReadInteger("S", "k", 5), 5);
}

TEST(IniFile, SecondFileReplacesFirst) {
    TempDir dir;
    CIniFile ini(dir.Write("model.ini", "[M1]\na=1\n[Shared]\nx=1\n").c_str());
    ASSERT_TRUE(ini.LoadFromFile());
    ini.SetFileName(dir.Write("creator.ini", "[C1]\nb=2\n[Shared]\ny=2\n").c_str());
    ASSERT_TRUE(ini.LoadFromFile());
    EXPECT_THAT(SectionNames(ini), ElementsAre("C1", "Shared"));
    EXPECT_THAT(ItemsOf(ini, 1), ElementsAre(Pair("y", "2")));
    EXPECT_EQ(ini.FindSection("M1"), nullptr);
    EXPECT_EQ(ini.GetItemLine(1, 0), 4u);
}

TEST(IniFile, BackslashesMapToSlashesOnlyWhenOpening) {
    TempDir dir;
    dir.MakeDir("Npc");
    dir.Write("Npc/ModelProb.ini", "[S]\nk=3\n");
    const std::string written = dir.path() + "/Npc\\ModelProb.ini";
    CIniFile ini(written.c_str());
    ASSERT_TRUE(ini.LoadFromFile());
    EXPECT_EQ(ini.ReadInteger("S", "k", 0), 3);
    EXPECT_EQ(ini.GetFileName(), written);
}

TEST(IniFile, DirectoryIsNotAFile) {
    TempDir dir;
    CIniFile ini(dir.MakeDir("sub").c_str());
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_EQ(ini.GetSectionCount(), 0u);
}

// Sparse files: the size is real but no data is written.
bool MakeSparse(const std::string& path, const std::string& head, off_t size) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, head.data(), head.size()) == ssize_t(head.size());
    ok = ok && ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

TEST(IniFile, FileOf2GiBIsRefused) {
    TempDir dir;
    const std::string path = dir.path() + "/big.ini";
    if (!MakeSparse(path, "[S]\nk=1\n", off_t(1) << 31)) GTEST_SKIP() << "no sparse files here";
    CIniFile ini(path.c_str());
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_FALSE(ini.IsLoaded());
    EXPECT_EQ(ini.GetSectionCount(), 0u);
    ::unlink(path.c_str());
}

TEST(IniFile, SizeThatWrapsTo32BitsIsRefusedNotTruncated) {
    // 4 GiB + 8: a 32-bit byte count would read just the first 8 bytes and
    // report a complete file.
    TempDir dir;
    const std::string path = dir.path() + "/wrap.ini";
    const std::string head = "[S]\nk=1\n";
    if (!MakeSparse(path, head, (off_t(1) << 32) + off_t(head.size())))
        GTEST_SKIP() << "no sparse files here";
    CIniFile ini(path.c_str());
    EXPECT_FALSE(ini.LoadFromFile());
    EXPECT_EQ(ini.ReadInteger("S", "k", -1), -1);
    ::unlink(path.c_str());
}

TEST(IniFile, MemoryLoadKeepsItsOwnCopy) {
    std::string text = "[Boss]\nCheckFrequency=30\n";
    CIniFile ini("");
    ASSERT_TRUE(ini.LoadFromMemory(text.data(), text.size()));
    std::fill(text.begin(), text.end(), 'x');
    text = std::string(200, 'y');  // the old bytes are freed
    EXPECT_STREQ(ini.GetSectionName(0), "Boss");
    EXPECT_EQ(ini.ReadInteger("Boss", "CheckFrequency", 0), 30);
}

TEST(IniFile, MemoryLoadOf2GiBIsRefusedUnread) {
    // The same limit as for files; the count alone refuses it, before a byte
    // of the (much shorter) buffer would be read past its end.
    const char bytes[] = "[S]\nk=1\n";
    CIniFile ini("");
    EXPECT_FALSE(ini.LoadFromMemory(bytes, size_t(1) << 31));
    EXPECT_FALSE(ini.IsLoaded());
    EXPECT_EQ(ini.GetSectionCount(), 0u);
}

TEST(IniFile, MemoryLoadOfNothing) {
    CIniFile ini("");
    EXPECT_TRUE(ini.LoadFromMemory(nullptr, 0));
    EXPECT_EQ(ini.GetSectionCount(), 0u);
    EXPECT_FALSE(ini.LoadFromMemory(nullptr, 4));
    EXPECT_FALSE(ini.IsLoaded());
}

}  // namespace
