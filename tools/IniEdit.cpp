// Byte-exact field edits of INI entry lines.
#include "IniEdit.h"

namespace tools {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// [begin, end) of the field's text inside bytes; false when there is none.
bool FindField(const std::string& bytes, int line, int field, size_t& begin, size_t& end) {
    if (line < 1 || field < 0) return false;
    size_t pos = 0;
    for (int n = 1; n < line; ++n) {
        while (pos < bytes.size() && bytes[pos] != '\r' && bytes[pos] != '\n') ++pos;
        if (pos >= bytes.size()) return false;
        if (bytes[pos] == '\r' && pos + 1 < bytes.size() && bytes[pos + 1] == '\n') ++pos;
        ++pos;
    }
    size_t lineEnd = pos;
    while (lineEnd < bytes.size() && bytes[lineEnd] != '\r' && bytes[lineEnd] != '\n' &&
           bytes[lineEnd] != '\0') {
        ++lineEnd;
    }
    size_t eq = pos;
    while (eq < lineEnd && bytes[eq] != '=') ++eq;
    if (eq >= lineEnd) return false;
    size_t valueEnd = lineEnd;
    while (valueEnd > eq + 1 && IsBlank(bytes[valueEnd - 1])) --valueEnd;
    int seen = 0;
    size_t start = eq + 1;
    while (start <= valueEnd) {
        size_t stop = start;
        while (stop < valueEnd && bytes[stop] != ',') ++stop;
        if (stop > start) {
            if (seen == field) {
                begin = start;
                end = stop;
                while (begin < end && IsBlank(bytes[begin])) ++begin;
                while (end > begin && IsBlank(bytes[end - 1])) --end;
                return end > begin;
            }
            ++seen;
        }
        start = stop + 1;
    }
    return false;
}

}  // namespace

bool ReplaceIniField(std::string& bytes, int line, int field, const std::string& text,
                     std::string& error) {
    if (text.empty() || IsBlank(text.front()) || IsBlank(text.back())) {
        error = "a field cannot be empty or start or end with a blank";
        return false;
    }
    if (text.find_first_of(std::string(",\r\n\0", 4)) != std::string::npos) {
        error = "a field cannot hold a comma, a line break or a NUL byte";
        return false;
    }
    size_t begin = 0;
    size_t end = 0;
    if (!FindField(bytes, line, field, begin, end)) {
        error = "line " + std::to_string(line) + " has no field " + std::to_string(field + 1);
        return false;
    }
    bytes.replace(begin, end - begin, text);
    return true;
}

std::string IniField(const std::string& bytes, int line, int field) {
    size_t begin = 0;
    size_t end = 0;
    if (!FindField(bytes, line, field, begin, end)) return "";
    return bytes.substr(begin, end - begin);
}

}  // namespace tools
