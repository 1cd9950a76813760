// Bounds a class-definition file must keep before the XML parser sees it:
// its size, the nesting of its elements and the attributes of one element.
#pragma once

#include <cstddef>
#include <string>

// A class file needs four levels and a few kilobytes; these are far above
// that. The parser recurses once per level (and its cost grows with the
// square of the depth), and it looks up every attribute among the ones of the
// same element read so far, so neither may be left to the file.
constexpr size_t kMaxXmlFileBytes = size_t(1) << 20;
constexpr int kMaxXmlDepth = 64;
constexpr int kMaxXmlAttributes = 256;

struct XmlBounds {
    bool within = true;
    // 1-based line where a bound is passed; 0 while within.
    int line = 0;
    // Which bound: "size", "nesting" or "attributes"; empty while within.
    const char* bound = "";
    // Deepest element nesting the parser reaches (up to the refusal).
    int depth = 0;
};

// The text the class loader hands to the parser: CR LF and a lone CR become
// LF, and the text ends at the first NUL byte, as the parser's own file
// loader reads a file.
std::string NormaliseXmlText(const char* bytes, size_t size);

// Walks normalised text the way the parser will (the same encoding switch,
// character steps, entities and error stops) and tells whether it stays
// within the nesting and attribute bounds. Linear in the size of the text.
XmlBounds CheckXmlBounds(const std::string& text);

// A file's bytes as read from disk: the size bound first, then the others on
// the normalised text.
XmlBounds CheckXmlFileBounds(const char* bytes, size_t size);
