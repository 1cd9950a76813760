// `rulehost studio [DIR]`: serves the studio page and its API on 127.0.0.1,
// behind a random session token printed at start.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "Cli.h"
#include "StudioPage.h"
#include "StudioSession.h"
#include "ToolCommands.h"

using nlohmann::json;

namespace tools {

namespace {

struct StudioOptions {
    std::string dir;
    std::string baseline;
    std::string plugin;
    int port = 0;
};

std::string NewToken() {
    std::random_device rd;
    std::string token;
    for (int i = 0; i < 16; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", unsigned(rd() & 0xFF));
        token += hex;
    }
    return token;
}

bool SameToken(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= (unsigned char)(a[i] ^ b[i]);
    return diff == 0;
}

void Reply(httplib::Response& res, const json& j) {
    int status = 200;
    if (j.contains("needsConfirm")) {
        status = 409;
    } else if (j.contains("error")) {
        status = j["error"].get<std::string>().rfind("refused", 0) == 0 ? 403 : 400;
    }
    res.status = status;
    res.set_content(j.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// Refuses what no page of the studio sends: a path going up, a request
// without the token, another host name (a page elsewhere reaching the port).
bool Refuse(const httplib::Request& req, httplib::Response& res, const std::string& token,
            int port) {
    auto refuse = [&res](int status, const char* why) {
        res.status = status;
        res.set_content(json{{"error", std::string("refused: ") + why}}.dump(), "application/json");
        return true;
    };
    if (req.target.find("..") != std::string::npos || req.path.find("..") != std::string::npos) {
        return refuse(403, "a path with '..'");
    }
    for (const auto& [key, value] : req.params) {
        if (value.find("..") != std::string::npos) return refuse(403, "a path with '..'");
    }
    const std::string host = req.get_header_value("Host");
    const std::string p = ":" + std::to_string(port);
    if (host != "127.0.0.1" + p && host != "localhost" + p) return refuse(403, "unknown host");
    const std::string given = req.has_param("token") ? req.get_param_value("token")
                                                     : req.get_header_value("X-Studio-Token");
    if (!SameToken(given, token)) return refuse(403, "no valid session token");
    return false;
}

bool ParseBody(const httplib::Request& req, json& body, httplib::Response& res) {
    body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Reply(res, json{{"error", "the request body is no JSON object"}});
        return false;
    }
    return true;
}

template <typename T>
T Field(const json& body, const char* key, T fallback) {
    auto it = body.find(key);
    if (it == body.end()) return fallback;
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        return fallback;
    }
}

void RunStudio(const StudioOptions& o) {
    StudioSession session;
    std::string error;
    if (!session.Open(o.dir, o.baseline, o.plugin, error)) {
        std::fprintf(stderr, "rulehost studio: %s\n", error.c_str());
        RulehostExitCode() = kExitLoad;
        return;
    }
    // Signals are taken by one thread, which stops the server; every thread
    // the server starts inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    httplib::Server server;
    const std::string token = NewToken();
    const int port = o.port > 0 ? (server.bind_to_port("127.0.0.1", o.port) ? o.port : -1)
                                : server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "rulehost studio: cannot listen on 127.0.0.1:%d\n", o.port);
        RulehostExitCode() = kExitLoad;
        return;
    }
    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        return Refuse(req, res, token, port) ? httplib::Server::HandlerResponse::Handled
                                             : httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(StudioPageHtml(), "text/html; charset=utf-8");
    });
    server.Get("/api/state", [&](const httplib::Request&, httplib::Response& res) {
        Reply(res, session.State());
    });
    server.Post("/api/edit", [&](const httplib::Request& req, httplib::Response& res) {
        json b;
        if (!ParseBody(req, b, res)) return;
        Reply(res, session.Edit(Field<std::string>(b, "file", ""), Field<int>(b, "line", 0),
                                Field<int>(b, "field", -1), Field<std::string>(b, "value", "")));
    });
    server.Post("/api/save", [&](const httplib::Request& req, httplib::Response& res) {
        json b;
        if (!ParseBody(req, b, res)) return;
        Reply(res,
              session.Save(Field<std::string>(b, "file", ""), Field<bool>(b, "confirm", false)));
    });
    server.Post("/api/discard", [&](const httplib::Request& req, httplib::Response& res) {
        json b;
        if (!ParseBody(req, b, res)) return;
        Reply(res, session.Discard(Field<std::string>(b, "file", "")));
    });
    server.Post("/api/simulate", [&](const httplib::Request& req, httplib::Response& res) {
        json b;
        if (!ParseBody(req, b, res)) return;
        Reply(res, session.StartSimulation(Field<int>(b, "creator", 0),
                                           Field<long long>(b, "selects", 100000),
                                           Field<int>(b, "teamSize", 1)));
    });
    server.Get("/api/simulation", [&](const httplib::Request&, httplib::Response& res) {
        Reply(res, session.Simulation());
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            res.set_content(json{{"error", "no such page"}}.dump(), "application/json");
        }
    });

    std::thread stopper([&server, &signals]() {
        int sig = 0;
        sigwait(&signals, &sig);
        server.stop();
    });
    std::printf("studio for %s\n  open http://127.0.0.1:%d/?token=%s\n  (Ctrl-C stops it)\n",
                session.dir().c_str(), port, token.c_str());
    std::fflush(stdout);
    const bool ok = server.listen_after_bind();
    pthread_kill(stopper.native_handle(), SIGUSR1);
    stopper.join();
    RulehostExitCode() = ok ? kExitOk : kExitLoad;
}

}  // namespace

void RegisterStudioCommand(CLI::App& app) {
    auto opts = std::make_shared<StudioOptions>();
    opts->dir = DefaultResourceDir();
#ifdef GAMERULES_DEFAULT_PLUGIN
    opts->plugin = GAMERULES_DEFAULT_PLUGIN;
#endif
    CLI::App* cmd = app.add_subcommand(
        "studio",
        "A local web page to see and tune the exact odds of a resource folder: edit a field, "
        "watch every chance change, save it into the INI file, simulate, compare with a "
        "baseline. Listens on 127.0.0.1 only, behind a session token.");
    cmd->add_option("dir", opts->dir, "resource directory (default: the bundled sample data)");
    cmd->add_option("--port", opts->port, "port to listen on (default: any free one)")
        ->check(CLI::Range(0, 65535));
    cmd->add_option("--baseline", opts->baseline, "resource folder to compare against");
    cmd->add_option("--plugin", opts->plugin, "rules plug-in the simulations load")
        ->capture_default_str();
    cmd->callback([opts]() { RunStudio(*opts); });
}

}  // namespace tools
