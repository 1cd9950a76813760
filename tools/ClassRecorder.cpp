// A kernel that records class declarations, for the class-file checker.
#include "ClassRecorder.h"

namespace tools {

const DeclaredProperty* ClassRecorder::FindProperty(const std::string& name) const {
    for (const auto& p : m_properties) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

const DeclaredRecord* ClassRecorder::FindRecord(const std::string& name) const {
    for (const auto& r : m_records) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

bool ClassRecorder::Declare(const char* name, int type) {
    const std::string n = name ? name : "";
    if (n.empty() || FindProperty(n) != nullptr || FindRecord(n) != nullptr) return false;
    m_properties.push_back({n, type});
    return true;
}

bool ClassRecorder::DeclareRecord(const char* name, int cols, int maxRows) {
    const std::string n = name ? name : "";
    if (n.empty() || cols < 1 || maxRows < 0 || FindRecord(n) != nullptr ||
        FindProperty(n) != nullptr) {
        return false;
    }
    m_records.push_back({n, cols, maxRows, {}});
    return true;
}

bool ClassRecorder::SetRecordColType(int, const char* name, int col, int type) {
    for (auto& r : m_records) {
        if (r.name == (name ? name : "")) {
            if (col < 0 || col >= r.cols) return false;
            r.colTypes[col] = type;
            return true;
        }
    }
    return false;
}

}  // namespace tools
