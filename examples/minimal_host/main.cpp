// A minimal host: loads the rules plug-in, loads one creator of the sample
// data, selects it as a player and prints the encounter list it answers.
//
//   minimal_host [CREATOR_NUMBER [PLUGIN [RESOURCE_DIR]]]
//
// The kernel derives from the kit's KernelBase and overrides only what this
// world hosts: one creator and one player, their properties and records, the
// creator's class callbacks and the commands the plug-in sends.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "HostModuleBases.h"
#include "HostVarList.h"
#include "KernelBase.h"
#include "PluginLoader.h"

namespace {

const ObjectId kCreator{1, 1};
const ObjectId kPlayer{2, 1};

class MinimalKernel : public host::KernelBase {
public:
    MinimalKernel(std::string resources, int creatorNumber)
        : m_resources(std::move(resources)), m_creatorNumber(creatorNumber) {}

    int encounterSize = -1;  // NPCs of the last command 1001; -1 before one arrived

    // Raises a class event of the creator class on the callbacks registered for it.
    void Raise(const char* event, const ObjectId& sender, const IVarList& args) {
        for (KernelCallback fn : m_callbacks[event]) fn(this, kCreator, sender, args);
    }

    IModule* FindModule(const char* name) override {
        if (std::string(name) == TEAM_SYSTEM_MODULE_NAME) return &m_team;
        if (std::string(name) == EVENT_TIME_SYSTEM_MODULE_NAME) return &m_eventTime;
        return nullptr;
    }
    bool AddClassCallback(const char* cls, const char* event, KernelCallback fn, int) override {
        if (std::string(cls) == "NpcCreator") m_callbacks[event].push_back(fn);
        return true;
    }
    void Trace(const char* line) override { std::fprintf(stderr, "trace: %s\n", line); }
    void Echo(const char* line) override { std::fprintf(stderr, "echo: %s\n", line); }
    const char* GetResourcePath() override { return m_resources.c_str(); }
    int GetConfigIndex(const ObjectId& obj) override {
        return obj == kCreator ? m_creatorNumber : 0;
    }
    bool Exists(const ObjectId& obj) override { return obj == kCreator || obj == kPlayer; }

    // Properties: any name holds an int or a string, created on first write.
    bool FindAttr(const ObjectId& obj, const char* name) override {
        return m_props.count({obj, name}) != 0;
    }
    bool SetInt(const ObjectId& obj, const char* name, int v) override {
        m_props[{obj, name}] = v;
        return true;
    }
    bool SetString(const ObjectId& obj, const char* name, const char* v) override {
        m_props[{obj, name}] = std::string(v);
        return true;
    }
    int QueryInt(const ObjectId& obj, const char* name) override {
        const auto* v = std::get_if<int32_t>(&m_props[{obj, name}]);
        return v ? *v : 0;
    }
    const char* QueryString(const ObjectId& obj, const char* name) override {
        const auto* v = std::get_if<std::string>(&m_props[{obj, name}]);
        return v ? v->c_str() : "";
    }

    // Records: rows of values, as many as the plug-in appends.
    int GetRecordRows(const ObjectId& obj, const char* rec) override {
        return int(m_recs[{obj, rec}].size());
    }
    int AddRecordBlankRow(const ObjectId& obj, const char* rec, int) override {
        m_recs[{obj, rec}].emplace_back();
        return GetRecordRows(obj, rec) - 1;
    }
    bool SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                            const IVarList& values) override {
        if (row < 0 || row >= GetRecordRows(obj, rec)) return false;
        m_recs[{obj, rec}][size_t(row)] = values;
        return true;
    }
    int QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) override {
        return Row(obj, rec, row).IntVal(col);
    }
    float QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) override {
        return Row(obj, rec, row).FloatVal(col);
    }
    const char* QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) override {
        return Row(obj, rec, row).StringVal(col);
    }
    int FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) override {
        for (int r = 0; r < GetRecordRows(obj, rec); ++r)
            if (QueryRecordInt(obj, rec, r, col) == value) return r;
        return -1;
    }

    // Commands: this world allows every selection; command 1001 is the encounter.
    int Command(const ObjectId&, const ObjectId&, const IVarList& args) override {
        if (args.IntVal(0) != 1001) return 1;
        // 1001, creator, leader flag, size, then one (NPC, slot) pair per NPC.
        encounterSize = args.GetCount() < 4 ? 0 : int(args.GetCount() - 4) / 2;
        std::printf("encounter of creator %d: %d NPCs\n", m_creatorNumber, encounterSize);
        for (uint64_t i = 4; i + 1 < args.GetCount(); i += 2)
            std::printf("  NPC %d at formation slot %d\n", args.IntVal(i), args.IntVal(i + 1));
        return 1;
    }

private:
    using Key = std::pair<ObjectId, std::string>;
    const host::HostVarList& Row(const ObjectId& obj, const char* rec, int row) {
        static const host::HostVarList kNone;
        auto& rows = m_recs[{obj, rec}];
        return row >= 0 && size_t(row) < rows.size() ? rows[size_t(row)] : kNone;
    }
    std::string m_resources;
    int m_creatorNumber;
    host::TeamSystemBase m_team;
    host::EventTimeSystemBase m_eventTime;
    std::map<std::string, std::vector<KernelCallback>> m_callbacks;
    std::map<Key, host::Value> m_props;
    std::map<Key, std::vector<host::HostVarList>> m_recs;
};

}  // namespace

int main(int argc, char** argv) {
    const int creator = argc > 1 ? std::atoi(argv[1]) : 1;
    const std::string plugin = argc > 2 ? argv[2] : MINIMAL_HOST_PLUGIN;
    const std::string resources = argc > 3 ? argv[3] : MINIMAL_HOST_RESOURCES;

    host::PluginLoader loader;
    if (!loader.Load(plugin)) {
        std::fprintf(stderr, "minimal_host: %s\n", loader.error().c_str());
        return 3;
    }
    std::printf("plug-in %s: %zu modules\n", plugin.c_str(), loader.modules().size());
    {
        MinimalKernel kernel(resources, creator);
        const host::LifecycleReport report = loader.Start(kernel);
        if (!report.ok()) {
            std::fprintf(stderr, "minimal_host: a module failed to start\n");
            return 1;
        }
        kernel.SetInt(kCreator, "MaxSelectCount", 3);
        kernel.Raise("OnLoad", ObjectId{}, host::HostVarList());
        std::printf("creator %d loaded: model %d \"%s\"\n", creator,
                    kernel.QueryInt(kCreator, "Model"), kernel.QueryString(kCreator, "NPCDes"));
        kernel.Raise("OnSelect", kPlayer, host::HostVarList::Of({int32_t(1)}));
        // The modules keep no pointer to the kernel past unload; unload first.
        loader.Unload();
        if (kernel.encounterSize < 1) {
            std::fprintf(stderr, "minimal_host: selecting creator %d sent no encounter\n", creator);
            return 1;
        }
    }
    return 0;
}
