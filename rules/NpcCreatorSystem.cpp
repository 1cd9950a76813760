// The NPC creator rule system: candidate tables, model draws, encounters and notices.
#include "NpcCreatorSystem.h"

#include <climits>
#include <cstring>
#include <string>

#include "Guard.h"
#include "IniFile.h"
#include "KernelWrapper.h"
#include "Utility.h"
#include "VarList.h"

// Rank of every formation slot per slot type; the lowest free rank wins.
// Slots 0..8 form three groups of three (front, middle, back); each type
// prefers one column of the grid and fills it middle group first.
constexpr int FormationPreference[3][9] = {
    {2, 5, 8, 1, 4, 7, 3, 6, 9},
    {8, 2, 5, 7, 1, 4, 9, 3, 6},
    {8, 5, 2, 7, 4, 1, 9, 6, 3},
};

namespace {

// The formation slots of each slot type in the order they are tried: by
// rising rank, equal ranks by slot number. Ranks past 9 never win.
struct SlotOrder {
    int count = 0;
    int slots[kFormationSlots] = {};
};

constexpr SlotOrder MakeSlotOrder(int slotType) {
    SlotOrder order;
    for (int rank = 1; rank <= kFormationSlots; ++rank) {
        for (int s = 0; s < kFormationSlots; ++s) {
            if (FormationPreference[slotType][s] == rank) order.slots[order.count++] = s;
        }
    }
    return order;
}

constexpr SlotOrder kSlotOrders[3] = {MakeSlotOrder(0), MakeSlotOrder(1), MakeSlotOrder(2)};

// Bit s set when formation slot s is taken.
template <typename List>
unsigned TakenSlots(const List& list) {
    unsigned taken = 0;
    for (const SpawnEntry& entry : list) {
        if (entry.slot >= 0 && entry.slot < kFormationSlots) taken |= 1u << entry.slot;
    }
    return taken;
}

// The free slot of lowest rank for a weighted slot type; the slot type itself
// when every ranked slot is taken.
int FreeSlot(unsigned taken, int slotType) {
    const SlotOrder& order = kSlotOrders[slotType];
    for (int i = 0; i < order.count; ++i) {
        if ((taken & (1u << order.slots[i])) == 0) return order.slots[i];
    }
    return slotType;
}

const char kClassName[] = "NpcCreator";
const char kPlayerClass[] = "player";
const char kAreaBossConfig[] = "AreaBossNPCCreator";
const char kClassXml[] = "Struct/NPC/NpcCreator.xml";
const char kModelProbFile[] = "Npc\\ModelProb.ini";
const char kCreatorProbFile[] = "Npc\\CreatorProb.ini";
const char kRuleScript[] = "Rule\\npc_creator.lua";
const char kNpcCountFunction[] = "get_npc_count";
const char kBeatRefreshNpc[] = "NpcCreatorSystem::WaitRefreshNPC";
const char kBeatRefreshModel[] = "NpcCreatorSystem::WaitRefreshModel";

const char kModelInfoRec[] = "ModelInfoRec";
const char kNpcInfoRec[] = "NPCInfoRec";

const char kNoFileLine[] = "[Error]NpcCreatorSystem::LoadResource: No found file:";
const char kCountMismatchLine[] = "NpcCreatorSystem LoadNpcCreatorInfo error! data count not match";
const char kSlotTypeLine[] = "NpcCreatorSystem LoadNpcCreatorInfo error! slot type out of range";
const char kFixedSlotLine[] = "NpcCreatorSystem LoadNpcCreatorInfo error! fixed slot out of range";

constexpr int kHandlerPriority = 3;
constexpr int kNoticeKind = 19;
constexpr int kWeightedSlotTypes = 3;

constexpr int kCmdPermission = 976;
constexpr int kCmdModelRefreshAllowed = 995;
constexpr int kCmdEncounterStarted = 997;
constexpr int kCmdEncounterList = 1001;
constexpr int kCmdNpcKilled = 1018;
constexpr int kCmdSelectPanel = 432;
constexpr int kMsgSelectPanel = 50060;
constexpr int kSelectPanelArg = 90;

// Kernel texts are never null by contract; a misbehaving host still must not
// crash the string copies below.
std::string Text(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

bool IsWeightedSlotType(int type) {
    return type >= 0 && type < kWeightedSlotTypes;
}

// A fixed row keeps its slot in a float column; only values that truncate
// into 0..8 name a formation slot (NaN and huge values are refused too, so
// the conversion below is always defined).
bool FixedSlotFromFloat(float value, int& slot) {
    if (!(value > -1.0f && value < float(kFormationSlots))) return false;
    slot = static_cast<int>(value);
    return true;
}

void TraceTwo(IKernel* kernel, const char* message, const std::string& detail) {
    kernel->Trace(message);
    kernel->Trace(detail.c_str());
}

// Reads one INI table: every section is a key, every entry value a
// comma-separated candidate. Build returns false for a value it refused
// (and has logged); the first list stored under a key stays.
template <typename Entry, typename Map, typename Build>
void ReadTable(IKernel* kernel, const CIniFile& ini, size_t fieldCount, Map& table, Build build) {
    for (size_t s = 0; s < ini.GetSectionCount(); ++s) {
        const int key = StringToInt(ini.GetSectionName(s));
        std::vector<Entry> list;
        for (size_t e = 0; e < ini.GetItemCount(s); ++e) {
            const char* itemKey = nullptr;
            const char* value = nullptr;
            ini.GetItem(s, e, itemKey, value);
            CVarList fields;
            SplitString(fields, value, ",", 0);
            if (fields.GetCount() != fieldCount) {
                TraceTwo(kernel, kCountMismatchLine, value);
                continue;
            }
            Entry entry;
            if (build(fields, value, entry)) list.push_back(std::move(entry));
        }
        table.emplace(key, std::move(list));
    }
}

}  // namespace

bool NpcCreatorSystem::Init(IKernel* kernel) {
    if (kernel == nullptr) return false;
    try {
        s_instance = this;
        s_teamSystem = static_cast<ITeamSystem*>(kernel->FindModule(TEAM_SYSTEM_MODULE_NAME));
        if (s_teamSystem != nullptr) return true;
        REPORT_ERROR(kernel, std::string("Not exist ") + TEAM_SYSTEM_MODULE_NAME + " module!");
    } catch (...) {
    }
    return false;
}

bool NpcCreatorSystem::AfterInit(IKernel* kernel) {
    try {
        kernel->AddClassCallback(kClassName, "OnCreateClass", Guarded<&OnCreatorCreateClass>,
                                 kHandlerPriority);
        kernel->AddClassCallback(kClassName, "OnLoad", Guarded<&OnCreatorLoad>, kHandlerPriority);
        kernel->AddClassCallback(kClassName, "OnSelect", Guarded<&OnCreatorSelect>,
                                 kHandlerPriority);
        kernel->AddCommandHook(kPlayerClass, kCmdNpcKilled, Guarded<&OnCreatorNpcKilled>,
                               kHandlerPriority);
        kernel->DeclareHeartBeat(kBeatRefreshNpc, GuardedBeat<&WaitRefreshNPC>);
        kernel->DeclareHeartBeat(kBeatRefreshModel, GuardedBeat<&WaitRefreshModel>);
        LoadResource(kernel);
    } catch (...) {
        // Only an allocation failure gets here; the host keeps running with
        // whatever was registered and loaded so far.
    }
    return true;
}

// ---- resources and records ---------------------------------------------------

bool NpcCreatorSystem::LoadResource(IKernel* kernel) {
    const std::string root = kernel->GetResourcePath();

    const std::string modelPath = root + kModelProbFile;
    CIniFile ini(modelPath.c_str());
    if (!ini.LoadFromFile()) TraceTwo(kernel, kNoFileLine, modelPath);
    ReadTable<ModelProbEntry>(kernel, ini, 4, s_modelProbTable,
                              [](const IVarList& fields, const char*, ModelProbEntry& entry) {
                                  entry.model = StringToInt(fields.StringVal(0));
                                  entry.probability = StringToFloat(fields.StringVal(1));
                                  entry.description = fields.StringVal(2);
                                  entry.index = StringToInt(fields.StringVal(3));
                                  return true;
                              });

    const std::string creatorPath = root + kCreatorProbFile;
    ini.SetFileName(creatorPath.c_str());
    if (!ini.LoadFromFile()) TraceTwo(kernel, kNoFileLine, creatorPath);
    ReadTable<CreatorProbEntry>(
        kernel, ini, 3, s_creatorProbTable,
        [kernel](const IVarList& fields, const char* value, CreatorProbEntry& entry) {
            entry.npcConfig = StringToInt(fields.StringVal(0));
            entry.probability = StringToFloat(fields.StringVal(1));
            entry.slotType = StringToInt(fields.StringVal(2));
            // The preference table has three rows and the formation nine
            // slots: anything else would index past them when drawn.
            if (entry.slotType != kFixedSlotType && !IsWeightedSlotType(entry.slotType)) {
                TraceTwo(kernel, kSlotTypeLine, value);
                return false;
            }
            int slot = 0;
            if (entry.slotType == kFixedSlotType && !FixedSlotFromFloat(entry.probability, slot)) {
                TraceTwo(kernel, kFixedSlotLine, value);
                return false;
            }
            return true;
        });
    return true;
}

void NpcCreatorSystem::FillModelInfo(IKernel* kernel, const ObjectId& creator) {
    const auto found = s_modelProbTable.find(kernel->GetConfigIndex(creator));
    if (found == s_modelProbTable.end()) return;
    const RecordView rec(kernel, creator, kModelInfoRec);
    for (const ModelProbEntry& entry : found->second) {
        const int row = rec.AppendBlankRow();
        if (row < 0) return;  // record full: the kernel has refused and logged it
        CVarList values;
        values.AddInt(entry.model);
        values.AddFloat(entry.probability);
        values.AddString(entry.description.c_str());
        values.AddInt(entry.index);
        rec.WriteRow(row, values);
    }
}

void NpcCreatorSystem::FillNpcInfo(IKernel* kernel, const ObjectId& creator) {
    const RecordView models(kernel, creator, kModelInfoRec);
    const RecordView npcs(kernel, creator, kNpcInfoRec);
    for (int r = 0; r < models.Rows(); ++r) {
        const int index = models.Int(r, 3);
        const auto found = s_creatorProbTable.find(index);
        if (found == s_creatorProbTable.end()) return;
        for (const CreatorProbEntry& entry : found->second) {
            const int row = npcs.AppendBlankRow();
            if (row < 0) return;
            CVarList values;
            values.AddInt(index);
            values.AddInt(entry.npcConfig);
            values.AddFloat(entry.probability);
            values.AddInt(entry.slotType);
            npcs.WriteRow(row, values);
        }
    }
}

int NpcCreatorSystem::ApplyNpcConfig(IKernel* kernel, const ObjectId& creator, int modelIndex) {
    const RecordView npcs(kernel, creator, kNpcInfoRec);
    const int row = npcs.FindInt(0, modelIndex);
    if (row < 0) return 0;
    const int config = npcs.Int(row, 1);
    kernel->SetInt(creator, "NpcConfig", config);
    return config;
}

// ---- lifecycle handlers --------------------------------------------------------

int NpcCreatorSystem::OnCreatorCreateClass(IKernel* kernel, const ObjectId&, const ObjectId&,
                                           const IVarList& args) {
    OnCreateClassFromXml(kernel, args.IntVal(0), kClassXml);
    return 1;
}

int NpcCreatorSystem::OnCreatorLoad(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                    const IVarList&) {
    const char* config = kernel->GetConfig(self);
    if (config != nullptr && std::strcmp(config, kAreaBossConfig) == 0) return 1;

    FillModelInfo(kernel, self);
    FillNpcInfo(kernel, self);
    PickModel(kernel, self);

    const int selectCount = kernel->QueryInt(self, "SelectCount");
    const int maxSelect = kernel->QueryInt(self, "MaxSelectCount");
    if (selectCount < maxSelect) kernel->SetInt(self, "SelectCount", maxSelect);
    if (kernel->QueryInt(self, "Invisible") == 1) kernel->SetInt(self, "CantVisible", 0);

    const int refresh = PeriodOrDefault(kernel->QueryInt(self, "RefreshTime"));
    if (!kernel->FindHeartBeat(self, kBeatRefreshNpc)) {
        kernel->AddHeartBeat(self, kBeatRefreshNpc, SecondsToMs(refresh));
    }

    int modelRefresh = kernel->QueryInt(self, "RefreshModelTime");
    if (modelRefresh < 1) modelRefresh = refresh;
    CVarList ask;
    ask.AddInt(kCmdModelRefreshAllowed);
    if (kernel->Command(self, self, ask) != 0 && !kernel->FindHeartBeat(self, kBeatRefreshModel)) {
        kernel->AddHeartBeat(self, kBeatRefreshModel, SecondsToMs(modelRefresh));
    }

    kernel->SetInt(self, "ModelEx", kernel->QueryInt(self, "Model"));
    return 1;
}

namespace {

// A list that keeps its first N items in place and moves to the heap only
// past them: encounters and their candidates are short on every select.
template <typename T, size_t N>
class SmallList {
public:
    void push_back(const T& item) {
        if (m_spill.empty() && m_count < N) {
            m_inline[m_count++] = item;
            return;
        }
        if (m_spill.empty()) m_spill.assign(m_inline, m_inline + m_count);
        m_spill.push_back(item);
        ++m_count;
    }
    T& operator[](size_t i) { return Data()[i]; }
    const T* begin() const { return Data(); }
    const T* end() const { return Data() + m_count; }
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }

private:
    T* Data() { return m_spill.empty() ? m_inline : m_spill.data(); }
    const T* Data() const { return m_spill.empty() ? m_inline : m_spill.data(); }

    T m_inline[N];
    size_t m_count = 0;
    std::vector<T> m_spill;
};

// The entries of one encounter: room for a full formation and more.
using SpawnList = SmallList<SpawnEntry, 16>;

// The draw shared by every encounter, for any list of entries.
template <typename List>
int AppendFixedTo(IKernel* kernel, const ObjectId& creator, int modelIndex, List& list) {
    const RecordView npcs(kernel, creator, kNpcInfoRec);
    const int rows = npcs.Rows();
    int fixed = 0;
    for (int r = 0; r < rows; ++r) {
        if (npcs.Int(r, 0) != modelIndex || npcs.Int(r, 3) != kFixedSlotType) continue;
        SpawnEntry entry;
        entry.npcConfig = npcs.Int(r, 1);
        const float slotValue = npcs.Float(r, 2);
        if (!FixedSlotFromFloat(slotValue, entry.slot)) {
            // Records can be written by code other than FillNpcInfo; a slot
            // outside the formation never reaches the fight list.
            TraceTwo(kernel, kFixedSlotLine, std::to_string(slotValue));
            continue;
        }
        list.push_back(entry);
        ++fixed;
    }
    return fixed;
}

template <typename List>
void DrawTo(IKernel* kernel, const ObjectId& creator, int modelIndex, int wanted, List& list) {
    if (wanted <= 0) return;
    if (wanted > kMaxEncounterDraws) wanted = NpcCreatorSystem::WantedDraws(kernel, wanted, 0);
    const RecordView npcs(kernel, creator, kNpcInfoRec);

    // Every draw walks the drawable rows of the index in row order. Nothing
    // runs between two draws of one call (no kernel callback can change the
    // record), so the rows a walk has read are kept for the next walks and
    // each cell is read from the kernel at most once per call; the walk
    // itself, the running float sum and its order stay exactly as if every
    // draw re-read the record.
    struct Candidate {
        int row;
        int type;
        float weight;
        int config;
        bool configRead;
    };
    const int rows = npcs.Rows();
    SmallList<Candidate, 32> candidates;
    // The slots taken so far, kept as the entries go in: what
    // ChooseFormationSlot would find by walking the list each time.
    unsigned taken = TakenSlots(list);
    int scanned = 0;
    bool reportedBadType = false;
    // Reads further rows until the next drawable one; false at the end.
    auto readNext = [&]() {
        while (scanned < rows) {
            const int r = scanned++;
            if (npcs.Int(r, 0) != modelIndex) continue;
            const int type = npcs.Int(r, 3);
            if (type == kFixedSlotType) continue;
            if (!IsWeightedSlotType(type)) {
                if (!reportedBadType) {
                    TraceTwo(kernel, kSlotTypeLine, std::to_string(type));
                    reportedBadType = true;
                }
                continue;
            }
            candidates.push_back(Candidate{r, type, npcs.Float(r, 2), 0, false});
            return true;
        }
        return false;
    };

    int remaining = wanted;
    while (remaining >= 1) {
        const float w = RandomFloat(1.0f);
        float sum = 0.0f;
        for (size_t i = 0; i < candidates.size() || readNext(); ++i) {
            Candidate& c = candidates[i];
            sum += c.weight;
            if (sum > w) {
                if (!c.configRead) {
                    c.config = npcs.Int(c.row, 1);
                    c.configRead = true;
                }
                SpawnEntry entry;
                entry.npcConfig = c.config;
                entry.slot = FreeSlot(taken, c.type);
                taken |= 1u << entry.slot;
                list.push_back(entry);
                --remaining;
                break;
            }
        }
        // Weights the first draw cannot reach end the drawing; after one
        // success a miss is simply drawn again.
        if (remaining == wanted) break;
    }
}

template <typename List>
void SendTo(IKernel* kernel, const ObjectId& creator, const ObjectId& player, int sizeField,
            const List& list) {
    const int leader = NpcCreatorSystem::LeaderFlag(kernel, player);
    CVarList cmd;
    cmd.AddInt(kCmdEncounterList);
    cmd.AddObject(creator);
    cmd.AddInt(leader);
    cmd.AddInt(sizeField);
    for (const SpawnEntry& entry : list) {
        cmd.AddInt(entry.npcConfig);
        cmd.AddInt(entry.slot);
    }
    kernel->Command(player, player, cmd);
}

}  // namespace

// ---- encounter on select ---------------------------------------------------------

int NpcCreatorSystem::OnCreatorSelect(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                                      const IVarList& args) {
    const ObjectId& creator = self;
    const ObjectId& player = sender;
    if (args.IntVal(0) == 0) {
        CVarList msg;
        msg.AddInt(kMsgSelectPanel);
        msg.AddInt(kSelectPanelArg);
        kernel->Custom(player, player, msg);
        CVarList cmd;
        cmd.AddInt(kCmdSelectPanel);
        cmd.AddInt(kSelectPanelArg);
        kernel->Command(player, player, cmd);
        return 1;
    }
    CVarList ask;
    ask.AddInt(kCmdPermission);
    if (kernel->Command(player, creator, ask) == 0) return 1;
    if (kernel->QueryInt(creator, "CreatorType") == 1) return 1;
    SelectCreator(kernel, creator, player, args);
    return 1;
}

int NpcCreatorSystem::SelectCreator(IKernel* kernel, const ObjectId& creator,
                                    const ObjectId& player, const IVarList&) {
    if (!kernel->Exists(creator)) return 1;

    const int old = kernel->QueryInt(creator, "SelectCount");
    // The counter may run below zero; it stops at the int limit instead of
    // wrapping round to the largest count.
    kernel->SetInt(creator, "SelectCount", old == INT_MIN ? old : old - 1);
    if (old < 1) {
        kernel->SetInt(creator, "Invisible", 1);
        kernel->SetInt(creator, "CantVisible", 1);
    }

    const int index = kernel->QueryInt(creator, "Index");
    if (RecordView(kernel, creator, kModelInfoRec).FindInt(3, index) < 0) return 1;

    CVarList started;
    started.AddInt(kCmdEncounterStarted);
    started.AddInt(index);
    started.AddObject(creator);
    kernel->Command(creator, creator, started);

    SpawnList list;
    const int fixed = AppendFixedTo(kernel, creator, index, list);
    const int wanted = WantedDraws(kernel, GetNpcCount(kernel, creator, player), fixed);
    DrawTo(kernel, creator, index, wanted, list);
    if (list.empty()) return 1;
    SendTo(kernel, creator, player, fixed + wanted, list);
    return 1;
}

int NpcCreatorSystem::GetNpcCount(IKernel* kernel, const ObjectId& creator,
                                  const ObjectId& player) {
    int count = 1;
    if (LeaderFlag(kernel, player) == 1) {
        CVarList members;
        count = s_teamSystem->GetTeamMembers(kernel, player, members);
    }
    CVarList args;
    args.AddObject(creator);
    args.AddObject(player);
    args.AddInt(count);
    CVarList result;
    kernel->RunScriptFunction(kRuleScript, kNpcCountFunction, args, 1, result);
    if (result.GetCount() < 1) return count;
    // A script engine may hand a large integer back as a 64-bit value; it
    // is held to the int range rather than read as 0.
    if (result.GetType(0) == VTYPE_INT64) {
        const int64_t v = result.Int64Val(0);
        return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
    }
    return result.IntVal(0);
}

int NpcCreatorSystem::ChooseFormationSlot(IKernel*, const std::vector<SpawnEntry>& list,
                                          int slotType) {
    if (!IsWeightedSlotType(slotType)) return -1;
    return FreeSlot(TakenSlots(list), slotType);
}

int NpcCreatorSystem::WantedDraws(IKernel* kernel, int npcCount, int fixedCount) {
    const int64_t wanted = int64_t(npcCount) - int64_t(fixedCount);
    if (wanted <= 0) return 0;
    if (wanted > kMaxEncounterDraws) {
        TraceTwo(kernel,
                 "[Error]NpcCreatorSystem: encounter size out of range, draws capped at 256",
                 std::to_string(npcCount));
        return kMaxEncounterDraws;
    }
    return int(wanted);
}

int NpcCreatorSystem::AppendFixedEntries(IKernel* kernel, const ObjectId& creator, int modelIndex,
                                         std::vector<SpawnEntry>& list) {
    return AppendFixedTo(kernel, creator, modelIndex, list);
}

void NpcCreatorSystem::DrawEntries(IKernel* kernel, const ObjectId& creator, int modelIndex,
                                   int wanted, std::vector<SpawnEntry>& list) {
    DrawTo(kernel, creator, modelIndex, wanted, list);
}

int NpcCreatorSystem::LeaderFlag(IKernel* kernel, const ObjectId& player) {
    // Without a team module (failed Init) every player stands alone.
    if (s_teamSystem == nullptr) return 0;
    if (!s_teamSystem->IsInTeam(kernel, player)) return 0;
    return s_teamSystem->IsTeamLeader(kernel, player) ? 1 : 0;
}

void NpcCreatorSystem::SendEncounter(IKernel* kernel, const ObjectId& creator,
                                     const ObjectId& player, int sizeField,
                                     const std::vector<SpawnEntry>& list) {
    SendTo(kernel, creator, player, sizeField, list);
}

// ---- model refresh and notices ------------------------------------------------

int NpcCreatorSystem::PickModel(IKernel* kernel, const ObjectId& creator) {
    const RecordView models(kernel, creator, kModelInfoRec);
    const float w = RandomFloat(1.0f);
    float sum = 0.0f;
    int drawn = -1;
    const int rows = models.Rows();
    for (int i = 0; i < rows; ++i) {
        sum += models.Float(i, 1);
        if (sum > w) {
            drawn = i;
            break;
        }
    }
    if (drawn >= 0) {
        const char* currentDes = kernel->QueryString(creator, "NPCDes");
        const bool noDes = currentDes == nullptr || *currentDes == '\0';
        const int model = models.Int(drawn, 0);
        if (model != kernel->QueryInt(creator, "Model") || noDes) {
            const std::string des = Text(models.String(drawn, 2));
            kernel->SetString(creator, "NPCDes", des.c_str());
            kernel->SetInt(creator, "Model", model);
            kernel->SetInt(creator, "ModelEx", model);
            const int index = models.Int(drawn, 3);
            kernel->SetInt(creator, "Index", index);
            ApplyNpcConfig(kernel, creator, index);
        }
    }
    if (kernel->FindAttr(creator, "NoticeByWorldRefresh") &&
        kernel->QueryInt(creator, "NoticeByWorldRefresh") > 0) {
        const ObjectId scene = kernel->GetScene();
        CVarList args;
        args.AddString(IntToString(kernel->GetConfigIndex(creator)).c_str());
        args.AddString(IntToString(kernel->GetConfigIndex(scene)).c_str());
        kernel->SysInfoByWorld(kNoticeKind, "80000", args);
    }
    return 1;
}

int NpcCreatorSystem::WaitRefreshModel(IKernel* kernel, const ObjectId& creator) {
    return PickModel(kernel, creator);
}

int NpcCreatorSystem::WaitRefreshNPC(IKernel* kernel, const ObjectId& creator) {
    const int selectCount = kernel->QueryInt(creator, "SelectCount");
    const int maxSelect = kernel->QueryInt(creator, "MaxSelectCount");
    if (selectCount < maxSelect) kernel->SetInt(creator, "SelectCount", maxSelect);
    if (kernel->QueryInt(creator, "Invisible") == 1) kernel->SetInt(creator, "CantVisible", 0);
    return 1;
}

int NpcCreatorSystem::OnCreatorNpcKilled(IKernel* kernel, const ObjectId& self, const ObjectId&,
                                         const IVarList&) {
    const ObjectId& player = self;
    const ObjectId fight = kernel->QueryObject(player, "Fighting");
    ObjectId creator;
    if (kernel->FindAttr(fight, "HelperInfo")) creator = kernel->QueryObject(fight, "HelperInfo");
    if (!kernel->Exists(creator)) return 1;
    if (!kernel->FindAttr(creator, "NoticeByWorldBeKilled") ||
        kernel->QueryInt(creator, "NoticeByWorldBeKilled") != 1) {
        return 1;
    }
    // Copy both texts before the next kernel call can move them.
    const std::string des = Text(kernel->QueryString(creator, "NPCDes"));
    const char16_t* name = kernel->QueryWideStr(player, "Name");
    CVarList args;
    args.AddString(des.c_str());
    args.AddWideStr(name != nullptr ? name : u"");
    kernel->SysInfoByWorld(kNoticeKind, "80001", args);
    return 1;
}
