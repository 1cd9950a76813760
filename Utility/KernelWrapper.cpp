// Class declarations read from a class-definition XML file and made to the kernel.
#include "KernelWrapper.h"

#include <sys/stat.h>
#include <tinyxml.h>

#include <cstddef>
#include <cstdio>
#include <new>
#include <string>

#include "IKernel.h"
#include "Utility.h"
#include "VarType.h"
#include "XmlBounds.h"

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

// The parser steps over a multi-byte UTF-8 character by the length its lead
// byte announces, even when the text ends inside that character, and then
// reads on from past the terminator. Its own file loader leaves a single NUL
// after the text, so a truncated character at the end of a class file made it
// read past the buffer. The file is therefore read here and parsed from a
// buffer with a run of NULs behind the text: every such overstep lands on a
// terminator.
constexpr size_t kParsePadding = 16;

// Only a plain file within the size bound is read: a directory reports a
// bogus length that would become a huge allocation. Line ends are normalised
// to LF as the parser's own loader does, and the text stops at the first NUL
// byte as it did there. Text nested deeper than the parser can take (it
// recurses per level) or with an element of endless attributes is refused
// like a malformed file. Read failures, including running out of memory, are
// an unreadable file.
bool LoadDocument(TiXmlDocument& doc, const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return false;
    struct stat st;
    bool ok = ::fstat(::fileno(fp), &st) == 0 && S_ISREG(st.st_mode) &&
              st.st_size <= off_t(kMaxXmlFileBytes);
    if (ok) {
        try {
            const size_t size = static_cast<size_t>(st.st_size);
            std::string bytes(size, '\0');
            ok = size == 0 || std::fread(&bytes[0], size, 1, fp) == 1;
            if (ok) {
                std::string text = NormaliseXmlText(bytes.data(), bytes.size());
                ok = CheckXmlBounds(text).within;
                if (ok) {
                    text.resize(text.size() + kParsePadding, '\0');
                    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
                    ok = !doc.Error();
                }
            }
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
