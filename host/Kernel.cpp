#include "Kernel.h"

#include <algorithm>
#include <climits>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <exception>

#include "Gbk.h"

namespace host {

namespace {

std::string Obj(const ObjectId& o) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "obj#%u:%u", o.ident, o.serial);
    return buf;
}

std::string Str(const char* s) {
    return s == nullptr ? std::string() : std::string(s);
}
std::u16string Wide(const char16_t* s) {
    return s == nullptr ? std::u16string() : s;
}

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

bool ValidType(int type) {
    return type >= VTYPE_BOOL && type <= VTYPE_INT64;
}

// A value may go into a slot declared with type: same type, or an int into a
// bool slot (stored as int 0/1, which is how the kernel keeps bools).
bool Accepts(int declared, const Value& v) {
    if (declared == VTYPE_NONE) return TypeOf(v) != VTYPE_NONE && TypeOf(v) != VTYPE_BOOL;
    if (declared == VTYPE_BOOL) return TypeOf(v) == VTYPE_INT || TypeOf(v) == VTYPE_BOOL;
    return TypeOf(v) == declared;
}

Value Normalise(int declared, Value v) {
    if (declared == VTYPE_BOOL) {
        if (TypeOf(v) == VTYPE_BOOL) return int32_t{std::get<bool>(v) ? 1 : 0};
        return int32_t{std::get<int32_t>(v) != 0 ? 1 : 0};
    }
    return v;
}

// Storage form of a declared type's zero value (bools are kept as ints).
Value StoredDefault(int type) {
    if (type == VTYPE_BOOL) return int32_t{0};
    return DefaultValue(type);
}

const char kEmpty[] = "";
const char16_t kEmptyWide[] = u"";

constexpr uint64_t kTimerFlag = uint64_t{1} << 63;

enum HookKind { kClassEvent = 0, kCommandHook = 1, kCustomHook = 2 };

}  // namespace

// ---- internal types ---------------------------------------------------------

struct Kernel::Record {
    const RecordDecl* decl = nullptr;
    std::vector<std::unique_ptr<std::vector<Value>>> rows;  // rows never move their cells
};

struct Kernel::Object {
    ObjectId id;
    int cls = -1;
    std::string config;
    int configIndex = 0;
    ObjectId scene;
    ObjectId parent;
    std::u16string childName;
    std::vector<ObjectId> children;
    std::unordered_map<std::string, Value> props;  // node-based: values never move
    std::unordered_map<std::string, Record> records;
    std::vector<uint32_t> beats;
    bool isPlayer = false;
    uint64_t born = 0;
};

struct Kernel::Hook {
    int handle = 0;
    int kind = 0;
    int classIndex = -1;
    int id = 0;
    std::string event;
    int priority = 0;
    uint64_t seq = 0;
    KernelCallback fn = nullptr;
    HostHook hostFn;
    std::string owner;
    bool enabled = true;
    bool removed = false;
};

struct Kernel::HookList {
    std::vector<std::unique_ptr<Hook>> all;
    std::vector<std::unique_ptr<Hook>> retired;  // removed during a dispatch
    uint64_t version = 1;
    struct Cached {
        uint64_t version = 0;
        std::vector<const Hook*> hooks;
    };
    std::unordered_map<uint64_t, Cached> commandCache;
    std::unordered_map<int, Cached> customCache;
    std::map<std::pair<int, std::string>, Cached> eventCache;
    // One scratch list per dispatch depth, so nested dispatches never clobber
    // the list an outer one is walking.
    std::vector<std::vector<const Hook*>> scratch;
};

struct Kernel::Beat {
    ObjectId obj;
    uint32_t name = 0;
    int interval = 0;
    int64_t due = 0;
    uint64_t seq = 0;
    uint64_t timer = 0;
    uint32_t gen = 0;
    bool live = false;
};

struct Kernel::Timer {
    std::function<void()> fn;
    uint64_t wheel = 0;
    uint32_t gen = 0;
    bool live = false;
};

// ---- construction -------------------------------------------------------------

Kernel::Kernel(KernelOptions options) : m_options(std::move(options)), m_hooks(new HookList) {
    // One scratch hook list per possible depth, made up front: growing the
    // outer vector during a nested dispatch would move the lists in use.
    m_hooks->scratch.resize(kMaxDispatchDepth + 2);
    m_resourcePath = m_options.resourceDir;
    if (m_resourcePath.empty() || m_resourcePath.back() != '/') m_resourcePath += '/';
    if (!m_options.logFilePath.empty()) {
        m_logFile = std::fopen(m_options.logFilePath.c_str(), "ab");
        if (m_logFile == nullptr) HostLog("cannot open log file " + m_options.logFilePath);
    }
    if (!m_options.builtinClasses) return;

    DeclareClass("player");
    DeclareProperty("player", "Name", VTYPE_WIDESTR);
    DeclareProperty("player", "Camp", VTYPE_INT);
    DeclareProperty("player", "Level", VTYPE_INT);
    DeclareProperty("player", "Fighting", VTYPE_OBJECT);
    DeclareProperty("player", "AutoTeamFarm", VTYPE_OBJECT);
    DeclareRecord("player", "team", {VTYPE_WIDESTR, VTYPE_OBJECT}, 10);

    DeclareClass("BaseScene");
    DeclareProperty("BaseScene", "SceneType", VTYPE_INT);

    DeclareClass("Fight");
    DeclareProperty("Fight", "HelperInfo", VTYPE_OBJECT);
    DeclareClass("FightTeam");
    DeclareRecord("FightTeam", "PkMemberInfo", {VTYPE_INT, VTYPE_OBJECT, VTYPE_WIDESTR}, 10);
    DeclareClass("Flag");

    // Declared by the rules plug-in from its class file on "OnCreateClass".
    DeclareClass("NpcCreator");
    DeclareClass("AreaBossNPCCreator", "NpcCreator");
}

Kernel::~Kernel() {
    if (m_logFile != nullptr) std::fclose(m_logFile);
}

// ---- logging ---------------------------------------------------------------------

void Kernel::WriteLine(const char* channel, const char* line, EventKind kind) {
    const std::string raw = Str(line);
    Event e;
    e.timeMs = m_now;
    e.kind = kind;
    e.text = raw;
    m_log.Add(std::move(e));
    if (m_logFile != nullptr) {
        // "[12.345s] [trace] line": the virtual time, then the channel once
        // (host lines already carry their "[host] " for the terminal).
        const std::string head = std::string("[") + channel + "] ";
        const size_t skip = raw.compare(0, head.size(), head) == 0 ? head.size() : 0;
        std::fprintf(m_logFile, "[%" PRId64 ".%03ds] %s", int64_t(m_now / 1000),
                     int(m_now % 1000), head.c_str());
        std::fwrite(raw.data() + skip, 1, raw.size() - skip, m_logFile);
        std::fputc('\n', m_logFile);
        std::fflush(m_logFile);
    }
    const bool show =
        kind == EventKind::Trace ? m_options.traceToTerminal : m_options.echoToTerminal;
    if (show) {
        std::FILE* out = m_options.terminal != nullptr ? m_options.terminal : stdout;
        const std::string utf8 = GbkToUtf8(raw);
        std::fprintf(out, "%s\n", utf8.c_str());
        std::fflush(out);
    }
}

void Kernel::Trace(const char* line) {
    WriteLine("trace", line, EventKind::Trace);
}
void Kernel::Echo(const char* line) {
    WriteLine("echo", line, EventKind::Echo);
}

void Kernel::HostLog(const std::string& line) {
    WriteLine("host", ("[host] " + line).c_str(), EventKind::Host);
}

void Kernel::Note(const std::string& what, const std::string& detail, const ObjectId& obj,
                  const IVarList* args) {
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::Note;
    e.name = what;
    e.text = detail;
    e.sender = obj;
    if (args != nullptr) e.args = *args;
    m_log.Add(std::move(e));
}

// ---- modules -----------------------------------------------------------------------

IModule* Kernel::FindModule(const char* name) {
    if (name == nullptr) return nullptr;
    auto it = m_modules.find(name);
    return it == m_modules.end() ? nullptr : it->second;
}

bool Kernel::RegisterModule(const std::string& name, IModule* module) {
    if (module == nullptr || m_modules.count(name) != 0) return false;
    m_modules[name] = module;
    return true;
}

bool Kernel::UnregisterModule(const std::string& name) {
    return m_modules.erase(name) != 0;
}

LifecycleReport Kernel::RunLifecycle(const std::vector<std::pair<std::string, IModule*>>& modules) {
    LifecycleReport report;
    for (const auto& m : modules)
        if (FindModule(m.first.c_str()) == nullptr) RegisterModule(m.first, m.second);
    std::vector<bool> initOk(modules.size(), false);
    for (size_t i = 0; i < modules.size(); ++i) {
        initOk[i] = modules[i].second->Init(this);
        if (!initOk[i]) {
            report.initFailed.push_back(modules[i].first);
            report.afterInitSkipped.push_back(modules[i].first);
            HostLog("Init of module " + modules[i].first +
                    " failed; its AfterInit is skipped, so none of its handlers is registered");
        }
    }
    // A module whose Init failed runs without the host modules it needs; its
    // handlers would reach through null pointers, so they are never registered.
    for (size_t i = 0; i < modules.size(); ++i) {
        if (!initOk[i]) continue;
        if (!modules[i].second->AfterInit(this)) {
            report.afterInitFailed.push_back(modules[i].first);
            HostLog("AfterInit of module " + modules[i].first + " failed");
        }
    }
    CreateClasses();
    return report;
}

// ---- classes ---------------------------------------------------------------------------

int Kernel::DeclareClass(const std::string& name, const std::string& parent) {
    if (name.empty() || m_classByName.count(name) != 0) {
        HostLog("class " + name + " refused: the name is empty or taken");
        return -1;
    }
    int parentIndex = -1;
    if (!parent.empty()) {
        parentIndex = ClassIndex(parent);
        if (parentIndex < 0) {
            HostLog("class " + name + " refused: unknown base class " + parent);
            return -1;
        }
    }
    ClassInfo info;
    info.index = static_cast<int>(m_classes.size());
    info.name = name;
    info.parent = parentIndex;
    m_classes.push_back(std::move(info));
    m_classByName[name] = m_classes.back().index;
    ++m_hooks->version;
    return m_classes.back().index;
}

int Kernel::ClassIndex(const std::string& name) const {
    auto it = m_classByName.find(name);
    return it == m_classByName.end() ? -1 : it->second;
}

const ClassInfo* Kernel::GetClassInfo(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= m_classes.size()) return nullptr;
    return &m_classes[index];
}

const ClassInfo* Kernel::GetClassInfo(const std::string& name) const {
    return GetClassInfo(ClassIndex(name));
}

bool Kernel::IsA(int classIndex, const std::string& base) const {
    for (const ClassInfo* c = GetClassInfo(classIndex); c != nullptr; c = GetClassInfo(c->parent))
        if (c->name == base) return true;
    return false;
}

const PropertyDecl* Kernel::FindPropertyDecl(int classIndex, const std::string& name) const {
    for (const ClassInfo* c = GetClassInfo(classIndex); c != nullptr; c = GetClassInfo(c->parent))
        for (const PropertyDecl& p : c->properties)
            if (p.name == name) return &p;
    return nullptr;
}

const RecordDecl* Kernel::FindRecordDecl(int classIndex, const std::string& name) const {
    for (const ClassInfo* c = GetClassInfo(classIndex); c != nullptr; c = GetClassInfo(c->parent))
        for (const RecordDecl& r : c->records)
            if (r.name == name) return &r;
    return nullptr;
}

bool Kernel::CheckClass(int classIndex, const char* op, const char* name) {
    if (GetClassInfo(classIndex) != nullptr) return true;
    HostLog(Format("%s(%d, \"%s\") refused: no class with that index", op, classIndex,
                   name ? name : ""));
    return false;
}

bool Kernel::NameTakenInTree(int classIndex, const std::string& name) const {
    // Taken when the class, a base or a derived class already has it: an
    // object sees the declarations of its whole chain, so a name may occur
    // only once on any chain.
    for (const ClassInfo& c : m_classes) {
        if (!IsA(c.index, m_classes[classIndex].name) && !IsA(classIndex, c.name)) continue;
        for (const PropertyDecl& p : c.properties)
            if (p.name == name) return true;
    }
    return false;
}

bool Kernel::AddPropertyDecl(int classIndex, PropertyDecl decl, const char* op) {
    if (!CheckClass(classIndex, op, decl.name.c_str())) return false;
    const std::string& cls = m_classes[classIndex].name;
    if (decl.name.empty()) {
        HostLog(std::string(op) + " on " + cls + " refused: empty property name");
        return false;
    }
    if (!ValidType(decl.type)) {
        HostLog(Format("%s(%s, \"%s\") refused: unknown type %d", op, cls.c_str(),
                       decl.name.c_str(), decl.type));
        return false;
    }
    if (decl.saveMode < 0 || decl.saveMode > 3) {
        HostLog(Format("%s(%s, \"%s\") refused: unknown save mode %d", op, cls.c_str(),
                       decl.name.c_str(), decl.saveMode));
        return false;
    }
    if (NameTakenInTree(classIndex, decl.name)) {
        HostLog(Format("%s(%s, \"%s\") refused: the property is already declared", op, cls.c_str(),
                       decl.name.c_str()));
        return false;
    }
    if (TypeOf(decl.initial) == VTYPE_NONE) {
        decl.initial = StoredDefault(decl.type);
    } else if (!Accepts(decl.type, decl.initial)) {
        HostLog(Format("%s(%s, \"%s\") refused: initial value of type %s for a %s", op, cls.c_str(),
                       decl.name.c_str(), TypeName(TypeOf(decl.initial)), TypeName(decl.type)));
        return false;
    } else {
        decl.initial = Normalise(decl.type, decl.initial);
    }
    m_classes[classIndex].properties.push_back(std::move(decl));
    return true;
}

bool Kernel::AddProperty(int classIndex, const char* name, int type, bool save,
                         const char* description) {
    PropertyDecl d;
    d.name = Str(name);
    d.type = type;
    d.save = save;
    d.saveMode = save ? 1 : 0;
    d.description = Str(description);
    return AddPropertyDecl(classIndex, std::move(d), "AddProperty");
}

bool Kernel::AddVisibleProperty(int classIndex, const char* name, int type, const char* text,
                                bool isPublic, bool isPrivate, bool save, const char* description) {
    PropertyDecl d;
    d.name = Str(name);
    d.type = type;
    d.save = save;
    d.saveMode = save ? 1 : 0;
    d.visible = true;
    d.isPublic = isPublic;
    d.isPrivate = isPrivate;
    d.text = Str(text);
    d.description = Str(description);
    return AddPropertyDecl(classIndex, std::move(d), "AddVisibleProperty");
}

bool Kernel::AddPropertySaveMode(int classIndex, const char* name, int type, int saveMode,
                                 const char* description) {
    PropertyDecl d;
    d.name = Str(name);
    d.type = type;
    d.save = saveMode != 0;
    d.saveMode = saveMode;
    d.description = Str(description);
    return AddPropertyDecl(classIndex, std::move(d), "AddPropertySaveMode");
}

bool Kernel::AddVisiblePropertySaveMode(int classIndex, const char* name, int type,
                                        const char* text, bool isPublic, bool isPrivate,
                                        int saveMode, const char* description) {
    PropertyDecl d;
    d.name = Str(name);
    d.type = type;
    d.save = saveMode != 0;
    d.saveMode = saveMode;
    d.visible = true;
    d.isPublic = isPublic;
    d.isPrivate = isPrivate;
    d.text = Str(text);
    d.description = Str(description);
    return AddPropertyDecl(classIndex, std::move(d), "AddVisiblePropertySaveMode");
}

bool Kernel::DeclareProperty(const std::string& className, const std::string& name, int type,
                             Value initial) {
    PropertyDecl d;
    d.name = name;
    d.type = type;
    d.initial = std::move(initial);
    const int index = ClassIndex(className);
    if (index < 0) {
        HostLog("property " + name + " refused: unknown class " + className);
        return false;
    }
    return AddPropertyDecl(index, std::move(d), "DeclareProperty");
}

bool Kernel::AddRecordDecl(int classIndex, RecordDecl decl, const char* op) {
    if (!CheckClass(classIndex, op, decl.name.c_str())) return false;
    const std::string& cls = m_classes[classIndex].name;
    if (decl.name.empty()) {
        HostLog(std::string(op) + " on " + cls + " refused: empty record name");
        return false;
    }
    // Column counts are bounded so a corrupt class file cannot make every
    // row of every object enormous.
    if (decl.cols < 1 || decl.cols > 1024 || decl.maxRows < 1) {
        HostLog(
            Format("%s(%s, \"%s\", cols %d, max rows %d) refused: needs 1..1024 columns "
                   "and at least one row",
                   op, cls.c_str(), decl.name.c_str(), decl.cols, decl.maxRows));
        return false;
    }
    if (decl.saveMode < 0 || decl.saveMode > 3) {
        HostLog(Format("%s(%s, \"%s\") refused: unknown save mode %d", op, cls.c_str(),
                       decl.name.c_str(), decl.saveMode));
        return false;
    }
    for (const ClassInfo& c : m_classes) {
        if (!IsA(c.index, cls) && !IsA(classIndex, c.name)) continue;
        for (const RecordDecl& r : c.records)
            if (r.name == decl.name) {
                HostLog(Format("%s(%s, \"%s\") refused: the record is already declared", op,
                               cls.c_str(), decl.name.c_str()));
                return false;
            }
    }
    decl.colTypes.resize(decl.cols, VTYPE_NONE);
    m_classes[classIndex].records.push_back(std::move(decl));
    return true;
}

bool Kernel::AddRecord(int classIndex, const char* name, int cols, int maxRows, bool save) {
    RecordDecl d;
    d.name = Str(name);
    d.cols = cols;
    d.maxRows = maxRows;
    d.save = save;
    d.saveMode = save ? 1 : 0;
    return AddRecordDecl(classIndex, std::move(d), "AddRecord");
}

bool Kernel::AddRecordSaveMode(int classIndex, const char* name, int cols, int maxRows,
                               int saveMode) {
    RecordDecl d;
    d.name = Str(name);
    d.cols = cols;
    d.maxRows = maxRows;
    d.save = saveMode != 0;
    d.saveMode = saveMode;
    return AddRecordDecl(classIndex, std::move(d), "AddRecordSaveMode");
}

bool Kernel::DeclareRecord(const std::string& className, const std::string& name,
                           const std::vector<int>& colTypes, int maxRows) {
    const int index = ClassIndex(className);
    if (index < 0) {
        HostLog("record " + name + " refused: unknown class " + className);
        return false;
    }
    for (int t : colTypes)
        if (!ValidType(t)) {
            HostLog("record " + name + " refused: unknown column type");
            return false;
        }
    RecordDecl d;
    d.name = name;
    d.cols = static_cast<int>(colTypes.size());
    d.maxRows = maxRows;
    if (!AddRecordDecl(index, std::move(d), "DeclareRecord")) return false;
    m_classes[index].records.back().colTypes = colTypes;
    return true;
}

bool Kernel::SetRecordColType(int classIndex, const char* name, int col, int type) {
    if (!CheckClass(classIndex, "SetRecordColType", name)) return false;
    ClassInfo& c = m_classes[classIndex];
    const std::string rec = Str(name);
    for (RecordDecl& r : c.records) {
        if (r.name != rec) continue;
        if (col < 0 || col >= r.cols || !ValidType(type)) {
            HostLog(
                Format("SetRecordColType(%s, \"%s\", %d, %d) refused: column or type out "
                       "of range (%d columns)",
                       c.name.c_str(), rec.c_str(), col, type, r.cols));
            return false;
        }
        if (r.colTypes[col] != VTYPE_NONE && r.colTypes[col] != type) {
            HostLog(
                Format("SetRecordColType(%s, \"%s\", %d, %d) refused: the column is "
                       "already of type %s",
                       c.name.c_str(), rec.c_str(), col, type, TypeName(r.colTypes[col])));
            return false;
        }
        r.colTypes[col] = type;
        return true;
    }
    HostLog(Format("SetRecordColType(%s, \"%s\", %d, %d) refused: no such record on the class",
                   c.name.c_str(), rec.c_str(), col, type));
    return false;
}

bool Kernel::SetRecordVisible(int classIndex, const char* name, const char* visibleName) {
    if (!CheckClass(classIndex, "SetRecordVisible", name)) return false;
    ClassInfo& c = m_classes[classIndex];
    const std::string rec = Str(name);
    for (RecordDecl& r : c.records) {
        if (r.name != rec) continue;
        r.visible = true;
        r.visibleName = Str(visibleName);
        return true;
    }
    HostLog("SetRecordVisible(" + c.name + ", \"" + rec + "\") refused: no such record");
    return false;
}

void Kernel::CreateClasses() {
    for (size_t i = 0; i < m_classes.size(); ++i) {
        if (m_classes[i].created) continue;
        m_classes[i].created = true;
        HostVarList args;
        args.AddInt(static_cast<int>(i));
        // Exact class only: derived classes inherit the declarations.
        const ObjectId none;
        if (!EnterDispatch("OnCreateClass", none)) continue;
        auto& list = m_hooks->scratch[m_depth];
        list.clear();
        for (const auto& h : m_hooks->all)
            if (h->kind == kClassEvent && h->classIndex == static_cast<int>(i) &&
                h->event == "OnCreateClass")
                list.push_back(h.get());
        std::stable_sort(list.begin(), list.end(), [](const Hook* a, const Hook* b) {
            return a->priority != b->priority ? a->priority < b->priority : a->seq < b->seq;
        });
        Event e;
        e.timeMs = m_now;
        e.kind = EventKind::ClassEvent;
        e.name = "OnCreateClass";
        e.text = m_classes[i].name;
        e.args.Concat(args);
        m_log.Add(std::move(e));
        RunHooks(list, none, none, args, false, nullptr);
        LeaveDispatch();
    }
}

// ---- objects -------------------------------------------------------------------------

Kernel::Object* Kernel::Get(const ObjectId& obj) const {
    if (obj.ident == 0 || obj.ident > m_slots.size()) return nullptr;
    const uint32_t slot = obj.ident - 1;
    Object* o = m_slots[slot].get();
    if (o == nullptr || m_serials[slot] != obj.serial) return nullptr;
    return o;
}

bool Kernel::Exists(const ObjectId& obj) {
    return Get(obj) != nullptr;
}

ObjectId Kernel::CreateObject(const ObjectSpec& objDef) {
    const int cls = ClassIndex(objDef.className);
    if (cls < 0) {
        HostLog("cannot create an object of unknown class " + objDef.className);
        return {};
    }
    uint32_t slot;
    if (!m_freeSlots.empty()) {
        slot = m_freeSlots.back();
        m_freeSlots.pop_back();
    } else {
        slot = static_cast<uint32_t>(m_slots.size());
        m_slots.emplace_back();
        m_serials.push_back(0);
    }
    // Serials grow on every reuse of a slot, so an old id never matches the
    // new occupant; 0 is skipped because it belongs to the null id.
    if (++m_serials[slot] == 0) m_serials[slot] = 1;
    auto o = std::make_unique<Object>();
    o->id = ObjectId{slot + 1, m_serials[slot]};
    o->cls = cls;
    o->config = objDef.config;
    o->configIndex = objDef.configIndex;
    o->isPlayer = IsA(cls, "player");
    o->born = m_born++;
    const ObjectId id = o->id;
    m_slots[slot] = std::move(o);
    ++m_liveObjects;
    Object* obj = m_slots[slot].get();

    if (!objDef.parent.IsNull()) {
        if (Object* parent = Get(objDef.parent)) {
            obj->parent = objDef.parent;
            obj->childName = objDef.childName;
            parent->children.push_back(id);
        } else {
            HostLog("object " + Obj(id) + " created without its container " + Obj(objDef.parent) +
                    ", which does not exist");
        }
    }
    if (IsA(cls, "BaseScene")) {
        obj->scene = id;
    } else if (!objDef.scene.IsNull()) {
        obj->scene = objDef.scene;
    } else if (Object* parent = Get(obj->parent)) {
        obj->scene = parent->scene;
    }

    const bool logWas = m_options.logPropertyChanges;
    m_options.logPropertyChanges = false;  // initial values are not changes
    for (const auto& p : objDef.properties) SetValue(id, p.first, p.second);
    m_options.logPropertyChanges = logWas;

    if (objDef.raiseOnLoad) Load(id);
    return id;
}

ObjectId Kernel::CreateScene(const std::string& config, int configIndex, int sceneType) {
    ObjectSpec objDef;
    objDef.className = "BaseScene";
    objDef.config = config;
    objDef.configIndex = configIndex;
    objDef.properties.push_back({"SceneType", int32_t{sceneType}});
    ObjectId scene = CreateObject(objDef);
    if (m_currentScene.IsNull() || !Exists(m_currentScene)) m_currentScene = scene;
    return scene;
}

ObjectId Kernel::CreatePlayer(const std::u16string& name, int camp, const ObjectId& scene) {
    ObjectSpec objDef;
    objDef.className = "player";
    objDef.config = "player";
    objDef.scene = scene.IsNull() ? m_currentScene : scene;
    objDef.properties.push_back({"Name", name});
    objDef.properties.push_back({"Camp", int32_t{camp}});
    return CreateObject(objDef);
}

void Kernel::AddDestroyListener(DestroyListener listener) {
    m_destroyListeners.push_back(std::move(listener));
}

bool Kernel::Destroy(const ObjectId& id) {
    Object* o = Get(id);
    if (o == nullptr) return false;
    for (const DestroyListener& l : m_destroyListeners) l(id);
    // Children go first, while their container still exists.
    o = Get(id);
    if (o == nullptr) return false;  // a listener destroyed it
    const std::vector<ObjectId> children = o->children;
    for (const ObjectId& c : children) Destroy(c);
    o = Get(id);
    if (o == nullptr) return false;
    while (!o->beats.empty()) DetachBeat(o->beats.back(), false);
    if (Object* parent = Get(o->parent)) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    }
    Note("destroy", m_classes[o->cls].name, id);
    DestroyNow(id.ident - 1);
    return true;
}

void Kernel::DestroyNow(uint32_t slot) {
    // The id dies now (Exists is false from here on); the storage lives on
    // until the outermost dispatch returns, so texts handed out stay valid.
    if (++m_serials[slot] == 0) m_serials[slot] = 1;
    if (m_depth > 0)
        m_graveyard.push_back(std::move(m_slots[slot]));
    else
        m_slots[slot].reset();
    m_freeSlots.push_back(slot);
    --m_liveObjects;
}

int Kernel::ClassOf(const ObjectId& obj) const {
    const Object* o = Get(obj);
    return o ? o->cls : -1;
}

std::string Kernel::ClassNameOf(const ObjectId& obj) const {
    const Object* o = Get(obj);
    return o ? m_classes[o->cls].name : std::string();
}

ObjectId Kernel::SceneOf(const ObjectId& obj) const {
    const Object* o = Get(obj);
    return o ? o->scene : ObjectId{};
}

ObjectId Kernel::ParentOf(const ObjectId& obj) const {
    const Object* o = Get(obj);
    return o ? o->parent : ObjectId{};
}

std::vector<ObjectId> Kernel::Children(const ObjectId& obj) const {
    const Object* o = Get(obj);
    return o ? o->children : std::vector<ObjectId>{};
}

std::vector<ObjectId> Kernel::ObjectsOfClass(const std::string& className) const {
    if (ClassIndex(className) < 0) return {};
    std::vector<const Object*> found;
    for (const auto& slot : m_slots)
        if (slot && IsA(slot->cls, className)) found.push_back(slot.get());
    // Slots are reused, so slot order is not creation order.
    std::sort(found.begin(), found.end(),
              [](const Object* a, const Object* b) { return a->born < b->born; });
    std::vector<ObjectId> out;
    out.reserve(found.size());
    for (const Object* o : found) out.push_back(o->id);
    return out;
}

std::vector<ObjectId> Kernel::Players() const {
    return ObjectsOfClass("player");
}

const char* Kernel::GetConfig(const ObjectId& obj) {
    const Object* o = Get(obj);
    return o ? o->config.c_str() : kEmpty;
}

int Kernel::GetConfigIndex(const ObjectId& obj) {
    const Object* o = Get(obj);
    return o ? o->configIndex : 0;
}

ObjectId Kernel::GetChild(const ObjectId& container, const char16_t* name) {
    const Object* o = Get(container);
    if (o == nullptr) return {};
    const std::u16string wanted = Wide(name);
    for (const ObjectId& c : o->children) {
        const Object* child = Get(c);
        if (child != nullptr && child->childName == wanted) return c;
    }
    return {};
}

// ---- properties -------------------------------------------------------------------------

bool Kernel::WriteProperty(const ObjectId& obj, const char* name, Value value, const char* op) {
    Object* o = Get(obj);
    const std::string prop = Str(name);
    if (o == nullptr) {
        HostLog(
            Format("%s(%s, \"%s\") refused: no such object", op, Obj(obj).c_str(), prop.c_str()));
        return false;
    }
    const PropertyDecl* decl = FindPropertyDecl(o->cls, prop);
    if (decl == nullptr) {
        HostLog(Format("%s(%s, \"%s\") refused: class %s has no such property", op,
                       Obj(obj).c_str(), prop.c_str(), m_classes[o->cls].name.c_str()));
        return false;
    }
    if (!Accepts(decl->type, value)) {
        HostLog(Format("%s(%s, \"%s\") refused: the property is %s, the value %s", op,
                       Obj(obj).c_str(), prop.c_str(), TypeName(decl->type),
                       TypeName(TypeOf(value))));
        return false;
    }
    value = Normalise(decl->type, std::move(value));
    auto it = o->props.find(prop);
    if (it == o->props.end()) {
        const bool changed = value != decl->initial;
        it = o->props.emplace(prop, std::move(value)).first;
        if (!changed) return true;
    } else {
        if (it->second == value) return true;
        it->second = std::move(value);
    }
    if (m_options.logPropertyChanges) {
        Event e;
        e.timeMs = m_now;
        e.kind = EventKind::Property;
        e.sender = obj;
        e.name = prop;
        e.args.AddValue(it->second);
        m_log.Add(std::move(e));
    }
    return true;
}

const Value* Kernel::ReadProperty(const ObjectId& obj, const char* name) const {
    Object* o = Get(obj);
    if (o == nullptr || name == nullptr) return nullptr;
    auto it = o->props.find(name);
    if (it != o->props.end()) return &it->second;
    const PropertyDecl* decl = FindPropertyDecl(o->cls, name);
    if (decl == nullptr) return nullptr;
    // First read of an unwritten property: keep the initial value in the
    // object, so the pointer handed out lives as long as the value.
    return &o->props.emplace(name, decl->initial).first->second;
}

bool Kernel::FindAttr(const ObjectId& obj, const char* name) {
    const Object* o = Get(obj);
    return o != nullptr && name != nullptr && FindPropertyDecl(o->cls, name) != nullptr;
}

bool Kernel::SetInt(const ObjectId& obj, const char* name, int value) {
    return WriteProperty(obj, name, int32_t{value}, "SetInt");
}

bool Kernel::SetString(const ObjectId& obj, const char* name, const char* value) {
    return WriteProperty(obj, name, Str(value), "SetString");
}

bool Kernel::SetObject(const ObjectId& obj, const char* name, const ObjectId& value) {
    return WriteProperty(obj, name, value, "SetObject");
}

bool Kernel::SetWideStr(const ObjectId& obj, const std::string& name, const std::u16string& value) {
    return WriteProperty(obj, name.c_str(), value, "SetWideStr");
}

bool Kernel::SetValue(const ObjectId& obj, const std::string& name, const Value& value) {
    return WriteProperty(obj, name.c_str(), value, "SetValue");
}

bool Kernel::GetValue(const ObjectId& obj, const std::string& name, Value& out) const {
    const Value* v = ReadProperty(obj, name.c_str());
    if (v == nullptr) return false;
    out = *v;
    return true;
}

int Kernel::QueryInt(const ObjectId& obj, const char* name) {
    const Value* v = ReadProperty(obj, name);
    return v != nullptr && TypeOf(*v) == VTYPE_INT ? std::get<int32_t>(*v) : 0;
}

const char* Kernel::QueryString(const ObjectId& obj, const char* name) {
    const Value* v = ReadProperty(obj, name);
    return v != nullptr && TypeOf(*v) == VTYPE_STRING ? std::get<std::string>(*v).c_str() : kEmpty;
}

const char16_t* Kernel::QueryWideStr(const ObjectId& obj, const char* name) {
    const Value* v = ReadProperty(obj, name);
    return v != nullptr && TypeOf(*v) == VTYPE_WIDESTR ? std::get<std::u16string>(*v).c_str()
                                                       : kEmptyWide;
}

ObjectId Kernel::QueryObject(const ObjectId& obj, const char* name) {
    const Value* v = ReadProperty(obj, name);
    return v != nullptr && TypeOf(*v) == VTYPE_OBJECT ? std::get<ObjectId>(*v) : ObjectId{};
}

bool Kernel::IncInt(const ObjectId& obj, const char* name, int delta) {
    const Value* v = ReadProperty(obj, name);
    if (v == nullptr || TypeOf(*v) != VTYPE_INT) {
        return WriteProperty(obj, name, int32_t{delta}, "IncInt");  // logs the refusal
    }
    // Saturating, so a counter pushed past the end stays at the end instead
    // of wrapping to the other sign.
    const int64_t sum = int64_t{std::get<int32_t>(*v)} + delta;
    const int32_t clamped =
        static_cast<int32_t>(std::min<int64_t>(INT32_MAX, std::max<int64_t>(INT32_MIN, sum)));
    return WriteProperty(obj, name, clamped, "IncInt");
}

// ---- records -------------------------------------------------------------------------------

Kernel::Record* Kernel::GetRecordPtr(const ObjectId& obj, const char* rec, const char* op) {
    Object* o = Get(obj);
    const std::string name = Str(rec);
    if (o == nullptr) {
        if (op != nullptr)
            HostLog(Format("%s(%s, \"%s\") refused: no such object", op, Obj(obj).c_str(),
                           name.c_str()));
        return nullptr;
    }
    auto it = o->records.find(name);
    if (it != o->records.end()) return &it->second;
    const RecordDecl* decl = FindRecordDecl(o->cls, name);
    if (decl == nullptr) {
        if (op != nullptr)
            HostLog(Format("%s(%s, \"%s\") refused: class %s has no such record", op,
                           Obj(obj).c_str(), name.c_str(), m_classes[o->cls].name.c_str()));
        return nullptr;
    }
    Record r;
    r.decl = decl;
    return &o->records.emplace(name, std::move(r)).first->second;
}

int Kernel::GetRecordRows(const ObjectId& obj, const char* rec) {
    const Record* r = GetRecordPtr(obj, rec, nullptr);
    return r ? static_cast<int>(r->rows.size()) : -1;
}

bool Kernel::RowFromList(const Record& r, const IVarList& values, const char* op, const char* rec,
                         std::vector<Value>& row) {
    const RecordDecl& d = *r.decl;
    if (values.GetCount() != static_cast<uint64_t>(d.cols)) {
        HostLog(Format("%s(\"%s\") refused: %llu values for %d columns", op, rec,
                       static_cast<unsigned long long>(values.GetCount()), d.cols));
        return false;
    }
    const HostVarList copy(values);
    if (copy.GetCount() != values.GetCount()) {
        HostLog(Format("%s(\"%s\") refused: a value of a type no cell can hold", op, rec));
        return false;
    }
    row.clear();
    for (int c = 0; c < d.cols; ++c) {
        const Value& v = copy.At(static_cast<uint64_t>(c));
        if (!Accepts(d.colTypes[c], v)) {
            HostLog(Format("%s(\"%s\") refused: column %d is %s, the value %s", op, rec, c,
                           TypeName(d.colTypes[c]), TypeName(TypeOf(v))));
            return false;
        }
        row.push_back(Normalise(d.colTypes[c], v));
    }
    return true;
}

int Kernel::NewRowIndex(const ObjectId& obj, const Record& r, const char* rec, int row,
                        const char* op) {
    const int rows = static_cast<int>(r.rows.size());
    if (rows >= r.decl->maxRows) {
        HostLog(Format("%s(%s, \"%s\") refused: the record is full (%d rows)", op, Obj(obj).c_str(),
                       rec, r.decl->maxRows));
        return -1;
    }
    if (row < -1 || row > rows) {
        HostLog(Format("%s(%s, \"%s\", %d) refused: row out of range (%d rows)", op,
                       Obj(obj).c_str(), rec, row, rows));
        return -1;
    }
    return row < 0 ? rows : row;
}

int Kernel::AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) {
    Record* r = GetRecordPtr(obj, rec, "AddRecordBlankRow");
    if (r == nullptr) return -1;
    const int at = NewRowIndex(obj, *r, rec, row, "AddRecordBlankRow");
    if (at < 0) return -1;
    auto cells = std::make_unique<std::vector<Value>>();
    for (int t : r->decl->colTypes) cells->push_back(StoredDefault(t));
    r->rows.insert(r->rows.begin() + at, std::move(cells));
    return at;
}

int Kernel::AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                               const IVarList& values) {
    Record* r = GetRecordPtr(obj, rec, "AddRecordRowValues");
    if (r == nullptr) return -1;
    const int at = NewRowIndex(obj, *r, rec, row, "AddRecordRowValues");
    if (at < 0) return -1;
    auto cells = std::make_unique<std::vector<Value>>();
    if (!RowFromList(*r, values, "AddRecordRowValues", rec, *cells)) return -1;
    r->rows.insert(r->rows.begin() + at, std::move(cells));
    return at;
}

bool Kernel::RemoveRecordRow(const ObjectId& obj, const char* rec, int row) {
    Record* r = GetRecordPtr(obj, rec, "RemoveRecordRow");
    if (r == nullptr) return false;
    if (row < 0 || row >= static_cast<int>(r->rows.size())) {
        HostLog(Format("RemoveRecordRow(%s, \"%s\", %d) refused: no such row (%zu rows)",
                       Obj(obj).c_str(), rec, row, r->rows.size()));
        return false;
    }
    // The cells live on until the outermost dispatch returns (texts handed out).
    if (m_depth > 0) m_deadRows.push_back(std::move(r->rows[row]));
    r->rows.erase(r->rows.begin() + row);
    return true;
}

bool Kernel::SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                                const IVarList& values) {
    Record* r = GetRecordPtr(obj, rec, "SetRecordRowValues");
    if (r == nullptr) return false;
    if (row < 0 || row >= static_cast<int>(r->rows.size())) {
        HostLog(Format("SetRecordRowValues(%s, \"%s\", %d) refused: no such row (%zu rows)",
                       Obj(obj).c_str(), rec, row, r->rows.size()));
        return false;
    }
    std::vector<Value> cells;
    if (!RowFromList(*r, values, "SetRecordRowValues", rec, cells)) return false;
    *r->rows[row] = std::move(cells);
    return true;
}

bool Kernel::GetRecord(const ObjectId& obj, const std::string& rec,
                       std::vector<std::vector<Value>>& rows) const {
    rows.clear();
    Record* r = const_cast<Kernel*>(this)->GetRecordPtr(obj, rec.c_str(), nullptr);
    if (r == nullptr) return false;
    for (const auto& row : r->rows) rows.push_back(*row);
    return true;
}

bool Kernel::ClearRecord(const ObjectId& obj, const std::string& rec) {
    Record* r = GetRecordPtr(obj, rec.c_str(), "ClearRecord");
    if (r == nullptr) return false;
    while (!r->rows.empty())
        RemoveRecordRow(obj, rec.c_str(), static_cast<int>(r->rows.size()) - 1);
    return true;
}

const Value* Kernel::Cell(const ObjectId& obj, const char* rec, int row, int col) const {
    Record* r = const_cast<Kernel*>(this)->GetRecordPtr(obj, rec, nullptr);
    if (r == nullptr || row < 0 || row >= static_cast<int>(r->rows.size())) return nullptr;
    const std::vector<Value>& cells = *r->rows[row];
    if (col < 0 || col >= static_cast<int>(cells.size())) return nullptr;
    return &cells[col];
}

int Kernel::QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) {
    const Value* v = Cell(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_INT ? std::get<int32_t>(*v) : 0;
}

float Kernel::QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) {
    const Value* v = Cell(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_FLOAT ? std::get<float>(*v) : 0.0f;
}

const char* Kernel::QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) {
    const Value* v = Cell(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_STRING ? std::get<std::string>(*v).c_str() : kEmpty;
}

const char16_t* Kernel::QueryRecordWideStr(const ObjectId& obj, const char* rec, int row, int col) {
    const Value* v = Cell(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_WIDESTR ? std::get<std::u16string>(*v).c_str()
                                                       : kEmptyWide;
}

ObjectId Kernel::QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) {
    const Value* v = Cell(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_OBJECT ? std::get<ObjectId>(*v) : ObjectId{};
}

int Kernel::FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) {
    const Record* r = GetRecordPtr(obj, rec, nullptr);
    if (r == nullptr || col < 0 || col >= r->decl->cols) return -1;
    for (size_t i = 0; i < r->rows.size(); ++i) {
        const Value& v = (*r->rows[i])[col];
        if (TypeOf(v) == VTYPE_INT && std::get<int32_t>(v) == value) return static_cast<int>(i);
    }
    return -1;
}

int Kernel::FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                              const char16_t* value) {
    const Record* r = GetRecordPtr(obj, rec, nullptr);
    if (r == nullptr || col < 0 || col >= r->decl->cols) return -1;
    const std::u16string wanted = Wide(value);
    for (size_t i = 0; i < r->rows.size(); ++i) {
        const Value& v = (*r->rows[i])[col];
        if (TypeOf(v) == VTYPE_WIDESTR && std::get<std::u16string>(v) == wanted)
            return static_cast<int>(i);
    }
    return -1;
}

// ---- hooks -------------------------------------------------------------------------------

int Kernel::AddHook(HookList& list, Hook hook) {
    hook.handle = m_nextHookHandle++;
    hook.seq = m_hookSeq++;
    list.all.push_back(std::make_unique<Hook>(std::move(hook)));
    ++list.version;
    return list.all.back()->handle;
}

bool Kernel::AddClassCallback(const char* className, const char* event, KernelCallback func,
                              int priority) {
    const int cls = ClassIndex(Str(className));
    if (cls < 0 || func == nullptr || event == nullptr || *event == '\0') {
        HostLog(Format("AddClassCallback(\"%s\", \"%s\") refused: unknown class or no function",
                       Str(className).c_str(), Str(event).c_str()));
        return false;
    }
    Hook h;
    h.kind = kClassEvent;
    h.classIndex = cls;
    h.event = event;
    h.priority = priority;
    h.fn = func;
    h.owner = "plugin";
    AddHook(*m_hooks, std::move(h));
    return true;
}

bool Kernel::AddCommandHook(const char* className, int commandId, KernelCallback func,
                            int priority) {
    const int cls = ClassIndex(Str(className));
    if (cls < 0 || func == nullptr) {
        HostLog(Format("AddCommandHook(\"%s\", %d) refused: unknown class or no function",
                       Str(className).c_str(), commandId));
        return false;
    }
    Hook h;
    h.kind = kCommandHook;
    h.classIndex = cls;
    h.id = commandId;
    h.priority = priority;
    h.fn = func;
    h.owner = "plugin";
    AddHook(*m_hooks, std::move(h));
    return true;
}

bool Kernel::AddCustomHook(int messageId, KernelCallback func, int priority) {
    if (func == nullptr) {
        HostLog(Format("AddCustomHook(%d) refused: no function", messageId));
        return false;
    }
    Hook h;
    h.kind = kCustomHook;
    h.id = messageId;
    h.priority = priority;
    h.fn = func;
    h.owner = "plugin";
    AddHook(*m_hooks, std::move(h));
    return true;
}

int Kernel::AddHostCommandHook(const std::string& className, int commandId, HostHook hook,
                               int priority, const std::string& owner) {
    const int cls = ClassIndex(className);
    if (cls < 0 || !hook) {
        HostLog(Format("host command hook on \"%s\" %d refused: unknown class or no function",
                       className.c_str(), commandId));
        return 0;
    }
    Hook h;
    h.kind = kCommandHook;
    h.classIndex = cls;
    h.id = commandId;
    h.priority = priority;
    h.hostFn = std::move(hook);
    h.owner = owner;
    return AddHook(*m_hooks, std::move(h));
}

int Kernel::AddHostCustomHook(int messageId, HostHook hook, int priority,
                              const std::string& owner) {
    if (!hook) return 0;
    Hook h;
    h.kind = kCustomHook;
    h.id = messageId;
    h.priority = priority;
    h.hostFn = std::move(hook);
    h.owner = owner;
    return AddHook(*m_hooks, std::move(h));
}

int Kernel::AddHostClassCallback(const std::string& className, const std::string& event,
                                 HostHook hook, int priority, const std::string& owner) {
    const int cls = ClassIndex(className);
    if (cls < 0 || !hook || event.empty()) {
        HostLog("host class callback on \"" + className + "\" " + event +
                " refused: unknown class or no function");
        return 0;
    }
    Hook h;
    h.kind = kClassEvent;
    h.classIndex = cls;
    h.event = event;
    h.priority = priority;
    h.hostFn = std::move(hook);
    h.owner = owner;
    return AddHook(*m_hooks, std::move(h));
}

bool Kernel::RemoveHook(int handle) {
    auto& all = m_hooks->all;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i]->handle != handle) continue;
        all[i]->removed = true;
        // A dispatch in progress may hold a pointer to it: keep it until
        // the outermost dispatch returns.
        if (m_depth > 0) m_hooks->retired.push_back(std::move(all[i]));
        all.erase(all.begin() + static_cast<std::ptrdiff_t>(i));
        ++m_hooks->version;
        return true;
    }
    return false;
}

bool Kernel::SetHookEnabled(int handle, bool enabled) {
    for (auto& h : m_hooks->all)
        if (h->handle == handle) {
            h->enabled = enabled;
            return true;
        }
    return false;
}

int Kernel::RemoveHostHooks(const std::string& owner, int commandId) {
    std::vector<int> handles;
    for (const auto& h : m_hooks->all)
        if (h->owner == owner && (commandId < 0 || (h->kind == kCommandHook && h->id == commandId)))
            handles.push_back(h->handle);
    for (int handle : handles) RemoveHook(handle);
    return static_cast<int>(handles.size());
}

const std::vector<const Kernel::Hook*>& Kernel::CollectHooks(int kind, int classIndex, int id,
                                                             const std::string& event) {
    HookList& hl = *m_hooks;
    HookList::Cached* cached;
    if (kind == kCommandHook)
        cached = &hl.commandCache[(uint64_t(uint32_t(classIndex)) << 32) | uint32_t(id)];
    else if (kind == kCustomHook)
        cached = &hl.customCache[id];
    else
        cached = &hl.eventCache[{classIndex, event}];
    if (cached->version == hl.version) return cached->hooks;
    cached->hooks.clear();
    for (const auto& h : hl.all) {
        if (h->kind != kind) continue;
        if (kind == kCustomHook) {
            if (h->id != id) continue;
        } else {
            if (!IsA(classIndex, m_classes[h->classIndex].name)) continue;
            if (kind == kCommandHook ? h->id != id : h->event != event) continue;
        }
        cached->hooks.push_back(h.get());
    }
    // Registration order is seq order; a stable sort by priority keeps it
    // among equal priorities, across the whole class chain.
    std::stable_sort(cached->hooks.begin(), cached->hooks.end(),
                     [](const Hook* a, const Hook* b) { return a->priority < b->priority; });
    cached->version = hl.version;
    return cached->hooks;
}

bool Kernel::EnterDispatch(const char* what, const ObjectId& self) {
    if (m_depth >= kMaxDispatchDepth) {
        HostLog(Format("%s on %s refused: dispatch nested %d deep (a hook loop?)", what,
                       Obj(self).c_str(), m_depth));
        return false;
    }
    ++m_depth;
    m_callStack.push_back(self);
    return true;
}

void Kernel::LeaveDispatch() {
    --m_depth;
    m_callStack.pop_back();
    if (m_depth == 0) {
        m_graveyard.clear();
        m_deadRows.clear();
        m_hooks->retired.clear();
    }
}

ObjectId Kernel::CurrentObject() const {
    return m_callStack.empty() ? ObjectId{} : m_callStack.back();
}

int Kernel::RunHooks(const std::vector<const Hook*>& hooks, const ObjectId& self,
                     const ObjectId& sender, const IVarList& args, bool commandAnswer, int* count) {
    // The list is copied into this depth's scratch, so hooks added or removed
    // by a callback do not disturb the walk.
    std::vector<const Hook*>& list = m_hooks->scratch[m_depth];
    if (&list != &hooks) list.assign(hooks.begin(), hooks.end());
    // Callbacks receive copies: the caller's ids may live inside an object
    // that a callback destroys.
    const ObjectId selfCopy = self;
    const ObjectId senderCopy = sender;
    int answer = 1;
    int ran = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const Hook* h = list[i];
        if (h->removed || !h->enabled) continue;
        int r = 1;
        try {
            r = h->fn != nullptr ? h->fn(this, selfCopy, senderCopy, args)
                                 : h->hostFn(*this, selfCopy, senderCopy, args);
        } catch (const std::exception& e) {
            HostLog(std::string("a host hook threw: ") + e.what());
        } catch (...) {
            HostLog("a host hook threw");
        }
        ++ran;
        if (commandAnswer && r == 0) answer = 0;
    }
    if (count != nullptr) *count = ran;
    return answer;
}

// ---- events the host raises -----------------------------------------------------------------

int Kernel::RaiseClassEvent(const ObjectId& obj, const std::string& event, const ObjectId& sender,
                            const IVarList& args) {
    const Object* o = Get(obj);
    if (o == nullptr) {
        HostLog("class event " + event + " on " + Obj(obj) + " refused: no such object");
        return -1;
    }
    const ObjectId self = obj;
    const int cls = o->cls;
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::ClassEvent;
    e.name = event;
    e.sender = sender;
    e.target = self;
    e.args.Concat(args);
    m_log.Add(std::move(e));
    if (!EnterDispatch(event.c_str(), self)) return -1;
    const auto& hooks = CollectHooks(kClassEvent, cls, 0, event);
    int count = 0;
    RunHooks(hooks, self, sender, args, false, &count);
    LeaveDispatch();
    return count;
}

int Kernel::Select(const ObjectId& player, const ObjectId& target, int selectFunction) {
    if (!Exists(player)) {
        HostLog("select by " + Obj(player) + " refused: no such object");
        return -1;
    }
    HostVarList args;
    args.AddInt(selectFunction);
    return RaiseClassEvent(target, "OnSelect", player, args);
}

int Kernel::Load(const ObjectId& obj) {
    HostVarList none;
    return RaiseClassEvent(obj, "OnLoad", obj, none);
}

int Kernel::Store(const ObjectId& player, int storeKind) {
    HostVarList args;
    args.AddInt(storeKind);
    return RaiseClassEvent(player, "OnStore", player, args);
}

int Kernel::Leave(const ObjectId& player, bool keep) {
    HostVarList none;
    const int n = RaiseClassEvent(player, "OnLeave", player, none);
    if (!keep) Destroy(player);
    return n;
}

int Kernel::ClientMessage(const ObjectId& player, const IVarList& args) {
    if (!Exists(player)) {
        HostLog("client message from " + Obj(player) + " refused: no such object");
        return -1;
    }
    const ObjectId self = player;
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::Custom;
    e.name = "client";
    e.sender = self;
    e.target = self;
    e.id = args.IntVal(0);
    e.args.Concat(args);
    m_log.Add(std::move(e));
    if (!EnterDispatch("client message", self)) return -1;
    const auto& hooks = CollectHooks(kCustomHook, -1, args.IntVal(0), std::string());
    int count = 0;
    RunHooks(hooks, self, self, args, false, &count);
    LeaveDispatch();
    return count;
}

size_t Kernel::CommandHookCount(const std::string& className, int commandId) const {
    const int cls = ClassIndex(className);
    if (cls < 0) return 0;
    return const_cast<Kernel*>(this)
        ->CollectHooks(kCommandHook, cls, commandId, std::string())
        .size();
}

// ---- messages ---------------------------------------------------------------------------------

int Kernel::Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) {
    const ObjectId from = sender;
    const ObjectId to = target;
    const int id = args.IntVal(0);
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::Command;
    e.sender = from;
    e.target = to;
    e.id = id;
    if (m_log.enabled()) e.args.Concat(args);
    const uint64_t seq = m_log.Add(std::move(e));
    const Object* o = Get(to);
    if (o == nullptr) {
        HostLog(Format("command %d to %s not delivered: no such object", id, Obj(to).c_str()));
        if (Event* stored = m_log.Get(seq)) stored->result = 0;
        return 0;
    }
    const int cls = o->cls;
    if (!EnterDispatch("command", to)) {
        if (Event* stored = m_log.Get(seq)) stored->result = 0;
        return 0;
    }
    const auto& hooks = CollectHooks(kCommandHook, cls, id, std::string());
    const int answer = RunHooks(hooks, to, from, args, true, nullptr);
    LeaveDispatch();
    if (Event* stored = m_log.Get(seq)) stored->result = answer;
    return answer;
}

bool Kernel::Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) {
    const ObjectId from = sender;
    const ObjectId to = target;
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::Custom;
    e.sender = from;
    e.target = to;
    e.id = args.IntVal(0);
    e.args.Concat(args);
    m_log.Add(std::move(e));
    if (!Exists(to)) {
        HostLog(Format("custom message %d to %s not delivered: no such object", args.IntVal(0),
                       Obj(to).c_str()));
        return false;
    }
    if (!EnterDispatch("custom message", to)) return false;
    const auto& hooks = CollectHooks(kCustomHook, -1, args.IntVal(0), std::string());
    RunHooks(hooks, to, from, args, false, nullptr);
    LeaveDispatch();
    return true;
}

int Kernel::CommandByName(const char16_t* name, const IVarList& args) {
    const std::u16string who = Wide(name);
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::CommandByName;
    e.targetName = who;
    e.id = args.IntVal(0);
    e.args.Concat(args);
    const ObjectId player = FindPlayer(who.c_str());
    if (!player.IsNull()) {
        e.target = player;
        e.result = 1;
        m_log.Add(std::move(e));
        ObjectId sender = CurrentObject();
        if (!Exists(sender)) sender = player;
        Command(sender, player, args);
        return 1;
    }
    if (m_elsewhere.count(who) != 0) {
        e.result = 2;
        m_log.Add(std::move(e));
        return 1;
    }
    e.result = 0;
    m_log.Add(std::move(e));
    HostLog("command " + std::to_string(args.IntVal(0)) + " by name to u\"" + Utf16ToUtf8(who) +
            "\" not delivered: no such player online");
    return 0;
}

bool Kernel::SysInfo(const ObjectId& player, int infoKind, const char* textId,
                     const IVarList& args) {
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::SysInfo;
    e.sender = player;
    e.target = player;
    e.id = infoKind;
    e.name = Str(textId);
    e.args.Concat(args);
    m_log.Add(std::move(e));
    if (!Exists(player)) {
        HostLog("notice " + Str(textId) + " to " + Obj(player) + " not delivered: no such object");
        return false;
    }
    return true;
}

bool Kernel::SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) {
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::SysInfoByWorld;
    e.id = infoKind;
    e.name = Str(textId);
    e.args.Concat(args);
    m_log.Add(std::move(e));
    return true;
}

// ---- players ---------------------------------------------------------------------------------

ObjectId Kernel::FindPlayer(const char16_t* name) {
    const std::u16string wanted = Wide(name);
    if (wanted.empty()) return {};
    for (const auto& slot : m_slots) {
        if (!slot || !slot->isPlayer) continue;
        auto it = slot->props.find("Name");
        if (it != slot->props.end() && TypeOf(it->second) == VTYPE_WIDESTR &&
            std::get<std::u16string>(it->second) == wanted)
            return slot->id;
    }
    return {};
}

int Kernel::GetPlayerOnline(const char16_t* name) {
    return m_elsewhere.count(Wide(name)) != 0 ? 1 : 0;
}

void Kernel::SetOnlineElsewhere(const std::u16string& name, bool online) {
    if (online)
        m_elsewhere.insert(name);
    else
        m_elsewhere.erase(name);
}

ObjectId Kernel::AddOfflinePlayer(const std::u16string& name) {
    auto it = m_offline.find(name);
    if (it != m_offline.end()) return it->second;
    // Offline players have ids outside the object table: they are never live.
    const ObjectId id{m_nextOfflineIdent++, 1};
    m_offline[name] = id;
    return id;
}

bool Kernel::RemoveOfflinePlayer(const std::u16string& name) {
    return m_offline.erase(name) != 0;
}

int Kernel::QueryOfflinePlayer(const char16_t* name, IVarList& info) {
    auto it = m_offline.find(Wide(name));
    if (it == m_offline.end()) return 0;
    info.AddObject(it->second);
    return 1;
}

int Kernel::CheckOfflinePlayer(const char16_t* name, const ObjectId& player) {
    auto it = m_offline.find(Wide(name));
    return it != m_offline.end() && it->second == player ? 1 : 0;
}

int Kernel::GetNameId(const char16_t* name) {
    const std::u16string who = Wide(name);
    if (who.empty()) return 0;
    auto it = m_nameIdsByName.find(who);
    if (it != m_nameIdsByName.end()) return it->second;
    const int id = static_cast<int>(m_nameIdsByName.size()) + 1;
    m_nameIdsByName[who] = id;
    return id;
}

bool Kernel::CommandOffline(const char16_t* name, const ObjectId& player,
                            const char16_t* senderName, int senderNameId, const IVarList& msg) {
    const std::u16string who = Wide(name);
    auto it = m_offline.find(who);
    const bool ok = it != m_offline.end() && it->second == player;
    Event e;
    e.timeMs = m_now;
    e.kind = EventKind::CommandOffline;
    e.targetName = who;
    e.target = player;
    e.id = msg.IntVal(0);
    e.result = ok ? 1 : 0;
    e.text = "from u\"" + Utf16ToUtf8(Wide(senderName)) + "\" #" + std::to_string(senderNameId);
    e.args.Concat(msg);
    m_log.Add(std::move(e));
    if (!ok)
        HostLog("offline command to u\"" + Utf16ToUtf8(who) + "\" refused: no such offline player");
    return ok;
}

// ---- scenes, resources, scripts --------------------------------------------------------------

ObjectId Kernel::GetScene() {
    for (auto it = m_callStack.rbegin(); it != m_callStack.rend(); ++it) {
        const Object* o = Get(*it);
        if (o != nullptr && Exists(o->scene)) return o->scene;
    }
    return Exists(m_currentScene) ? m_currentScene : ObjectId{};
}

const char* Kernel::GetResourcePath() {
    return m_resourcePath.c_str();
}

bool Kernel::RunScriptFunction(const char* script, const char* function, const IVarList& args,
                               int resultCount, IVarList& results) {
    if (!m_scriptRunner) {
        HostLog("script " + Str(script) + ":" + Str(function) + " not run: no script engine");
        return false;
    }
    try {
        return m_scriptRunner(Str(script), Str(function), args, resultCount, results);
    } catch (const std::exception& e) {
        HostLog(std::string("script engine failed: ") + e.what());
    } catch (...) {
        HostLog("script engine failed");
    }
    return false;
}

// ---- heartbeats and the clock ------------------------------------------------------------------

uint32_t Kernel::InternName(const std::string& name) {
    auto it = m_nameIds.find(name);
    if (it != m_nameIds.end()) return it->second;
    const uint32_t id = static_cast<uint32_t>(m_names.size());
    m_names.push_back(name);
    m_beatFuncs.push_back(nullptr);
    m_nameIds[name] = id;
    return id;
}

bool Kernel::DeclareHeartBeat(const char* name, HeartBeatFunc func) {
    if (name == nullptr || *name == '\0' || func == nullptr) {
        HostLog("DeclareHeartBeat refused: no name or no function");
        return false;
    }
    const uint32_t id = InternName(name);
    if (m_beatFuncs[id] != nullptr && m_beatFuncs[id] != func) {
        HostLog(Format("DeclareHeartBeat(\"%s\") refused: the name is bound to another function",
                       name));
        return false;
    }
    m_beatFuncs[id] = func;
    return true;
}

bool Kernel::AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) {
    Object* o = Get(obj);
    const std::string beatName = Str(name);
    if (o == nullptr) {
        HostLog(Format("AddHeartBeat(%s, \"%s\") refused: no such object", Obj(obj).c_str(),
                       beatName.c_str()));
        return false;
    }
    auto nit = m_nameIds.find(beatName);
    if (nit == m_nameIds.end() || m_beatFuncs[nit->second] == nullptr) {
        HostLog(Format("AddHeartBeat(%s, \"%s\") refused: the heartbeat is not declared",
                       Obj(obj).c_str(), beatName.c_str()));
        return false;
    }
    if (intervalMs < 1) {
        HostLog(Format("AddHeartBeat(%s, \"%s\", %d) refused: the interval must be at least 1 ms",
                       Obj(obj).c_str(), beatName.c_str(), intervalMs));
        return false;
    }
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) return false;  // carried at most once
    uint32_t idx;
    if (!m_freeBeats.empty()) {
        idx = m_freeBeats.back();
        m_freeBeats.pop_back();
    } else {
        idx = static_cast<uint32_t>(m_beats.size());
        m_beats.emplace_back();
    }
    Beat& b = m_beats[idx];
    b.obj = obj;
    b.name = nit->second;
    b.interval = intervalMs;
    b.due = m_now + intervalMs;
    b.seq = m_attachSeq++;
    b.gen = (b.gen + 1) & 0x7fffffffu;
    b.live = true;
    const uint64_t payload = (uint64_t{b.gen} << 32) | idx;
    b.timer = m_wheel.Schedule(b.due, b.seq, payload, intervalMs);
    o->beats.push_back(idx);
    ++m_liveBeats;
    if (m_log.enabled()) {
        Event e;
        e.timeMs = m_now;
        e.kind = EventKind::HeartbeatAdd;
        e.sender = obj;
        e.name = beatName;
        e.id = intervalMs;
        m_log.Add(std::move(e));
    }
    return true;
}

void Kernel::DetachBeat(uint32_t idx, bool logRemoval) {
    Beat& b = m_beats[idx];
    if (!b.live) return;
    m_wheel.Cancel(b.timer);
    b.live = false;
    if (Object* o = Get(b.obj)) {
        auto& beats = o->beats;
        beats.erase(std::remove(beats.begin(), beats.end(), idx), beats.end());
    }
    if (logRemoval && m_log.enabled()) {
        Event e;
        e.timeMs = m_now;
        e.kind = EventKind::HeartbeatRemove;
        e.sender = b.obj;
        e.name = m_names[b.name];
        m_log.Add(std::move(e));
    }
    m_freeBeats.push_back(idx);
    --m_liveBeats;
}

bool Kernel::RemoveHeartBeat(const ObjectId& obj, const char* name) {
    Object* o = Get(obj);
    if (o == nullptr || name == nullptr) return false;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return false;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) {
            DetachBeat(b, true);
            return true;
        }
    return false;
}

bool Kernel::FindHeartBeat(const ObjectId& obj, const char* name) {
    return HeartbeatInterval(obj, Str(name)) > 0;
}

int Kernel::HeartbeatInterval(const ObjectId& obj, const std::string& name) const {
    const Object* o = Get(obj);
    if (o == nullptr) return 0;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return 0;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) return m_beats[b].interval;
    return 0;
}

int64_t Kernel::HeartbeatDue(const ObjectId& obj, const std::string& name) const {
    const Object* o = Get(obj);
    if (o == nullptr) return -1;
    auto nit = m_nameIds.find(name);
    if (nit == m_nameIds.end()) return -1;
    for (uint32_t b : o->beats)
        if (m_beats[b].name == nit->second) return m_beats[b].due;
    return -1;
}

uint64_t Kernel::ScheduleAt(int64_t dueMs, std::function<void()> fn) {
    uint32_t idx;
    if (!m_freeTimers.empty()) {
        idx = m_freeTimers.back();
        m_freeTimers.pop_back();
    } else {
        idx = static_cast<uint32_t>(m_timers.size());
        m_timers.emplace_back();
    }
    Timer& t = m_timers[idx];
    t.fn = std::move(fn);
    t.gen = (t.gen + 1) & 0x7fffffffu;
    t.live = true;
    const int64_t due = dueMs <= m_now ? m_now + 1 : dueMs;
    const uint64_t payload = kTimerFlag | (uint64_t{t.gen} << 32) | idx;
    t.wheel = m_wheel.Schedule(due, m_attachSeq++, payload);
    return payload & ~kTimerFlag;
}

bool Kernel::CancelTimer(uint64_t handle) {
    const uint32_t idx = static_cast<uint32_t>(handle);
    const uint32_t gen = static_cast<uint32_t>(handle >> 32) & 0x7fffffffu;
    if (idx >= m_timers.size()) return false;
    Timer& t = m_timers[idx];
    if (!t.live || t.gen != gen) return false;
    m_wheel.Cancel(t.wheel);
    t.live = false;
    t.fn = nullptr;
    m_freeTimers.push_back(idx);
    return true;
}

void Kernel::FireBeat(uint64_t payload, int64_t due) {
    if (payload & kTimerFlag) {
        const uint32_t idx = static_cast<uint32_t>(payload);
        const uint32_t gen = static_cast<uint32_t>(payload >> 32) & 0x7fffffffu;
        if (idx >= m_timers.size() || !m_timers[idx].live || m_timers[idx].gen != gen) return;
        std::function<void()> fn = std::move(m_timers[idx].fn);
        m_timers[idx].live = false;
        m_timers[idx].fn = nullptr;
        m_freeTimers.push_back(idx);
        try {
            if (fn) fn();
        } catch (const std::exception& e) {
            HostLog(std::string("a host timer threw: ") + e.what());
        }
        return;
    }
    const uint32_t idx = static_cast<uint32_t>(payload);
    const uint32_t gen = static_cast<uint32_t>(payload >> 32);
    if (idx >= m_beats.size() || !m_beats[idx].live || m_beats[idx].gen != gen) return;
    const ObjectId obj = m_beats[idx].obj;
    const HeartBeatFunc fn = m_beatFuncs[m_beats[idx].name];
    if (Get(obj) == nullptr) {
        DetachBeat(idx, false);
        return;
    }
    if (m_options.logHeartbeatFires) Note("heartbeat", m_names[m_beats[idx].name], obj);
    if (EnterDispatch("heartbeat", obj)) {
        try {
            fn(this, obj);
        } catch (...) {
            HostLog("heartbeat " + m_names[m_beats[idx].name] + " threw");
        }
        LeaveDispatch();
    }
    // The wheel has re-armed the beat already; a removal inside the
    // callback cancelled that. m_beats may have grown meanwhile: index again.
    Beat& b = m_beats[idx];
    if (b.live && b.gen == gen) b.due = due + b.interval;
}

void Kernel::AdvanceTime(int64_t ms) {
    if (ms < 0) {
        HostLog(Format("AdvanceTime(%lld) refused: time does not run backwards",
                       static_cast<long long>(ms)));
        return;
    }
    if (m_advancing || m_depth > 0) {
        HostLog("AdvanceTime inside a callback refused");
        return;
    }
    m_advancing = true;
    constexpr int64_t kEnd = INT64_MAX / 4;
    const int64_t target = ms > kEnd - m_now ? kEnd : m_now + ms;
    std::vector<HeartbeatWheel::Expired> batch;
    int64_t when = 0;
    while (m_wheel.PopDue(target, batch, when)) {
        m_now = when;
        for (size_t i = 0; i < batch.size(); ++i) {
            // Beats of one millisecond lie scattered in memory: fetch a few ahead.
            if (i + 4 < batch.size() && !(batch[i + 4].payload & kTimerFlag)) {
                const uint32_t ahead = static_cast<uint32_t>(batch[i + 4].payload);
                if (ahead < m_beats.size()) __builtin_prefetch(&m_beats[ahead]);
            }
            FireBeat(batch[i].payload, when);
        }
    }
    m_now = target;
    m_advancing = false;
}

}  // namespace host
