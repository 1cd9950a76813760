// A kernel that only listens to class declarations, so the checker can run
// the plug-in's own class-definition loader on a file and see exactly what a
// host would be asked to declare. Every other kernel operation is inert.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "IKernel.h"

namespace tools {

struct DeclaredProperty {
    std::string name;
    int type = 0;
};

struct DeclaredRecord {
    std::string name;
    int cols = 0;
    int maxRows = 0;
    std::map<int, int> colTypes;  // column index -> type code
};

class ClassRecorder final : public IKernel {
public:
    explicit ClassRecorder(std::string resourcePath) : m_resourcePath(std::move(resourcePath)) {}

    const std::vector<DeclaredProperty>& Properties() const { return m_properties; }
    const std::vector<DeclaredRecord>& Records() const { return m_records; }
    // Lines the loader wrote to Echo (its error reports).
    const std::vector<std::string>& Echoed() const { return m_echoed; }
    const DeclaredProperty* FindProperty(const std::string& name) const;
    const DeclaredRecord* FindRecord(const std::string& name) const;

    bool DeclareHeartBeat(const char*, HeartBeatFunc) override { return true; }
    IModule* FindModule(const char*) override { return nullptr; }
    bool AddClassCallback(const char*, const char*, KernelCallback, int) override { return true; }
    bool AddCommandHook(const char*, int, KernelCallback, int) override { return true; }
    bool AddCustomHook(int, KernelCallback, int) override { return true; }
    void Trace(const char*) override {}
    void Echo(const char* line) override { m_echoed.emplace_back(line ? line : ""); }
    ObjectId GetScene() override { return {}; }
    const char* GetResourcePath() override { return m_resourcePath.c_str(); }

    bool AddProperty(int, const char* name, int type, bool, const char*) override {
        return Declare(name, type);
    }
    bool AddVisibleProperty(int, const char* name, int type, const char*, bool, bool, bool,
                            const char*) override {
        return Declare(name, type);
    }
    bool FindAttr(const ObjectId&, const char*) override { return false; }
    bool SetInt(const ObjectId&, const char*, int) override { return false; }
    bool SetString(const ObjectId&, const char*, const char*) override { return false; }
    bool SetObject(const ObjectId&, const char*, const ObjectId&) override { return false; }
    int QueryInt(const ObjectId&, const char*) override { return 0; }
    const char* QueryString(const ObjectId&, const char*) override { return ""; }
    const char16_t* QueryWideStr(const ObjectId&, const char*) override { return u""; }
    ObjectId QueryObject(const ObjectId&, const char*) override { return {}; }
    bool IncInt(const ObjectId&, const char*, int) override { return false; }

    bool AddRecord(int, const char* name, int cols, int maxRows, bool) override {
        return DeclareRecord(name, cols, maxRows);
    }
    bool SetRecordColType(int, const char* name, int col, int type) override;
    bool SetRecordVisible(int, const char* name, const char*) override {
        return FindRecord(name ? name : "") != nullptr;
    }
    int GetRecordRows(const ObjectId&, const char*) override { return -1; }
    int AddRecordBlankRow(const ObjectId&, const char*, int) override { return -1; }
    int AddRecordRowValues(const ObjectId&, const char*, int, const IVarList&) override {
        return -1;
    }
    bool RemoveRecordRow(const ObjectId&, const char*, int) override { return false; }
    bool SetRecordRowValues(const ObjectId&, const char*, int, const IVarList&) override {
        return false;
    }
    int QueryRecordInt(const ObjectId&, const char*, int, int) override { return 0; }
    float QueryRecordFloat(const ObjectId&, const char*, int, int) override { return 0.0f; }
    const char* QueryRecordString(const ObjectId&, const char*, int, int) override { return ""; }
    const char16_t* QueryRecordWideStr(const ObjectId&, const char*, int, int) override {
        return u"";
    }
    ObjectId QueryRecordObject(const ObjectId&, const char*, int, int) override { return {}; }
    int FindRecordRowInt(const ObjectId&, const char*, int, int) override { return -1; }
    int FindRecordWideStr(const ObjectId&, const char*, int, const char16_t*) override {
        return -1;
    }
    const char* GetConfig(const ObjectId&) override { return ""; }
    int GetConfigIndex(const ObjectId&) override { return 0; }
    bool Exists(const ObjectId&) override { return false; }
    ObjectId GetChild(const ObjectId&, const char16_t*) override { return {}; }
    bool AddHeartBeat(const ObjectId&, const char*, int) override { return false; }
    bool RemoveHeartBeat(const ObjectId&, const char*) override { return false; }
    bool FindHeartBeat(const ObjectId&, const char*) override { return false; }
    ObjectId FindPlayer(const char16_t*) override { return {}; }
    int GetPlayerOnline(const char16_t*) override { return 0; }
    int QueryOfflinePlayer(const char16_t*, IVarList&) override { return 0; }
    int CheckOfflinePlayer(const char16_t*, const ObjectId&) override { return 0; }
    bool CommandOffline(const char16_t*, const ObjectId&, const char16_t*, int,
                        const IVarList&) override {
        return false;
    }
    bool SysInfo(const ObjectId&, int, const char*, const IVarList&) override { return false; }
    bool SysInfoByWorld(int, const char*, const IVarList&) override { return false; }
    bool Custom(const ObjectId&, const ObjectId&, const IVarList&) override { return false; }
    int Command(const ObjectId&, const ObjectId&, const IVarList&) override { return 1; }
    int CommandByName(const char16_t*, const IVarList&) override { return 0; }
    int GetNameId(const char16_t*) override { return 0; }
    bool RunScriptFunction(const char*, const char*, const IVarList&, int, IVarList&) override {
        return false;
    }
    bool AddPropertySaveMode(int, const char* name, int type, int, const char*) override {
        return Declare(name, type);
    }
    bool AddVisiblePropertySaveMode(int, const char* name, int type, const char*, bool, bool, int,
                                    const char*) override {
        return Declare(name, type);
    }
    bool AddRecordSaveMode(int, const char* name, int cols, int maxRows, int) override {
        return DeclareRecord(name, cols, maxRows);
    }

private:
    // A host refuses a second declaration of the same name; so does this one,
    // which makes the loader report it.
    bool Declare(const char* name, int type);
    bool DeclareRecord(const char* name, int cols, int maxRows);

    std::string m_resourcePath;
    std::vector<DeclaredProperty> m_properties;
    std::vector<DeclaredRecord> m_records;
    std::vector<std::string> m_echoed;
};

}  // namespace tools
