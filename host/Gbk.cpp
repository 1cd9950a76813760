// GBK to UTF-8 conversion for terminal output, through iconv.
#include "Gbk.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace host {

namespace {

// Converts with iconv, replacing each byte iconv cannot take with repl and
// going on after it. Handles its own descriptor; nothing is shared between
// threads.
std::string Convert(const char* to, const char* from, const std::string& in,
                    const std::string& repl, bool skipContinuation) {
    std::string out;
    if (in.empty()) return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter: show ASCII as is and everything else as repl.
        for (unsigned char c : in) out += c < 0x80 ? std::string(1, char(c)) : repl;
        return out;
    }
    std::vector<char> buf(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = buf.size();
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), buf.size() - dstLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated at the end): skip one byte.
            out += repl;
            ++src;
            --srcLeft;
            // In UTF-8 input skip the rest of the character, so one
            // unmappable character gives one replacement.
            if (skipContinuation)
                while (srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80) {
                    ++src;
                    --srcLeft;
                }
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf.data(), buf.size() - dstLeft);
    iconv_close(cd);
    return out;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

std::string GbkToUtf8(const std::string& gbk) {
    if (IsAscii(gbk)) return gbk;
    return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD", false);
}

std::string Utf8ToGbk(const std::string& utf8) {
    if (IsAscii(utf8)) return utf8;
    return Convert("GBK", "UTF-8", utf8, "?", true);
}

}  // namespace host
