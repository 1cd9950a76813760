// `rulehost simulate --html` writes a page a designer opens in a browser: it
// must stand on its own (no network) and its charts must render. The page is
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
    }
    static void TearDownTestSuite() {
        delete s_run;
        delete s_dir;
        s_run = nullptr;
        s_dir = nullptr;
    }

    static tools::ScratchDir* s_dir;
    static std::filesystem::path s_page;
    static tools::ProcessResult* s_run;
    static std::string s_html;
};

tools::ScratchDir* HtmlReport::s_dir = nullptr;
std::filesystem::path HtmlReport::s_page;
tools::ProcessResult* HtmlReport::s_run = nullptr;
std::string HtmlReport::s_html;

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
    EXPECT_EQ(Count(s_html, "<svg "), 4u);
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
    const tools::ProcessResult dom = tools::RunProcess(
        {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--user-data-dir=" + profile.str(), "--dump-dom", "file://" + s_page.string()});
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    // The DOM the browser built from the page, not the file: the SVG
    // elements exist as rendered nodes with their bars inside.
    EXPECT_EQ(Count(dom.out, "<svg "), 4u) << dom.out.substr(0, 2000);
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
}

}  // namespace
