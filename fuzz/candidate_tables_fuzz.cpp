// Arbitrary candidate tables through the creator's load, record fill and
// encounter draw: the input's two INI files are loaded by LoadResource, copied
// into creators' records and drawn from; every encounter sent must keep its
// slots inside the formation and its size field at least its pair count.
//
// Input: three header bytes (creator config index, script answer, team),
// then "Npc\ModelProb.ini" up to the first 0x1D byte and "Npc\CreatorProb.ini"
// after it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "NpcCreatorSystem.h"
#include "ObjectStoreKernel.h"
#include "Utility.h"
#include "VarList.h"

namespace {

using fuzz::Check;

class Team : public ITeamSystem {
public:
    bool inTeam = false;
    bool leader = false;
    int members = 0;
    bool IsTeamLeader(IKernel*, const ObjectId&) override { return leader; }
    const char16_t* GetTeamLeaderName(IKernel*, const ObjectId&) override { return u""; }
    bool IsInTeam(IKernel*, const ObjectId&) override { return inTeam; }
    int GetTeamMembers(IKernel*, const ObjectId&, IVarList& out) override {
        for (int i = 0; i < members; ++i) out.AddObject(ObjectId{uint32_t(100 + i), 1});
        return members;
    }
};

// One resource folder for the whole process; the files are rewritten per input.
const std::string& ResourceDir() {
    static const std::string dir = fuzz::MakeScratchFolder("candidate_fuzz", "Npc");
    return dir;
}

ObjectId AddCreator(ObjectStoreKernel& world, uint32_t ident, int configIndex) {
    const ObjectId id = world.Add(ObjectId{ident, 7}, "Creator", configIndex);
    ObjectStoreKernel::Obj& o = world.At(id);
    for (const char* p : {"CreatorType", "SelectCount", "MaxSelectCount", "Invisible",
                          "CantVisible", "RefreshTime", "RefreshModelTime", "Model", "ModelEx",
                          "Index", "NpcConfig", "CurNPCCount", "IsFighting"})
        o.props[p] = 0;
    o.props["NPCDes"] = std::string();
    o.recs["ModelInfoRec"].maxRows = 64;
    o.recs["NPCInfoRec"].maxRows = 256;
    return id;
}

// Every 1001 sent so far: [1001, creator, leader flag, size, (config, slot)...].
void CheckEncounters(const ObjectStoreKernel& world) {
    for (const Call* c : world.CommandsWithId(1001)) {
        const IVarList& cmd = *c->list;
        Check(cmd.GetCount() >= 4);
        Check((cmd.GetCount() - 4) % 2 == 0);
        const uint64_t pairs = (cmd.GetCount() - 4) / 2;
        Check(pairs >= 1);
        Check(cmd.GetType(3) == VTYPE_INT && cmd.IntVal(3) >= 0 &&
              uint64_t(cmd.IntVal(3)) >= pairs);
        const int leader = cmd.IntVal(2);
        Check(leader == 0 || leader == 1);
        for (uint64_t i = 5; i < cmd.GetCount(); i += 2) {
            Check(cmd.GetType(i) == VTYPE_INT);
            Check(cmd.IntVal(i) >= 0 && cmd.IntVal(i) < kFormationSlots);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int configByte = int8_t(data[0]);
    const int answer = int8_t(data[1]);
    const uint8_t teamBits = data[2];
    data += 3;
    size -= 3;
    size_t cut = 0;
    while (cut < size && data[cut] != 0x1D) ++cut;
    const std::string& dir = ResourceDir();
    fuzz::WriteFile(dir + "Npc/ModelProb.ini", data, cut);
    fuzz::WriteFile(dir + "Npc/CreatorProb.ini", data + (cut < size ? cut + 1 : size),
                    cut < size ? size - cut - 1 : 0);

    ObjectStoreKernel world;
    world.k.resourcePath = dir;
    Team team;
    team.inTeam = (teamBits & 1) != 0;
    team.leader = (teamBits & 2) != 0;
    team.members = (teamBits >> 2) & 7;
    NpcCreatorSystem::s_teamSystem = (teamBits & 0x20) != 0 ? nullptr : &team;
    // The script fails, answers a small count or an absurd one.
    if ((teamBits & 0x40) != 0) {
        world.k.Always("RunScriptFunction", Reply(false));
    } else {
        CVarList result;
        result.AddInt((teamBits & 0x80) != 0 ? answer * 1000003 : answer);
        world.k.Always("RunScriptFunction", Reply(true).Filling(result));
    }
    ResetRandomState();
    // A load only adds keys not yet present, so each input starts from empty
    // tables, as a fresh process would.
    NpcCreatorSystem::s_modelProbTable.clear();
    NpcCreatorSystem::s_creatorProbTable.clear();
    Check(NpcCreatorSystem::LoadResource(&world.k));

    // A creator of the first table entry's config index and one the input names.
    int configs[2] = {configByte, configByte};
    if (!NpcCreatorSystem::s_modelProbTable.empty())
        configs[0] = NpcCreatorSystem::s_modelProbTable.begin()->first;
    const ObjectId player{900, 3};
    for (int n = 0; n < 2; ++n) {
        const ObjectId c = AddCreator(world, uint32_t(1 + n), configs[n]);
        world.Set(c, "SelectCount", 2);
        NpcCreatorSystem::FillModelInfo(&world.k, c);
        NpcCreatorSystem::FillNpcInfo(&world.k, c);
        const auto& models = world.Rows(c, "ModelInfoRec");
        Check(models.size() <= 64);
        Check(world.Rows(c, "NPCInfoRec").size() <= 256);
        // Select under each of the first few model indexes (and one unknown one).
        for (size_t r = 0; r <= models.size() && r < 4; ++r) {
            const int* index = r < models.size() ? std::get_if<int>(&models[r][3]) : nullptr;
            world.Set(c, "Index", index != nullptr ? *index : configByte);
            CVarList args;
            args.AddInt(1);
            NpcCreatorSystem::OnCreatorSelect(&world.k, c, player, args);
        }
    }
    CheckEncounters(world);
    NpcCreatorSystem::s_teamSystem = nullptr;
    return 0;
}
