// Kernel object store: creating and destroying objects, their place in
// scenes and containers, and reading and writing their properties.

#include <algorithm>
#include <climits>
#include <type_traits>

#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

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
        m_epochs.push_back(0);
    }
    // Serials grow on every reuse of a slot, so an old id never matches the
    // new occupant; 0 is skipped because it belongs to the null id.
    if (++m_serials[slot] == 0) m_serials[slot] = 1;
    std::unique_ptr<Object> o;
    if (!m_spareObjects.empty()) {
        o = std::move(m_spareObjects.back());
        m_spareObjects.pop_back();
    } else {
        o = std::make_unique<Object>();
    }
    o->id = ObjectId{slot + 1, m_serials[slot]};
    o->cls = cls;
    o->config = objDef.config;
    o->configIndex = objDef.configIndex;
    const Layout& layout = *m_layouts[cls];
    o->isPlayer = layout.isPlayer;
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
    if (layout.isScene) {
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
    if (!o->children.empty()) {
        // A copy, as the children leave the list while it is walked; one
        // list per nesting level is kept for reuse.
        const size_t level = m_destroyNesting;
        if (m_childLists.size() <= level) m_childLists.resize(level + 1);
        m_childLists[level].assign(o->children.begin(), o->children.end());
        ++m_destroyNesting;
        struct Unnest {
            size_t& n;
            ~Unnest() { --n; }
        } unnest{m_destroyNesting};
        // By index: a nested Destroy may grow m_childLists.
        for (size_t i = 0; i < m_childLists[level].size(); ++i) Destroy(m_childLists[level][i]);
    }
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
    ++m_epochs[slot];  // no hit may lead to the dead object
    if (m_depth > 0)
        m_graveyard.push_back(std::move(m_slots[slot]));
    else
        Recycle(std::move(m_slots[slot]));
    m_freeSlots.push_back(slot);
    --m_liveObjects;
}

void Kernel::Recycle(std::unique_ptr<Object> o) {
    constexpr size_t kSpareObjects = 64;
    if (o == nullptr || m_spareObjects.size() >= kSpareObjects) return;
    // Emptied field by field: the vectors keep their storage.
    o->id = ObjectId{};
    o->cls = -1;
    o->config.clear();
    o->configIndex = 0;
    o->scene = ObjectId{};
    o->parent = ObjectId{};
    o->childName.clear();
    o->children.clear();
    o->props.clear();
    o->records.clear();
    o->beats.clear();
    o->isPlayer = false;
    o->born = 0;
    m_spareObjects.push_back(std::move(o));
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
    const int base = ClassIndex(className);
    if (base < 0) return {};
    std::vector<const Object*> found;
    for (const auto& slot : m_slots)
        if (slot && Derives(slot->cls, base)) found.push_back(slot.get());
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
    const std::u16string_view wanted = name == nullptr ? std::u16string_view() : name;
    for (const ObjectId& c : o->children) {
        const Object* child = Get(c);
        if (child != nullptr && child->childName == wanted) return c;
    }
    return {};
}

// ---- properties -------------------------------------------------------------------------

std::vector<Value>& Kernel::Props(Object& o) const {
    const Layout& l = *m_layouts[o.cls];
    if (o.props.empty() && !l.props.empty()) {
        // First use: nothing can point into the empty vector yet, and a
        // recycled object's storage may already be large enough.
        o.props.reserve(l.props.size());
        for (const PropertyDecl* d : l.props) o.props.push_back(d->initial);
        return o.props;
    }
    if (o.props.size() < l.props.size()) {
        std::vector<Value> grown;
        grown.reserve(l.props.size());
        grown = o.props;
        for (size_t i = grown.size(); i < l.props.size(); ++i) grown.push_back(l.props[i]->initial);
        // A dispatch may hold texts of the old values: keep them alive.
        if (m_depth > 0 && !o.props.empty()) m_deadCells.push_back(std::move(o.props));
        o.props = std::move(grown);
        ++m_epochs[o.id.ident - 1];  // earlier hits point into the old vector
    }
    return o.props;
}

// Only this file calls it: inlined into every reader and writer.
inline __attribute__((always_inline)) Value* Kernel::PropertyHit(const ObjectId& obj,
                                                                 const char* name,
                                                                 const PropertyDecl** decl) const {
    const NameCache& nc = *m_nameCache;
    const NameCache::PropHit& hit = nc.propHits[NameCache::HitIndex(name, obj)];
    // hit.obj is checked first: only then is its slot known to exist. A
    // name outside the fixed texts is looked up afresh (its text may have
    // changed), which keeps this path free of calls.
    if (hit.name == name && hit.obj == obj && hit.epoch == m_epochs[obj.ident - 1]) {
        *decl = hit.decl;
        return hit.value;
    }
    return PropertySlow(obj, name, decl);
}

Value* Kernel::PropertySlow(const ObjectId& obj, const char* name,
                            const PropertyDecl** decl) const {
    NameCache& nc = *m_nameCache;
    NameCache::PropHit& hit = nc.propHits[NameCache::HitIndex(name, obj)];
    Object* o = Get(obj);
    if (o == nullptr) return nullptr;
    const int slot = PropSlot(o->cls, name);
    if (slot < 0) return nullptr;
    Value* v = &Props(*o)[slot];  // may move the epoch on
    *decl = m_layouts[o->cls]->props[slot];
    // Only a fixed name can be trusted by address later; another would just
    // take the place of one that can.
    if (IsFixedText(name)) hit = {name, obj, m_epochs[obj.ident - 1], v, *decl};
    return v;
}

inline void Kernel::LogPropertyChange(const ObjectId& obj, const PropertyDecl& decl,
                                      const Value& now) {
    if (!m_options.logPropertyChanges) return;
    if (!m_log.enabled()) {
        m_log.Skip();
        return;
    }
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::Property;
    e.sender = obj;
    e.name = decl.name;
    e.value = &now;
    m_log.Add(e);
}

bool Kernel::WriteProperty(const ObjectId& obj, const char* name, Value value, const char* op) {
    const PropertyDecl* decl = nullptr;
    Value* found = name != nullptr ? PropertyHit(obj, name, &decl) : nullptr;
    if (found == nullptr) {
        const Object* o = Get(obj);
        if (o == nullptr) {
            HostLog(Format("%s(%s, \"%s\") refused: no such object", op, Obj(obj).c_str(),
                           Str(name).c_str()));
        } else {
            HostLog(Format("%s(%s, \"%s\") refused: class %s has no such property", op,
                           Obj(obj).c_str(), Str(name).c_str(), m_classes[o->cls].name.c_str()));
        }
        return false;
    }
    if (!Accepts(decl->type, value)) {
        HostLog(Format("%s(%s, \"%s\") refused: the property is %s, the value %s", op,
                       Obj(obj).c_str(), Str(name).c_str(), TypeName(decl->type),
                       TypeName(TypeOf(value))));
        return false;
    }
    Value& stored = *found;
    if (decl->type == VTYPE_BOOL) {
        // Stored as int 0 / 1 (see Normalise).
        const bool on =
            TypeOf(value) == VTYPE_BOOL ? std::get<bool>(value) : std::get<int32_t>(value) != 0;
        value = int32_t{on ? 1 : 0};
    }
    if (stored == value) return true;  // an unwritten property holds its initial value
    stored = std::move(value);
    LogPropertyChange(obj, *decl, stored);
    return true;
}

template <typename T>
bool Kernel::WriteInPlace(const ObjectId& obj, const char* name, T value, const char* op) {
    constexpr int kType = std::is_same_v<T, int32_t> ? VTYPE_INT : VTYPE_OBJECT;
    const PropertyDecl* decl = nullptr;
    Value* found = name != nullptr ? PropertyHit(obj, name, &decl) : nullptr;
    if (found == nullptr || decl->type != kType || TypeOf(*found) != kType)
        return WriteProperty(obj, name, value, op);  // refusals and conversions
    T& stored = std::get<T>(*found);
    if (stored == value) return true;
    stored = value;
    LogPropertyChange(obj, *decl, *found);
    return true;
}

inline __attribute__((always_inline)) const Value* Kernel::ReadProperty(const ObjectId& obj,
                                                                        const char* name) const {
    if (name == nullptr) return nullptr;
    const PropertyDecl* decl = nullptr;
    return PropertyHit(obj, name, &decl);
}

bool Kernel::FindAttr(const ObjectId& obj, const char* name) {
    // The property's hit answers for a fixed name asked again and again.
    if (name == nullptr) return false;
    const PropertyDecl* decl = nullptr;
    return PropertyHit(obj, name, &decl) != nullptr;
}

bool Kernel::SetInt(const ObjectId& obj, const char* name, int value) {
    return WriteInPlace(obj, name, int32_t{value}, "SetInt");
}

bool Kernel::SetString(const ObjectId& obj, const char* name, const char* value) {
    // Over a string property holding a string: in place, so its storage is
    // reused rather than a new text built for every write.
    const PropertyDecl* decl = nullptr;
    Value* found = name != nullptr ? PropertyHit(obj, name, &decl) : nullptr;
    if (found == nullptr || decl->type != VTYPE_STRING || TypeOf(*found) != VTYPE_STRING)
        return WriteProperty(obj, name, Str(value), "SetString");
    std::string& stored = *std::get_if<std::string>(found);
    const char* text = value != nullptr ? value : "";
    if (stored == text) return true;
    stored.assign(text);
    LogPropertyChange(obj, *decl, *found);
    return true;
}

bool Kernel::SetObject(const ObjectId& obj, const char* name, const ObjectId& value) {
    return WriteInPlace(obj, name, value, "SetObject");
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
    return WriteInPlace(obj, name, clamped, "IncInt");
}

}  // namespace host
