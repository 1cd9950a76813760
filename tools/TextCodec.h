// Text helpers for the designer tools: the game data and the plug-in's log
// lines are GBK bytes, terminals and web pages want UTF-8.
#pragma once

#include <string>

namespace tools {

// True when bytes form well-formed UTF-8 (plain ASCII included).
bool IsValidUtf8(const std::string& bytes);
// UTF-8 for display of the game's narrow text, which is GBK: always read as
// GBK, never guessed, so text saved in another encoding shows as players
// would see it. Bytes that are no GBK character (and control bytes) are
// shown escaped as \xNN.
std::string ToUtf8(const std::string& bytes);
// True when bytes hold a byte of 0x80 or above.
bool HasNonAscii(const std::string& bytes);
// The shortest decimal text that reads back as exactly v ("0.3", not
// "0.30000001"), so weights show as the designer wrote them.
std::string ShortestFloatText(float v);
// Escapes text for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace tools
