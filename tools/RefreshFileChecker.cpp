// The check of the area boss configuration, "Npc\NpcCreatorRefresh.ini".
#include <fmt/format.h>

#include "IniScan.h"
#include "ResourceCheckers.h"

namespace tools {
namespace check {

namespace {
constexpr int kLongestPeriodSeconds = 2147483;  // INT32_MAX / 1000
}  // namespace


void CheckRefreshFile(const std::string& dir, Reporter& r) {
    IniScan scan = ScanIni(dir, kRefreshFile, &r,
                           "CheckFrequency is not read and the area boss system checks activity "
                           "states every 60 seconds",
                           false);
    if (!scan.found) {
        r.Add(scan.display, 0, Severity::kWarning, "missing-file",
              "file not found: the area boss system checks activity states every 10 seconds");
        return;
    }
    if (scan.unreadable) return;
    const IniSection* section = scan.ini->FindSection("AreaBoss");
    const IniItem* item = section ? scan.ini->FindItem(*section, "CheckFrequency") : nullptr;
    if (section == nullptr) {
        std::string hint;
        for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
            const std::string name = scan.ini->GetSectionName(s);
            if (FoldCase(TrimBlanks(name)) == "areaboss") {
                hint = fmt::format(
                    " (section [{}] at line {} does not count: spaces inside the "
                    "brackets are part of the name)",
                    name, scan.ini->GetSectionLine(s));
            }
        }
        r.Add(scan.display, 0, Severity::kWarning, "check-frequency-missing",
              "no [AreaBoss] section" + hint +
                  ": CheckFrequency is missing and the area boss system checks activity states "
                  "every 60 seconds");
        return;
    }
    size_t sectionIndex = 0;
    for (size_t s = 0; s < scan.ini->GetSectionCount(); ++s) {
        if (scan.ini->FindSection(scan.ini->GetSectionName(s)) == section) sectionIndex = s;
    }
    if (item == nullptr) {
        r.Add(scan.display, int(scan.ini->GetSectionLine(sectionIndex)), Severity::kWarning,
              "check-frequency-missing",
              "CheckFrequency is missing: the area boss system checks activity states every 60 "
              "seconds");
        return;
    }
    int line = 0;
    for (size_t e = 0; e < section->items.size(); ++e) {
        if (&section->items[e] == item) line = int(scan.ini->GetItemLine(sectionIndex, e));
    }
    const NumberCheck c = CheckWhole(item->value);
    const int value = scan.ini->ReadInteger("AreaBoss", "CheckFrequency", 60);
    const char* effect =
        "no area boss gets its activity check, so activity states never open or hide a boss";
    if (!c.clean && value <= 0) {
        r.Add(scan.display, line, Severity::kError, "check-frequency-invalid",
              fmt::format("CheckFrequency {} {}; {}", Quote(item->value), c.reason, effect));
    } else if (!c.clean) {
        r.Add(scan.display, line, Severity::kError, "check-frequency-invalid",
              fmt::format("CheckFrequency {} {}", Quote(item->value), c.reason));
    } else if (value <= 0) {
        r.Add(scan.display, line, Severity::kError, "check-frequency-invalid",
              fmt::format("CheckFrequency {} is not above 0: {}", value, effect));
    } else if (value > kLongestPeriodSeconds) {
        // Periods are seconds times 1000 in a 32-bit interval; the plug-in
        // stops at the largest one instead of wrapping.
        r.Add(scan.display, line, Severity::kWarning, "period-overflow",
              fmt::format("CheckFrequency {} seconds overflows when multiplied by 1000: the area "
                          "boss system checks activity states every {} seconds (about 24.8 days) "
                          "instead",
                          value, kLongestPeriodSeconds));
    }
}

}  // namespace check
}  // namespace tools
