// Small free functions the three rule systems share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class IKernel;
class IVarList;

// A float in [0, x) from the library's own per-thread generator; 0 without a
// draw when x <= 0. Every thread starts from the same state, so a world that
// runs on a fresh thread replays draw for draw.
float RandomFloat(float x);
// The raw 15-bit draw behind RandomFloat (0 .. 32767); advances the generator.
int RandomDraw();
// Puts this thread's generator back to its starting state (tools, tests).
void ResetRandomState();

// "%d" text of value.
std::string IntToString(int value);
// strtol base 10 in the C locale, saturated to 32 bits; no digits gives 0.
// The process locale is never consulted.
int StringToInt(const char* text);
int StringToInt(const std::string& text);
// atof in the C locale whatever the process locale: blanks, optional sign,
// digits with an optional '.', optional exponent; parsed to the nearest
// double, then rounded to single precision. No hexadecimal, "inf" or "nan":
// those read as their leading decimal part, and no number gives 0.
float StringToFloat(const char* text);
// Length of the leading decimal number of text as StringToFloat reads it,
// leading blanks and sign included; 0 when there is none.
size_t DecimalNumberLength(const char* text);
// Appends the tokens of text, cut at any byte of delimiters, to out as
// strings. Runs of delimiters are one separator; limit 0 means no limit,
// limit n gives at most n + 1 tokens.
void SplitString(IVarList& out, const std::string& text, const std::string& delimiters, int limit);

// Error report: message, then "file (line)"; both to Echo, then both to Trace.
void ReportError(IKernel* kernel, const std::string& message, const char* file, int line);
#define REPORT_ERROR(kernel, message) ReportError((kernel), (message), __FILE__, __LINE__)

// Heartbeat interval in milliseconds for a period in seconds, saturated at
// INT32_MAX so huge periods never wrap to a negative or tiny interval.
int SecondsToMs(int seconds);
// A period property below 1 means 60 seconds.
inline int PeriodOrDefault(int seconds) {
    return seconds < 1 ? 60 : seconds;
}
