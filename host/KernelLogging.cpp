// Kernel logging: Trace/Echo/host lines to the event log, the terminal and
// the log file, and notes.

#include <cinttypes>
#include <cstdarg>

#include "Gbk.h"
#include "Kernel.h"
#include "KernelInternal.h"

namespace host {

using namespace kernel_detail;

std::string kernel_detail::Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// ---- logging ---------------------------------------------------------------------

void Kernel::WriteLine(const char* channel, const char* line, EventKind kind) {
    const std::string_view raw = line == nullptr ? std::string_view() : std::string_view(line);
    EventFields e;
    e.timeMs = m_now;
    e.kind = kind;
    e.text = raw;
    m_log.Add(e);
    if (m_logFile != nullptr) {
        // "[12.345s] [trace] line": the virtual time, then the channel once
        // (host lines already carry their "[host] " for the terminal).
        const std::string head = std::string("[") + channel + "] ";
        const size_t skip = raw.compare(0, head.size(), head) == 0 ? head.size() : 0;
        std::fprintf(m_logFile, "[%" PRId64 ".%03ds] %s", int64_t(m_now / 1000),
                     int(m_now % 1000), head.c_str());
        std::fwrite(raw.data() + skip, 1, raw.size() - skip, m_logFile);
        std::fputc('\n', m_logFile);
        std::fflush(m_logFile);
    }
    const bool show =
        kind == EventKind::Trace ? m_options.traceToTerminal : m_options.echoToTerminal;
    if (show) {
        std::FILE* out = m_options.terminal != nullptr ? m_options.terminal : stdout;
        const std::string utf8 = GbkToUtf8(std::string(raw));
        std::fprintf(out, "%s\n", utf8.c_str());
        std::fflush(out);
    }
}

void Kernel::Trace(const char* line) {
    WriteLine("trace", line, EventKind::Trace);
}
void Kernel::Echo(const char* line) {
    WriteLine("echo", line, EventKind::Echo);
}

void Kernel::HostLog(const std::string& line) {
    WriteLine("host", ("[host] " + line).c_str(), EventKind::Host);
}

void Kernel::Note(std::string_view what, std::string_view detail, const ObjectId& obj,
                  const IVarList* args) {
    EventFields e;
    e.timeMs = m_now;
    e.kind = EventKind::Note;
    e.name = what;
    e.text = detail;
    e.sender = obj;
    e.args = args;
    m_log.Add(e);
}

}  // namespace host
