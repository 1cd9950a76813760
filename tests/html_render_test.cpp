// `rulehost simulate --html` writes a page a designer opens in a browser: it
// must stand on its own (no network), its charts must render on a fixed
// 0-100% axis, and it must say what was run and what is wrong. The page is
// opened in headless Chromium when the machine has it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "ToolTestSupport.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += what.size()) ++n;
    return n;
}

class HtmlReport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new tools::ScratchDir();
        s_page = s_dir->path() / "creator2.html";
        s_run = new tools::ProcessResult(
            tools::RunProcess({TEST_RULEHOST_PATH, "simulate", "--plugin", TEST_PLUGIN_PATH,
                               "--resources", TEST_RESOURCES_DIR, "--creator", "2", "--selects",
                               "5000", "--html", s_page.string()}));
        s_html = tools::ReadWholeFile(s_page);
        // Creator 9: a model past a running sum of 1, and NPC weights summing
        // to 0.25, so three selects in four send nothing.
        s_bad = new tools::ScratchDir(TEST_RESOURCES_DIR);
        s_bad->Write("Npc/ModelProb.ini",
                     "[9]\nm1=901,0.7,Common,91\nm2=902,0.5,Cut,92\n"
                     "m3=903,0.2,Unreachable,92\n");
        s_bad->Write("Npc/CreatorProb.ini", "[91]\nn1=9101,0.25,0\n[92]\nn1=9201,1,0\n");
        s_badPage = s_dir->path() / "creator9.html";
        s_badRun = new tools::ProcessResult(tools::RunProcess(
            {TEST_RULEHOST_PATH, "simulate", "--plugin", TEST_PLUGIN_PATH, "--resources",
             s_bad->str(), "--creator", "9", "--selects", "4000", "--html", s_badPage.string()}));
    }
    static void TearDownTestSuite() {
        delete s_run;
        delete s_badRun;
        delete s_bad;
        delete s_dir;
        s_run = nullptr;
        s_dir = nullptr;
    }

    static tools::ScratchDir* s_dir;
    static std::filesystem::path s_page;
    static tools::ProcessResult* s_run;
    static std::string s_html;
    static tools::ScratchDir* s_bad;
    static std::filesystem::path s_badPage;
    static tools::ProcessResult* s_badRun;
};

tools::ScratchDir* HtmlReport::s_dir = nullptr;
std::filesystem::path HtmlReport::s_page;
tools::ProcessResult* HtmlReport::s_run = nullptr;
std::string HtmlReport::s_html;
tools::ScratchDir* HtmlReport::s_bad = nullptr;
std::filesystem::path HtmlReport::s_badPage;
tools::ProcessResult* HtmlReport::s_badRun = nullptr;

// CI installs chromium (scripts/deps.sh): there a missing browser is a
// failure, not a skip.
bool NoBrowser() {
    if (tools::ProgramOnPath("chromium")) return false;
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") ADD_FAILURE() << "chromium is not installed";
    return true;
}

// The DOM headless Chromium built from a page.
tools::ProcessResult DumpDom(const std::filesystem::path& page) {
    tools::ScratchDir profile;
    return tools::RunProcess({"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                              "--no-first-run", "--user-data-dir=" + profile.str(), "--dump-dom",
                              "file://" + page.string()});
}

std::string Match(const std::string& text, const std::string& pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

TEST_F(HtmlReport, IsWrittenAndAnnounced) {
    EXPECT_EQ(s_run->exitCode, 0) << s_run->err;
    EXPECT_NE(s_run->out.find("HTML report written to " + s_page.string()), std::string::npos);
    EXPECT_EQ(s_html.compare(0, 15, "<!DOCTYPE html>"), 0);
    EXPECT_NE(s_html.find("</html>"), std::string::npos);
}

TEST_F(HtmlReport, NeedsNothingFromTheNetwork) {
    // The only URL is the SVG namespace, which is a name, not a fetch.
    const std::string withoutNamespace =
        std::regex_replace(s_html, std::regex(R"(xmlns="http://www\.w3\.org/2000/svg")"), "");
    EXPECT_EQ(withoutNamespace.find("http://"), std::string::npos);
    EXPECT_EQ(withoutNamespace.find("https://"), std::string::npos);
    EXPECT_EQ(s_html.find("<script"), std::string::npos);
    EXPECT_EQ(s_html.find("<link"), std::string::npos);
    EXPECT_EQ(s_html.find("<img"), std::string::npos);
}

TEST_F(HtmlReport, HasAChartPerFigure) {
    // Models, encounter sizes, NPC configs and the formation grid.
    // (drawn and fixed NPCs apart).
    EXPECT_EQ(Count(s_html, "<svg "), 5u);
    // Creator 2 has three models: an expected and an observed bar each.
    EXPECT_GE(Count(s_html, "class=\"bar\""), 6u);
    EXPECT_EQ(Count(s_html, "class=\"slot\""), 9u);
    EXPECT_NE(s_html.find("1203 Bandit chief"), std::string::npos);
}

TEST_F(HtmlReport, ChartsRenderInHeadlessChromium) {
    if (!tools::ProgramOnPath("chromium")) {
        // CI installs it (scripts/deps.sh): there a missing browser is a failure, not a skip.
        const char* ci = std::getenv("CI");
        ASSERT_FALSE(ci != nullptr && std::string(ci) == "true") << "chromium is not installed";
        GTEST_SKIP() << "chromium is not installed; the page was checked as text only";
    }
    tools::ScratchDir profile;
    const tools::ProcessResult dom = DumpDom(s_page);
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    // The DOM the browser built from the page, not the file: the SVG
    // elements exist as rendered nodes with their bars inside.
    EXPECT_EQ(Count(dom.out, "<svg "), 5u) << dom.out.substr(0, 2000);
    EXPECT_GE(Count(dom.out, "<rect class=\"bar\""), 6u);
    EXPECT_EQ(Count(dom.out, "<rect class=\"slot\""), 9u);

    const std::filesystem::path shot = s_dir->path() / "creator2.png";
    const tools::ProcessResult png = tools::RunProcess(
        {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--user-data-dir=" + profile.str(), "--window-size=1000,1800",
         "--screenshot=" + shot.string(), "file://" + s_page.string()});
    ASSERT_EQ(png.exitCode, 0) << png.err;
    const std::string image = tools::ReadWholeFile(shot);
    ASSERT_GT(image.size(), 8u);
    EXPECT_EQ(image.compare(1, 3, "PNG"), 0);

    // Laid out by the browser, every bar is its share of the axis width (a
    // 50% bar half of it), whatever the largest bar of its chart, and the 50%
    // gridline halves the axis. The measuring script runs on a copy.
    std::string measured = s_html;
    measured.insert(measured.rfind("</body>"), R"(<script>
const gaps = [];
for (const svg of document.querySelectorAll('svg.chart')) {
  const axis = svg.querySelector('rect.axis');
  if (!axis) continue;
  const a = axis.getBoundingClientRect();
  for (const bar of svg.querySelectorAll('rect.bar'))
    gaps.push(bar.getBoundingClientRect().width / a.width - parseFloat(bar.dataset.share));
  const mid = svg.querySelector('line.grid[data-tick="50"]').getBoundingClientRect();
  gaps.push((mid.left - a.left) / a.width - 0.5);
}
const pre = document.createElement('pre');
pre.id = 'gaps';
pre.textContent = gaps.length + ' ' + Math.max(...gaps.map(Math.abs));
document.body.appendChild(pre);
</script>)");
    const std::filesystem::path measurePage = s_dir->path() / "measure.html";
    tools::WriteWholeFile(measurePage, measured);
    const std::string gaps = Match(DumpDom(measurePage).out, R"(<pre id="gaps">([^<]*)</pre>)");
    ASSERT_FALSE(gaps.empty());
    // Three models (two bars each), sizes, NPCs: well over a dozen bars, five axes.
    EXPECT_GE(std::stoi(gaps), 12) << gaps;
    EXPECT_LT(std::stod(gaps.substr(gaps.find(' ') + 1)), 0.005) << gaps;
}

TEST_F(HtmlReport, SaysWhatWasRunAndMarksProblems) {
    EXPECT_EQ(s_badRun->exitCode, 1) << s_badRun->err;
    if (NoBrowser()) GTEST_SKIP() << "chromium is not installed";
    const std::string good = DumpDom(s_page).out;
    const std::string bad = DumpDom(s_badPage).out;
    EXPECT_NE(Match(good, R"(<code id="command">([^<]*--creator 2[^<]*)</code>)"), "");
    EXPECT_NE(Match(good, R"(<td id="date">(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC)</td>)"), "");
    const std::string print = Match(good, R"(<code id="fingerprint">([0-9a-f]{12}) )");
    EXPECT_NE(print, "");
    EXPECT_NE(Match(bad, R"(<code id="fingerprint">([0-9a-f]{12}) )"), print);
    EXPECT_NE(good.find("verdict good"), std::string::npos);
    EXPECT_NE(good.find(">front row<"), std::string::npos);
    // Each problem beside its chart: the unreachable model, the empty selects.
    EXPECT_NE(bad.find("verdict bad"), std::string::npos);
    EXPECT_NE(Match(bad, R"re(<li class="problem">([^<]*903 \(Unreachable\) is never drawn))re"),
              "");
    EXPECT_NE(
        Match(bad,
              R"re(<li class="problem">(nothing sent: [0-9.]+% of the selects send nothing))re"),
        "");
    EXPECT_GE(Count(bad, "class=\"label marked\""), 2u);
}

}  // namespace
