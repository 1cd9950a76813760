// `rulehost check`: runs the check of every resource file and orders the findings.
#include "DataChecker.h"

#include <algorithm>

#include "ResourceCheckers.h"

namespace tools {

namespace {

using namespace check;

int FileRank(const std::string& file) {
    static const char* const order[] = {kModelFile, kNpcFile, kRefreshFile, kClassFile,
                                        kRulesScript};
    for (int i = 0; i < 5; ++i) {
        if (DisplayName(order[i]) == file) return i;
    }
    return 5;
}

}  // namespace

CandidateTables LoadCandidateTables(const std::string& dir) {
    return ReadTables(dir, nullptr);
}

CheckResult CheckResources(const std::string& dir) {
    Reporter r;
    const CandidateTables tables = ReadTables(dir, &r);
    CheckModelWeights(tables, r);
    CheckNpcWeights(tables, r);
    CheckCrossReferences(tables, r);
    CheckRefreshFile(dir, r);
    CheckClassFile(dir, tables, r);
    CheckRulesScript(dir, r);
    CheckResult result;
    result.diagnostics = r.Take();
    std::stable_sort(result.diagnostics.begin(), result.diagnostics.end(),
                     [](const Diagnostic& a, const Diagnostic& b) {
                         const int fa = FileRank(a.file);
                         const int fb = FileRank(b.file);
                         if (fa != fb) return fa < fb;
                         return a.line < b.line;
                     });
    return result;
}

}  // namespace tools
