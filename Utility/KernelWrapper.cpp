#include "KernelWrapper.h"

#include <sys/stat.h>
#include <tinyxml.h>

#include <cstdio>
#include <new>
#include <string>

#include "IKernel.h"
#include "Utility.h"
#include "VarType.h"

namespace {

// Messages are GBK bytes, written as escapes so they do not depend on how
// this source file is encoded. Each literal is split where an escape ends so
// that no following character is taken as a further hex digit.
const char kFailed[] = "OnCreateClassFromXml\xCA\xA7\xB0\xDC: ";               // "...失败: "
const char kAddRecordFailed[] = "\xCC\xED\xBC\xD3\xB1\xED\xCA\xA7\xB0\xDC:[";  // "添加表失败:["
const char kColTypeFailed[] =
    "\xC9\xE8\xD6\xC3\xB1\xED\xB5\xC4\xC1\xD0\xC0\xE0\xD0\xCD\xCA\xA7\xB0\xDC:[";  // "设置表的列类型失败:["
const char kVisibleFailed[] =
    "\xC9\xE8\xD6\xC3\xB1\xED\xB5\xC4\xBF\xC9\xBC\xFB\xCA\xA7\xB0\xDC:[";  // "设置表的可见失败:["

// Save modes the kernel understands besides the plain save flag.
constexpr int kSaveModeColumns = 2;
constexpr int kSaveModeXml = 3;

// Class files are small; anything of 2 GiB or more is refused unread.
constexpr off_t kMaxFileSize = off_t(0x7fffffff) + 1;

inline char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

bool EqualsNoCase(const char* text, const char* lower) {
    for (; *text != '\0' && *lower != '\0'; ++text, ++lower)
        if (FoldAscii(*text) != *lower) return false;
    return *text == '\0' && *lower == '\0';
}

// Missing attributes read as empty text.
const char* Text(const TiXmlElement* el, const char* name) {
    const char* value = el->Attribute(name);
    return value != nullptr ? value : "";
}

bool Flag(const TiXmlElement* el, const char* name) {
    return ParseXmlBool(el->Attribute(name));
}

void DeclareProperty(IKernel* kernel, int classIndex, const char* file, const TiXmlElement* el) {
    const char* description = Text(el, "Description");
    const bool isPrivate = Flag(el, "Private");
    const bool isPublic = Flag(el, "Public");
    const bool xml = Flag(el, "Xml");
    const bool col = Flag(el, "Col");
    const bool save = Flag(el, "Save");
    const int type = XmlTypeCode(el->Attribute("Type"));
    const char* id = Text(el, "Id");

    // Col wins over Xml; without Save neither means anything.
    bool ok;
    if (!isPublic && !isPrivate) {
        if (save && col) {
            ok = kernel->AddPropertySaveMode(classIndex, id, type, kSaveModeColumns, description);
        } else if (save && xml) {
            ok = kernel->AddPropertySaveMode(classIndex, id, type, kSaveModeXml, description);
        } else {
            ok = kernel->AddProperty(classIndex, id, type, save, description);
        }
    } else {
        if (save && col) {
            ok = kernel->AddVisiblePropertySaveMode(classIndex, id, type, "", isPublic, isPrivate,
                                                    kSaveModeColumns, description);
        } else if (save && xml) {
            ok = kernel->AddVisiblePropertySaveMode(classIndex, id, type, "", isPublic, isPrivate,
                                                    kSaveModeXml, description);
        } else {
            ok = kernel->AddVisibleProperty(classIndex, id, type, "", isPublic, isPrivate, save,
                                            description);
        }
    }
    if (!ok) {
        REPORT_ERROR(kernel, std::string(kFailed) + "xml=" + file + ", id=" + id);
    }
}

void DeclareRecord(IKernel* kernel, int classIndex, const char* file, const TiXmlElement* el) {
    const char* id = Text(el, "Id");
    int cols = 0;
    int maxRows = 0;
    // A record without a usable size is left out silently.
    if (el->QueryIntAttribute("Cols", &cols) != TIXML_SUCCESS) return;
    if (el->QueryIntAttribute("MaxRows", &maxRows) != TIXML_SUCCESS) return;

    const bool col = Flag(el, "Col");
    const bool save = Flag(el, "Save");
    const bool added =
        save && col ? kernel->AddRecordSaveMode(classIndex, id, cols, maxRows, kSaveModeColumns)
                    : kernel->AddRecord(classIndex, id, cols, maxRows, save);
    if (!added) {
        REPORT_ERROR(kernel, std::string(kFailed) + kAddRecordFailed + id + "] " + file);
    }

    // Every Column element is declared, however many Cols announced; the index
    // advances whether or not the kernel took the previous one.
    int index = 0;
    for (const TiXmlElement* c = el->FirstChildElement("Column"); c != nullptr;
         c = c->NextSiblingElement("Column"), ++index) {
        if (!kernel->SetRecordColType(classIndex, id, index, XmlTypeCode(c->Attribute("Type")))) {
            REPORT_ERROR(kernel, std::string(kFailed) + kColTypeFailed + id + "] [" +
                                     IntToString(index) + "] " + file);
        }
    }

    if (Flag(el, "Visible") && !kernel->SetRecordVisible(classIndex, id, id)) {
        REPORT_ERROR(kernel, std::string(kFailed) + kVisibleFailed + id + "] " + file);
    }
}

// The parser sizes its buffer from the file's reported length, so only a
// plain file of sane size is handed to it: a directory reports a bogus length
// that would become a huge allocation. Read failures, including running out
// of memory, are an unreadable file.
bool LoadDocument(TiXmlDocument& doc, const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return false;
    struct stat st;
    bool ok = ::fstat(::fileno(fp), &st) == 0 && S_ISREG(st.st_mode) && st.st_size < kMaxFileSize;
    if (ok) {
        try {
            ok = doc.LoadFile(fp, TIXML_DEFAULT_ENCODING);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::fclose(fp);
    return ok;
}

}  // namespace

bool ParseXmlBool(const char* text) {
    if (text == nullptr) return false;
    return EqualsNoCase(text, "true") || EqualsNoCase(text, "1");
}

int XmlTypeCode(const char* text) {
    if (text == nullptr) return VTYPE_NONE;
    if (EqualsNoCase(text, "int") || EqualsNoCase(text, "byte") || EqualsNoCase(text, "word") ||
        EqualsNoCase(text, "dword"))
        return VTYPE_INT;
    if (EqualsNoCase(text, "float")) return VTYPE_FLOAT;
    if (EqualsNoCase(text, "string")) return VTYPE_STRING;
    if (EqualsNoCase(text, "wstring")) return VTYPE_WIDESTR;
    if (EqualsNoCase(text, "object")) return VTYPE_OBJECT;
    if (EqualsNoCase(text, "bool")) return VTYPE_BOOL;
    return VTYPE_NONE;
}

bool OnCreateClassFromXml(IKernel* kernel, int classIndex, const char* file) {
    if (kernel == nullptr || file == nullptr) return false;

    const char* resources = kernel->GetResourcePath();
    std::string path = std::string(resources != nullptr ? resources : "") + file;
    // Resource names are written with backslashes; the file system wants '/'.
    for (char& c : path)
        if (c == '\\') c = '/';

    TiXmlDocument doc(path.c_str());
    if (!LoadDocument(doc, path)) return false;

    TiXmlHandle object = TiXmlHandle(&doc).FirstChild("Object");

    for (const TiXmlElement* el =
             object.FirstChild("BaseProperties").FirstChild("Property").ToElement();
         el != nullptr; el = el->NextSiblingElement("Property")) {
        DeclareProperty(kernel, classIndex, file, el);
    }

    for (const TiXmlElement* el =
             object.FirstChild("RecordProperties").FirstChild("Record").ToElement();
         el != nullptr; el = el->NextSiblingElement("Record")) {
        DeclareRecord(kernel, classIndex, file, el);
    }
    return true;
}
