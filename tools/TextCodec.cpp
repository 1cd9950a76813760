// GBK and UTF-8 text helpers for the designer tools.
#include "TextCodec.h"

#include <fmt/format.h>
#include <iconv.h>

#include <cstdint>
#include <cstdlib>

namespace tools {

bool IsValidUtf8(const std::string& bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        size_t len = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            return false;
        }
        i += len;
    }
    return true;
}

bool HasNonAscii(const std::string& bytes) {
    for (unsigned char c : bytes) {
        if (c >= 0x80) return true;
    }
    return false;
}

namespace {

std::string Escaped(unsigned char c) {
    return fmt::format("\\x{:02X}", unsigned(c));
}

// One GBK character (lead 0x81..0xFE, trail 0x40..0xFE but 0x7F) as UTF-8;
// empty when GBK has no such character.
std::string GbkPair(iconv_t cd, const char* pair) {
    char in[2] = {pair[0], pair[1]};
    char out[8];
    char* src = in;
    size_t srcLeft = 2;
    char* dst = out;
    size_t dstLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == size_t(-1) || srcLeft != 0) return "";
    return std::string(out, sizeof out - dstLeft);
}

}  // namespace

std::string ToUtf8(const std::string& bytes) {
    bool plain = true;
    for (unsigned char c : bytes) plain = plain && c >= 0x20 && c < 0x7F;
    if (plain) return bytes;
    iconv_t cd = iconv_open("UTF-8", "GBK");
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += (c < 0x20 && c != '\t') || c == 0x7F ? Escaped(c) : std::string(1, char(c));
            continue;
        }
        if (cd != reinterpret_cast<iconv_t>(-1) && c >= 0x81 && c <= 0xFE && i + 1 < bytes.size()) {
            const unsigned char t = static_cast<unsigned char>(bytes[i + 1]);
            if (t >= 0x40 && t <= 0xFE && t != 0x7F) {
                const std::string ch = GbkPair(cd, bytes.data() + i);
                if (!ch.empty()) {
                    out += ch;
                    ++i;
                    continue;
                }
            }
        }
        out += Escaped(c);
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return out;
}

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string ShortestFloatText(float v) {
    for (int digits = 1; digits <= 9; ++digits) {
        std::string s = fmt::format("{:.{}g}", v, digits);
        if (std::strtof(s.c_str(), nullptr) == v) return s;
    }
    return fmt::format("{}", v);
}

}  // namespace tools
