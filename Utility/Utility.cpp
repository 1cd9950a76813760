#include "Utility.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

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

void ResetRandomState() { t_randomState = 1; }

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

int StringToInt(const char* text) {
    if (text == nullptr) return 0;
    errno = 0;
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return int(v);
}

int StringToInt(const std::string& text) { return StringToInt(text.c_str()); }

float StringToFloat(const char* text) {
    if (text == nullptr) return 0.0f;
    return float(std::strtod(text, nullptr));
}

void SplitString(IVarList& out, const std::string& text, const std::string& delimiters,
                 int limit) {
    const std::string::size_type none = std::string::npos;
    std::string::size_type start = 0;
    int passes = 0;
    while (start != none) {
        std::string::size_type found =
            delimiters.empty() || start >= text.size() ? none : text.find_first_of(delimiters, start);
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
