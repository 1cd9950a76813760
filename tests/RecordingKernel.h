// A kernel test double: records every call with its arguments, in order, and
// answers each operation as the test scripts it.
//
// Recording: each call becomes a Call with the operation's name ("AddProperty")
// and its arguments rendered as text, in declaration order, without quotes:
//   int "7", bool "true"/"false", narrow text as its raw bytes ("<null>" for a
//   null pointer), wide text as UTF-8, object "id(ident,serial)", function
//   pointers "fn", a variant list as "[976, \"text\", u\"name\", id(1,2), 0.5f]".
// A variant-list argument is also kept as a CVarList copy (Call::list), and the
// callback or heartbeat function handed over is kept (Call::callback,
// Call::heartbeat) so a test can invoke what a module registered.
//
// Answers, first that applies:
//   1. a handler set with On(op, fn) that returns a Reply (std::nullopt falls through);
//   2. a reply set with Nth(op, n, reply) for the n-th call of op (1-based);
//   3. the next reply queued with Then(op, reply) (each used once);
//   4. a reply set with Always(op, reply);
//   5. the built-in answer of an empty host:
//      - Exists: whether the object is in `live`; FindModule: `modules[name]`;
//        GetResourcePath: `resourcePath`;
//      - other bool operations: true (declarations, hooks, sets, deliveries), except
//        the lookups FindAttr, FindHeartBeat and RunScriptFunction: false;
//      - int operations: 0, except Command: 1 (no hook refused), and GetRecordRows,
//        AddRecordBlankRow, AddRecordRowValues, FindRecordRowInt, FindRecordWideStr:
//        -1 (no such record / row);
//      - texts: "" / u""; objects: the null id; floats: 0.
// A Reply may also carry values (Reply::Filling) that are appended to the
// operation's out-list (QueryOfflinePlayer's info, RunScriptFunction's results);
// a handler may instead write into Call::out, which is set during the call only.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "IKernel.h"
#include "VarList.h"

namespace recording_detail {

inline std::string Utf8(const char16_t* s) {
    if (s == nullptr) return "<null>";
    std::string out;
    for (size_t i = 0; s[i] != 0; ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(s[i + 1]) - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::string Text(const char* s) {
    return s == nullptr ? "<null>" : std::string(s);
}
inline std::string Text(const char16_t* s) {
    return Utf8(s);
}
inline std::string Text(bool b) {
    return b ? "true" : "false";
}
inline std::string Text(int v) {
    return std::to_string(v);
}
inline std::string Text(const ObjectId& id) {
    return "id(" + std::to_string(id.ident) + "," + std::to_string(id.serial) + ")";
}
inline std::string Text(float f) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%gf", double(f));
    return buf;
}
inline std::string Text(const IVarList& list) {
    std::string out = "[";
    for (uint64_t i = 0; i < list.GetCount(); ++i) {
        if (i != 0) out += ", ";
        switch (list.GetType(i)) {
            case VTYPE_INT:
                out += std::to_string(list.IntVal(i));
                break;
            case VTYPE_INT64:
                out += std::to_string(list.Int64Val(i)) + "L";
                break;
            case VTYPE_FLOAT:
                out += Text(list.FloatVal(i));
                break;
            case VTYPE_STRING:
                out += "\"" + std::string(list.StringVal(i)) + "\"";
                break;
            case VTYPE_WIDESTR:
                out += "u\"" + Utf8(list.WideStrVal(i)) + "\"";
                break;
            case VTYPE_OBJECT:
                out += Text(list.ObjectVal(i));
                break;
            case VTYPE_USERDATA: {
                uint64_t size = 0;
                list.UserDataVal(i, size);
                out += "data(" + std::to_string(size) + ")";
                break;
            }
            default:
                out += "type" + std::to_string(list.GetType(i));
                break;
        }
    }
    return out + "]";
}

}  // namespace recording_detail

// One scripted answer. Converts between bool and int the way C does.
struct Reply {
    std::variant<std::monostate, bool, int, float, std::string, std::u16string, ObjectId, IModule*>
        value;
    // Values appended to the operation's out-list, if it has one.
    std::optional<CVarList> fill;

    Reply() = default;
    Reply(bool b) : value(b) {}
    Reply(int i) : value(i) {}
    Reply(float f) : value(f) {}
    Reply(const char* s) : value(std::string(s == nullptr ? "" : s)) {}
    Reply(std::string s) : value(std::move(s)) {}
    Reply(const char16_t* s) : value(std::u16string(s == nullptr ? u"" : s)) {}
    Reply(std::u16string s) : value(std::move(s)) {}
    Reply(ObjectId id) : value(id) {}
    Reply(IModule* m) : value(m) {}

    Reply& Filling(const IVarList& values) {
        fill.emplace(values);
        return *this;
    }
};

struct Call {
    std::string op;
    std::vector<std::string> args;
    std::optional<CVarList> list;       // copy of the variant-list argument, if any
    KernelCallback callback = nullptr;  // function handed to a hook registration
    HeartBeatFunc heartbeat = nullptr;  // function handed to DeclareHeartBeat
    IVarList* out = nullptr;            // out-list, valid only while the call runs

    // "Op(arg, arg, ...)".
    std::string Text() const {
        std::string s = op + "(";
        for (size_t i = 0; i < args.size(); ++i) {
            if (i != 0) s += ", ";
            s += args[i];
        }
        return s + ")";
    }
};

class RecordingKernel : public IKernel {
public:
    using Handler = std::function<std::optional<Reply>(Call&)>;

    // ---- state the built-in answers read ------------------------------------
    std::set<ObjectId> live;                  // objects Exists reports as live
    std::map<std::string, IModule*> modules;  // FindModule answers
    std::string resourcePath;                 // GetResourcePath answer

    // ---- scripting ------------------------------------------------------------
    void On(const std::string& op, Handler handler) { m_handlers[op] = std::move(handler); }
    void Nth(const std::string& op, int n, Reply reply) { m_nth[op][n] = std::move(reply); }
    void Then(const std::string& op, Reply reply) { m_queued[op].push_back(std::move(reply)); }
    void Always(const std::string& op, Reply reply) { m_always[op] = std::move(reply); }
    // Drops every scripted answer (not the recorded calls).
    void ClearScript() {
        m_handlers.clear();
        m_nth.clear();
        m_queued.clear();
        m_always.clear();
    }

    // ---- what was called ------------------------------------------------------
    const std::deque<Call>& Calls() const { return m_calls; }
    void ClearCalls() {
        m_calls.clear();
        m_counts.clear();
    }
    size_t Count(const std::string& op) const {
        size_t n = 0;
        for (const Call& c : m_calls) n += c.op == op ? 1 : 0;
        return n;
    }
    std::vector<const Call*> CallsOf(const std::string& op) const {
        std::vector<const Call*> out;
        for (const Call& c : m_calls)
            if (c.op == op) out.push_back(&c);
        return out;
    }
    // Operation names in call order, optionally without some (e.g. {"Trace"}).
    std::vector<std::string> Ops(const std::set<std::string>& except = {}) const {
        std::vector<std::string> out;
        for (const Call& c : m_calls)
            if (except.count(c.op) == 0) out.push_back(c.op);
        return out;
    }
    // Call texts in call order, optionally only of some operations.
    std::vector<std::string> Texts(const std::set<std::string>& only = {}) const {
        std::vector<std::string> out;
        for (const Call& c : m_calls)
            if (only.empty() || only.count(c.op) != 0) out.push_back(c.Text());
        return out;
    }
    // The function registered for a class event, command or message, or null.
    KernelCallback ClassCallback(const std::string& cls, const std::string& event) const {
        return FindHook("AddClassCallback", cls, event);
    }
    KernelCallback CommandHook(const std::string& cls, int command) const {
        return FindHook("AddCommandHook", cls, std::to_string(command));
    }
    KernelCallback CustomHook(int message) const {
        for (const Call& c : m_calls)
            if (c.op == "AddCustomHook" && c.args[0] == std::to_string(message)) return c.callback;
        return nullptr;
    }
    HeartBeatFunc HeartBeat(const std::string& name) const {
        for (const Call& c : m_calls)
            if (c.op == "DeclareHeartBeat" && c.args[0] == name) return c.heartbeat;
        return nullptr;
    }

    // ---- IKernel ---------------------------------------------------------------
    bool DeclareHeartBeat(const char* name, HeartBeatFunc func) override {
        Call c = Make("DeclareHeartBeat", name, "fn");
        c.heartbeat = func;
        return AsBool(Dispatch(std::move(c)), true);
    }
    IModule* FindModule(const char* name) override {
        auto found = modules.find(name == nullptr ? "" : name);
        IModule* def = found == modules.end() ? nullptr : found->second;
        return AsModule(Dispatch(Make("FindModule", name)), def);
    }
    bool AddClassCallback(const char* className, const char* event, KernelCallback func,
                          int priority) override {
        Call c = Make("AddClassCallback", className, event, "fn", priority);
        c.callback = func;
        return AsBool(Dispatch(std::move(c)), true);
    }
    bool AddCommandHook(const char* className, int commandId, KernelCallback func,
                        int priority) override {
        Call c = Make("AddCommandHook", className, commandId, "fn", priority);
        c.callback = func;
        return AsBool(Dispatch(std::move(c)), true);
    }
    bool AddCustomHook(int messageId, KernelCallback func, int priority) override {
        Call c = Make("AddCustomHook", messageId, "fn", priority);
        c.callback = func;
        return AsBool(Dispatch(std::move(c)), true);
    }
    void Trace(const char* line) override { Dispatch(Make("Trace", line)); }
    void Echo(const char* line) override { Dispatch(Make("Echo", line)); }
    ObjectId GetScene() override { return AsObject(Dispatch(Make("GetScene")), ObjectId{}); }
    const char* GetResourcePath() override {
        return AsText(Dispatch(Make("GetResourcePath")), resourcePath);
    }
    bool AddProperty(int classIndex, const char* name, int type, bool save,
                     const char* description) override {
        return AsBool(Dispatch(Make("AddProperty", classIndex, name, type, save, description)),
                      true);
    }
    bool AddVisibleProperty(int classIndex, const char* name, int type, const char* text,
                            bool isPublic, bool isPrivate, bool save,
                            const char* description) override {
        return AsBool(Dispatch(Make("AddVisibleProperty", classIndex, name, type, text, isPublic,
                                    isPrivate, save, description)),
                      true);
    }
    bool FindAttr(const ObjectId& obj, const char* name) override {
        return AsBool(Dispatch(Make("FindAttr", obj, name)), false);
    }
    bool SetInt(const ObjectId& obj, const char* name, int value) override {
        return AsBool(Dispatch(Make("SetInt", obj, name, value)), true);
    }
    bool SetString(const ObjectId& obj, const char* name, const char* value) override {
        return AsBool(Dispatch(Make("SetString", obj, name, value)), true);
    }
    bool SetObject(const ObjectId& obj, const char* name, const ObjectId& value) override {
        return AsBool(Dispatch(Make("SetObject", obj, name, value)), true);
    }
    int QueryInt(const ObjectId& obj, const char* name) override {
        return AsInt(Dispatch(Make("QueryInt", obj, name)), 0);
    }
    const char* QueryString(const ObjectId& obj, const char* name) override {
        return AsText(Dispatch(Make("QueryString", obj, name)), "");
    }
    const char16_t* QueryWideStr(const ObjectId& obj, const char* name) override {
        return AsWide(Dispatch(Make("QueryWideStr", obj, name)), u"");
    }
    ObjectId QueryObject(const ObjectId& obj, const char* name) override {
        return AsObject(Dispatch(Make("QueryObject", obj, name)), ObjectId{});
    }
    bool IncInt(const ObjectId& obj, const char* name, int delta) override {
        return AsBool(Dispatch(Make("IncInt", obj, name, delta)), true);
    }
    bool AddRecord(int classIndex, const char* name, int cols, int maxRows, bool save) override {
        return AsBool(Dispatch(Make("AddRecord", classIndex, name, cols, maxRows, save)), true);
    }
    bool SetRecordColType(int classIndex, const char* name, int col, int type) override {
        return AsBool(Dispatch(Make("SetRecordColType", classIndex, name, col, type)), true);
    }
    bool SetRecordVisible(int classIndex, const char* name, const char* visibleName) override {
        return AsBool(Dispatch(Make("SetRecordVisible", classIndex, name, visibleName)), true);
    }
    int GetRecordRows(const ObjectId& obj, const char* rec) override {
        return AsInt(Dispatch(Make("GetRecordRows", obj, rec)), -1);
    }
    int AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) override {
        return AsInt(Dispatch(Make("AddRecordBlankRow", obj, rec, row)), -1);
    }
    int AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                           const IVarList& values) override {
        return AsInt(Dispatch(WithList(Make("AddRecordRowValues", obj, rec, row, values), values)),
                     -1);
    }
    bool RemoveRecordRow(const ObjectId& obj, const char* rec, int row) override {
        return AsBool(Dispatch(Make("RemoveRecordRow", obj, rec, row)), true);
    }
    bool SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                            const IVarList& values) override {
        return AsBool(Dispatch(WithList(Make("SetRecordRowValues", obj, rec, row, values), values)),
                      true);
    }
    int QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) override {
        return AsInt(Dispatch(Make("QueryRecordInt", obj, rec, row, col)), 0);
    }
    float QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) override {
        return AsFloat(Dispatch(Make("QueryRecordFloat", obj, rec, row, col)), 0.0f);
    }
    const char* QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) override {
        return AsText(Dispatch(Make("QueryRecordString", obj, rec, row, col)), "");
    }
    const char16_t* QueryRecordWideStr(const ObjectId& obj, const char* rec, int row,
                                       int col) override {
        return AsWide(Dispatch(Make("QueryRecordWideStr", obj, rec, row, col)), u"");
    }
    ObjectId QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) override {
        return AsObject(Dispatch(Make("QueryRecordObject", obj, rec, row, col)), ObjectId{});
    }
    int FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) override {
        return AsInt(Dispatch(Make("FindRecordRowInt", obj, rec, col, value)), -1);
    }
    int FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                          const char16_t* value) override {
        return AsInt(Dispatch(Make("FindRecordWideStr", obj, rec, col, value)), -1);
    }
    const char* GetConfig(const ObjectId& obj) override {
        return AsText(Dispatch(Make("GetConfig", obj)), "");
    }
    int GetConfigIndex(const ObjectId& obj) override {
        return AsInt(Dispatch(Make("GetConfigIndex", obj)), 0);
    }
    bool Exists(const ObjectId& obj) override {
        return AsBool(Dispatch(Make("Exists", obj)), live.count(obj) != 0);
    }
    ObjectId GetChild(const ObjectId& container, const char16_t* name) override {
        return AsObject(Dispatch(Make("GetChild", container, name)), ObjectId{});
    }
    bool AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) override {
        return AsBool(Dispatch(Make("AddHeartBeat", obj, name, intervalMs)), true);
    }
    bool RemoveHeartBeat(const ObjectId& obj, const char* name) override {
        return AsBool(Dispatch(Make("RemoveHeartBeat", obj, name)), true);
    }
    bool FindHeartBeat(const ObjectId& obj, const char* name) override {
        return AsBool(Dispatch(Make("FindHeartBeat", obj, name)), false);
    }
    ObjectId FindPlayer(const char16_t* name) override {
        return AsObject(Dispatch(Make("FindPlayer", name)), ObjectId{});
    }
    int GetPlayerOnline(const char16_t* name) override {
        return AsInt(Dispatch(Make("GetPlayerOnline", name)), 0);
    }
    int QueryOfflinePlayer(const char16_t* name, IVarList& info) override {
        Call c = Make("QueryOfflinePlayer", name, info);
        c.out = &info;
        return AsInt(Dispatch(std::move(c)), 0);
    }
    int CheckOfflinePlayer(const char16_t* name, const ObjectId& player) override {
        return AsInt(Dispatch(Make("CheckOfflinePlayer", name, player)), 0);
    }
    bool CommandOffline(const char16_t* name, const ObjectId& player, const char16_t* senderName,
                        int senderNameId, const IVarList& msg) override {
        return AsBool(
            Dispatch(
                WithList(Make("CommandOffline", name, player, senderName, senderNameId, msg), msg)),
            true);
    }
    bool SysInfo(const ObjectId& player, int infoKind, const char* textId,
                 const IVarList& args) override {
        return AsBool(Dispatch(WithList(Make("SysInfo", player, infoKind, textId, args), args)),
                      true);
    }
    bool SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) override {
        return AsBool(Dispatch(WithList(Make("SysInfoByWorld", infoKind, textId, args), args)),
                      true);
    }
    bool Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) override {
        return AsBool(Dispatch(WithList(Make("Custom", sender, target, args), args)), true);
    }
    int Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) override {
        return AsInt(Dispatch(WithList(Make("Command", sender, target, args), args)), 1);
    }
    int CommandByName(const char16_t* name, const IVarList& args) override {
        return AsInt(Dispatch(WithList(Make("CommandByName", name, args), args)), 0);
    }
    int GetNameId(const char16_t* name) override {
        return AsInt(Dispatch(Make("GetNameId", name)), 0);
    }
    bool RunScriptFunction(const char* script, const char* function, const IVarList& args,
                           int resultCount, IVarList& results) override {
        Call c = WithList(Make("RunScriptFunction", script, function, args, resultCount), args);
        c.out = &results;
        return AsBool(Dispatch(std::move(c)), false);
    }
    bool AddPropertySaveMode(int classIndex, const char* name, int type, int saveMode,
                             const char* description) override {
        return AsBool(
            Dispatch(Make("AddPropertySaveMode", classIndex, name, type, saveMode, description)),
            true);
    }
    bool AddVisiblePropertySaveMode(int classIndex, const char* name, int type, const char* text,
                                    bool isPublic, bool isPrivate, int saveMode,
                                    const char* description) override {
        return AsBool(Dispatch(Make("AddVisiblePropertySaveMode", classIndex, name, type, text,
                                    isPublic, isPrivate, saveMode, description)),
                      true);
    }
    bool AddRecordSaveMode(int classIndex, const char* name, int cols, int maxRows,
                           int saveMode) override {
        return AsBool(
            Dispatch(Make("AddRecordSaveMode", classIndex, name, cols, maxRows, saveMode)), true);
    }

private:
    template <class... Args>
    static Call Make(const char* op, const Args&... args) {
        Call c;
        c.op = op;
        (c.args.push_back(recording_detail::Text(args)), ...);
        return c;
    }
    static Call WithList(Call c, const IVarList& list) {
        c.list.emplace(list);
        return c;
    }

    KernelCallback FindHook(const char* op, const std::string& a0, const std::string& a1) const {
        for (const Call& c : m_calls)
            if (c.op == op && c.args[0] == a0 && c.args[1] == a1) return c.callback;
        return nullptr;
    }

    // Records the call, then finds its scripted answer (if any) and fills the
    // out-list from it.
    std::optional<Reply> Dispatch(Call call) {
        m_calls.push_back(std::move(call));
        Call& c = m_calls.back();  // deque: stays valid while handlers call back in
        const int nth = ++m_counts[c.op];
        std::optional<Reply> reply;
        auto handler = m_handlers.find(c.op);
        if (handler != m_handlers.end()) reply = handler->second(c);
        if (!reply) {
            auto ops = m_nth.find(c.op);
            if (ops != m_nth.end()) {
                auto at = ops->second.find(nth);
                if (at != ops->second.end()) reply = at->second;
            }
        }
        if (!reply) {
            auto queue = m_queued.find(c.op);
            if (queue != m_queued.end() && !queue->second.empty()) {
                reply = std::move(queue->second.front());
                queue->second.pop_front();
            }
        }
        if (!reply) {
            auto always = m_always.find(c.op);
            if (always != m_always.end()) reply = always->second;
        }
        if (reply && reply->fill && c.out != nullptr) c.out->Concat(*reply->fill);
        c.out = nullptr;
        return reply;
    }

    static bool AsBool(const std::optional<Reply>& r, bool def) {
        if (!r) return def;
        if (auto b = std::get_if<bool>(&r->value)) return *b;
        if (auto i = std::get_if<int>(&r->value)) return *i != 0;
        return def;
    }
    static int AsInt(const std::optional<Reply>& r, int def) {
        if (!r) return def;
        if (auto i = std::get_if<int>(&r->value)) return *i;
        if (auto b = std::get_if<bool>(&r->value)) return *b ? 1 : 0;
        return def;
    }
    static float AsFloat(const std::optional<Reply>& r, float def) {
        if (!r) return def;
        if (auto f = std::get_if<float>(&r->value)) return *f;
        if (auto i = std::get_if<int>(&r->value)) return float(*i);
        return def;
    }
    static ObjectId AsObject(const std::optional<Reply>& r, ObjectId def) {
        if (!r) return def;
        if (auto o = std::get_if<ObjectId>(&r->value)) return *o;
        return def;
    }
    static IModule* AsModule(const std::optional<Reply>& r, IModule* def) {
        if (!r) return def;
        if (auto m = std::get_if<IModule*>(&r->value)) return *m;
        return def;
    }
    // Texts handed out stay alive as long as the kernel.
    const char* AsText(const std::optional<Reply>& r, const std::string& def) {
        const std::string* s = r ? std::get_if<std::string>(&r->value) : nullptr;
        m_texts.push_back(s != nullptr ? *s : def);
        return m_texts.back().c_str();
    }
    const char16_t* AsWide(const std::optional<Reply>& r, const std::u16string& def) {
        const std::u16string* s = r ? std::get_if<std::u16string>(&r->value) : nullptr;
        m_wides.push_back(s != nullptr ? *s : def);
        return m_wides.back().c_str();
    }

    std::deque<Call> m_calls;
    std::map<std::string, int> m_counts;
    std::map<std::string, Handler> m_handlers;
    std::map<std::string, std::map<int, Reply>> m_nth;
    std::map<std::string, std::deque<Reply>> m_queued;
    std::map<std::string, Reply> m_always;
    std::deque<std::string> m_texts;
    std::deque<std::u16string> m_wides;
};
