// Kernel class registry: classes, their property and record declarations,
// and the checks that keep a name unique along each class chain.

#include <cstring>

#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

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
    // A derived class starts with its base's slots, in the base's order.
    m_layouts.push_back(parentIndex < 0 ? std::make_unique<Layout>()
                                        : std::make_unique<Layout>(*m_layouts[parentIndex]));
    Layout& layout = *m_layouts.back();
    layout.isPlayer = layout.isPlayer || name == "player";
    layout.isScene = layout.isScene || name == "BaseScene";
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

bool Kernel::Derives(int classIndex, int base) const {
    for (int c = classIndex; c >= 0; c = m_classes[c].parent)
        if (c == base) return true;
    return false;
}

bool Kernel::IsA(int classIndex, const std::string& base) const {
    for (const ClassInfo* c = GetClassInfo(classIndex); c != nullptr; c = GetClassInfo(c->parent))
        if (c->name == base) return true;
    return false;
}

const PropertyDecl* Kernel::FindProperty(int classIndex, std::string_view name) const {
    if (classIndex < 0 || static_cast<size_t>(classIndex) >= m_layouts.size()) return nullptr;
    const Layout& l = *m_layouts[classIndex];
    auto it = l.propSlot.find(name);
    return it == l.propSlot.end() ? nullptr : l.props[it->second];
}

const RecordDecl* Kernel::FindRecord(int classIndex, std::string_view name) const {
    if (classIndex < 0 || static_cast<size_t>(classIndex) >= m_layouts.size()) return nullptr;
    const Layout& l = *m_layouts[classIndex];
    auto it = l.recordSlot.find(name);
    return it == l.recordSlot.end() ? nullptr : l.records[it->second];
}

int Kernel::PropSlot(int classIndex, const char* name) const {
    if (name == nullptr) return -1;
    const Layout& l = *m_layouts[classIndex];
    NameCache::Entry& e = m_nameCache->props[NameCache::Index(name, classIndex)];
    // Same pointer, same class, and the text still the same: slots never move.
    if (e.name == name && e.cls == classIndex &&
        std::strcmp(l.props[e.slot]->name.c_str(), name) == 0)
        return static_cast<int>(e.slot);
    auto it = l.propSlot.find(std::string_view(name));
    if (it == l.propSlot.end()) return -1;
    e = {name, classIndex, it->second};
    return static_cast<int>(it->second);
}

int Kernel::RecordSlot(int classIndex, const char* name) const {
    if (name == nullptr) return -1;
    const Layout& l = *m_layouts[classIndex];
    NameCache::Entry& e = m_nameCache->records[NameCache::Index(name, classIndex)];
    if (e.name == name && e.cls == classIndex &&
        std::strcmp(l.records[e.slot]->name.c_str(), name) == 0)
        return static_cast<int>(e.slot);
    auto it = l.recordSlot.find(std::string_view(name));
    if (it == l.recordSlot.end()) return -1;
    e = {name, classIndex, it->second};
    return static_cast<int>(it->second);
}

const PropertyDecl* Kernel::FindPropertyDecl(int classIndex, const std::string& name) const {
    return FindProperty(classIndex, name);
}

const RecordDecl* Kernel::FindRecordDecl(int classIndex, const std::string& name) const {
    return FindRecord(classIndex, name);
}

bool Kernel::CheckClass(int classIndex, const char* op, const char* name) {
    if (GetClassInfo(classIndex) != nullptr) return true;
    HostLog(Format("%s(%d, \"%s\") refused: no class with that index", op, classIndex,
                   name ? name : ""));
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
    // Taken when the class, a base or a derived class already has it: an
    // object sees the declarations of its whole chain, so a name may occur
    // only once on any chain. Every class deriving from this one (itself
    // included) holds its bases' names in its layout.
    bool taken = false;
    for (size_t c = 0; c < m_classes.size() && !taken; ++c)
        taken = Derives(static_cast<int>(c), classIndex) &&
                m_layouts[c]->propSlot.count(decl.name) != 0;
    if (taken) {
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
    const PropertyDecl* added = &m_classes[classIndex].properties.back();
    for (size_t c = 0; c < m_classes.size(); ++c) {
        if (!Derives(static_cast<int>(c), classIndex)) continue;
        Layout& l = *m_layouts[c];
        l.propSlot.emplace(added->name, static_cast<uint32_t>(l.props.size()));
        l.props.push_back(added);
    }
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
    for (size_t c = 0; c < m_classes.size(); ++c) {
        if (Derives(static_cast<int>(c), classIndex) &&
            m_layouts[c]->recordSlot.count(decl.name) != 0) {
            HostLog(Format("%s(%s, \"%s\") refused: the record is already declared", op,
                           cls.c_str(), decl.name.c_str()));
            return false;
        }
    }
    decl.colTypes.resize(decl.cols, VTYPE_NONE);
    m_classes[classIndex].records.push_back(std::move(decl));
    const RecordDecl* added = &m_classes[classIndex].records.back();
    for (size_t c = 0; c < m_classes.size(); ++c) {
        if (!Derives(static_cast<int>(c), classIndex)) continue;
        Layout& l = *m_layouts[c];
        l.recordSlot.emplace(added->name, static_cast<uint32_t>(l.records.size()));
        l.records.push_back(added);
    }
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

}  // namespace host
