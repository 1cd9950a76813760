// Size, nesting and attribute bounds of class-definition text, found by
// walking the text the way the XML parser will.
#include "XmlBounds.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {

// The parser steps over a multi-byte UTF-8 character by the length its lead
// byte announces, so a walk can pass the terminator by up to three bytes.
constexpr size_t kPadding = 16;

// The parser's own reading primitives (white space, names, text up to an end
// mark with entities and UTF-8 steps, case-folded prefixes). They are
// protected members of its base class; walking with the very same ones keeps
// this walk in step with the parser wherever the text is odd. Never made.
class Reader : public TiXmlBase {
public:
    using TiXmlBase::IsAlpha;
    using TiXmlBase::IsWhiteSpace;
    using TiXmlBase::ReadName;
    using TiXmlBase::ReadText;
    using TiXmlBase::SkipWhiteSpace;
    using TiXmlBase::StringEqual;
};

// One pass over the text. It follows the parser's grammar: a document of
// nodes, elements whose content is text and nodes up to their end tag, and
// comments, CDATA, declarations and unknown tags as leaves. Wherever the
// parser would stop with an error the walk stops too: nothing after that
// point is ever parsed.
class Walk {
public:
    explicit Walk(const std::string& text)
        : m_buffer(text + std::string(kPadding, '\0')),
          m_base(m_buffer.c_str()),
          m_end(m_base + std::strlen(m_base)) {}

    XmlBounds Run() {
        const char* p = m_base;
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        if (u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) m_encoding = TIXML_ENCODING_UTF8;
        p = Skip(p);
        while (p != nullptr && *p != '\0') {
            if (m_open.empty()) {
                // Top level: only nodes; text there ends the document.
                if (*p != '<') break;
                std::string encoding;
                bool declaration = false;
                p = Node(p, &declaration, &encoding);
                if (declaration && m_encoding == TIXML_ENCODING_UNKNOWN) {
                    const char* e = encoding.c_str();
                    m_encoding =
                        *e == '\0' ||
                                Reader::StringEqual(e, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
                                Reader::StringEqual(e, "UTF8", true, TIXML_ENCODING_UNKNOWN)
                            ? TIXML_ENCODING_UTF8
                            : TIXML_ENCODING_LEGACY;
                }
            } else if (*p != '<') {
                p = Text(p);
            } else if (Equal(p, "</")) {
                p = EndTag(p);
            } else {
                p = Node(p, nullptr, nullptr);
            }
            if (p != nullptr) p = Skip(p);
        }
        return m_result;
    }

private:
    struct Open {
        size_t at;
        size_t length;
    };

    // The parser's skip answers null at the very end; the walk keeps the end.
    const char* Skip(const char* p) const {
        return *p == '\0' ? p : Reader::SkipWhiteSpace(p, m_encoding);
    }
    // The parser's prefix test asserts on the end of the text, where it
    // never asks; neither does this walk.
    bool Equal(const char* p, const char* tag) const {
        return *p != '\0' && Reader::StringEqual(p, tag, false, m_encoding);
    }
    bool EqualNoCase(const char* p, const char* tag) const {
        return *p != '\0' && Reader::StringEqual(p, tag, true, m_encoding);
    }

    const char* Refuse(const char* p, const char* bound) {
        m_result.within = false;
        m_result.bound = bound;
        m_result.line = 1 + int(std::count(m_base, std::min(std::max(p, m_base), m_end), '\n'));
        return nullptr;
    }

    // A node starting at '<', told apart by its opening as the parser does.
    const char* Node(const char* p, bool* declaration, std::string* encoding) {
        if (EqualNoCase(p, "<?xml")) {
            if (declaration != nullptr) *declaration = true;
            std::string ignored;
            return Declaration(p, encoding != nullptr ? encoding : &ignored);
        }
        if (Equal(p, "<!--")) {
            // Comments are read byte by byte, entities and UTF-8 aside.
            p += 4;
            while (*p != '\0' && !Equal(p, "-->")) ++p;
            return *p != '\0' ? p + 3 : p;
        }
        if (Equal(p, "<![CDATA[")) {
            p += 9;
            while (*p != '\0' && !Equal(p, "]]>")) ++p;
            std::string ignored;
            return Reader::ReadText(p, &ignored, false, "]]>", false, m_encoding);
        }
        if (Equal(p, "<!")) return Unknown(p);
        if (Reader::IsAlpha(static_cast<unsigned char>(p[1]), m_encoding) || p[1] == '_') {
            return Element(p);
        }
        return Unknown(p);
    }

    const char* Unknown(const char* p) const {
        ++p;
        while (*p != '\0' && *p != '>') ++p;
        return *p == '>' ? p + 1 : p;
    }

    const char* Declaration(const char* p, std::string* encoding) {
        p += 5;
        while (p != nullptr && *p != '\0') {
            if (*p == '>') return p + 1;
            p = Skip(p);
            if (*p == '\0') break;
            if (EqualNoCase(p, "version") || EqualNoCase(p, "standalone")) {
                std::string name, value;
                p = Attribute(p, &name, &value);
            } else if (EqualNoCase(p, "encoding")) {
                std::string name;
                p = Attribute(p, &name, encoding);
            } else {
                while (*p != '\0' && *p != '>' && !Reader::IsWhiteSpace(*p)) ++p;
            }
        }
        return nullptr;  // the parser fails a declaration that never closes
    }

    const char* Attribute(const char* p, std::string* name, std::string* value) const {
        p = Skip(p);
        if (*p == '\0') return nullptr;
        p = Reader::ReadName(p, name, m_encoding);
        if (p == nullptr || *p == '\0') return nullptr;
        p = Skip(p);
        if (*p != '=') return nullptr;
        p = Skip(p + 1);
        if (*p == '\0') return nullptr;
        if (*p == '\'' || *p == '"') {
            const char end[2] = {*p, '\0'};
            return Reader::ReadText(p + 1, value, false, end, false, m_encoding);
        }
        // An unquoted value runs to white space or the end of the tag.
        value->clear();
        while (*p != '\0' && !Reader::IsWhiteSpace(*p) && *p != '/' && *p != '>') {
            if (*p == '\'' || *p == '"') return nullptr;
            value->push_back(*p++);
        }
        return p;
    }

    const char* Element(const char* p) {
        const int depth = int(m_open.size()) + 1;
        m_result.depth = std::max(m_result.depth, depth);
        if (depth > kMaxXmlDepth) return Refuse(p, "nesting");
        const char* q = Skip(p + 1);
        const char* nameStart = q;
        std::string name;
        q = Reader::ReadName(q, &name, m_encoding);
        if (q == nullptr || *q == '\0') return nullptr;
        std::set<std::string> seen;
        for (;;) {
            q = Skip(q);
            if (*q == '\0') return nullptr;
            if (*q == '/') return q[1] == '>' ? q + 2 : nullptr;
            if (*q == '>') {
                m_open.push_back(Open{size_t(nameStart - m_base), name.size()});
                return q + 1;
            }
            std::string attribute, value;
            const char* at = q;
            q = Attribute(q, &attribute, &value);
            if (q == nullptr || *q == '\0') return nullptr;
            if (!seen.insert(std::move(attribute)).second) return nullptr;  // the parser refuses
            if (int(seen.size()) > kMaxXmlAttributes) return Refuse(at, "attributes");
        }
    }

    const char* Text(const char* p) const {
        std::string ignored;
        p = Reader::ReadText(p, &ignored, true, "<", false, m_encoding);
        return p != nullptr && *p != '\0' ? p - 1 : nullptr;  // back onto the '<'
    }

    // The end tag of the innermost open element: its name, white space, '>'.
    const char* EndTag(const char* p) {
        const Open& top = m_open.back();
        if (std::strncmp(p + 2, m_base + top.at, top.length) != 0) return nullptr;
        p = Skip(p + 2 + top.length);
        if (*p != '>') return nullptr;
        m_open.pop_back();
        return p + 1;
    }

    std::string m_buffer;
    const char* m_base;
    const char* m_end;
    TiXmlEncoding m_encoding = TIXML_ENCODING_UNKNOWN;
    std::vector<Open> m_open;
    XmlBounds m_result;
};

}  // namespace

std::string NormaliseXmlText(const char* bytes, size_t size) {
    std::string text;
    text.reserve(size);
    for (size_t i = 0; i < size && bytes[i] != '\0'; ++i) {
        if (bytes[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < size && bytes[i + 1] == '\n') ++i;
        } else {
            text.push_back(bytes[i]);
        }
    }
    return text;
}

XmlBounds CheckXmlBounds(const std::string& text) {
    return Walk(text).Run();
}

XmlBounds CheckXmlFileBounds(const char* bytes, size_t size) {
    if (size > kMaxXmlFileBytes) {
        XmlBounds out;
        out.within = false;
        out.bound = "size";
        out.line = 1;
        for (size_t i = 0; i < kMaxXmlFileBytes; ++i) {
            if (bytes[i] == '\n' || (bytes[i] == '\r' && bytes[i + 1] != '\n')) ++out.line;
        }
        return out;
    }
    return CheckXmlBounds(NormaliseXmlText(bytes, size));
}
