// Kernel records: per-object tables of typed rows, declared per class.

#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

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

}  // namespace host
