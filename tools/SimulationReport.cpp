// The three renderings of a simulation: a terminal table, JSON for scripts,
// and a self-contained HTML page with inline SVG bar charts.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "Simulator.h"
#include "TextCodec.h"

namespace tools {

namespace {

double Share(int64_t part, int64_t whole) {
    return whole > 0 ? double(part) / double(whole) : 0.0;
}

std::string Pct(double share) {
    return fmt::format("{:.2f}%", share * 100.0);
}

std::string Rate(const SimulationResult& r) {
    if (r.seconds <= 0.0) return "";
    std::string s = fmt::format("{:.0f} selects/s", double(r.options.selects) / r.seconds);
    if (r.cpuSeconds > 0.0) {
        s += fmt::format(", {:.0f} per CPU second", double(r.options.selects) / r.cpuSeconds);
    }
    return s;
}

std::string ModelLabel(const ModelStat& m) {
    return fmt::format("{} {}", m.row.model, ToUtf8(m.row.description));
}

// Pads UTF-8 text to a width in characters (not bytes).
std::string Pad(const std::string& text, size_t width) {
    size_t chars = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++chars;
    }
    return chars >= width ? text : text + std::string(width - chars, ' ');
}

}  // namespace

std::string SimulationTable(const SimulationResult& r) {
    const int64_t n = r.options.selects;
    std::string out;
    out += fmt::format("creator {}: {} selects by the leader of a team of {} ({:.2f} s, {})\n\n",
                       r.options.creator, n, r.options.teamSize, r.seconds, Rate(r));

    out += "model shown at select          weight  draw chance  expected  observed  index\n";
    for (const auto& m : r.models) {
        out += fmt::format("  {} {:>6}  {:>11}  {:>8}  {:>8}  {}\n", Pad(ModelLabel(m), 28),
                           ShortestFloatText(m.row.weight), Pct(m.drawChance), Pct(m.expectedShare),
                           Pct(Share(m.count, n)), m.row.index);
    }
    if (r.otherModel > 0) {
        out +=
            fmt::format("  {} {:>6}  {:>11}  {:>8}  {:>8}\n", Pad("(no model from the table)", 28),
                        "-", "-", "-", Pct(Share(r.otherModel, n)));
    }
    out +=
        fmt::format("  a model draw takes no row with chance {} (the creator keeps its model)\n\n",
                    Pct(r.modelMissChance));

    out += fmt::format("selects that send nothing: {} ({})\n\n", r.nothingSent,
                       Pct(Share(r.nothingSent, n)));

    out += "NPCs sent   selects     share\n";
    for (const auto& [size, count] : r.encounterSizes) {
        out += fmt::format("  {:>7}  {:>8}  {:>8}\n", size, count, Pct(Share(count, n)));
    }
    if (!r.sizeFields.empty()) {
        out += "  size field of the encounter list:";
        for (const auto& [size, count] : r.sizeFields) {
            out += fmt::format(" {} ({})", size, Pct(Share(count, r.encountersSent)));
        }
        out += "\n";
    }
    out += "\n";

    out += "NPC config   in selects   per select\n";
    for (const auto& s : r.npcs) {
        out += fmt::format("  {:>9}{}  {:>10}  {:>10.3f}\n", s.npcConfig, s.fixed ? "*" : " ",
                           Pct(Share(s.selectsWith, n)), Share(s.appearances, n));
    }
    if (std::any_of(r.npcs.begin(), r.npcs.end(), [](const NpcStat& s) { return s.fixed; })) {
        out += "  * joins as a fixed NPC\n";
    }
    out += "\n";

    out +=
        "formation slots taken (share of encounters sent; columns 0 1 2, groups top to bottom)\n";
    for (int group = 0; group < 3; ++group) {
        out += "  ";
        for (int col = 0; col < 3; ++col) {
            const int slot = group * 3 + col;
            out += fmt::format("  slot {} {:>8}", slot,
                               Pct(Share(r.slotEncounters[size_t(slot)], r.encountersSent)));
        }
        out += "\n";
    }
    if (r.slotCollisions > 0) {
        out += fmt::format("  {} NPCs were sent for a slot already taken\n", r.slotCollisions);
    }
    if (r.slotOutOfRange > 0) {
        out += fmt::format("  {} NPCs were sent with a slot outside 0 to 8\n", r.slotOutOfRange);
    }
    out += "\n";

    out += "draws that can never happen:\n";
    if (r.impossible.empty()) out += "  none\n";
    for (const auto& d : r.impossible) {
        out += fmt::format("  {}:{}: {}\n", d.file, d.line, d.what);
    }
    if (!r.configsNotSeen.empty()) {
        out += "candidates never sent in this run:";
        for (int c : r.configsNotSeen) out += fmt::format(" {}", c);
        out += "\n";
    }
    return out;
}

std::string SimulationJson(const SimulationResult& r) {
    using nlohmann::json;
    const int64_t n = r.options.selects;
    json j;
    j["creator"] = r.options.creator;
    j["selects"] = n;
    j["teamSize"] = r.options.teamSize;
    j["resources"] = r.options.resourceDir;
    j["seconds"] = r.seconds;
    j["selectsPerSecond"] = r.seconds > 0.0 ? double(n) / r.seconds : 0.0;
    j["cpuSeconds"] = r.cpuSeconds;
    j["selectsPerCpuSecond"] = r.cpuSeconds > 0.0 ? double(n) / r.cpuSeconds : 0.0;
    j["modelMissChance"] = r.modelMissChance;
    j["models"] = json::array();
    for (const auto& m : r.models) {
        j["models"].push_back({{"model", m.row.model},
                               {"description", ToUtf8(m.row.description)},
                               {"index", m.row.index},
                               {"weight", m.row.weight},
                               {"line", m.row.line},
                               {"drawChance", m.drawChance},
                               {"expectedShare", m.expectedShare},
                               {"count", m.count},
                               {"share", Share(m.count, n)}});
    }
    j["otherModel"] = r.otherModel;
    j["nothingSent"] = {{"count", r.nothingSent}, {"share", Share(r.nothingSent, n)}};
    j["encountersSent"] = r.encountersSent;
    j["encounterSizes"] = json::array();
    for (const auto& [size, count] : r.encounterSizes) {
        j["encounterSizes"].push_back(
            {{"npcs", size}, {"count", count}, {"share", Share(count, n)}});
    }
    j["sizeFields"] = json::array();
    for (const auto& [size, count] : r.sizeFields) {
        j["sizeFields"].push_back({{"size", size}, {"count", count}});
    }
    j["npcConfigs"] = json::array();
    for (const auto& s : r.npcs) {
        j["npcConfigs"].push_back({{"npcConfig", s.npcConfig},
                                   {"fixed", s.fixed},
                                   {"appearances", s.appearances},
                                   {"selectsWith", s.selectsWith},
                                   {"shareOfSelects", Share(s.selectsWith, n)},
                                   {"perSelect", Share(s.appearances, n)}});
    }
    j["slots"] = json::array();
    for (int slot = 0; slot < 9; ++slot) {
        const int64_t c = r.slotEncounters[size_t(slot)];
        j["slots"].push_back(
            {{"slot", slot}, {"encounters", c}, {"share", Share(c, r.encountersSent)}});
    }
    j["slotCollisions"] = r.slotCollisions;
    j["slotOutOfRange"] = r.slotOutOfRange;
    j["impossibleDraws"] = json::array();
    for (const auto& d : r.impossible) {
        j["impossibleDraws"].push_back({{"file", d.file}, {"line", d.line}, {"what", d.what}});
    }
    j["configsNotSeen"] = r.configsNotSeen;
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

namespace {

// One label of a chart: a bar per series (shares 0..1), and what is wrong
// with it when something is (marked in colour, explained beside the chart).
struct Bar {
    std::string label;
    std::vector<double> values;
    std::string problem;
};

const char* const kColors[] = {"#8aa4c8", "#d9822b", "#5b9a68"};
const char kProblemColor[] = "#c62828";

// Observed far from expected: more than four standard errors of a share of
// n samples apart, and more than a percentage point, so that the noise of a
// short run and the rounding of a long one mark nothing.
std::string FarFromExpected(double expected, double observed, int64_t samples, const char* what) {
    if (samples <= 0) return "";
    const double error =
        std::sqrt(std::max(expected * (1.0 - expected), 0.25 / double(samples)) / double(samples));
    const double gap = std::fabs(observed - expected);
    if (gap <= 4.0 * error || gap <= 0.01) return "";
    return fmt::format("observed {} against {} expected: {:.1f} standard errors apart over {} {}",
                       Pct(observed), Pct(expected), gap / error, samples, what);
}

// A horizontal bar chart on a fixed 0-100% axis with gridlines every 10%,
// so that bars of different charts and different reports compare by eye.
std::string BarChart(const std::string& title, const std::vector<std::string>& series,
                     const std::vector<Bar>& bars) {
    const int labelWidth = 230;
    const int plotWidth = 500;
    const int barHeight = 14;
    const int groupGap = 8;
    const int top = 44;
    const int groupHeight = int(series.size()) * barHeight + groupGap;
    const int plotHeight = std::max(1, int(bars.size())) * groupHeight;
    const int height = top + plotHeight + 24;
    std::string svg = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"{}\" height=\"{}\" "
        "role=\"img\" aria-label=\"{}\">\n",
        labelWidth + plotWidth + 70, height, HtmlEscape(title));
    svg += fmt::format("<text x=\"0\" y=\"16\" class=\"title\">{}</text>\n", HtmlEscape(title));
    int legendX = 0;
    for (size_t s = 0; s < series.size(); ++s) {
        svg += fmt::format(
            "<rect x=\"{}\" y=\"24\" width=\"12\" height=\"12\" fill=\"{}\"/>"
            "<text x=\"{}\" y=\"34\" class=\"legend\">{}</text>\n",
            legendX, kColors[s % 3], legendX + 16, HtmlEscape(series[s]));
        legendX += 24 + int(series[s].size()) * 7;
    }
    svg += fmt::format(
        "<rect class=\"axis\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"none\" "
        "stroke=\"#999\"/>\n",
        labelWidth, top - 4, plotWidth, plotHeight);
    for (int tick = 10; tick < 100; tick += 10) {
        const double x = labelWidth + plotWidth * tick / 100.0;
        svg += fmt::format(
            "<line class=\"grid\" data-tick=\"{}\" x1=\"{:.1f}\" y1=\"{}\" x2=\"{:.1f}\" "
            "y2=\"{}\" stroke=\"#ddd\"/>\n",
            tick, x, top - 4, x, top - 4 + plotHeight);
    }
    for (int tick = 0; tick <= 100; tick += 20) {
        svg += fmt::format(
            "<text x=\"{:.1f}\" y=\"{}\" class=\"tick\" text-anchor=\"middle\">{}%"
            "</text>\n",
            labelWidth + plotWidth * tick / 100.0, top + plotHeight + 10, tick);
    }
    for (size_t i = 0; i < bars.size(); ++i) {
        const int y = top + int(i) * groupHeight;
        const bool marked = !bars[i].problem.empty();
        svg += fmt::format(
            "<text x=\"{}\" y=\"{}\" class=\"label{}\" text-anchor=\"end\">{}{}</text>\n",
            labelWidth - 8, y + int(series.size()) * barHeight / 2 + 4, marked ? " marked" : "",
            marked ? "\u26a0 " : "", HtmlEscape(bars[i].label));
        for (size_t s = 0; s < bars[i].values.size(); ++s) {
            const double v = std::min(1.0, std::max(0.0, bars[i].values[s]));
            const double w = v * plotWidth;
            const int by = y + int(s) * barHeight;
            svg += fmt::format(
                "<rect class=\"bar\" data-share=\"{:.6f}\" x=\"{}\" y=\"{}\" width=\"{:.2f}\" "
                "height=\"{}\" fill=\"{}\"{}><title>{}: {}</title></rect>"
                "<text x=\"{:.1f}\" y=\"{}\" class=\"value\">{}</text>\n",
                v, labelWidth, by, w, barHeight - 2, kColors[s % 3],
                marked ? fmt::format(" stroke=\"{}\" stroke-width=\"2\"", kProblemColor) : "",
                HtmlEscape(series[s]), Pct(bars[i].values[s]), labelWidth + w + 4,
                by + barHeight - 4, Pct(bars[i].values[s]));
        }
    }
    svg += "</svg>\n";
    return svg;
}

// A chart with its problems listed beside it (or a note that it has none).
std::string Figure(const std::string& chart, const std::vector<std::string>& problems) {
    std::string html = "<div class=\"figure\">\n" + chart + "<ul class=\"problems\">\n";
    for (const auto& p : problems) html += "<li class=\"problem\">" + HtmlEscape(p) + "</li>\n";
    if (problems.empty()) html += "<li class=\"fine\">no problem found in this chart</li>\n";
    return html + "</ul>\n</div>\n";
}

// Adds the problems of the bars (label: explanation) to those of a figure.
void CollectBarProblems(const std::vector<Bar>& bars, std::vector<std::string>& problems) {
    for (const auto& b : bars) {
        if (!b.problem.empty()) problems.push_back(b.label + ": " + b.problem);
    }
}

// The formation as a 3x3 grid: group slot div 3 is the row (front, middle,
// back), slot mod 3 the column. The shade is the share on a fixed scale.
std::string SlotGrid(const SimulationResult& r) {
    const int cell = 96;
    const int left = 120;
    const int top = 48;
    std::string svg = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"{}\" height=\"{}\" "
        "role=\"img\" aria-label=\"formation slots\">\n"
        "<text x=\"0\" y=\"16\" class=\"title\">Formation slots taken (share of encounters "
        "sent; the shade runs from 0% to 100%)</text>\n",
        std::max(left + cell * 3 + 20, 720), top + cell * 3 + 10);
    for (int col = 0; col < 3; ++col) {
        svg += fmt::format(
            "<text x=\"{}\" y=\"{}\" class=\"axis-label\" text-anchor=\"middle\">column "
            "{}</text>\n",
            left + col * cell + cell / 2 - 2, top - 8, col);
    }
    const char* const rows[] = {"front", "middle", "back"};
    for (int group = 0; group < 3; ++group) {
        svg += fmt::format(
            "<text x=\"{}\" y=\"{}\" class=\"axis-label\" text-anchor=\"end\">{} row</text>\n",
            left - 10, top + group * cell + cell / 2, rows[group]);
    }
    for (int slot = 0; slot < 9; ++slot) {
        const double share = Share(r.slotEncounters[size_t(slot)], r.encountersSent);
        const int x = left + (slot % 3) * cell;
        const int y = top + (slot / 3) * cell;
        svg += fmt::format(
            "<rect class=\"slot\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#d9822b\" "
            "fill-opacity=\"{:.3f}\" stroke=\"#555\"><title>slot {}: {}</title></rect>"
            "<text x=\"{}\" y=\"{}\" class=\"label\" text-anchor=\"middle\">slot {}</text>"
            "<text x=\"{}\" y=\"{}\" class=\"value\" text-anchor=\"middle\">{}</text>\n",
            x, y, cell - 4, cell - 4, 0.04 + 0.96 * share, slot, Pct(share), x + cell / 2 - 2,
            y + cell / 2 - 6, slot, x + cell / 2 - 2, y + cell / 2 + 12, Pct(share));
    }
    svg += "</svg>\n";
    return svg;
}

// A short fingerprint of the resource folder: 64-bit FNV-1a over every
// file's relative name and bytes, in name order, so two reports of the same
// data show the same digits.
std::string ResourceFingerprint(const std::string& dir) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(dir, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        std::error_code fileError;
        if (it->is_regular_file(fileError)) {
            // Paths below dir start with it as typed: the rest is the name.
            std::string name = it->path().generic_string().substr(dir.size());
            name.erase(0, name.find_first_not_of('/'));
            files.emplace_back(name, it->path());
        }
    }
    std::sort(files.begin(), files.end());
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](const char* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            hash ^= uint8_t(data[i]);
            hash *= 1099511628211ull;
        }
    };
    size_t unreadable = 0;
    for (const auto& [name, path] : files) {
        mix(name.c_str(), name.size() + 1);  // the NUL keeps name and bytes apart
        std::ifstream in(path, std::ios::binary);
        if (!in) ++unreadable;
        char buffer[65536];
        uint64_t size = 0;
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            mix(buffer, size_t(in.gcount()));
            size += uint64_t(in.gcount());
        }
        mix(reinterpret_cast<const char*>(&size), sizeof size);
    }
    std::string text =
        fmt::format("{:016x}", hash).substr(0, 12) +
        fmt::format(" ({} files{})", files.size(),
                    unreadable > 0 ? fmt::format(", {} unreadable", unreadable) : "");
    if (ec) text += " (the folder could not be read to the end)";
    return text;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

}  // namespace

std::string SimulationHtml(const SimulationResult& r) {
    const int64_t n = r.options.selects;
    const std::string modelFile = DisplayName("Npc\\ModelProb.ini");
    const std::string npcFile = DisplayName("Npc\\CreatorProb.ini");
    int problemCount = 0;

    std::vector<Bar> modelBars;
    std::vector<std::string> modelProblems;
    for (const auto& m : r.models) {
        Bar b{ModelLabel(m), {m.expectedShare, Share(m.count, n)}, ""};
        b.problem = FarFromExpected(m.expectedShare, Share(m.count, n), n, "selects");
        modelBars.push_back(b);
    }
    if (r.otherModel > 0) {
        modelBars.push_back({"(no model from the table)",
                             {0.0, Share(r.otherModel, n)},
                             "the creator showed its own model, kept while draws found no row"});
    }
    CollectBarProblems(modelBars, modelProblems);
    for (const auto& d : r.impossible) {
        if (d.file != modelFile) continue;
        for (size_t i = 0; i < r.models.size(); ++i) {
            if (r.models[i].row.line == d.line && modelBars[i].problem.empty()) {
                modelBars[i].problem = d.what;
            }
        }
        modelProblems.push_back(fmt::format("{}:{}: {}", d.file, d.line, d.what));
    }

    std::vector<Bar> sizeBars;
    std::vector<std::string> sizeProblems;
    for (const auto& [size, count] : r.encounterSizes) {
        Bar b{size == 0 ? std::string("nothing sent") : fmt::format("{} NPCs", size),
              {Share(count, n)},
              ""};
        if (size == 0 && count > 0) {
            b.problem = fmt::format(
                "{} of the selects send nothing, so the player meets no NPC: the first NPC draw "
                "of the shown model found no row (its weights sum below 1), the model has no "
                "NPCs, or the rules script asked for none",
                Pct(Share(count, n)));
        }
        sizeBars.push_back(b);
    }
    CollectBarProblems(sizeBars, sizeProblems);

    std::set<int> drawnConfigs;
    for (const auto& [config, share] : r.expectedDrawShare) drawnConfigs.insert(config);
    for (const auto& [config, count] : r.drawnCounts) drawnConfigs.insert(config);
    std::vector<Bar> drawnBars;
    std::vector<std::string> npcProblems;
    for (int config : drawnConfigs) {
        auto e = r.expectedDrawShare.find(config);
        auto o = r.drawnCounts.find(config);
        const double expected = e == r.expectedDrawShare.end() ? 0.0 : e->second;
        const double observed = o == r.drawnCounts.end() ? 0.0 : Share(o->second, r.drawnEntries);
        Bar b{fmt::format("NPC {}", config), {expected, observed}, ""};
        b.problem = FarFromExpected(expected, observed, r.drawnEntries, "NPCs drawn");
        drawnBars.push_back(b);
    }
    CollectBarProblems(drawnBars, npcProblems);
    // Rows no draw can reach are listed below with their line; the bar is marked too.
    for (auto& b : drawnBars) {
        if (b.problem.empty() && b.values[0] <= 0.0 && b.values[1] <= 0.0)
            b.problem = "never drawn";
    }
    for (const auto& d : r.impossible) {
        if (d.file != modelFile)
            npcProblems.push_back(fmt::format("{}:{}: {}", d.file, d.line, d.what));
    }

    std::vector<Bar> fixedBars;
    std::vector<std::string> fixedProblems;
    for (const auto& [config, expected] : r.expectedFixedShare) {
        double observed = 0.0;
        for (const auto& s : r.npcs) {
            if (s.npcConfig == config) observed = Share(s.selectsWith, n);
        }
        Bar b{fmt::format("NPC {} (fixed)", config), {expected, observed}, ""};
        b.problem = FarFromExpected(expected, observed, n, "selects");
        fixedBars.push_back(b);
    }
    CollectBarProblems(fixedBars, fixedProblems);

    std::vector<std::string> slotProblems;
    if (r.slotCollisions > 0) {
        slotProblems.push_back(
            fmt::format("{} NPCs were sent for a slot already taken: they stand on another NPC",
                        r.slotCollisions));
    }
    if (r.slotOutOfRange > 0) {
        slotProblems.push_back(
            fmt::format("{} NPCs were sent with a slot outside 0 to 8", r.slotOutOfRange));
    }
    problemCount = int(modelProblems.size() + sizeProblems.size() + npcProblems.size() +
                       fixedProblems.size() + slotProblems.size());

    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += fmt::format("<title>Creator {} encounters</title>\n", r.options.creator);
    html += fmt::format(
        "<style>\n"
        "body{{font-family:sans-serif;margin:24px;color:#222;max-width:1180px}}\n"
        "h1{{font-size:22px}}h2{{font-size:17px;margin-top:28px}}\n"
        "table{{border-collapse:collapse;margin:8px 0}}td,th{{padding:3px 10px;text-align:right;"
        "border-bottom:1px solid #ddd}}th{{background:#f3f3f3}}td:first-child,th:first-child{{"
        "text-align:left}}\n"
        ".run th{{text-align:left;font-weight:normal;color:#555}}.run td{{text-align:left}}\n"
        ".chart{{display:block;margin:8px 0}}.chart .title{{font-weight:bold;font-size:14px}}\n"
        ".chart .label,.chart .legend,.chart .value,.chart .axis-label{{font-size:12px}}\n"
        ".chart .tick{{font-size:11px;fill:#666}}.chart .marked{{fill:{0};font-weight:bold}}\n"
        ".figure{{display:flex;gap:16px;align-items:flex-start}}\n"
        ".problems{{margin:8px 0;padding-left:18px;max-width:340px;font-size:13px}}\n"
        ".problem{{color:{0}}}.fine{{color:#2e7d32}}\n"
        ".verdict{{font-size:16px;font-weight:bold;padding:6px 10px}}\n"
        ".verdict.bad{{color:#fff;background:{0}}}.verdict.good{{color:#fff;background:#2e7d32}}\n"
        ".stat{{font-size:15px}}.never li{{font-family:monospace}}\n"
        "</style>\n</head>\n<body>\n",
        kProblemColor);
    html += fmt::format("<h1>Creator {}: {} selects</h1>\n", r.options.creator, n);
    html += fmt::format(
        "<table class=\"run\">\n"
        "<tr><th>command</th><td><code id=\"command\">{}</code></td></tr>\n"
        "<tr><th>date</th><td id=\"date\">{}</td></tr>\n"
        "<tr><th>resources</th><td><code id=\"resources\">{}</code></td></tr>\n"
        "<tr><th>fingerprint</th><td><code id=\"fingerprint\">{}</code> (FNV-1a of the "
        "files' names and bytes: the same data gives the same digits)</td></tr>\n"
        "<tr><th>plug-in</th><td><code>{}</code></td></tr>\n"
        "</table>\n",
        HtmlEscape(r.options.commandLine.empty() ? "rulehost simulate" : r.options.commandLine),
        UtcNow(), HtmlEscape(r.options.resourceDir), ResourceFingerprint(r.options.resourceDir),
        HtmlEscape(r.options.pluginPath));
    html += problemCount > 0
                ? fmt::format(
                      "<p class=\"verdict bad\">{} problem{} found: marked in red beside "
                      "the charts below</p>\n",
                      problemCount, problemCount == 1 ? "" : "s")
                : "<p class=\"verdict good\">No problem found</p>\n";
    html += fmt::format(
        "<p class=\"stat\">Each select follows a fresh model draw and is made by the leader of a "
        "team of {}. Ran in {:.2f} s ({}). Every chart runs from 0% to 100%.</p>\n",
        r.options.teamSize, r.seconds, Rate(r));
    html += fmt::format(
        "<p class=\"stat\">Selects that send nothing: <b>{}</b> ({}). A model draw takes no row "
        "with chance {}.</p>\n",
        r.nothingSent, Pct(Share(r.nothingSent, n)), Pct(r.modelMissChance));

    html += "<h2>Models</h2>\n";
    html += Figure(BarChart("Model shown at select: expected vs observed (share of selects)",
                            {"expected", "observed"}, modelBars),
                   modelProblems);
    html +=
        "<table><tr><th>model</th><th>weight</th><th>draw chance</th><th>expected</th>"
        "<th>observed</th><th>index</th></tr>\n";
    for (const auto& m : r.models) {
        html += fmt::format(
            "<tr><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td><td>{}</td></tr>\n",
            HtmlEscape(ModelLabel(m)), ShortestFloatText(m.row.weight), Pct(m.drawChance),
            Pct(m.expectedShare), Pct(Share(m.count, n)), m.row.index);
    }
    html += "</table>\n";

    html += "<h2>Encounter sizes</h2>\n";
    html += Figure(BarChart("NPCs sent per select", {"share of selects"}, sizeBars), sizeProblems);

    html += "<h2>NPC configs</h2>\n";
    html += Figure(BarChart("NPCs drawn by weight: expected vs observed (share of the NPCs drawn)",
                            {"expected", "observed"}, drawnBars),
                   npcProblems);
    if (!fixedBars.empty()) {
        html += Figure(BarChart("Fixed NPCs: expected vs observed (share of selects that send it)",
                                {"expected", "observed"}, fixedBars),
                       fixedProblems);
    }
    html +=
        "<p>Expected draws use the exact odds of one draw of each model's candidates (the "
        "plug-in's 32768 draw values), weighted by the draws this run made with that model "
        "shown.</p>\n";

    html += "<h2>Formation</h2>\n";
    html += Figure(SlotGrid(r), slotProblems);

    html += "<h2>Draws that can never happen</h2>\n<ul class=\"never\">\n";
    if (r.impossible.empty()) html += "<li>none</li>\n";
    for (const auto& d : r.impossible) {
        html += fmt::format("<li class=\"problem\">{}:{}: {}</li>\n", HtmlEscape(d.file), d.line,
                            HtmlEscape(d.what));
    }
    html += "</ul>\n";
    if (!r.configsNotSeen.empty()) {
        html += "<p>Candidates never sent in this run:";
        for (int c : r.configsNotSeen) html += fmt::format(" {}", c);
        html += "</p>\n";
    }
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace tools
