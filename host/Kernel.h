// The reference host's in-memory kernel: logic classes, objects, properties,
// records, hooks, heartbeats on a virtual clock, players here / elsewhere /
// offline, notices and the event log.
//
// Threading: a kernel is used by one thread at a time (a World's logic
// thread). Nothing here locks.
//
// Dispatch rules (what the plug-in may rely on):
//  - Class callbacks and command hooks registered on a class also reach
//    objects of every class derived from it. "OnCreateClass" is the exception:
//    it is raised once per class and reaches only callbacks registered on
//    exactly that class, since a derived class inherits its base's
//    declarations instead of declaring them again.
//  - Order: ascending priority number; equal priorities in registration order
//    (across the whole class chain, not base-first or derived-first).
//  - Command answer: every hook runs, even after one has answered 0; the
//    answer is 0 when any hook answered 0, otherwise 1 (also with no hook).
//    A command to an object that does not exist reaches no hook, is logged
//    and answers 0: it was not delivered.
//  - Custom(sender, target, args): custom hooks of message id args[0] run with
//    self = target; the message is then recorded as sent to target's client.
//  - Hooks may destroy objects, add or remove hooks and heartbeats: the hook
//    list of a dispatch is fixed when it starts (a hook added meanwhile runs
//    from the next dispatch on; one removed or disabled meanwhile is skipped),
//    and destroyed objects and removed record rows stay allocated (dead,
//    Exists false) until the outermost dispatch returns, so no pointer handed
//    out during a callback dangles.
//  - A module whose Init fails is not given AfterInit (RunLifecycle): its
//    handlers would run without the host modules Init looked for.
//  - Nested Command/Custom/class events deeper than kMaxDispatchDepth are
//    refused (logged, answer 0), so a pair of hooks that command each other
//    cannot overflow the stack.
//  - Heartbeats fire on the virtual clock in order of due time, then of
//    attachment (the order AddHeartBeat calls were made). A periodic beat is
//    due again interval ms after its due time. A beat removed inside a
//    callback never fires again, not even later in the same millisecond; a
//    beat added inside a callback fires first interval ms after the current
//    virtual time. Intervals below 1 ms are refused.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "EventLog.h"
#include "HeartbeatWheel.h"
#include "HostVarList.h"
#include "IKernel.h"
#include "IModule.h"
#include "KernelBase.h"
#include "PluginLoader.h"

namespace host {

class Kernel;

// Host-side hook: the same shape as KernelCallback, but any callable.
using HostHook = std::function<int(Kernel& kernel, const ObjectId& self, const ObjectId& sender,
                                   const IVarList& args)>;
// Script calls are delegated (RunScriptFunction); a World installs its engine.
// The names are the caller's own texts, never null, passed on without a copy;
// a runner taking std::string fits as well.
using ScriptRunner = std::function<bool(const char* script, const char* function,
                                        const IVarList& args, int resultCount, IVarList& results)>;

struct KernelOptions {
    std::string resourceDir;         // a trailing '/' is added when missing
    bool echoToTerminal = true;      // Echo lines (GBK) printed as UTF-8
    bool traceToTerminal = false;    // Trace lines too
    std::FILE* terminal = nullptr;   // where; null = stdout
    std::string logFilePath;         // Trace and Echo raw bytes appended here; empty = none
    bool logPropertyChanges = true;  // property writes that change a value go to the event log
    bool logHeartbeatFires = false;  // one "note" per fired heartbeat (noisy)
    bool builtinClasses = true;      // declare player, BaseScene, Fight, ... at construction
};

struct PropertyDecl {
    std::string name;
    int type = 0;
    bool save = false;
    int saveMode = 0;  // 0 not saved, 1 saved, 2 column storage, 3 XML storage
    bool visible = false;
    bool isPublic = false;
    bool isPrivate = false;
    std::string text;
    std::string description;
    Value initial;  // value of a fresh object (DefaultValue(type) unless the host says otherwise)
};

struct RecordDecl {
    std::string name;
    int cols = 0;
    int maxRows = 0;
    std::vector<int> colTypes;  // 0 = not declared yet: any type is accepted
    bool save = false;
    int saveMode = 0;
    bool visible = false;
    std::string visibleName;
};

struct ClassInfo {
    int index = -1;
    std::string name;
    int parent = -1;  // index of the base class, -1 for a root
    // Declared on this class itself, in order. Deques: declarations never move.
    std::deque<PropertyDecl> properties;
    std::deque<RecordDecl> records;
    bool created = false;  // "OnCreateClass" has been raised
};

// What CreateObject makes.
struct ObjectSpec {
    std::string className;
    std::string config;        // GetConfig
    int configIndex = 0;       // GetConfigIndex
    ObjectId scene;            // scene it stands in (null: none / the object is a scene)
    ObjectId parent;           // container for GetChild (null: none)
    std::u16string childName;  // its name inside parent
    std::vector<std::pair<std::string, Value>> properties;  // initial values (type-checked)
    bool raiseOnLoad = true;                                // raise "OnLoad" after creation
};

class Kernel final : public KernelBase {
public:
    static constexpr int kMaxDispatchDepth = 64;

    explicit Kernel(KernelOptions options = {});
    ~Kernel() override;
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    // ---- IKernel ---------------------------------------------------------
    bool DeclareHeartBeat(const char* name, HeartBeatFunc func) override;
    IModule* FindModule(const char* name) override;
    bool AddClassCallback(const char* className, const char* event, KernelCallback func,
                          int priority) override;
    bool AddCommandHook(const char* className, int commandId, KernelCallback func,
                        int priority) override;
    bool AddCustomHook(int messageId, KernelCallback func, int priority) override;
    void Trace(const char* line) override;
    void Echo(const char* line) override;
    ObjectId GetScene() override;
    const char* GetResourcePath() override;
    bool AddProperty(int classIndex, const char* name, int type, bool save,
                     const char* description) override;
    bool AddVisibleProperty(int classIndex, const char* name, int type, const char* text,
                            bool isPublic, bool isPrivate, bool save,
                            const char* description) override;
    bool FindAttr(const ObjectId& obj, const char* name) override;
    bool SetInt(const ObjectId& obj, const char* name, int value) override;
    bool SetString(const ObjectId& obj, const char* name, const char* value) override;
    bool SetObject(const ObjectId& obj, const char* name, const ObjectId& value) override;
    int QueryInt(const ObjectId& obj, const char* name) override;
    const char* QueryString(const ObjectId& obj, const char* name) override;
    const char16_t* QueryWideStr(const ObjectId& obj, const char* name) override;
    ObjectId QueryObject(const ObjectId& obj, const char* name) override;
    bool IncInt(const ObjectId& obj, const char* name, int delta) override;
    bool AddRecord(int classIndex, const char* name, int cols, int maxRows, bool save) override;
    bool SetRecordColType(int classIndex, const char* name, int col, int type) override;
    bool SetRecordVisible(int classIndex, const char* name, const char* visibleName) override;
    int GetRecordRows(const ObjectId& obj, const char* rec) override;
    int AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) override;
    int AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                           const IVarList& values) override;
    bool RemoveRecordRow(const ObjectId& obj, const char* rec, int row) override;
    bool SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                            const IVarList& values) override;
    int QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) override;
    float QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) override;
    const char* QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) override;
    const char16_t* QueryRecordWideStr(const ObjectId& obj, const char* rec, int row,
                                       int col) override;
    ObjectId QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) override;
    int FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) override;
    int FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                          const char16_t* value) override;
    const char* GetConfig(const ObjectId& obj) override;
    int GetConfigIndex(const ObjectId& obj) override;
    bool Exists(const ObjectId& obj) override;
    ObjectId GetChild(const ObjectId& container, const char16_t* name) override;
    bool AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) override;
    bool RemoveHeartBeat(const ObjectId& obj, const char* name) override;
    bool FindHeartBeat(const ObjectId& obj, const char* name) override;
    ObjectId FindPlayer(const char16_t* name) override;
    int GetPlayerOnline(const char16_t* name) override;
    int QueryOfflinePlayer(const char16_t* name, IVarList& info) override;
    int CheckOfflinePlayer(const char16_t* name, const ObjectId& player) override;
    bool CommandOffline(const char16_t* name, const ObjectId& player, const char16_t* senderName,
                        int senderNameId, const IVarList& msg) override;
    bool SysInfo(const ObjectId& player, int infoKind, const char* textId,
                 const IVarList& args) override;
    bool SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) override;
    bool Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) override;
    int Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) override;
    // A player present here: its command hooks run (sender = the object of the
    // callback running now, else the player) and 1 is returned whatever they
    // answer. Online elsewhere: recorded (event result 2), 1. Unknown: logged, 0.
    int CommandByName(const char16_t* name, const IVarList& args) override;
    int GetNameId(const char16_t* name) override;
    bool RunScriptFunction(const char* script, const char* function, const IVarList& args,
                           int resultCount, IVarList& results) override;
    bool AddPropertySaveMode(int classIndex, const char* name, int type, int saveMode,
                             const char* description) override;
    bool AddVisiblePropertySaveMode(int classIndex, const char* name, int type, const char* text,
                                    bool isPublic, bool isPrivate, int saveMode,
                                    const char* description) override;
    bool AddRecordSaveMode(int classIndex, const char* name, int cols, int maxRows,
                           int saveMode) override;

    // ---- classes ---------------------------------------------------------
    // Declares a class (parent "" for a root). Returns its index, or -1 when
    // the name is taken or the parent unknown.
    int DeclareClass(const std::string& name, const std::string& parent = "");
    int ClassIndex(const std::string& name) const;  // -1 when unknown
    const ClassInfo* GetClassInfo(int index) const;
    const ClassInfo* GetClassInfo(const std::string& name) const;
    size_t ClassCount() const { return m_classes.size(); }
    // True when class index (or one of its ancestors) is named base.
    bool IsA(int classIndex, const std::string& base) const;
    // Declaration lookups through the class chain (nullptr when absent).
    const PropertyDecl* FindPropertyDecl(int classIndex, const std::string& name) const;
    const RecordDecl* FindRecordDecl(int classIndex, const std::string& name) const;
    // Host-side declaration with an initial value for new objects.
    bool DeclareProperty(const std::string& className, const std::string& name, int type,
                         Value initial = {});
    bool DeclareRecord(const std::string& className, const std::string& name,
                       const std::vector<int>& colTypes, int maxRows);
    // Raises "OnCreateClass" (args [class index]) for every class not created
    // yet, in declaration order.
    void CreateClasses();

    // ---- modules ---------------------------------------------------------
    // Makes a module findable by name (not owned). False when the name is taken.
    bool RegisterModule(const std::string& name, IModule* module);
    bool UnregisterModule(const std::string& name);
    // Every Init, then every AfterInit (each module in the given order), then
    // CreateClasses(). Failures are recorded and logged; the rest goes on.
    LifecycleReport RunLifecycle(const std::vector<std::pair<std::string, IModule*>>& modules);

    // ---- objects ---------------------------------------------------------
    ObjectId CreateObject(const ObjectSpec& objDef);
    ObjectId CreateScene(const std::string& config, int configIndex, int sceneType = 0);
    ObjectId CreatePlayer(const std::u16string& name, int camp, const ObjectId& scene = {});
    // Destroys obj and its children. Safe inside callbacks (see the top).
    bool Destroy(const ObjectId& obj);
    int ClassOf(const ObjectId& obj) const;  // -1 when dead
    std::string ClassNameOf(const ObjectId& obj) const;
    ObjectId SceneOf(const ObjectId& obj) const;
    ObjectId ParentOf(const ObjectId& obj) const;
    std::vector<ObjectId> Children(const ObjectId& obj) const;
    // Called with the id of every object being destroyed (still live then).
    using DestroyListener = std::function<void(const ObjectId&)>;
    void AddDestroyListener(DestroyListener listener);
    // Live objects whose class is className or derives from it, oldest first.
    std::vector<ObjectId> ObjectsOfClass(const std::string& className) const;
    size_t ObjectCount() const { return m_liveObjects; }

    // Generic property access for the host and scenarios (type-checked like
    // the IKernel setters; wrong type fails and is logged).
    bool SetValue(const ObjectId& obj, const std::string& name, const Value& value);
    bool GetValue(const ObjectId& obj, const std::string& name, Value& out) const;
    bool SetWideStr(const ObjectId& obj, const std::string& name, const std::u16string& value);
    // Whole record as values, rows in order; false when obj or rec is missing.
    bool GetRecord(const ObjectId& obj, const std::string& rec,
                   std::vector<std::vector<Value>>& rows) const;
    bool ClearRecord(const ObjectId& obj, const std::string& rec);

    // ---- events the host raises -----------------------------------------
    // Runs the class callbacks of event on obj (and its bases); returns the
    // number of callbacks run, -1 when obj is dead or the depth limit hit.
    int RaiseClassEvent(const ObjectId& obj, const std::string& event, const ObjectId& sender,
                        const IVarList& args);
    // "OnSelect" on target with player as sender and [selectFunction].
    int Select(const ObjectId& player, const ObjectId& target, int selectFunction);
    int Load(const ObjectId& obj);                     // "OnLoad", no args
    int Store(const ObjectId& player, int storeKind);  // "OnStore", [storeKind]
    // "OnLeave", then the player is destroyed unless keep is set.
    int Leave(const ObjectId& player, bool keep = false);
    // A message from player's client: custom hooks of args[0] with self =
    // sender = player. Returns the number of hooks run (-1: dead / too deep).
    int ClientMessage(const ObjectId& player, const IVarList& args);

    // ---- host hooks (stand-in scripts, scenarios) ------------------------
    // Same dispatch as plug-in hooks. Return a handle (> 0), or 0 on refusal.
    int AddHostCommandHook(const std::string& className, int commandId, HostHook hook, int priority,
                           const std::string& owner = "");
    int AddHostCustomHook(int messageId, HostHook hook, int priority,
                          const std::string& owner = "");
    int AddHostClassCallback(const std::string& className, const std::string& event, HostHook hook,
                             int priority, const std::string& owner = "");
    bool RemoveHook(int handle);
    bool SetHookEnabled(int handle, bool enabled);
    // Removes every host hook of owner (e.g. "standin" for one command id:
    // RemoveHostHooks("standin", 976)); returns how many. commandId < 0: all.
    int RemoveHostHooks(const std::string& owner, int commandId = -1);
    // Number of hooks (plug-in and host) a command to an object of className would run.
    size_t CommandHookCount(const std::string& className, int commandId) const;

    // ---- virtual clock ---------------------------------------------------
    int64_t Now() const { return m_now; }
    // Fires everything due up to Now() + ms, then sets Now() there.
    void AdvanceTime(int64_t ms);
    // Host timer on the same clock and ordering as heartbeats (fires once at
    // dueMs; a due time not after Now() fires at Now() + 1). Returns a handle.
    uint64_t ScheduleAt(int64_t dueMs, std::function<void()> fn);
    bool CancelTimer(uint64_t handle);
    size_t HeartbeatCount() const { return m_liveBeats; }
    // AddHeartBeat calls refused because the object already carried that
    // beat. Callers are meant to ask FindHeartBeat first, so a count above 0
    // shows a caller that lost track of its own beats.
    size_t RepeatedBeatAttaches() const { return m_repeatedBeatAttaches; }
    // Interval of obj's beat of that name; 0 when not attached.
    int HeartbeatInterval(const ObjectId& obj, const std::string& name) const;
    // Next due time of obj's beat; -1 when not attached.
    int64_t HeartbeatDue(const ObjectId& obj, const std::string& name) const;

    // ---- scenes and players ----------------------------------------------
    // Scene GetScene answers outside any object's callback (or for objects in no scene).
    void SetCurrentScene(const ObjectId& scene) { m_currentScene = scene; }
    ObjectId CurrentScene() const { return m_currentScene; }
    std::vector<ObjectId> Players() const;
    void SetOnlineElsewhere(const std::u16string& name, bool online);
    // An offline player; returns the (non-live) object id QueryOfflinePlayer reports.
    ObjectId AddOfflinePlayer(const std::u16string& name);
    bool RemoveOfflinePlayer(const std::u16string& name);

    // ---- logging -----------------------------------------------------------
    EventLog& log() { return m_log; }
    const EventLog& log() const { return m_log; }
    // "[host] ..." line: event log (kind Host), terminal unless silenced, log file.
    void HostLog(const std::string& line);
    void Note(std::string_view what, std::string_view detail, const ObjectId& obj = {},
              const IVarList* args = nullptr);
    void SetEchoToTerminal(bool on) { m_options.echoToTerminal = on; }
    const KernelOptions& options() const { return m_options; }

    void SetScriptRunner(ScriptRunner runner) { m_scriptRunner = std::move(runner); }
    // Address ranges whose bytes cannot change while they are set (a loaded
    // plug-in's read-only segments, the host's own): property and record names found there
    // are matched by address alone on later calls. Clear them (empty) before
    // the library goes away.
    void SetFixedTextRanges(std::vector<std::pair<uintptr_t, uintptr_t>> ranges);

    // The object whose callback is running now (null outside callbacks).
    ObjectId CurrentObject() const;
    int DispatchDepth() const { return m_depth; }

private:
    struct Layout;
    struct NameCache;
    struct Object;
    struct Record;
    struct Hook;
    struct HookList;
    struct Beat;
    struct Timer;
    struct OfflinePlayer;

    Object* Get(const ObjectId& obj) const;  // live objects only
    bool CheckClass(int classIndex, const char* op, const char* name);
    bool AddPropertyDecl(int classIndex, PropertyDecl decl, const char* op);
    bool AddRecordDecl(int classIndex, RecordDecl decl, const char* op);
    // True when class index derives from base (or is base).
    bool Derives(int classIndex, int base) const;
    const PropertyDecl* FindProperty(int classIndex, std::string_view name) const;
    // Slot of a property / record in the class's layout, -1 when there is
    // none. Callers pass the same literal again and again: a cache keyed by
    // the pointer, checked against the name, skips hashing the text.
    int PropSlot(int classIndex, const char* name) const;
    int RecordSlot(int classIndex, const char* name) const;
    const RecordDecl* FindRecord(int classIndex, std::string_view name) const;
    // The object's property values, filled with the initial values up to its
    // layout (a base class may have declared more since).
    std::vector<Value>& Props(Object& o) const;
    Record* GetRecordPtr(const ObjectId& obj, const char* rec, const char* op,
                         const RecordDecl** decl);
    // Before cells move: a dispatch may hold texts of them.
    void BeforeCellsMove(Record& r);
    const Value* Cell(const ObjectId& obj, const char* rec, int row, int col) const;
    // The readers' common case without a call: a hit on a fixed name gives
    // the cell at once (null when there is none; *found says whether the
    // hit was there). Anything else goes the whole way (Cell).
    const Value* QuickCell(const ObjectId& obj, const char* rec, int row, int col,
                           bool* found) const;
    const Value* CellSlow(const ObjectId& obj, const char* rec, int row, int col) const;
    bool WriteProperty(const ObjectId& obj, const char* name, Value value, const char* op);
    // The event of a property write that changed the value, when they are logged.
    void LogPropertyChange(const ObjectId& obj, const PropertyDecl& decl, const Value& now);
    // WriteProperty for an int or an id written over a value of its own
    // declared type, in place; anything else goes to WriteProperty.
    template <typename T>
    bool WriteInPlace(const ObjectId& obj, const char* name, T value, const char* op);
    const Value* ReadProperty(const ObjectId& obj, const char* name) const;
    // The stored value of obj's property name (null when either is missing),
    // through the kernel's hit cache.
    Value* PropertyHit(const ObjectId& obj, const char* name, const PropertyDecl** decl) const;
    // The lookups behind a missed hit (they make the hit), out of line so
    // that the hit path stays small.
    __attribute__((noinline)) Value* PropertySlow(const ObjectId& obj, const char* name,
                                                  const PropertyDecl** decl) const;
    __attribute__((noinline)) Record* RecordPtrSlow(const ObjectId& obj, const char* rec,
                                                    const char* op, const RecordDecl** decl);
    bool RowFromList(const RecordDecl& d, const IVarList& values, const char* op, const char* rec,
                     Value* row);
    // Where a row added at row (-1: at the end) goes, or -1 (logged) when the
    // record is full or row is out of range.
    int NewRowIndex(const ObjectId& obj, const Record& r, const RecordDecl& d, const char* rec,
                    int row, const char* op);
    int AddHook(HookList& list, Hook hook);
    const std::vector<const Hook*>& CollectHooks(int kind, int classIndex, int id,
                                                 const std::string& event);
    // CollectHooks past the hits: the map lookups, and the list made afresh
    // when hooks have changed since.
    __attribute__((noinline)) const std::vector<const Hook*>& CollectHooksSlow(
        int kind, int classIndex, int id, const std::string& event);
    static size_t CommandHitIndex(int classIndex, int id);
    static size_t EventHitIndex(int classIndex, const std::string& event);
    int RunHooks(const std::vector<const Hook*>& hooks, const ObjectId& self,
                 const ObjectId& sender, const IVarList& args, bool commandAnswer, int* count);
    bool EnterDispatch(const char* what, const ObjectId& self);
    __attribute__((noinline)) bool RefuseDispatch(const char* what, const ObjectId& self);
    void LeaveDispatch();
    // What waited for the outermost dispatch to end: dead objects, moved
    // cells, removed hooks.
    __attribute__((noinline)) void FreeAfterDispatch();
    void DestroyNow(uint32_t slot);
    // A dead object's storage, emptied and kept for the next CreateObject
    // (up to a few dozen): fights and other short-lived objects come and go
    // without a trip to the allocator each time.
    void Recycle(std::unique_ptr<Object> o);
    void DetachBeat(uint32_t beat, bool logRemoval);
    void FireBeat(uint64_t payload, int64_t due);
    void WriteLine(const char* channel, const char* line, EventKind kind);
    uint32_t InternName(const std::string& name);

    KernelOptions m_options;
    std::string m_resourcePath;
    EventLog m_log;
    std::FILE* m_logFile = nullptr;
    ScriptRunner m_scriptRunner;
    std::vector<std::pair<uintptr_t, uintptr_t>> m_fixedTexts;
    bool IsFixedText(const char* text) const;

    std::deque<ClassInfo> m_classes;
    std::unordered_map<std::string, int> m_classByName;
    std::vector<std::unique_ptr<Layout>> m_layouts;  // by class index
    std::unique_ptr<NameCache> m_nameCache;

    std::vector<std::unique_ptr<Object>> m_slots;  // index = ident - 1
    std::vector<uint32_t> m_serials;               // current serial per slot
    // Moves on whenever the slot's object dies or its property or record
    // vector may have moved: lookup hits of that object only are dropped.
    mutable std::vector<uint32_t> m_epochs;
    std::vector<uint32_t> m_freeSlots;
    std::vector<std::unique_ptr<Object>> m_graveyard;     // dead, freed when dispatch ends
    std::vector<std::unique_ptr<Object>> m_spareObjects;  // see Recycle
    std::vector<std::vector<ObjectId>> m_childLists;      // Destroy's, per nesting level
    size_t m_destroyNesting = 0;
    std::vector<Value> m_rowScratch;                      // AddRecordRowValues' row on its way in
    mutable std::vector<std::vector<Value>> m_deadCells;  // likewise for moved cells
    uint64_t m_born = 0;  // creation counter: ObjectsOfClass and Players answer oldest first
    size_t m_liveObjects = 0;

    std::map<std::string, IModule*> m_modules;
    std::vector<DestroyListener> m_destroyListeners;

    std::unique_ptr<HookList> m_hooks;
    int m_nextHookHandle = 1;
    uint64_t m_hookSeq = 0;

    std::unordered_map<std::string, uint32_t> m_nameIds;  // heartbeat names
    std::vector<std::string> m_names;
    std::vector<HeartBeatFunc> m_beatFuncs;  // by name id; null = not declared
    std::vector<Beat> m_beats;
    std::vector<uint32_t> m_freeBeats;
    size_t m_liveBeats = 0;
    size_t m_repeatedBeatAttaches = 0;
    std::vector<Timer> m_timers;
    std::vector<uint32_t> m_freeTimers;
    HeartbeatWheel m_wheel;
    std::vector<HeartbeatWheel::Expired> m_beatBatch;  // AdvanceTime's, kept for reuse
    uint64_t m_attachSeq = 0;
    int64_t m_now = 0;
    bool m_advancing = false;

    ObjectId m_currentScene;
    std::vector<ObjectId> m_callStack;  // self of each running dispatch
    int m_depth = 0;

    std::set<std::u16string> m_elsewhere;
    std::map<std::u16string, ObjectId> m_offline;
    std::map<std::u16string, int> m_nameIdsByName;
    uint32_t m_nextOfflineIdent = 0x80000001u;
};

}  // namespace host
