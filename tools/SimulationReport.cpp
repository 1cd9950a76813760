// The three renderings of a simulation: a terminal table, JSON for scripts,
// and a self-contained HTML page with inline SVG bar charts.
#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>

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

struct Bar {
    std::string label;
    std::vector<double> values;  // one per series, as shares 0..1
};

const char* const kColors[] = {"#8aa4c8", "#d9822b", "#5b9a68"};

// A horizontal bar chart: one group of bars per label, one bar per series.
std::string BarChart(const std::string& title, const std::vector<std::string>& series,
                     const std::vector<Bar>& bars) {
    const int labelWidth = 220;
    const int plotWidth = 460;
    const int barHeight = 14;
    const int groupGap = 8;
    const int top = 44;
    const int groupHeight = int(series.size()) * barHeight + groupGap;
    const int height = top + int(bars.size()) * groupHeight + 24;
    double maxValue = 0.0;
    for (const auto& b : bars) {
        for (double v : b.values) maxValue = std::max(maxValue, v);
    }
    if (maxValue <= 0.0) maxValue = 1.0;
    std::string svg = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"{}\" height=\"{}\" "
        "role=\"img\" aria-label=\"{}\">\n",
        labelWidth + plotWidth + 90, height, HtmlEscape(title));
    svg += fmt::format("<text x=\"0\" y=\"16\" class=\"title\">{}</text>\n", HtmlEscape(title));
    int legendX = 0;
    for (size_t s = 0; s < series.size(); ++s) {
        svg += fmt::format(
            "<rect x=\"{}\" y=\"24\" width=\"12\" height=\"12\" fill=\"{}\"/>"
            "<text x=\"{}\" y=\"34\" class=\"legend\">{}</text>\n",
            legendX, kColors[s % 3], legendX + 16, HtmlEscape(series[s]));
        legendX += 24 + int(series[s].size()) * 7;
    }
    for (size_t i = 0; i < bars.size(); ++i) {
        const int y = top + int(i) * groupHeight;
        svg += fmt::format(
            "<text x=\"{}\" y=\"{}\" class=\"label\" text-anchor=\"end\">{}</text>\n",
            labelWidth - 8, y + int(series.size()) * barHeight / 2 + 4, HtmlEscape(bars[i].label));
        for (size_t s = 0; s < bars[i].values.size(); ++s) {
            const double v = bars[i].values[s];
            const int w = std::max(v > 0.0 ? 1 : 0, int(v / maxValue * plotWidth + 0.5));
            const int by = y + int(s) * barHeight;
            svg += fmt::format(
                "<rect class=\"bar\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"{}\">"
                "<title>{}: {}</title></rect>"
                "<text x=\"{}\" y=\"{}\" class=\"value\">{}</text>\n",
                labelWidth, by, w, barHeight - 2, kColors[s % 3], HtmlEscape(series[s]), Pct(v),
                labelWidth + w + 4, by + barHeight - 4, Pct(v));
        }
    }
    svg += "</svg>\n";
    return svg;
}

// The formation as a 3x3 grid: group s div 3 is the row, column s mod 3.
std::string SlotGrid(const SimulationResult& r) {
    const int cell = 96;
    std::string svg = fmt::format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"{}\" height=\"{}\" "
        "role=\"img\" aria-label=\"formation slots\">\n"
        "<text x=\"0\" y=\"16\" class=\"title\">Formation slots taken (share of encounters "
        "sent)</text>\n",
        std::max(cell * 3 + 20, 480), cell * 3 + 40);
    for (int slot = 0; slot < 9; ++slot) {
        const double share = Share(r.slotEncounters[size_t(slot)], r.encountersSent);
        const int x = (slot % 3) * cell;
        const int y = 28 + (slot / 3) * cell;
        svg += fmt::format(
            "<rect class=\"slot\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#d9822b\" "
            "fill-opacity=\"{:.3f}\" stroke=\"#555\"><title>slot {}: {}</title></rect>"
            "<text x=\"{}\" y=\"{}\" class=\"label\" text-anchor=\"middle\">slot {}</text>"
            "<text x=\"{}\" y=\"{}\" class=\"value\" text-anchor=\"middle\">{}</text>\n",
            x, y, cell - 4, cell - 4, 0.08 + 0.92 * share, slot, Pct(share), x + cell / 2 - 2,
            y + cell / 2 - 6, slot, x + cell / 2 - 2, y + cell / 2 + 12, Pct(share));
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace

std::string SimulationHtml(const SimulationResult& r) {
    const int64_t n = r.options.selects;
    std::vector<Bar> modelBars;
    for (const auto& m : r.models) {
        modelBars.push_back({ModelLabel(m), {m.expectedShare, Share(m.count, n)}});
    }
    std::vector<Bar> sizeBars;
    for (const auto& [size, count] : r.encounterSizes) {
        sizeBars.push_back({size == 0 ? std::string("nothing sent") : fmt::format("{} NPCs", size),
                            {Share(count, n)}});
    }
    std::vector<Bar> npcBars;
    for (const auto& s : r.npcs) {
        npcBars.push_back({fmt::format("NPC {}{}", s.npcConfig, s.fixed ? " (fixed)" : ""),
                           {Share(s.selectsWith, n)}});
    }

    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += fmt::format("<title>Creator {} encounters</title>\n", r.options.creator);
    html +=
        "<style>\n"
        "body{font-family:sans-serif;margin:24px;color:#222;max-width:900px}\n"
        "h1{font-size:22px}h2{font-size:17px;margin-top:28px}\n"
        "table{border-collapse:collapse;margin:8px 0}td,th{padding:3px 10px;text-align:right;"
        "border-bottom:1px solid #ddd}th{background:#f3f3f3}td:first-child,th:first-child{"
        "text-align:left}\n"
        ".chart{display:block;margin:8px 0}.chart .title{font-weight:bold;font-size:14px}\n"
        ".chart .label,.chart .legend,.chart .value{font-size:12px}\n"
        ".stat{font-size:15px}.never li{font-family:monospace}\n"
        "</style>\n</head>\n<body>\n";
    html += fmt::format("<h1>Creator {}: {} selects</h1>\n", r.options.creator, n);
    html += fmt::format(
        "<p class=\"stat\">Each select follows a fresh model draw and is made by the leader of a "
        "team of {}. Resources: <code>{}</code>. Ran in {:.2f} s ({}).</p>\n",
        r.options.teamSize, HtmlEscape(r.options.resourceDir), r.seconds, Rate(r));
    html += fmt::format(
        "<p class=\"stat\">Selects that send nothing: <b>{}</b> ({}). A model draw takes no row "
        "with chance {}.</p>\n",
        r.nothingSent, Pct(Share(r.nothingSent, n)), Pct(r.modelMissChance));

    html += "<h2>Models</h2>\n";
    html += BarChart("Model shown at select: expected vs observed", {"expected", "observed"},
                     modelBars);
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
    html += BarChart("NPCs sent per select", {"share of selects"}, sizeBars);

    html += "<h2>NPC configs</h2>\n";
    html += BarChart("Share of selects that send the NPC", {"share of selects"}, npcBars);

    html += "<h2>Formation</h2>\n";
    html += SlotGrid(r);
    if (r.slotCollisions > 0 || r.slotOutOfRange > 0) {
        html += fmt::format(
            "<p>{} NPCs were sent for a slot already taken, {} with a slot outside "
            "0 to 8.</p>\n",
            r.slotCollisions, r.slotOutOfRange);
    }

    html += "<h2>Draws that can never happen</h2>\n<ul class=\"never\">\n";
    if (r.impossible.empty()) html += "<li>none</li>\n";
    for (const auto& d : r.impossible) {
        html += fmt::format("<li>{}:{}: {}</li>\n", HtmlEscape(d.file), d.line, HtmlEscape(d.what));
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
