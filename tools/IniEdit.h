// Changes one field of one entry in the bytes of an INI file and nothing
// else: comments, order, line endings and GBK text stay byte for byte.
#pragma once

#include <string>

namespace tools {

// Replaces field `field` (0-based, counted the way the plug-in splits a value:
// empty fields between commas do not count) of the entry on line `line`
// (1-based; CR LF, LF and a lone CR each end a line) with text, keeping the
// blanks around the old field. False with error set, and bytes unchanged,
// when the line holds no such field or text could not be read back as one
// field (empty, or holding a comma, a line break or a NUL byte).
bool ReplaceIniField(std::string& bytes, int line, int field, const std::string& text,
                     std::string& error);

// Text of that field, without the blanks around it; empty when there is none.
std::string IniField(const std::string& bytes, int line, int field);

}  // namespace tools
