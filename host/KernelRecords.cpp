// Kernel records: per-object tables of typed rows, declared per class and
// stored contiguously, a row at a time by index.

#include <algorithm>

#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

// ---- records -------------------------------------------------------------------------------

// Only this file calls it: inlined into every reader.
inline __attribute__((always_inline)) Kernel::Record* Kernel::GetRecordPtr(
    const ObjectId& obj, const char* rec, const char* op, const RecordDecl** decl) {
    // The hit is checked here and everything else happens out of line, so
    // the common case costs a few compares.
    const NameCache& nc = *m_nameCache;
    if (rec != nullptr) {
        const NameCache::RecordHit& hit = nc.recordHits[NameCache::HitIndex(rec, obj)];
        // hit.obj is checked first: only then is its slot known to exist.
        // A name outside the fixed texts is looked up afresh.
        if (hit.name == rec && hit.obj == obj && hit.epoch == m_epochs[obj.ident - 1]) {
            *decl = hit.decl;
            return hit.record;
        }
    }
    return RecordPtrSlow(obj, rec, op, decl);
}

Kernel::Record* Kernel::RecordPtrSlow(const ObjectId& obj, const char* rec, const char* op,
                                      const RecordDecl** decl) {
    NameCache& nc = *m_nameCache;
    NameCache::RecordHit* hit =
        rec != nullptr ? &nc.recordHits[NameCache::HitIndex(rec, obj)] : nullptr;
    Object* o = Get(obj);
    if (o == nullptr) {
        if (op != nullptr)
            HostLog(Format("%s(%s, \"%s\") refused: no such object", op, Obj(obj).c_str(),
                           Str(rec).c_str()));
        return nullptr;
    }
    const Layout& l = *m_layouts[o->cls];
    const int slot = RecordSlot(o->cls, rec);
    if (slot < 0) {
        if (op != nullptr)
            HostLog(Format("%s(%s, \"%s\") refused: class %s has no such record", op,
                           Obj(obj).c_str(), Str(rec).c_str(), m_classes[o->cls].name.c_str()));
        return nullptr;
    }
    // Records a base class declared later are added as they are first used;
    // Record moves keep the cells' storage where it is.
    if (o->records.size() <= static_cast<size_t>(slot)) {
        o->records.resize(l.records.size());
        ++m_epochs[obj.ident - 1];  // earlier hits may point into the old vector
    }
    *decl = l.records[slot];
    Record* r = &o->records[slot];
    if (hit != nullptr && IsFixedText(rec)) *hit = {rec, obj, m_epochs[obj.ident - 1], r, *decl};
    return r;
}

void Kernel::BeforeCellsMove(Record& r) {
    if (!r.lent || m_depth == 0) return;
    // Texts of these cells were handed out in this dispatch: keep the storage
    // until it returns, and go on with a copy.
    std::vector<Value> copy;
    copy.reserve(r.cells.capacity());
    copy = r.cells;
    m_deadCells.push_back(std::move(r.cells));
    r.cells = std::move(copy);
    r.lent = false;
}

int Kernel::GetRecordRows(const ObjectId& obj, const char* rec) {
    const RecordDecl* d = nullptr;
    const Record* r = GetRecordPtr(obj, rec, nullptr, &d);
    return r ? r->rows : -1;
}

bool Kernel::RowFromList(const RecordDecl& d, const IVarList& values, const char* op,
                         const char* rec, Value* row) {
    if (values.GetCount() != static_cast<uint64_t>(d.cols)) {
        HostLog(Format("%s(\"%s\") refused: %llu values for %d columns", op, rec,
                       static_cast<unsigned long long>(values.GetCount()), d.cols));
        return false;
    }
    // Read as the list's copy rule does: a type no cell can hold is refused
    // before any column is looked at.
    for (int c = 0; c < d.cols; ++c) {
        const int type = values.GetType(static_cast<uint64_t>(c));
        if (type < VTYPE_INT || type > VTYPE_INT64) {
            HostLog(Format("%s(\"%s\") refused: a value of a type no cell can hold", op, rec));
            return false;
        }
    }
    for (int c = 0; c < d.cols; ++c) {
        Value& v = row[c];
        ReadValue(values, static_cast<uint64_t>(c), v);
        if (!Accepts(d.colTypes[c], v)) {
            HostLog(Format("%s(\"%s\") refused: column %d is %s, the value %s", op, rec, c,
                           TypeName(d.colTypes[c]), TypeName(TypeOf(v))));
            return false;
        }
        // Bools are kept as int 0 / 1 (see Normalise); the list holds no bools.
        if (d.colTypes[c] == VTYPE_BOOL) v = int32_t{std::get<int32_t>(v) != 0 ? 1 : 0};
    }
    return true;
}

int Kernel::NewRowIndex(const ObjectId& obj, const Record& r, const RecordDecl& d, const char* rec,
                        int row, const char* op) {
    const int rows = r.rows;
    if (rows >= d.maxRows) {
        HostLog(Format("%s(%s, \"%s\") refused: the record is full (%d rows)", op, Obj(obj).c_str(),
                       rec, d.maxRows));
        return -1;
    }
    if (row < -1 || row > rows) {
        HostLog(Format("%s(%s, \"%s\", %d) refused: row out of range (%d rows)", op,
                       Obj(obj).c_str(), rec, row, rows));
        return -1;
    }
    return row < 0 ? rows : row;
}

namespace {

// Opens a row of blank cells at row at. A world holds a few records on
// every object, mostly short, so capacity grows by a quarter (never past the
// record's row limit) instead of doubling: half-empty cell vectors on a
// hundred thousand creators would cost more than the rare extra copy.
Value* InsertRow(std::vector<Value>& cells, int cols, int maxRows, int at) {
    const size_t needed = cells.size() + static_cast<size_t>(cols);
    if (needed > cells.capacity()) {
        size_t grown = cells.size() + cells.size() / 4 + static_cast<size_t>(cols);
        if (maxRows > 0) grown = std::min(grown, static_cast<size_t>(maxRows) * cols);
        cells.reserve(std::max(needed, grown));
    }
    const size_t start = static_cast<size_t>(at) * cols;
    if (start == cells.size()) {
        cells.resize(needed);
        return cells.data() + start;
    }
    const auto pos = cells.begin() + static_cast<std::ptrdiff_t>(start);
    return &*cells.insert(pos, static_cast<size_t>(cols), Value{});
}

}  // namespace

int Kernel::AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, "AddRecordBlankRow", &d);
    if (r == nullptr) return -1;
    const int at = NewRowIndex(obj, *r, *d, rec, row, "AddRecordBlankRow");
    if (at < 0) return -1;
    BeforeCellsMove(*r);
    Value* cells = InsertRow(r->cells, d->cols, d->maxRows, at);
    for (int c = 0; c < d->cols; ++c) cells[c] = StoredDefault(d->colTypes[c]);
    ++r->rows;
    return at;
}

int Kernel::AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                               const IVarList& values) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, "AddRecordRowValues", &d);
    if (r == nullptr) return -1;
    const int at = NewRowIndex(obj, *r, *d, rec, row, "AddRecordRowValues");
    if (at < 0) return -1;
    if (at == r->rows) {
        // Appended (the usual case): read straight into the new row, which
        // goes again when the list is refused.
        BeforeCellsMove(*r);
        const size_t before = r->cells.size();
        Value* dst = InsertRow(r->cells, d->cols, d->maxRows, at);
        if (!RowFromList(*d, values, "AddRecordRowValues", rec, dst)) {
            r->cells.resize(before);
            return -1;
        }
        ++r->rows;
        return at;
    }
    // Inserted: the row is read into a scratch kept for reuse (no hook runs
    // until it is moved in), so a refused list leaves the record as it was.
    std::vector<Value>& cells = m_rowScratch;
    cells.resize(static_cast<size_t>(d->cols));
    if (!RowFromList(*d, values, "AddRecordRowValues", rec, cells.data())) return -1;
    BeforeCellsMove(*r);
    Value* dst = InsertRow(r->cells, d->cols, d->maxRows, at);
    for (int c = 0; c < d->cols; ++c) dst[c] = std::move(cells[c]);
    ++r->rows;
    return at;
}

bool Kernel::RemoveRecordRow(const ObjectId& obj, const char* rec, int row) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, "RemoveRecordRow", &d);
    if (r == nullptr) return false;
    if (row < 0 || row >= r->rows) {
        HostLog(Format("RemoveRecordRow(%s, \"%s\", %d) refused: no such row (%zu rows)",
                       Obj(obj).c_str(), rec, row, static_cast<size_t>(r->rows)));
        return false;
    }
    // The cells live on until the outermost dispatch returns (texts handed out).
    BeforeCellsMove(*r);
    const auto from = r->cells.begin() + static_cast<std::ptrdiff_t>(row) * d->cols;
    r->cells.erase(from, from + d->cols);
    --r->rows;
    return true;
}

bool Kernel::SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                                const IVarList& values) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, "SetRecordRowValues", &d);
    if (r == nullptr) return false;
    if (row < 0 || row >= r->rows) {
        HostLog(Format("SetRecordRowValues(%s, \"%s\", %d) refused: no such row (%zu rows)",
                       Obj(obj).c_str(), rec, row, static_cast<size_t>(r->rows)));
        return false;
    }
    std::vector<Value> cells(static_cast<size_t>(d->cols));
    if (!RowFromList(*d, values, "SetRecordRowValues", rec, cells.data())) return false;
    Value* dst = &r->cells[static_cast<size_t>(row) * d->cols];
    for (int c = 0; c < d->cols; ++c) dst[c] = std::move(cells[c]);
    return true;
}

bool Kernel::GetRecord(const ObjectId& obj, const std::string& rec,
                       std::vector<std::vector<Value>>& rows) const {
    rows.clear();
    const RecordDecl* d = nullptr;
    Record* r = const_cast<Kernel*>(this)->GetRecordPtr(obj, rec.c_str(), nullptr, &d);
    if (r == nullptr) return false;
    for (int i = 0; i < r->rows; ++i) {
        const auto from = r->cells.begin() + static_cast<std::ptrdiff_t>(i) * d->cols;
        rows.emplace_back(from, from + d->cols);
    }
    return true;
}

bool Kernel::ClearRecord(const ObjectId& obj, const std::string& rec) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec.c_str(), "ClearRecord", &d);
    if (r == nullptr) return false;
    BeforeCellsMove(*r);
    r->cells.clear();
    r->rows = 0;
    return true;
}

inline __attribute__((always_inline)) const Value* Kernel::Cell(const ObjectId& obj,
                                                                const char* rec, int row,
                                                                int col) const {
    const RecordDecl* d = nullptr;
    Record* r = const_cast<Kernel*>(this)->GetRecordPtr(obj, rec, nullptr, &d);
    if (r == nullptr || row < 0 || row >= r->rows) return nullptr;
    if (col < 0 || col >= d->cols) return nullptr;
    return &r->cells[static_cast<size_t>(row) * d->cols + col];
}

inline __attribute__((always_inline)) const Value* Kernel::QuickCell(const ObjectId& obj,
                                                                     const char* rec, int row,
                                                                     int col, bool* found) const {
    *found = false;
    if (rec == nullptr) return nullptr;
    const NameCache::RecordHit& hit = m_nameCache->recordHits[NameCache::HitIndex(rec, obj)];
    if (hit.name != rec || hit.obj != obj || hit.epoch != m_epochs[obj.ident - 1]) return nullptr;
    *found = true;
    const Record& r = *hit.record;
    const int cols = hit.decl->cols;
    if (row < 0 || row >= r.rows || col < 0 || col >= cols) return nullptr;
    return &r.cells[static_cast<size_t>(row) * cols + col];
}

// Out of line, so the quick way keeps no registers for it.
__attribute__((noinline)) const Value* Kernel::CellSlow(const ObjectId& obj, const char* rec,
                                                        int row, int col) const {
    return Cell(obj, rec, row, col);
}

int Kernel::QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) {
    bool found;
    const Value* v = QuickCell(obj, rec, row, col, &found);
    if (!found) v = CellSlow(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_INT ? *std::get_if<int32_t>(v) : 0;
}

float Kernel::QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) {
    bool found;
    const Value* v = QuickCell(obj, rec, row, col, &found);
    if (!found) v = CellSlow(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_FLOAT ? *std::get_if<float>(v) : 0.0f;
}

const char* Kernel::QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, nullptr, &d);
    const Value* v = Cell(obj, rec, row, col);
    if (v == nullptr || TypeOf(*v) != VTYPE_STRING) return kEmpty;
    r->lent = true;
    return std::get<std::string>(*v).c_str();
}

const char16_t* Kernel::QueryRecordWideStr(const ObjectId& obj, const char* rec, int row, int col) {
    const RecordDecl* d = nullptr;
    Record* r = GetRecordPtr(obj, rec, nullptr, &d);
    const Value* v = Cell(obj, rec, row, col);
    if (v == nullptr || TypeOf(*v) != VTYPE_WIDESTR) return kEmptyWide;
    r->lent = true;
    return std::get<std::u16string>(*v).c_str();
}

ObjectId Kernel::QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) {
    bool found;
    const Value* v = QuickCell(obj, rec, row, col, &found);
    if (!found) v = CellSlow(obj, rec, row, col);
    return v != nullptr && TypeOf(*v) == VTYPE_OBJECT ? std::get<ObjectId>(*v) : ObjectId{};
}

int Kernel::FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) {
    const RecordDecl* d = nullptr;
    const Record* r = GetRecordPtr(obj, rec, nullptr, &d);
    if (r == nullptr || col < 0 || col >= d->cols) return -1;
    for (int i = 0; i < r->rows; ++i) {
        const Value& v = r->cells[static_cast<size_t>(i) * d->cols + col];
        if (TypeOf(v) == VTYPE_INT && std::get<int32_t>(v) == value) return i;
    }
    return -1;
}

int Kernel::FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                              const char16_t* value) {
    const RecordDecl* d = nullptr;
    const Record* r = GetRecordPtr(obj, rec, nullptr, &d);
    if (r == nullptr || col < 0 || col >= d->cols) return -1;
    const std::u16string_view wanted = value == nullptr ? std::u16string_view() : value;
    for (int i = 0; i < r->rows; ++i) {
        const Value& v = r->cells[static_cast<size_t>(i) * d->cols + col];
        if (TypeOf(v) == VTYPE_WIDESTR && std::get<std::u16string>(v) == wanted) return i;
    }
    return -1;
}

}  // namespace host
