// Encounter size per team size, as a folder's rules script answers it, in
// the words a patch note uses.
#include "EncounterSizes.h"

#include <fmt/format.h>

#include "NpcCountProbe.h"

namespace tools {

EncounterSizes EncounterSizesOf(const std::string& dir) {
    EncounterSizes out;
    for (const NpcCountAnswer& a : ProbeNpcCounts(dir)) {
        if (!a.ok) {
            // The plug-in then falls back to the team count.
            out.push_back(fmt::format("{} (no answer: the team count)", a.teamSize));
        } else if (a.isInteger) {
            out.push_back(std::to_string(a.value));
        } else if (!a.text.empty() && (a.text[0] == '-' || (a.text[0] >= '0' && a.text[0] <= '9'))) {
            out.push_back(a.text + " (not a whole number: read as 0)");
        } else {
            out.push_back("not a number (read as 0)");
        }
    }
    return out;
}

}  // namespace tools
