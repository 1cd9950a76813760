// A small in-memory object store behind a RecordingKernel, for module tests
// that check the state a module leaves as well as the calls it makes.
//
// Objects are keyed by the kernel's text of their id (recording_detail::Text),
// the same text the recorded calls carry as their first argument. The store
// always answers:
//   FindAttr, QueryInt, QueryString, QueryWideStr, QueryObject, SetInt,
//   SetString, IncInt (properties: a set changes an existing property of the
//   same type only), GetConfig, GetConfigIndex, GetRecordRows,
//   AddRecordBlankRow (refused at the table's maxRows), SetRecordRowValues
//   (int, float and string values), QueryRecordInt, QueryRecordFloat,
//   QueryRecordString, QueryRecordObject, FindRecordRowInt.
// Children and attached heartbeats are answered only after ServeChildren()
// and ServeHeartBeats(), so a test that scripts those answers itself can.
// Every other operation gets the recording kernel's scripted or built-in
// answer; a test adds its own handlers on k.
#pragma once

#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "RecordingKernel.h"
#include "VarList.h"

class ObjectStoreKernel {
public:
    using Value = std::variant<int, float, std::string, std::u16string, ObjectId>;
    using Row = std::vector<Value>;
    struct Table {
        int maxRows = std::numeric_limits<int>::max();
        std::vector<Row> rows;
    };
    struct Obj {
        std::string config;
        int configIndex = 0;
        std::map<std::string, Value> props;
        std::map<std::string, Table> recs;
        std::map<std::u16string, ObjectId> children;
        std::map<std::string, int> beats;  // attached heartbeat -> interval ms
    };

    RecordingKernel k;
    std::map<std::string, Obj> objs;

    ObjectStoreKernel() { Install(); }
    ObjectStoreKernel(const ObjectStoreKernel&) = delete;  // the handlers hold this
    ObjectStoreKernel& operator=(const ObjectStoreKernel&) = delete;

    // Adds a live object (no properties, no records).
    ObjectId Add(const ObjectId& id, const std::string& config, int configIndex) {
        Obj& o = objs[recording_detail::Text(id)];
        o.config = config;
        o.configIndex = configIndex;
        k.live.insert(id);
        return id;
    }

    Obj& At(const ObjectId& id) { return objs.at(recording_detail::Text(id)); }
    int Int(const ObjectId& id, const char* name) { return std::get<int>(At(id).props.at(name)); }
    std::string Str(const ObjectId& id, const char* name) {
        return std::get<std::string>(At(id).props.at(name));
    }
    void Set(const ObjectId& id, const char* name, Value v) { At(id).props[name] = std::move(v); }
    std::vector<Row>& Rows(const ObjectId& id, const char* rec) { return At(id).recs.at(rec).rows; }
    void AddModelRow(const ObjectId& id, int model, float weight, const std::string& des,
                     int index) {
        Rows(id, "ModelInfoRec").push_back(Row{model, weight, des, index});
    }
    void AddNpcRow(const ObjectId& id, int index, int config, float weight, int type) {
        Rows(id, "NPCInfoRec").push_back(Row{index, config, weight, type});
    }

    // The recorded Command calls whose message id is id.
    std::vector<const Call*> CommandsWithId(int id) const {
        std::vector<const Call*> out;
        for (const Call* c : k.CallsOf("Command"))
            if (c->list->IntVal(0) == id) out.push_back(c);
        return out;
    }

    // GetChild answers from Obj::children (the null id when there is none).
    void ServeChildren() {
        k.On("GetChild", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            if (o == nullptr) return Reply(ObjectId{});
            for (const auto& [name, id] : o->children)
                if (recording_detail::Utf8(name.c_str()) == c.args[1]) return Reply(id);
            return Reply(ObjectId{});
        });
    }
    // FindHeartBeat, AddHeartBeat and RemoveHeartBeat keep Obj::beats; adding
    // one that is attached already is refused.
    void ServeHeartBeats() {
        k.On("FindHeartBeat", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            return Reply(o != nullptr && o->beats.count(c.args[1]) != 0);
        });
        k.On("AddHeartBeat", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            if (o == nullptr || o->beats.count(c.args[1]) != 0) return Reply(false);
            o->beats[c.args[1]] = std::stoi(c.args[2]);
            return Reply(true);
        });
        k.On("RemoveHeartBeat", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            return Reply(o != nullptr && o->beats.erase(c.args[1]) != 0);
        });
    }

protected:
    Obj* Find(const std::string& idText) {
        auto it = objs.find(idText);
        return it == objs.end() ? nullptr : &it->second;
    }

private:
    // args: object, record[, row, column]
    Table* FindTable(const Call& c) {
        Obj* o = Find(c.args[0]);
        if (o == nullptr) return nullptr;
        auto it = o->recs.find(c.args[1]);
        return it == o->recs.end() ? nullptr : &it->second;
    }
    Value* Cell(const Call& c) {
        Table* t = FindTable(c);
        if (t == nullptr) return nullptr;
        const size_t row = size_t(std::stoi(c.args[2]));
        const size_t col = size_t(std::stoi(c.args[3]));
        if (row >= t->rows.size() || col >= t->rows[row].size()) return nullptr;
        return &t->rows[row][col];
    }
    template <typename T>
    std::optional<Reply> Prop(const Call& c, T def) {
        Obj* o = Find(c.args[0]);
        if (o == nullptr) return Reply(def);
        auto it = o->props.find(c.args[1]);
        if (it == o->props.end()) return Reply(def);
        const T* v = std::get_if<T>(&it->second);
        return Reply(v != nullptr ? *v : def);
    }
    template <typename T>
    std::optional<Reply> CellOf(const Call& c, T def) {
        const Value* v = Cell(c);
        const T* x = v != nullptr ? std::get_if<T>(v) : nullptr;
        return Reply(x != nullptr ? *x : def);
    }
    std::optional<Reply> SetProp(const Call& c, Value v) {
        Obj* o = Find(c.args[0]);
        if (o == nullptr || o->props.count(c.args[1]) == 0) return Reply(false);
        if (o->props[c.args[1]].index() != v.index()) return Reply(false);
        o->props[c.args[1]] = std::move(v);
        return Reply(true);
    }

    void Install() {
        k.On("FindAttr", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            return Reply(o != nullptr && o->props.count(c.args[1]) != 0);
        });
        k.On("QueryInt", [this](Call& c) { return Prop<int>(c, 0); });
        k.On("QueryString", [this](Call& c) { return Prop<std::string>(c, ""); });
        k.On("QueryWideStr", [this](Call& c) { return Prop<std::u16string>(c, u""); });
        k.On("QueryObject", [this](Call& c) { return Prop<ObjectId>(c, ObjectId{}); });
        k.On("SetInt", [this](Call& c) { return SetProp(c, std::stoi(c.args[2])); });
        k.On("SetString", [this](Call& c) { return SetProp(c, c.args[2]); });
        k.On("IncInt", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            if (o == nullptr || o->props.count(c.args[1]) == 0) return Reply(false);
            int* v = std::get_if<int>(&o->props[c.args[1]]);
            if (v == nullptr) return Reply(false);
            *v += std::stoi(c.args[2]);
            return Reply(true);
        });
        k.On("GetConfigIndex", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            return Reply(o == nullptr ? 0 : o->configIndex);
        });
        k.On("GetConfig", [this](Call& c) -> std::optional<Reply> {
            Obj* o = Find(c.args[0]);
            return Reply(o == nullptr ? std::string() : o->config);
        });
        k.On("GetRecordRows", [this](Call& c) -> std::optional<Reply> {
            Table* t = FindTable(c);
            return Reply(t == nullptr ? -1 : int(t->rows.size()));
        });
        k.On("AddRecordBlankRow", [this](Call& c) -> std::optional<Reply> {
            Table* t = FindTable(c);
            if (t == nullptr || int(t->rows.size()) >= t->maxRows) return Reply(-1);
            t->rows.push_back(Row{0, 0.0f, std::string(), 0});
            return Reply(int(t->rows.size()) - 1);
        });
        k.On("SetRecordRowValues", [this](Call& c) -> std::optional<Reply> {
            Table* t = FindTable(c);
            const int row = std::stoi(c.args[2]);
            if (t == nullptr || row < 0 || size_t(row) >= t->rows.size()) return Reply(false);
            Row values;
            for (uint64_t i = 0; i < c.list->GetCount(); ++i) {
                switch (c.list->GetType(i)) {
                    case VTYPE_INT:
                        values.push_back(c.list->IntVal(i));
                        break;
                    case VTYPE_FLOAT:
                        values.push_back(c.list->FloatVal(i));
                        break;
                    case VTYPE_STRING:
                        values.push_back(std::string(c.list->StringVal(i)));
                        break;
                    default:
                        return Reply(false);
                }
            }
            t->rows[size_t(row)] = values;
            return Reply(true);
        });
        k.On("QueryRecordInt", [this](Call& c) { return CellOf<int>(c, 0); });
        k.On("QueryRecordFloat", [this](Call& c) { return CellOf<float>(c, 0.0f); });
        k.On("QueryRecordString", [this](Call& c) { return CellOf<std::string>(c, ""); });
        k.On("QueryRecordObject", [this](Call& c) { return CellOf<ObjectId>(c, ObjectId{}); });
        k.On("FindRecordRowInt", [this](Call& c) -> std::optional<Reply> {
            Table* t = FindTable(c);
            if (t == nullptr) return Reply(-1);
            const size_t col = size_t(std::stoi(c.args[2]));
            const int value = std::stoi(c.args[3]);
            for (size_t r = 0; r < t->rows.size(); ++r) {
                const int* v =
                    col < t->rows[r].size() ? std::get_if<int>(&t->rows[r][col]) : nullptr;
                if (v != nullptr && *v == value) return Reply(int(r));
            }
            return Reply(-1);
        });
    }
};
