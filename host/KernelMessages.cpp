// Kernel messages, players and notices: commands, custom messages, commands
// by name and offline, system notices, players here, elsewhere and offline.

#include "Gbk.h"
#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

// ---- messages ---------------------------------------------------------------------------------

int Kernel::Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) {
    const ObjectId from = sender;
    const ObjectId to = target;
    const int id = args.IntVal(0);
    // A disabled log keeps nothing, so there is no result to set afterwards.
    const bool held = m_log.enabled();
    uint64_t seq;
    if (held) {
        EventFields e;
        e.timeMs = m_now;
        e.kind = EventKind::Command;
        e.sender = from;
        e.target = to;
        e.id = id;
        e.args = &args;
        seq = m_log.Add(e);
    } else {
        seq = m_log.Skip();
    }
    const Object* o = Get(to);
    if (o == nullptr) {
        HostLog(Format("command %d to %s not delivered: no such object", id, Obj(to).c_str()));
        if (held) m_log.SetResult(seq, 0);
        return 0;
    }
    const int cls = o->cls;
    const auto& hooks = CollectHooks(kCommandHook, cls, id, kNoEvent);
    // Nobody listens: the answer is 1, and entering the dispatch would only
    // be undone at once (unless it is nested too deep, which is refused).
    if (hooks.empty() && m_depth < kMaxDispatchDepth) {
        if (held) m_log.SetResult(seq, 1);
        return 1;
    }
    if (!EnterDispatch("command", to)) {
        if (held) m_log.SetResult(seq, 0);
        return 0;
    }
    const int answer = RunHooks(hooks, to, from, args, true, nullptr);
    LeaveDispatch();
    if (held) m_log.SetResult(seq, answer);
    return answer;
}

bool Kernel::Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) {
    const ObjectId from = sender;
    const ObjectId to = target;
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::Custom;
    e.sender = from;
    e.target = to;
    e.id = args.IntVal(0);
    e.args = &args;
    m_log.Add(e);
    if (!Exists(to)) {
        HostLog(Format("custom message %d to %s not delivered: no such object", args.IntVal(0),
                       Obj(to).c_str()));
        return false;
    }
    if (!EnterDispatch("custom message", to)) return false;
    const auto& hooks = CollectHooks(kCustomHook, -1, args.IntVal(0), kNoEvent);
    RunHooks(hooks, to, from, args, false, nullptr);
    LeaveDispatch();
    return true;
}

int Kernel::CommandByName(const char16_t* name, const IVarList& args) {
    const std::u16string who = Wide(name);
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::CommandByName;
    e.targetName = who;
    e.id = args.IntVal(0);
    e.args = &args;
    const ObjectId player = FindPlayer(who.c_str());
    if (!player.IsNull()) {
        e.target = player;
        e.result = 1;
        m_log.Add(e);
        ObjectId sender = CurrentObject();
        if (!Exists(sender)) sender = player;
        Command(sender, player, args);
        return 1;
    }
    if (m_elsewhere.count(who) != 0) {
        e.result = 2;
        m_log.Add(e);
        return 1;
    }
    e.result = 0;
    m_log.Add(e);
    HostLog("command " + std::to_string(args.IntVal(0)) + " by name to u\"" + Utf16ToUtf8(who) +
            "\" not delivered: no such player online");
    return 0;
}

bool Kernel::SysInfo(const ObjectId& player, int infoKind, const char* textId,
                     const IVarList& args) {
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::SysInfo;
    e.sender = player;
    e.target = player;
    e.id = infoKind;
    if (textId != nullptr) e.name = textId;
    e.args = &args;
    m_log.Add(e);
    if (!Exists(player)) {
        HostLog("notice " + Str(textId) + " to " + Obj(player) + " not delivered: no such object");
        return false;
    }
    return true;
}

bool Kernel::SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) {
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::SysInfoByWorld;
    e.id = infoKind;
    if (textId != nullptr) e.name = textId;
    e.args = &args;
    m_log.Add(e);
    return true;
}

// ---- players ---------------------------------------------------------------------------------

ObjectId Kernel::FindPlayer(const char16_t* name) {
    const std::u16string wanted = Wide(name);
    if (wanted.empty()) return {};
    for (const auto& slot : m_slots) {
        if (!slot || !slot->isPlayer) continue;
        const Layout& l = *m_layouts[slot->cls];
        auto it = l.propSlot.find("Name");
        if (it == l.propSlot.end() || it->second >= slot->props.size()) continue;
        const Value& v = slot->props[it->second];
        if (TypeOf(v) == VTYPE_WIDESTR && std::get<std::u16string>(v) == wanted) return slot->id;
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
    const std::string from =
        "from u\"" + Utf16ToUtf8(Wide(senderName)) + "\" #" + std::to_string(senderNameId);
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::CommandOffline;
    e.targetName = who;
    e.target = player;
    e.id = msg.IntVal(0);
    e.result = ok ? 1 : 0;
    e.text = from;
    e.args = &msg;
    m_log.Add(e);
    if (!ok)
        HostLog("offline command to u\"" + Utf16ToUtf8(who) + "\" refused: no such offline player");
    return ok;
}

}  // namespace host
