// NPC creator system: data-driven encounters on NpcCreator objects, model
// re-draws, refresh of selection counters and world notices. Its static
// operations also serve the area boss and auto team farm systems.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "IHostModules.h"
#include "IKernel.h"

struct ModelProbEntry {
    int32_t model = 0;
    float probability = 0.0f;
    std::string description;
    int32_t index = 0;
};

struct CreatorProbEntry {
    int32_t npcConfig = 0;
    float probability = 0.0f;
    int32_t slotType = 0;
};

struct SpawnEntry {
    int32_t npcConfig = 0;
    int32_t slot = 0;
};

using ModelProbMap = std::map<int, std::vector<ModelProbEntry>>;
using CreatorProbMap = std::map<int, std::vector<CreatorProbEntry>>;

// Record access for one object's record; forwards to the kernel.
class RecordView {
public:
    RecordView(IKernel* kernel, const ObjectId& obj, const char* rec)
        : m_kernel(kernel), m_obj(obj), m_rec(rec) {}
    int AppendBlankRow() const { return m_kernel->AddRecordBlankRow(m_obj, m_rec, -1); }
    bool WriteRow(int row, const IVarList& values) const {
        return m_kernel->SetRecordRowValues(m_obj, m_rec, row, values);
    }
    int Rows() const { return m_kernel->GetRecordRows(m_obj, m_rec); }
    int Int(int row, int col) const { return m_kernel->QueryRecordInt(m_obj, m_rec, row, col); }
    float Float(int row, int col) const {
        return m_kernel->QueryRecordFloat(m_obj, m_rec, row, col);
    }
    const char* String(int row, int col) const {
        return m_kernel->QueryRecordString(m_obj, m_rec, row, col);
    }
    int FindInt(int col, int value) const {
        return m_kernel->FindRecordRowInt(m_obj, m_rec, col, value);
    }

private:
    IKernel* m_kernel;
    ObjectId m_obj;
    const char* m_rec;
};

// Rank of each formation slot (1 = taken first) for slot types 0, 1, 2.
extern const int FormationPreference[3][9];
constexpr int kFormationSlots = 9;
constexpr int kFixedSlotType = 3;
// Upper bound on the NPCs one encounter may draw, far above any real
// formation, so an absurd script answer cannot hang the logic thread.
constexpr int kMaxEncounterDraws = 256;

class NpcCreatorSystem : public IActivityRuleSystem {
public:
    bool Init(IKernel* kernel) override;
    bool AfterInit(IKernel* kernel) override;
    bool Shut() override { return true; }

    int SetActivityState(void*, int, const std::string&) override { return 1; }
    int ActivityHook1(void*) override { return 1; }
    int ActivityHook2(void*) override { return 1; }
    int ActivityHook3(void*) override { return 1; }
    int ActivityHook4(void*) override { return 1; }

    // Resources and records.
    static bool LoadResource(IKernel* kernel);
    static void FillModelInfo(IKernel* kernel, const ObjectId& creator);
    static void FillNpcInfo(IKernel* kernel, const ObjectId& creator);
    static int ApplyNpcConfig(IKernel* kernel, const ObjectId& creator, int modelIndex);

    // Handlers.
    static int OnCreatorCreateClass(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                    const IVarList& args);
    static int OnCreatorLoad(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                             const IVarList& args);
    static int OnCreatorSelect(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                               const IVarList& args);
    static int OnCreatorNpcKilled(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                  const IVarList& args);
    static int WaitRefreshNPC(IKernel* kernel, const ObjectId& creator);
    static int WaitRefreshModel(IKernel* kernel, const ObjectId& creator);

    // Encounters.
    static int SelectCreator(IKernel* kernel, const ObjectId& creator, const ObjectId& player,
                             const IVarList& args);
    static int GetNpcCount(IKernel* kernel, const ObjectId& creator, const ObjectId& player);
    static int ChooseFormationSlot(IKernel* kernel, const std::vector<SpawnEntry>& list,
                                   int slotType);
    static int PickModel(IKernel* kernel, const ObjectId& creator);

    // The draw shared by the NPC creator and area boss encounters.
    // Appends the fixed entries (slot type 3) of modelIndex; returns how many.
    static int AppendFixedEntries(IKernel* kernel, const ObjectId& creator, int modelIndex,
                                  std::vector<SpawnEntry>& list);
    // Number of NPCs left to draw once fixedCount fixed entries are in:
    // npcCount - fixedCount, 0 when that is not positive, and capped at
    // kMaxEncounterDraws (with a Trace line) for absurd script answers. The
    // encounter size field is fixedCount plus this value.
    static int WantedDraws(IKernel* kernel, int npcCount, int fixedCount);
    // Draws up to wanted entries by weight (capped at kMaxEncounterDraws).
    static void DrawEntries(IKernel* kernel, const ObjectId& creator, int modelIndex, int wanted,
                            std::vector<SpawnEntry>& list);
    // 1 when the player is in a team and leads it; 0 otherwise, and 0 when
    // no team module was found.
    static int LeaderFlag(IKernel* kernel, const ObjectId& player);
    // Command 1001 from the player to itself with the encounter list.
    static void SendEncounter(IKernel* kernel, const ObjectId& creator, const ObjectId& player,
                              int sizeField, const std::vector<SpawnEntry>& list);

    // Process-wide state.
    static NpcCreatorSystem* s_instance;
    static ITeamSystem* s_teamSystem;
    static ModelProbMap s_modelProbTable;
    static CreatorProbMap s_creatorProbTable;
};
