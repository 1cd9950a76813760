// The rule systems' shared helpers: the random draw, number and text parsing, splitting.
#include "Utility.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "IKernel.h"

namespace {
// The generator state starts at 1 on every thread and is never seeded, so a
// world that runs its logic on a fresh thread replays the same draws.
thread_local uint32_t t_randomState = 1;
}  // namespace

int RandomDraw() {
    t_randomState = t_randomState * 214013u + 2531011u;
    return int((t_randomState >> 16) & 0x7fff);
}

void ResetRandomState() {
    t_randomState = 1;
}

float RandomFloat(float x) {
    if (!(x > 0.0f)) return 0.0f;
    const float r = float(RandomDraw());
    return (r * 3.0517578125e-05f) * x;
}

std::string IntToString(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return buf;
}

namespace {

// White space as the C locale has it: the conversions below never consult
// the process locale, so a host that switches to a decimal-comma locale
// reads the same numbers.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int StringToInt(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Accumulated as a negative number so that INT_MIN itself fits.
    long long v = 0;
    for (; IsDigit(*p); ++p) {
        if (v > -(1LL << 40)) v = v * 10 - (*p - '0');
    }
    if (!negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return int(v);
}

int StringToInt(const std::string& text) {
    return StringToInt(text.c_str());
}

size_t DecimalNumberLength(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (IsSpace(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    size_t digits = 0;
    for (; IsDigit(*p); ++p) ++digits;
    if (*p == '.') {
        ++p;
        for (; IsDigit(*p); ++p) ++digits;
    }
    if (digits == 0) return 0;
    // An exponent counts only with at least one digit: "1e" reads as 1.
    if (*p == 'e' || *p == 'E') {
        const char* e = p + 1;
        if (*e == '+' || *e == '-') ++e;
        if (IsDigit(*e)) {
            while (IsDigit(*e)) ++e;
            p = e;
        }
    }
    return size_t(p - text);
}

namespace {

// Power of ten of the leading digit of a decimal number text (sign and
// blanks already skipped), for telling overflow from underflow.
long long DecimalMagnitude(const char* p, const char* end) {
    long long magnitude = 0;
    bool seen = false;  // a non-zero digit
    bool fraction = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            fraction = true;
        } else if (!seen && *p == '0') {
            if (fraction) --magnitude;
        } else {
            if (!seen && fraction) --magnitude;
            seen = true;
            if (!fraction) ++magnitude;
        }
    }
    if (!seen) return LLONG_MIN;
    if (p < end) magnitude += StringToInt(p + 1);  // saturated, far beyond any double
    return magnitude;
}

}  // namespace

float StringToFloat(const char* text) {
    const size_t length = DecimalNumberLength(text);
    if (length == 0) return 0.0f;
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const char* end = text + length;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    // from_chars rounds correctly and ignores the locale; it is handed only
    // the decimal text found above, so no hexadecimal, "inf" or "nan" ever
    // reaches it.
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(p, end, v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        v = DecimalMagnitude(p, end) > 0 ? HUGE_VAL : 0.0;
    } else if (r.ec != std::errc()) {
        v = 0.0;
    }
    if (negative) v = -v;
    // Past the float range (from half an ulp above the largest float on)
    // the rounding gives infinity; the conversion itself would be undefined.
    if (std::fabs(v) >= 0x1.ffffffp+127) return negative ? -HUGE_VALF : HUGE_VALF;
    return float(v);
}

void SplitString(IVarList& out, const std::string& text, const std::string& delimiters, int limit) {
    const std::string::size_type none = std::string::npos;
    std::string::size_type start = 0;
    int passes = 0;
    while (start != none) {
        std::string::size_type found = delimiters.empty() || start >= text.size()
                                           ? none
                                           : text.find_first_of(delimiters, start);
        if (found == start) {
            // Only a text that begins with a delimiter gets here.
        } else if (found == none || (limit != 0 && passes == limit)) {
            out.AddString(text.substr(start).c_str());
            return;
        } else {
            out.AddString(text.substr(start, found - start).c_str());
        }
        start = text.find_first_not_of(delimiters, found + 1);
        ++passes;
    }
}

void ReportError(IKernel* kernel, const std::string& message, const char* file, int line) {
    if (kernel == nullptr) return;
    const std::string location = std::string(file) + " (" + IntToString(line) + ")";
    kernel->Echo(message.c_str());
    kernel->Echo(location.c_str());
    kernel->Trace(message.c_str());
    kernel->Trace(location.c_str());
}

int SecondsToMs(int seconds) {
    const long long ms = static_cast<long long>(seconds) * 1000;
    if (ms > INT_MAX) return INT_MAX;
    if (ms < INT_MIN) return INT_MIN;
    return int(ms);
}
