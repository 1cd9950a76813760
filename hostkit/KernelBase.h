// A kernel to derive from: every IKernel operation with a neutral answer, so a
// host overrides only the operations it hosts.
#pragma once

#include "IKernel.h"

namespace host {

// The neutral answers, chosen so that a rule module meeting an operation the
// host does not override sees "nothing there" rather than a fault:
//  - operations answering bool: false (nothing declared, registered, written,
//    found or delivered);
//  - counts, numbers, answers and ids: 0 (Command, CommandByName: not
//    delivered; GetConfigIndex; GetNameId; the offline-player queries);
//  - row operations: -1, the interface's "no such record / no row"
//    (GetRecordRows, AddRecordBlankRow, AddRecordRowValues, FindRecordRowInt,
//    FindRecordWideStr);
//  - texts: a static empty narrow or wide string, never null (GetConfig,
//    QueryString, QueryWideStr, QueryRecordString, QueryRecordWideStr,
//    GetResourcePath: "" so resource paths resolve against the working
//    directory);
//  - floats: 0.0; object ids: the null id; FindModule: null;
//  - Trace, Echo: the line is dropped; RunScriptFunction leaves results alone;
//    QueryOfflinePlayer leaves info alone.
// Nothing here keeps state, so a derived kernel needs no base-class call.
class KernelBase : public IKernel {
public:
    ~KernelBase() override = default;

    bool DeclareHeartBeat(const char* name, HeartBeatFunc func) override;
    IModule* FindModule(const char* name) override;
    bool AddClassCallback(const char* className, const char* event, KernelCallback func,
                          int priority) override;
    bool AddCommandHook(const char* className, int commandId, KernelCallback func,
                        int priority) override;
    bool AddCustomHook(int messageId, KernelCallback func, int priority) override;
    void Trace(const char* line) override;
    void Echo(const char* line) override;
    ObjectId GetScene() override;
    const char* GetResourcePath() override;
    bool AddProperty(int classIndex, const char* name, int type, bool save,
                     const char* description) override;
    bool AddVisibleProperty(int classIndex, const char* name, int type, const char* text,
                            bool isPublic, bool isPrivate, bool save,
                            const char* description) override;
    bool FindAttr(const ObjectId& obj, const char* name) override;
    bool SetInt(const ObjectId& obj, const char* name, int value) override;
    bool SetString(const ObjectId& obj, const char* name, const char* value) override;
    bool SetObject(const ObjectId& obj, const char* name, const ObjectId& value) override;
    int QueryInt(const ObjectId& obj, const char* name) override;
    const char* QueryString(const ObjectId& obj, const char* name) override;
    const char16_t* QueryWideStr(const ObjectId& obj, const char* name) override;
    ObjectId QueryObject(const ObjectId& obj, const char* name) override;
    bool IncInt(const ObjectId& obj, const char* name, int delta) override;
    bool AddRecord(int classIndex, const char* name, int cols, int maxRows, bool save) override;
    bool SetRecordColType(int classIndex, const char* name, int col, int type) override;
    bool SetRecordVisible(int classIndex, const char* name, const char* visibleName) override;
    int GetRecordRows(const ObjectId& obj, const char* rec) override;
    int AddRecordBlankRow(const ObjectId& obj, const char* rec, int row) override;
    int AddRecordRowValues(const ObjectId& obj, const char* rec, int row,
                           const IVarList& values) override;
    bool RemoveRecordRow(const ObjectId& obj, const char* rec, int row) override;
    bool SetRecordRowValues(const ObjectId& obj, const char* rec, int row,
                            const IVarList& values) override;
    int QueryRecordInt(const ObjectId& obj, const char* rec, int row, int col) override;
    float QueryRecordFloat(const ObjectId& obj, const char* rec, int row, int col) override;
    const char* QueryRecordString(const ObjectId& obj, const char* rec, int row, int col) override;
    const char16_t* QueryRecordWideStr(const ObjectId& obj, const char* rec, int row,
                                       int col) override;
    ObjectId QueryRecordObject(const ObjectId& obj, const char* rec, int row, int col) override;
    int FindRecordRowInt(const ObjectId& obj, const char* rec, int col, int value) override;
    int FindRecordWideStr(const ObjectId& obj, const char* rec, int col,
                          const char16_t* value) override;
    const char* GetConfig(const ObjectId& obj) override;
    int GetConfigIndex(const ObjectId& obj) override;
    bool Exists(const ObjectId& obj) override;
    ObjectId GetChild(const ObjectId& container, const char16_t* name) override;
    bool AddHeartBeat(const ObjectId& obj, const char* name, int intervalMs) override;
    bool RemoveHeartBeat(const ObjectId& obj, const char* name) override;
    bool FindHeartBeat(const ObjectId& obj, const char* name) override;
    ObjectId FindPlayer(const char16_t* name) override;
    int GetPlayerOnline(const char16_t* name) override;
    int QueryOfflinePlayer(const char16_t* name, IVarList& info) override;
    int CheckOfflinePlayer(const char16_t* name, const ObjectId& player) override;
    bool CommandOffline(const char16_t* name, const ObjectId& player, const char16_t* senderName,
                        int senderNameId, const IVarList& msg) override;
    bool SysInfo(const ObjectId& player, int infoKind, const char* textId,
                 const IVarList& args) override;
    bool SysInfoByWorld(int infoKind, const char* textId, const IVarList& args) override;
    bool Custom(const ObjectId& sender, const ObjectId& target, const IVarList& args) override;
    int Command(const ObjectId& sender, const ObjectId& target, const IVarList& args) override;
    int CommandByName(const char16_t* name, const IVarList& args) override;
    int GetNameId(const char16_t* name) override;
    bool RunScriptFunction(const char* script, const char* function, const IVarList& args,
                           int resultCount, IVarList& results) override;
    bool AddPropertySaveMode(int classIndex, const char* name, int type, int saveMode,
                             const char* description) override;
    bool AddVisiblePropertySaveMode(int classIndex, const char* name, int type, const char* text,
                                    bool isPublic, bool isPrivate, int saveMode,
                                    const char* description) override;
    bool AddRecordSaveMode(int classIndex, const char* name, int cols, int maxRows,
                           int saveMode) override;
};

}  // namespace host
