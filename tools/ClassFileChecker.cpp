// The check of the NpcCreator class file, "Struct/NPC/NpcCreator.xml".
#include <fmt/format.h>
#include <tinyxml.h>

#include <vector>

#include "ClassRecorder.h"
#include "KernelWrapper.h"
#include "ResourceCheckers.h"
#include "TextCodec.h"
#include "VarType.h"
#include "XmlBounds.h"

namespace tools {
namespace check {

namespace {

const char* TypeName(int code) {
    switch (code) {
        case VTYPE_BOOL:
            return "bool";
        case VTYPE_INT:
            return "int";
        case VTYPE_FLOAT:
            return "float";
        case VTYPE_STRING:
            return "string";
        case VTYPE_WIDESTR:
            return "wstring";
        case VTYPE_OBJECT:
            return "object";
        case VTYPE_INT64:
            return "int64";
        default:
            return "an unknown type";
    }
}

struct RequiredProperty {
    const char* name;
    int type;
    bool optional;  // only read when present
    const char* use;
};

const RequiredProperty kProperties[] = {
    {"CreatorType", VTYPE_INT, false, "tells ordinary creators from area boss points"},
    {"SelectCount", VTYPE_INT, false, "counts the selections left"},
    {"MaxSelectCount", VTYPE_INT, false, "refills SelectCount"},
    {"Invisible", VTYPE_INT, false, "marks a hidden creator"},
    {"CantVisible", VTYPE_INT, false, "hides the creator from players"},
    {"RefreshTime", VTYPE_INT, false, "sets the refresh period"},
    {"RefreshModelTime", VTYPE_INT, false, "sets the model re-draw period"},
    {"Model", VTYPE_INT, false, "holds the current model"},
    {"ModelEx", VTYPE_INT, false, "copies the current model"},
    {"Index", VTYPE_INT, false, "selects the NPC candidates"},
    {"NpcConfig", VTYPE_INT, false, "holds the first NPC of the model"},
    {"NPCDes", VTYPE_STRING, false, "holds the model description for the kill notice"},
    {"NoticeByWorldRefresh", VTYPE_INT, true, "turns on the model draw notice"},
    {"NoticeByWorldBeKilled", VTYPE_INT, true, "turns on the kill notice"},
    {"CurNPCCount", VTYPE_INT, false, "counts the area boss encounters left"},
    {"IsFighting", VTYPE_INT, false, "blocks an area boss during its last fight"},
    {"FRTime", VTYPE_STRING, false, "holds an area boss time point"},
};

struct RequiredRecord {
    const char* name;
    std::vector<int> types;
    const char* use;
};

const RequiredRecord kRecords[] = {
    {"ModelInfoRec", {VTYPE_INT, VTYPE_FLOAT, VTYPE_STRING, VTYPE_INT}, "the model candidates"},
    {"NPCInfoRec", {VTYPE_INT, VTYPE_INT, VTYPE_FLOAT, VTYPE_INT}, "the NPC candidates"},
    {"AutoTeamRec", {VTYPE_WIDESTR, VTYPE_INT}, "the sign-ups of a farm object"},
};

const TiXmlElement* FindXmlElement(const TiXmlDocument& doc, const char* group, const char* tag,
                                   const std::string& id) {
    const TiXmlNode* object = doc.FirstChild("Object");
    const TiXmlNode* g = object ? object->FirstChild(group) : nullptr;
    if (g == nullptr) return nullptr;
    for (const TiXmlElement* e = g->FirstChildElement(tag); e; e = e->NextSiblingElement(tag)) {
        const char* a = e->Attribute("Id");
        if (a && id == a) return e;
    }
    return nullptr;
}

int XmlLine(const TiXmlDocument& doc, const char* group, const char* tag, const std::string& id) {
    const TiXmlElement* e = FindXmlElement(doc, group, tag, id);
    return e ? e->Row() : 0;
}

// Rows the two records need for the given tables, per creator.
struct RecordNeeds {
    int modelRows = 0;
    int npcRows = 0;
    int modelCreator = 0;
    int npcCreator = 0;
};

RecordNeeds ComputeRecordNeeds(const CandidateTables& t) {
    RecordNeeds needs;
    for (const auto& [creator, rows] : t.models) {
        if (int(rows.size()) > needs.modelRows) {
            needs.modelRows = int(rows.size());
            needs.modelCreator = creator;
        }
        int npcRows = 0;
        for (const auto& row : rows) {
            auto it = t.npcs.find(row.index);
            if (it == t.npcs.end()) break;
            npcRows += int(it->second.size());
        }
        if (npcRows > needs.npcRows) {
            needs.npcRows = npcRows;
            needs.npcCreator = creator;
        }
    }
    return needs;
}

}  // namespace

void CheckClassFile(const std::string& dir, const CandidateTables& tables, Reporter& r) {
    const std::string file = DisplayName(kClassFile);
    const std::string path = OnDisk(dir, kClassFile);
    std::string bytes;
    if (!ReadBytes(path, bytes)) {
        r.Add(file, 0, Severity::kError, "missing-file",
              "file not found: the NpcCreator class gets none of the properties and records the "
              "rule systems use");
        return;
    }
    if (ReportEncoding(file, bytes, "the NpcCreator class gets no properties or records",
                       "the class loader stops reading the file there", r)) {
        return;
    }
    // Past a bound the loader refuses the file unparsed, and the parser must
    // not see it here either: deep nesting overflows its stack.
    const XmlBounds bounds = CheckXmlFileBounds(bytes.data(), bytes.size());
    if (!bounds.within) {
        const std::string what =
            std::string(bounds.bound) == "size"
                ? fmt::format("it is larger than {} bytes", kMaxXmlFileBytes)
            : std::string(bounds.bound) == "nesting"
                ? fmt::format("its elements nest deeper than {} levels", kMaxXmlDepth)
                : fmt::format("an element has more than {} attributes", kMaxXmlAttributes);
        r.Add(file, bounds.line, Severity::kError, "class-file-bound",
              fmt::format("the class loader refuses this file ({}): the NpcCreator class gets no "
                          "properties or records",
                          what));
        return;
    }
    ClassRecorder recorder(WithSlash(dir));
    if (!OnCreateClassFromXml(&recorder, 0, kClassFile)) {
        TiXmlDocument doc(path.c_str());
        doc.LoadFile();
        r.Add(file, doc.ErrorRow(), Severity::kError, "class-unparsable",
              fmt::format("the class loader cannot parse this file ({}): the NpcCreator class gets "
                          "no properties or records",
                          doc.ErrorDesc() ? doc.ErrorDesc() : "unknown error"));
        return;
    }
    TiXmlDocument doc(path.c_str());
    doc.LoadFile();
    // The loader's own error reports come in pairs: message, then location.
    const auto& echoed = recorder.Echoed();
    for (size_t i = 0; i < echoed.size(); i += 2) {
        r.Add(file, 0, Severity::kError, "class-loader-report",
              "the class loader reports: " + ToUtf8(echoed[i]));
    }
    for (const auto& p : kProperties) {
        const DeclaredProperty* d = recorder.FindProperty(p.name);
        if (d == nullptr) {
            if (!p.optional) {
                r.Add(file, 0, Severity::kError, "class-missing-property",
                      fmt::format("property {} ({}) is missing; the rule systems use it: it {}",
                                  p.name, TypeName(p.type), p.use));
            }
        } else if (d->type != p.type) {
            r.Add(file, XmlLine(doc, "BaseProperties", "Property", p.name), Severity::kError,
                  "class-wrong-property-type",
                  fmt::format("property {} is declared as {} but the rule systems use it as {}",
                              p.name, TypeName(d->type), TypeName(p.type)));
        }
    }
    const RecordNeeds needs = ComputeRecordNeeds(tables);
    for (const auto& rec : kRecords) {
        const DeclaredRecord* d = recorder.FindRecord(rec.name);
        const int line = XmlLine(doc, "RecordProperties", "Record", rec.name);
        if (d == nullptr) {
            if (line != 0) {
                r.Add(file, line, Severity::kError, "class-record-skipped",
                      fmt::format("record {} is skipped by the class loader: its Cols or MaxRows "
                                  "is missing or not a number",
                                  rec.name));
            } else {
                r.Add(file, 0, Severity::kError, "class-missing-record",
                      fmt::format("record {} is missing; the rule systems keep {} in it", rec.name,
                                  rec.use));
            }
            continue;
        }
        if (d->cols < int(rec.types.size())) {
            r.Add(file, line, Severity::kError, "class-record-too-few-columns",
                  fmt::format("record {} has {} columns but the rule systems use {}", rec.name,
                              d->cols, rec.types.size()));
        }
        for (size_t c = 0; c < rec.types.size(); ++c) {
            auto it = d->colTypes.find(int(c));
            if (it == d->colTypes.end()) {
                if (int(c) < d->cols) {
                    r.Add(file, line, Severity::kError, "class-column-without-type",
                          fmt::format("column {} of record {} has no type; the rule systems use "
                                      "it as {}",
                                      c, rec.name, TypeName(rec.types[c])));
                }
            } else if (it->second != rec.types[c]) {
                r.Add(file, line, Severity::kError, "class-wrong-column-type",
                      fmt::format("column {} of record {} is declared as {} but the rule systems "
                                  "use it as {}",
                                  c, rec.name, TypeName(it->second), TypeName(rec.types[c])));
            }
        }
        int needRows = 0;
        int creator = 0;
        if (std::string(rec.name) == "ModelInfoRec") {
            needRows = needs.modelRows;
            creator = needs.modelCreator;
        } else if (std::string(rec.name) == "NPCInfoRec") {
            needRows = needs.npcRows;
            creator = needs.npcCreator;
        }
        if (needRows > d->maxRows) {
            r.Add(file, line, Severity::kError, "class-record-too-small",
                  fmt::format("record {} holds at most {} rows but creator {} needs {}: the rows "
                              "past the limit are lost",
                              rec.name, d->maxRows, creator, needRows));
        }
    }
}

}  // namespace check
}  // namespace tools
