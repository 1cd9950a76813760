// The host kernel as the rule modules see it.
//
// Frozen ABI: the plug-in calls these operations through the virtual table,
// so their order must never change; new operations go at the end. Every
// callback the host delivers runs on the host's single logic thread, one at a
// time. Narrow texts are GBK bytes; wide texts are 16-bit code units.
#pragma once

#include <cstdint>

#include "IModule.h"
#include "IVarList.h"
#include "ObjectId.h"

class IKernel;

// Class event, command hook and message hook: self is the object the event is
// about, sender the object that caused it. 1 in the ordinary case; a command
// hook answers a command negatively with 0.
using KernelCallback = int (*)(IKernel* kernel, const ObjectId& self, const ObjectId& sender,
                               const IVarList& args);
// Heartbeat: obj is the object carrying it. Returns 1.
using HeartBeatFunc = int (*)(IKernel* kernel, const ObjectId& obj);

class IKernel {
public:
    virtual ~IKernel() = default;

    // Binds a heartbeat name to its function once; objects then attach the
    // name with an interval. False when the name is already bound elsewhere.
    virtual bool DeclareHeartBeat(const char* name, HeartBeatFunc func) = 0;
    // The host module of that name, or null.
    virtual IModule* FindModule(const char* name) = 0;

    // Hooks. Lower priority numbers run first; equal priorities run in
    // registration order. Class callbacks and command hooks also reach
    // objects of derived classes.
    virtual bool AddClassCallback(const char* className, const char* event, KernelCallback func,
                                  int priority) = 0;
    virtual bool AddCommandHook(const char* className, int commandId, KernelCallback func,
                                int priority) = 0;
    virtual bool AddCustomHook(int messageId, KernelCallback func, int priority) = 0;

    // Two log channels: Trace for the log file, Echo for the console.
    virtual void Trace(const char* line) = 0;
    virtual void Echo(const char* line) = 0;

    // The scene the current callback runs in.
    virtual ObjectId GetScene() = 0;
    // Resource directory; always ends in a separator.
    virtual const char* GetResourcePath() = 0;

    // Property declarations on the class with that index; false on refusal
    // (unknown class, duplicate name, unknown type).
    virtual bool AddProperty(int classIndex, const char* name, int type, bool save,
                             const char* description) = 0;
    virtual bool AddVisibleProperty(int classIndex, const char* name, int type, const char* text,
                                    bool isPublic, bool isPrivate, bool save,
                                    const char* description) = 0;

    // Properties. Reads of a missing property or of another type give 0, "",
    // u"" or the null id; writes of either fail (false) and are logged.
    virtual bool FindAttr(const ObjectId& obj, const char* name) = 0;
    virtual bool SetInt(const ObjectId& obj, const char* name, int value) = 0;
    virtual bool SetString(const ObjectId& obj, const char* name, const char* value) = 0;
    virtual bool SetObject(const ObjectId& obj, const char* name, const ObjectId& value) = 0;
    virtual int QueryInt(const ObjectId& obj, const char* name) = 0;
    virtual const char* QueryString(const ObjectId& obj, const char* name) = 0;
    virtual const char16_t* QueryWideStr(const ObjectId& obj, const char* name) = 0;
    virtual ObjectId QueryObject(const ObjectId& obj, const char* name) = 0;
    virtual bool IncInt(const ObjectId& obj, const char* name, int delta) = 0;

    // Record declarations on a class.
    virtual bool AddRecord(int classIndex, const char* name, int cols, int maxRows, bool save) = 0;
    virtual bool SetRecordColType(int classIndex, const char* name, int col, int type) = 0;
    virtual bool SetRecordVisible(int classIndex, const char* name, const char* visibleName) = 0;

    // Records. GetRecordRows of a missing record is -1. Row arguments of -1
    // append. Writes of the wrong type or past the row limit fail (-1 / false)
    // and change nothing.
    virtual int GetRecordRows(const ObjectId& obj, const char* rec) = 0;
    virtual int AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) = 0;
    virtual int AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                                   const IVarList& values) = 0;
    virtual bool RemoveRecordRow(const ObjectId& obj, const char* rec, int row) = 0;
    virtual bool SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                                    const IVarList& values) = 0;
    virtual int QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) = 0;
    virtual float QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) = 0;
    virtual const char* QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) = 0;
    virtual const char16_t* QueryRecordWideStr(const ObjectId& obj, const char* rec, int row,
                                               int col) = 0;
    virtual ObjectId QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) = 0;
    // First row whose cell in col equals value, or -1.
    virtual int FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) = 0;
    virtual int FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                                  const char16_t* value) = 0;

    // Configuration id text ("" for a dead object) and configuration number.
    virtual const char* GetConfig(const ObjectId& obj) = 0;
    virtual int GetConfigIndex(const ObjectId& obj) = 0;
    virtual bool Exists(const ObjectId& obj) = 0;
    // Child of container with that wide name, or the null id.
    virtual ObjectId GetChild(const ObjectId& container, const char16_t* name) = 0;

    // Heartbeats on individual objects, interval in milliseconds. An object
    // carries a name at most once.
    virtual bool AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) = 0;
    virtual bool RemoveHeartBeat(const ObjectId& obj, const char* name) = 0;
    virtual bool FindHeartBeat(const ObjectId& obj, const char* name) = 0;

    // Players by name: here, online in another process, offline.
    virtual ObjectId FindPlayer(const char16_t* name) = 0;
    // > 0 when the named player is online in another process of the world.
    virtual int GetPlayerOnline(const char16_t* name) = 0;
    // > 0 when an offline player of that name exists; fills info with its
    // object id at index 0.
    virtual int QueryOfflinePlayer(const char16_t* name, IVarList& info) = 0;
    virtual int CheckOfflinePlayer(const char16_t* name, const ObjectId& player) = 0;
    // Queues msg for the offline player; true when accepted.
    virtual bool CommandOffline(const char16_t* name, const ObjectId& player,
                                const char16_t* senderName, int senderNameId,
                                const IVarList& msg) = 0;

    // Notices: to one player's client, and to every player.
    virtual bool SysInfo(const ObjectId& player, int infoKind, const char* textId,
                         const IVarList& args) = 0;
    virtual bool SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) = 0;

    // Custom message to target's client side (message hooks see it first).
    virtual bool Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) = 0;
    // Command (entry 0 = command id) to target's command hooks. The answer is
    // 0 when any hook answered 0, otherwise 1 (also when no hook is there).
    virtual int Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) = 0;
    // Command to the named player wherever it is online; nonzero when delivered.
    virtual int CommandByName(const char16_t* name, const IVarList& args) = 0;

    // Numeric id of a player name, for offline delivery.
    virtual int GetNameId(const char16_t* name) = 0;

    // Runs function of a rules script (path relative to the resource
    // directory). results receives at most resultCount values; false and no
    // results when the script or function is missing or fails.
    virtual bool RunScriptFunction(const char* script, const char* function, const IVarList& args,
                                   int resultCount, IVarList& results) = 0;

    // Declarations with a save mode (2: column storage, 3: XML storage).
    virtual bool AddPropertySaveMode(int classIndex, const char* name, int type, int saveMode,
                                     const char* description) = 0;
    virtual bool AddVisiblePropertySaveMode(int classIndex, const char* name, int type,
                                            const char* text, bool isPublic, bool isPrivate,
                                            int saveMode, const char* description) = 0;
    virtual bool AddRecordSaveMode(int classIndex, const char* name, int cols, int maxRows,
                                   int saveMode) = 0;
};
