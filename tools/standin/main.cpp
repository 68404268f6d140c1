#include "Standin.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

std::string Flags::get(const std::string& name, const std::string& fallback) const {
    const auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second;
}

long long Flags::getInt(const std::string& name, long long fallback) const {
    const auto it = m_values.find(name);
    if (it == m_values.end())
        return fallback;
    try {
        return std::stoll(it->second);
    } catch (...) {
        return fallback;
    }
}

std::vector<std::string> utf8Arguments([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(arg);
    }
    LocalFree(wide);
    return args;
#else
    return {argv, argv + argc};
#endif
}

std::filesystem::path utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

void sleepUnlessStopping(const httplib::Server& server, long long milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (server.is_running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void serveEndless(const httplib::Server& server, httplib::Response& res, const char* contentType) {
    res.set_chunked_content_provider(contentType, [&server](size_t, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, ' ');
        return server.is_running() && sink.write(block.data(), block.size());
    });
}

namespace {

std::string jsonEscape(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

const char* kHelp = R"(standin: stand-in operator maintenance system and update server on loopback.

  --port N            port to listen on; 0 takes a free one (default 0). The first line printed is
                      "listening on http://127.0.0.1:PORT".
  --log FILE          append one JSON line per request: time, method, path, query, status, body,
                      and the Cookie, Content-Type and User-Agent headers.
  --help              this text.
)";

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    Flags flags;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp << '\n' << operatorHelp() << '\n' << updateHelp();
            return 0;
        }
        if (arg.rfind("--", 0) != 0) {
            std::cerr << "unexpected argument: " << arg << " (see --help)\n";
            return 2;
        }
        arg = arg.substr(2);
        const auto eq = arg.find('=');
        if (eq != std::string::npos)
            flags.set(arg.substr(0, eq), arg.substr(eq + 1));
        else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0)
            flags.set(arg, args[++i]);
        else
            flags.set(arg, "1");
    }

    httplib::Server server;
    // Without it every keep-alive request waits about 40 ms for the delayed ACK.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000000);
    server.set_read_timeout(120, 0);
    server.set_write_timeout(120, 0);

    std::mutex logMutex;
    std::ofstream log;
    if (flags.has("log"))
        log.open(utf8Path(flags.get("log")), std::ios::app);
    // Logged after routing but before the reply goes out: a client holding its reply finds the
    // request in the log already.
    server.set_post_routing_handler([&](const httplib::Request& req, const httplib::Response& res) {
        if (!log.is_open())
            return;
        const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        std::string query;
        for (const auto& [key, value] : req.params)
            query += (query.empty() ? "" : "&") + key + "=" + value;
        std::lock_guard lock(logMutex);
        log << "{\"time\":" << now << ",\"method\":\"" << jsonEscape(req.method) << "\",\"path\":\""
            << jsonEscape(req.path) << "\",\"query\":\"" << jsonEscape(query)
            << "\",\"status\":" << res.status << ",\"body\":\"" << jsonEscape(req.body) << "\",\"cookie\":\""
            << jsonEscape(req.get_header_value("Cookie")) << "\",\"content_type\":\""
            << jsonEscape(req.get_header_value("Content-Type")) << "\",\"user_agent\":\""
            << jsonEscape(req.get_header_value("User-Agent")) << "\"}" << std::endl;
    });

    installOperatorRoutes(server, flags);
    installUpdateRoutes(server, flags);

    const int requested = static_cast<int>(flags.getInt("port", 0));
    int port = requested;
    if (requested == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", requested)) {
        port = -1;
    }
    if (port <= 0) {
        std::cerr << "cannot listen on 127.0.0.1:" << requested << '\n';
        return 1;
    }
    std::cout << "listening on http://127.0.0.1:" << port << std::endl;
    return server.listen_after_bind() ? 0 : 1;
}
