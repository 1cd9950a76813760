// Shared parts of the resource checks: file access, findings and their text, number explanations.
#include "CheckReporting.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TextCodec.h"
#include "Utility.h"

namespace tools {
namespace check {

std::string OnDisk(const std::string& dir, const char* name) {
    std::string path = WithSlash(dir) + name;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool ReadBytes(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

std::string Percent(double p) {
    if (p > 0.0 && p < 0.001) return fmt::format("{:.3f}%", p * 100.0);
    return fmt::format("{:.1f}%", p * 100.0);
}

std::string Quote(const std::string& bytes) {
    return "'" + ToUtf8(bytes) + "'";
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

std::string FoldCase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return s;
}

NumberCheck CheckWhole(const std::string& text) {
    NumberCheck c;
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 10);
    if (end == s) {
        c.clean = false;
        c.reason = "is not a number: the plug-in reads it as 0";
        return c;
    }
    const char* rest = end;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (*rest != '\0') {
        c.clean = false;
        c.rule = "not-a-whole-number";
        c.reason = fmt::format("is not a whole number: the plug-in reads it as {}", StringToInt(s));
        return c;
    }
    if (errno == ERANGE || v > INT_MAX || v < INT_MIN) {
        c.clean = false;
        c.rule = "number-out-of-range";
        c.reason = fmt::format("is out of range: the plug-in reads it as {}", StringToInt(s));
    }
    return c;
}

NumberCheck CheckReal(const std::string& text) {
    NumberCheck c;
    const char* s = text.c_str();
    // The plug-in's own reading: decimal only, so hexadecimal, "inf" and
    // "nan" end the number where their decimal part ends.
    const char* end = s + DecimalNumberLength(s);
    const float v = StringToFloat(s);
    if (end == s) {
        c.clean = false;
        c.reason = "is not a number: the plug-in reads it as 0";
        return c;
    }
    const char* rest = end;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (*rest != '\0') {
        c.clean = false;
        c.reason =
            "is not a number: the plug-in reads it as " + ShortestFloatText(StringToFloat(s));
        return c;
    }
    if (!std::isfinite(v)) {
        c.clean = false;
        c.rule = "number-out-of-range";
        c.reason = "is not a finite number";
    }
    return c;
}

EncodingProblem FindEncodingProblem(const std::string& bytes) {
    EncodingProblem p;
    auto starts = [&bytes](const char* mark, size_t n) {
        return bytes.compare(0, n, mark, n) == 0;
    };
    const char* withMark = " with a byte-order mark";
    if (starts("\xFF\xFE\x00\x00", 4)) {
        p = {"utf32-file", std::string("UTF-32 little endian") + withMark, true};
    } else if (starts("\x00\x00\xFE\xFF", 4)) {
        p = {"utf32-file", std::string("UTF-32 big endian") + withMark, true};
    } else if (starts("\xFF\xFE", 2)) {
        p = {"utf16-file", std::string("UTF-16 little endian") + withMark, true};
    } else if (starts("\xFE\xFF", 2)) {
        p = {"utf16-file", std::string("UTF-16 big endian") + withMark, true};
    }
    if (p.unreadable || bytes.find('\0') == std::string::npos) return p;
    // Without a mark: where the NUL bytes fall in the first few kilobytes.
    // Mostly-ASCII text in UTF-16 has every other byte NUL, in UTF-32 three
    // of every four.
    const size_t n = std::min<size_t>(bytes.size(), 4096) / 4 * 4;
    size_t nul[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < n; ++i) nul[i % 4] += bytes[i] == '\0' ? 1 : 0;
    const size_t quads = n / 4;
    auto many = [quads](size_t k) { return quads > 0 && k * 10 >= quads * 6; };
    auto few = [quads](size_t k) { return k * 10 <= quads; };
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; })) {
        p = {"nul-bytes", "nothing but NUL bytes", true};
    } else if (few(nul[0]) && many(nul[1]) && many(nul[2]) && many(nul[3])) {
        p = {"utf32-file", "UTF-32 little endian", true};
    } else if (many(nul[0]) && many(nul[1]) && many(nul[2]) && few(nul[3])) {
        p = {"utf32-file", "UTF-32 big endian", true};
    } else if (few(nul[0]) && few(nul[2]) && many(nul[1]) && many(nul[3])) {
        p = {"utf16-file", "UTF-16 little endian", true};
    } else if (many(nul[0]) && many(nul[2]) && few(nul[1]) && few(nul[3])) {
        p = {"utf16-file", "UTF-16 big endian", true};
    } else {
        p.rule = "nul-bytes";
        p.what = "NUL bytes";
        int line = 1;
        int lastCounted = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n' ||
                (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n'))) {
                ++line;
            } else if (bytes[i] == '\0' && lastCounted != line) {
                if (p.firstLine == 0) p.firstLine = line;
                lastCounted = line;
                ++p.lines;
            }
        }
    }
    return p;
}

bool ReportEncoding(const std::string& file, const std::string& bytes, const char* effect,
                    const char* nulEffect, Reporter& r) {
    const EncodingProblem p = FindEncodingProblem(bytes);
    if (p.rule.empty()) return false;
    if (p.unreadable && p.rule == "nul-bytes") {
        r.Add(file, 0, Severity::kError, p.rule,
              fmt::format("the file holds nothing but NUL bytes: the plug-in finds no text in it, "
                          "so {}",
                          effect));
    } else if (p.unreadable) {
        r.Add(file, 0, Severity::kError, p.rule,
              fmt::format("the file is {}: the plug-in reads GBK and finds no text in it, so {}; "
                          "save it as GBK",
                          p.what, effect));
    } else {
        r.Add(file, p.firstLine, Severity::kError, p.rule,
              fmt::format("NUL byte in this line: {}{}", nulEffect,
                          p.lines > 1 ? fmt::format(" ({} lines hold NUL bytes)", p.lines) : ""));
    }
    return p.unreadable;
}

}  // namespace check

const char* SeverityName(Severity severity) {
    switch (severity) {
        case Severity::kNote:
            return "note";
        case Severity::kWarning:
            return "warning";
        case Severity::kError:
            return "error";
    }
    return "error";
}

std::string FormatDiagnostic(const Diagnostic& d, const std::string& dir) {
    const std::string file = dir.empty() ? d.file : WithSlash(dir) + d.file;
    const std::string rule = d.rule.empty() ? std::string() : " [" + d.rule + "]";
    if (d.line > 0) {
        return fmt::format("{}:{}: {}: {}{}", file, d.line, SeverityName(d.severity), d.message,
                           rule);
    }
    return fmt::format("{}: {}: {}{}", file, SeverityName(d.severity), d.message, rule);
}

std::string DisplayName(const char* resourceName) {
    std::string s = resourceName;
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

std::string WithSlash(const std::string& dir) {
    if (dir.empty()) return "./";
    if (dir.back() == '/') return dir;
    return dir + "/";
}

int CheckResult::Count(Severity severity) const {
    return int(std::count_if(diagnostics.begin(), diagnostics.end(),
                             [severity](const Diagnostic& d) { return d.severity == severity; }));
}

}  // namespace tools
