// End to end: the built plug-in loaded the way a server loads it, through
// host::PluginLoader, and its dynamic symbol table as the linker left it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PluginLoader.h"

namespace {

using Strings = std::vector<std::string>;

std::vector<std::string> ModuleNames(const host::PluginLoader& loader) {
    std::vector<std::string> names;
    for (const host::LoadedModule& m : loader.modules()) names.push_back(m.name);
    return names;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Offsets of every occurrence of needle in haystack.
std::vector<size_t> FindAll(const std::string& haystack, const std::string& needle) {
    std::vector<size_t> at;
    for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
        at.push_back(p);
    return at;
}

// A scratch directory removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/plugin_load_test.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made != nullptr) m_path = made;
    }
    ~ScratchDir() {
        for (const std::string& f : m_files) std::remove(f.c_str());
        if (!m_path.empty()) rmdir(m_path.c_str());
    }
    bool ok() const { return !m_path.empty(); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = m_path + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        m_files.push_back(path);
        return path;
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

TEST(PluginLoad, ReportsVersionAndModulesInCreatorOrder) {
    host::PluginLoader loader;
    ASSERT_TRUE(loader.Load(TEST_PLUGIN_PATH)) << loader.error();
    EXPECT_TRUE(loader.loaded());
    EXPECT_TRUE(loader.error().empty());
    EXPECT_EQ(loader.version(), 0x20010011u);
    EXPECT_EQ(ModuleNames(loader),
              (Strings{"AutoTeamFarmSystem", "AreaBossSystem", "NpcCreatorSystem"}));
    std::set<IModule*> distinct;
    for (const host::LoadedModule& m : loader.modules()) {
        EXPECT_NE(m.module, nullptr) << m.name;
        distinct.insert(m.module);
    }
    EXPECT_EQ(distinct.size(), 3u);
    EXPECT_EQ(loader.Find("AreaBossSystem"), loader.modules()[1].module);
    EXPECT_EQ(loader.Find("TeamSystem"), nullptr);
}

TEST(PluginLoad, ModulesShutDownWithoutInitWhenUnloaded) {
    host::PluginLoader loader;
    ASSERT_TRUE(loader.Load(TEST_PLUGIN_PATH)) << loader.error();
    for (const host::LoadedModule& m : loader.modules()) EXPECT_TRUE(m.module->Shut()) << m.name;
    loader.Unload();
    EXPECT_FALSE(loader.loaded());
    EXPECT_TRUE(loader.modules().empty());
}

TEST(PluginLoad, ReloadAfterUnloadBuildsTheSameList) {
    host::PluginLoader loader;
    ASSERT_TRUE(loader.Load(TEST_PLUGIN_PATH)) << loader.error();
    loader.Unload();
    ASSERT_TRUE(loader.Load(TEST_PLUGIN_PATH)) << loader.error();
    EXPECT_EQ(ModuleNames(loader),
              (Strings{"AutoTeamFarmSystem", "AreaBossSystem", "NpcCreatorSystem"}));
}

// The kernel matches names inside these ranges by address alone, so they
// must hold the library's code and constants and go away with it.
TEST(PluginLoad, ReadOnlyRangesCoverTheCodeUntilUnload) {
    host::PluginLoader loader;
    EXPECT_TRUE(loader.ReadOnlyRanges().empty());
    ASSERT_TRUE(loader.Load(TEST_PLUGIN_PATH)) << loader.error();
    void* handle = dlopen(TEST_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    const auto at = reinterpret_cast<uintptr_t>(dlsym(handle, "KvGameLogic_GetVersion"));
    dlclose(handle);
    const auto ranges = loader.ReadOnlyRanges();
    bool covered = false;
    for (const auto& [begin, end] : ranges) covered = covered || (at >= begin && at < end);
    EXPECT_TRUE(covered);
    loader.Unload();
    EXPECT_TRUE(loader.ReadOnlyRanges().empty());

    // The host's own: the program holding a function, never writable data.
    static const char kLiteral[] = "a host literal";
    static char writable[8];
    const auto own = host::PluginLoader::ReadOnlyRangesAround(
        reinterpret_cast<const void*>(&host::PluginLoader::ReadOnlyRangesAround));
    auto inside = [&own](const void* p) {
        const auto a = reinterpret_cast<uintptr_t>(p);
        for (const auto& [begin, end] : own)
            if (a >= begin && a < end) return true;
        return false;
    };
    EXPECT_TRUE(inside(kLiteral));
    EXPECT_FALSE(inside(writable));
    EXPECT_TRUE(host::PluginLoader::ReadOnlyRangesAround(nullptr).empty());
}

TEST(PluginLoad, MissingLibraryIsAClearError) {
    host::PluginLoader loader;
    const std::string path = "/nonexistent/libgamerules.so";
    EXPECT_FALSE(loader.Load(path));
    EXPECT_FALSE(loader.loaded());
    EXPECT_NE(loader.error().find(path), std::string::npos) << loader.error();
    EXPECT_TRUE(loader.modules().empty());
}

TEST(PluginLoad, ExportsExactlyTheTwoEntryPoints) {
    if (std::system("command -v nm >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "nm is not installed; dynamic symbol table not checked";
    const std::string command = std::string("nm -D --defined-only '") + TEST_PLUGIN_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe) != nullptr) output += buf;
    ASSERT_EQ(pclose(pipe), 0) << output;

    // Lines read "address type name"; keep the names.
    std::set<std::string> names;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts{std::istream_iterator<std::string>(fields),
                                       std::istream_iterator<std::string>()};
        if (!parts.empty()) names.insert(parts.back());
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"KvGameLogic_GetModuleCreator", "KvGameLogic_GetVersion"}))
        << output;
}

// The only way to get a plug-in of another version without building one is
// to patch the constant its version export returns in a copy of the library.
TEST(PluginLoad, WrongVersionNamesBothNumbersAndCreatesNothing) {
    const std::string image = ReadFile(TEST_PLUGIN_PATH);
    ASSERT_FALSE(image.empty());
    // x86-64: mov eax, 0x20010011
    const std::string movVersion("\xB8\x11\x00\x01\x20", 5);
    const std::vector<size_t> at = FindAll(image, movVersion);
    if (at.size() != 1)
        GTEST_SKIP() << "version constant not found exactly once in the machine code (" << at.size()
                     << " matches); mismatch message not checked";
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    std::string patched = image;
    patched[at[0] + 1] = '\x12';
    const std::string path = dir.Write("libgamerules_other.so", patched);

    host::PluginLoader loader;
    EXPECT_FALSE(loader.Load(path));
    EXPECT_FALSE(loader.loaded());
    EXPECT_TRUE(loader.modules().empty());
    EXPECT_NE(loader.error().find("0x20010012"), std::string::npos) << loader.error();
    EXPECT_NE(loader.error().find("0x20010011"), std::string::npos) << loader.error();
}

TEST(PluginLoad, MissingExportIsNamed) {
    std::string image = ReadFile(TEST_PLUGIN_PATH);
    ASSERT_FALSE(image.empty());
    const std::string name = "KvGameLogic_GetModuleCreator";
    const std::vector<size_t> at = FindAll(image, name);
    ASSERT_FALSE(at.empty());
    // Renaming the symbol in every string table hides it from dlsym.
    for (size_t p : at) image[p + name.size() - 1] = 'X';
    ScratchDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.Write("libgamerules_noexport.so", image);

    host::PluginLoader loader;
    EXPECT_FALSE(loader.Load(path));
    EXPECT_FALSE(loader.loaded());
    EXPECT_NE(loader.error().find(name), std::string::npos) << loader.error();
}

}  // namespace
