// GBK (code page 936) text to UTF-8 for terminal output. Narrow texts of the
// game are GBK bytes; the terminal wants UTF-8. Invalid or truncated
// sequences become U+FFFD; ASCII passes through unchanged.
#pragma once

#include <string>

namespace host {

std::string GbkToUtf8(const std::string& gbk);
// UTF-8 to GBK (scenario texts compared with GBK bytes); characters GBK
// cannot hold become '?'.
std::string Utf8ToGbk(const std::string& utf8);

}  // namespace host
