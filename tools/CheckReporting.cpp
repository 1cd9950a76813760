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
    char* end = nullptr;
    const double v = std::strtod(s, &end);
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
    if (!std::isfinite(v) || !std::isfinite(float(v))) {
        c.clean = false;
        c.rule = "number-out-of-range";
        c.reason = "is not a finite number";
    }
    return c;
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
