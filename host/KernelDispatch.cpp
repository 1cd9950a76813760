// Kernel hook dispatch: registering hooks, collecting them in dispatch
// order, running them, and the class events the host raises.

#include <algorithm>
#include <exception>

#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

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
    // The hits of the last lookups are checked here; everything else is out
    // of line, so this common path keeps no registers for it.
    const HookList& hl = *m_hooks;
    const HookList::Cached* cached = nullptr;
    if (kind == kCommandHook) {
        const HookList::CommandHit& hit = hl.commandHits[CommandHitIndex(classIndex, id)];
        if (hit.cls == classIndex && hit.id == id) cached = hit.entry;
    } else if (kind == kClassEvent) {
        const HookList::EventHit& hit = hl.eventHits[EventHitIndex(classIndex, event)];
        if (hit.cls == classIndex && hit.data == event.data() &&
            (IsKernelEventName(event) || hit.entry->first.second == event)) {
            cached = &hit.entry->second;
        }
    }
    if (cached != nullptr && cached->version == hl.version) return cached->hooks;
    return CollectHooksSlow(kind, classIndex, id, event);
}

size_t Kernel::CommandHitIndex(int classIndex, int id) {
    return (uint32_t(id) * 0x9E3779B1u + uint32_t(classIndex)) >> 28;
}

size_t Kernel::EventHitIndex(int classIndex, const std::string& event) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(event.data());
    return ((at >> 4) ^ uint32_t(classIndex)) & 15;
}

const std::vector<const Kernel::Hook*>& Kernel::CollectHooksSlow(int kind, int classIndex, int id,
                                                                 const std::string& event) {
    HookList& hl = *m_hooks;
    HookList::Cached* cached;
    if (kind == kCommandHook) {
        cached = &hl.commandCache[(uint64_t(uint32_t(classIndex)) << 32) | uint32_t(id)];
        hl.commandHits[CommandHitIndex(classIndex, id)] = {classIndex, id, cached};
    } else if (kind == kCustomHook) {
        cached = &hl.customCache[id];
    } else {
        const std::pair<int, std::string_view> key{classIndex, event};
        auto it = hl.eventCache.find(key);
        if (it == hl.eventCache.end())
            it = hl.eventCache.emplace(std::make_pair(classIndex, event), HookList::Cached{}).first;
        hl.eventHits[EventHitIndex(classIndex, event)] = {classIndex, event.data(), &*it};
        cached = &it->second;
    }
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
    if (m_depth >= kMaxDispatchDepth) return RefuseDispatch(what, self);
    ++m_depth;
    m_callStack.push_back(self);
    return true;
}

bool Kernel::RefuseDispatch(const char* what, const ObjectId& self) {
    HostLog(Format("%s on %s refused: dispatch nested %d deep (a hook loop?)", what,
                   Obj(self).c_str(), m_depth));
    return false;
}

void Kernel::LeaveDispatch() {
    --m_depth;
    m_callStack.pop_back();
    if (m_depth == 0 &&
        (!m_graveyard.empty() || !m_deadCells.empty() || !m_hooks->retired.empty())) {
        FreeAfterDispatch();
    }
}

void Kernel::FreeAfterDispatch() {
    for (auto& o : m_graveyard) Recycle(std::move(o));
    m_graveyard.clear();
    m_deadCells.clear();
    m_hooks->retired.clear();
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
        EventFields e;
        e.timeMs = m_now;
        e.kind = EventKind::ClassEvent;
        e.name = "OnCreateClass";
        e.text = m_classes[i].name;
        e.args = &args;
        m_log.Add(e);
        RunHooks(list, none, none, args, false, nullptr);
        LeaveDispatch();
    }
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
    if (m_log.enabled()) {
        EventFields e;
        e.timeMs = m_now;
        e.kind = EventKind::ClassEvent;
        e.name = event;
        e.sender = sender;
        e.target = self;
        e.args = &args;
        m_log.Add(e);
    } else {
        m_log.Skip();
    }
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
    return RaiseClassEvent(target, kernel_detail::kOnSelect, player, args);
}

int Kernel::Load(const ObjectId& obj) {
    HostVarList none;
    return RaiseClassEvent(obj, kernel_detail::kOnLoad, obj, none);
}

int Kernel::Store(const ObjectId& player, int storeKind) {
    HostVarList args;
    args.AddInt(storeKind);
    return RaiseClassEvent(player, kernel_detail::kOnStore, player, args);
}

int Kernel::Leave(const ObjectId& player, bool keep) {
    HostVarList none;
    const int n = RaiseClassEvent(player, kernel_detail::kOnLeave, player, none);
    if (!keep) Destroy(player);
    return n;
}

int Kernel::ClientMessage(const ObjectId& player, const IVarList& args) {
    if (!Exists(player)) {
        HostLog("client message from " + Obj(player) + " refused: no such object");
        return -1;
    }
    const ObjectId self = player;
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::Custom;
    e.name = "client";
    e.sender = self;
    e.target = self;
    e.id = args.IntVal(0);
    e.args = &args;
    m_log.Add(e);
    if (!EnterDispatch("client message", self)) return -1;
    const auto& hooks = CollectHooks(kCustomHook, -1, args.IntVal(0), kNoEvent);
    int count = 0;
    RunHooks(hooks, self, self, args, false, &count);
    LeaveDispatch();
    return count;
}

size_t Kernel::CommandHookCount(const std::string& className, int commandId) const {
    const int cls = ClassIndex(className);
    if (cls < 0) return 0;
    return const_cast<Kernel*>(this)->CollectHooks(kCommandHook, cls, commandId, kNoEvent).size();
}

}  // namespace host
