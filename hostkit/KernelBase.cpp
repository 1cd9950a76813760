// The neutral answers of KernelBase (see KernelBase.h for the rule behind them).
#include "KernelBase.h"

namespace host {

namespace {
const char kEmpty[] = "";
const char16_t kWideEmpty[] = u"";
}  // namespace

bool KernelBase::DeclareHeartBeat(const char*, HeartBeatFunc) {
    return false;
}
IModule* KernelBase::FindModule(const char*) {
    return nullptr;
}
bool KernelBase::AddClassCallback(const char*, const char*, KernelCallback, int) {
    return false;
}
bool KernelBase::AddCommandHook(const char*, int, KernelCallback, int) {
    return false;
}
bool KernelBase::AddCustomHook(int, KernelCallback, int) {
    return false;
}
void KernelBase::Trace(const char*) {}
void KernelBase::Echo(const char*) {}
ObjectId KernelBase::GetScene() {
    return ObjectId{};
}
const char* KernelBase::GetResourcePath() {
    return kEmpty;
}
bool KernelBase::AddProperty(int, const char*, int, bool, const char*) {
    return false;
}
bool KernelBase::AddVisibleProperty(int, const char*, int, const char*, bool, bool, bool,
                                    const char*) {
    return false;
}
bool KernelBase::FindAttr(const ObjectId&, const char*) {
    return false;
}
bool KernelBase::SetInt(const ObjectId&, const char*, int) {
    return false;
}
bool KernelBase::SetString(const ObjectId&, const char*, const char*) {
    return false;
}
bool KernelBase::SetObject(const ObjectId&, const char*, const ObjectId&) {
    return false;
}
int KernelBase::QueryInt(const ObjectId&, const char*) {
    return 0;
}
const char* KernelBase::QueryString(const ObjectId&, const char*) {
    return kEmpty;
}
const char16_t* KernelBase::QueryWideStr(const ObjectId&, const char*) {
    return kWideEmpty;
}
ObjectId KernelBase::QueryObject(const ObjectId&, const char*) {
    return ObjectId{};
}
bool KernelBase::IncInt(const ObjectId&, const char*, int) {
    return false;
}
bool KernelBase::AddRecord(int, const char*, int, int, bool) {
    return false;
}
bool KernelBase::SetRecordColType(int, const char*, int, int) {
    return false;
}
bool KernelBase::SetRecordVisible(int, const char*, const char*) {
    return false;
}
int KernelBase::GetRecordRows(const ObjectId&, const char*) {
    return -1;
}
int KernelBase::AddRecordBlankRow(const ObjectId&, const char*, int) {
    return -1;
}
int KernelBase::AddRecordRowValues(const ObjectId&, const char*, int, const IVarList&) {
    return -1;
}
bool KernelBase::RemoveRecordRow(const ObjectId&, const char*, int) {
    return false;
}
bool KernelBase::SetRecordRowValues(const ObjectId&, const char*, int, const IVarList&) {
    return false;
}
int KernelBase::QueryRecordInt(const ObjectId&, const char*, int, int) {
    return 0;
}
float KernelBase::QueryRecordFloat(const ObjectId&, const char*, int, int) {
    return 0.0f;
}
const char* KernelBase::QueryRecordString(const ObjectId&, const char*, int, int) {
    return kEmpty;
}
const char16_t* KernelBase::QueryRecordWideStr(const ObjectId&, const char*, int, int) {
    return kWideEmpty;
}
ObjectId KernelBase::QueryRecordObject(const ObjectId&, const char*, int, int) {
    return ObjectId{};
}
int KernelBase::FindRecordRowInt(const ObjectId&, const char*, int, int) {
    return -1;
}
int KernelBase::FindRecordWideStr(const ObjectId&, const char*, int, const char16_t*) {
    return -1;
}
const char* KernelBase::GetConfig(const ObjectId&) {
    return kEmpty;
}
int KernelBase::GetConfigIndex(const ObjectId&) {
    return 0;
}
bool KernelBase::Exists(const ObjectId&) {
    return false;
}
ObjectId KernelBase::GetChild(const ObjectId&, const char16_t*) {
    return ObjectId{};
}
bool KernelBase::AddHeartBeat(const ObjectId&, const char*, int) {
    return false;
}
bool KernelBase::RemoveHeartBeat(const ObjectId&, const char*) {
    return false;
}
bool KernelBase::FindHeartBeat(const ObjectId&, const char*) {
    return false;
}
ObjectId KernelBase::FindPlayer(const char16_t*) {
    return ObjectId{};
}
int KernelBase::GetPlayerOnline(const char16_t*) {
    return 0;
}
int KernelBase::QueryOfflinePlayer(const char16_t*, IVarList&) {
    return 0;
}
int KernelBase::CheckOfflinePlayer(const char16_t*, const ObjectId&) {
    return 0;
}
bool KernelBase::CommandOffline(const char16_t*, const ObjectId&, const char16_t*, int,
                                const IVarList&) {
    return false;
}
bool KernelBase::SysInfo(const ObjectId&, int, const char*, const IVarList&) {
    return false;
}
bool KernelBase::SysInfoByWorld(int, const char*, const IVarList&) {
    return false;
}
bool KernelBase::Custom(const ObjectId&, const ObjectId&, const IVarList&) {
    return false;
}
int KernelBase::Command(const ObjectId&, const ObjectId&, const IVarList&) {
    return 0;
}
int KernelBase::CommandByName(const char16_t*, const IVarList&) {
    return 0;
}
int KernelBase::GetNameId(const char16_t*) {
    return 0;
}
bool KernelBase::RunScriptFunction(const char*, const char*, const IVarList&, int, IVarList&) {
    return false;
}
bool KernelBase::AddPropertySaveMode(int, const char*, int, int, const char*) {
    return false;
}
bool KernelBase::AddVisiblePropertySaveMode(int, const char*, int, const char*, bool, bool, int,
                                            const char*) {
    return false;
}
bool KernelBase::AddRecordSaveMode(int, const char*, int, int, int) {
    return false;
}

}  // namespace host
