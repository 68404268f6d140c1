#include "Standin.h"

#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

struct UpdateConfig {
    std::string version;
    std::string files;
    std::string notes;
    std::string message;
    std::string status;
    std::string fault;
    std::string filesDir;
    std::string sizes;
    std::string sha256;
    std::string truncate;
    std::string redirect;
    std::string noLength;
    std::string html;
    std::string trickle;
    long long trickleMs = 1000;
    std::string hugeLength;
    std::string offsite;
    long long delayMs = 0;
};

std::string versionReply(const UpdateConfig& c) {
    const bool error = c.fault == "error";
    std::string body = "{";
    auto member = [&body](const std::string& name, const std::string& value) {
        if (body.size() > 1)
            body += ",";
        body += quoted(name) + ":" + value;
    };
    if (c.fault != "missing-status")
        member("status", quoted(error ? "error" : c.status));
    if (error || c.fault != "missing-message")
        member("message", quoted(c.message));
    if (c.fault == "null-version")
        member("version", "null");
    else if (c.fault != "missing-version")
        member("version", quoted(c.version));
    if (c.fault != "missing-files")
        member("update_files", quoted(c.files));
    if (c.fault != "missing-notes")
        member("update_notes", quoted(c.notes));
    if (!c.sizes.empty())
        member("update_sizes", quoted(c.sizes));
    if (!c.sha256.empty())
        member("update_sha256", quoted(c.sha256));
    return body + "}";
}

// Serves a file in chunks so that a large download never sits whole in memory. A truncated reply
// stops half way and drops the connection. Without a length the end of the body is the end of the
// connection, so a reply cut short looks whole to the client.
void serveFile(const httplib::Server& server, const fs::path& path, bool truncate, bool noLength,
               httplib::Response& res) {
    const auto size = static_cast<size_t>(fs::file_size(path));
    auto stream = std::make_shared<std::ifstream>(path, std::ios::binary);
    const size_t sendLimit = truncate ? size / 2 : size;
    auto provide = [stream, sendLimit, &server](size_t offset, httplib::DataSink& sink) {
        if (!server.is_running() || offset >= sendLimit)
            return false;
        static thread_local std::vector<char> buffer(256 * 1024);
        const size_t want = std::min(buffer.size(), sendLimit - offset);
        stream->seekg(static_cast<std::streamoff>(offset));
        stream->read(buffer.data(), static_cast<std::streamsize>(want));
        const auto got = static_cast<size_t>(stream->gcount());
        return got != 0 && sink.write(buffer.data(), got);
    };
    if (noLength) {
        res.set_header("Connection", "close");
        res.set_content_provider("application/octet-stream",
                                 [provide, size](size_t offset, httplib::DataSink& sink) {
                                     if (offset < size)
                                         return provide(offset, sink);
                                     sink.done();
                                     return true;
                                 });
        return;
    }
    res.set_content_provider(
        size, "application/octet-stream",
        [provide](size_t offset, size_t, httplib::DataSink& sink) { return provide(offset, sink); });
}

} // namespace

std::string updateHelp() {
    return R"(Update server (/soft/api/update.asp, /soft/uploads/vesmora/...):
  --update-version V  version the server names (default 2.1.0, the version of this build).
  --update-files L    update_files member: comma-separated entries (default empty).
  --update-notes T    update_notes member (default empty; "/n" stands for a line break).
  --update-message T  message member (default empty; shown with --update-fault error).
  --update-status S   status member of a reply that is not a refusal (default success).
  --update-fault F    how the version request fails:
                        error            status "error" with the message
                        missing-status, missing-version, missing-files, missing-notes
                                         that member left out
                        null-version     version is null
                        not-json         an HTML text with status 200
                        http500          status 500 with an HTML body
                        no-answer        accepts the request and never answers
                        endless          status 200 and a body that never ends
                        trickle          the normal reply, one byte every --trickle-ms
                        offsite-redirect 302 to the same path on 127.0.0.2 (another origin)
  --update-delay MS   wait this long before answering the version request.
  --files-dir DIR     folder served under /soft/uploads/vesmora/ (sub-folders too). A file that
                      is not there is a 404.
  --truncate-file E   the entry E (path under the folder) announces its full length but its
                      body stops half way.
  --redirect-file E   the entry E answers 302 to /soft/moved/vesmora/E, which serves it.
  --update-sizes L    update_sizes member: comma-separated byte counts, one per entry (default:
                      left out). A wrong value is served as given.
  --update-sha256 L   update_sha256 member: comma-separated SHA-256 digests in hex (default: left
                      out). A wrong value is served as given.
  --no-length-file E  the entry E is sent with no Content-Length, its end the end of the
                      connection (with --truncate-file that end comes half way).
  --html-file E       the entry E answers 200 with an HTML error page, as a captive portal would.
  --trickle-file E    the entry E sends one byte every --trickle-ms (default 1000) milliseconds.
  --trickle-ms MS     the pause of --trickle-file and of --update-fault trickle.
  --huge-length-file E  the entry E announces a Content-Length of 2 GiB and sends without end.
  --offsite-file E    the entry E answers 302 to /soft/moved/vesmora/E on localhost: another
                      origin by its name, but this same server, which serves it.
)";
}

void installUpdateRoutes(httplib::Server& server, const Flags& flags) {
    auto config = std::make_shared<UpdateConfig>();
    config->version = flags.get("update-version", "2.1.0");
    config->files = flags.get("update-files");
    config->notes = flags.get("update-notes");
    config->message = flags.get("update-message");
    config->status = flags.get("update-status", "success");
    config->fault = flags.get("update-fault", "none");
    config->filesDir = flags.get("files-dir");
    config->truncate = flags.get("truncate-file");
    config->redirect = flags.get("redirect-file");
    config->sizes = flags.get("update-sizes");
    config->sha256 = flags.get("update-sha256");
    config->noLength = flags.get("no-length-file");
    config->html = flags.get("html-file");
    config->trickle = flags.get("trickle-file");
    config->trickleMs = flags.getInt("trickle-ms", 1000);
    config->hugeLength = flags.get("huge-length-file");
    config->offsite = flags.get("offsite-file");
    config->delayMs = flags.getInt("update-delay", 0);

    server.Post("/soft/api/update.asp", [config, &server](const httplib::Request& req,
                                                          httplib::Response& res) {
        if (config->delayMs > 0)
            sleepUnlessStopping(server, config->delayMs);
        if (config->fault == "no-answer") {
            sleepUnlessStopping(server, 10LL * 60 * 1000);
            return;
        }
        if (config->fault == "trickle") {
            const auto body = std::make_shared<std::string>(versionReply(*config));
            const long long pause = config->trickleMs;
            res.set_content_provider(body->size(), "application/json; charset=utf-8",
                                     [&server, body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                         sleepUnlessStopping(server, pause);
                                         return server.is_running() && sink.write(body->data() + offset, 1);
                                     });
            return;
        }
        if (config->fault == "endless") {
            serveEndless(server, res, "application/json");
            return;
        }
        if (config->fault == "offsite-redirect") {
            res.set_redirect("http://127.0.0.2:" + std::to_string(req.local_port) + req.path, 302);
            return;
        }
        if (config->fault == "http500") {
            res.status = 500;
            res.set_content("<html><body><h1>500 Internal Server Error</h1></body></html>", "text/html");
            return;
        }
        if (config->fault == "not-json") {
            res.set_content("<html><body>maintenance</body></html>", "text/html; charset=utf-8");
            return;
        }
        res.set_content(versionReply(*config), "application/json; charset=utf-8");
    });

    server.Get(R"(/soft/(uploads|moved)/vesmora/(.*))", [config, &server](const httplib::Request& req,
                                                                          httplib::Response& res) {
        const std::string entry = req.matches[2];
        if (req.matches[1] == "uploads" && !config->redirect.empty() && entry == config->redirect) {
            res.set_redirect("/soft/moved/vesmora/" + entry, 302);
            return;
        }
        if (req.matches[1] == "uploads" && entry == config->offsite) {
            // Another origin by name, yet this very server: a client that follows gets the file.
            res.set_redirect(
                "http://localhost:" + std::to_string(req.local_port) + "/soft/moved/vesmora/" + entry, 302);
            return;
        }
        if (entry == config->html) {
            res.set_content("<html><body><h1>Network login required</h1></body></html>", "text/html");
            return;
        }
        if (entry == config->trickle) {
            const long long pause = config->trickleMs;
            res.set_chunked_content_provider("application/octet-stream",
                                             [&server, pause](size_t, httplib::DataSink& sink) {
                                                 sleepUnlessStopping(server, pause);
                                                 return server.is_running() && sink.write("x", 1);
                                             });
            return;
        }
        if (entry == config->hugeLength) {
            constexpr size_t kHuge = size_t(2) * 1024 * 1024 * 1024;
            res.set_content_provider(kHuge, "application/octet-stream",
                                     [&server](size_t, size_t, httplib::DataSink& sink) {
                                         static const std::string block(64 * 1024, 'x');
                                         return server.is_running() && sink.write(block.data(), block.size());
                                     });
            return;
        }
        const fs::path root = utf8Path(config->filesDir);
        std::error_code ec;
        const fs::path target = fs::weakly_canonical(root / utf8Path(entry), ec);
        const fs::path base = fs::weakly_canonical(root, ec);
        const auto rel = target.lexically_relative(base);
        const bool inside = !config->filesDir.empty() && !rel.empty() && *rel.begin() != "..";
        if (!inside || !fs::is_regular_file(target, ec)) {
            res.status = 404;
            res.set_content("<html><body>404 Not Found</body></html>", "text/html");
            return;
        }
        serveFile(server, target, entry == config->truncate, entry == config->noLength, res);
    });
}
