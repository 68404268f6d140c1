#include "Standin.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* kLoginPath = "/ehmsexp/jsp/login/login.jsp";
const char* kLogoutPath = "/ehmsexp/jsp/login/logout.jsp";
const char* kHomePath = "/ehmsexp/jsp/main.jsp";
const char* kWelcomePath = "/ehmsexp/jsp/welcome.jsp";
const char* kResourcePath = "/ehmsexp/rest/install/queryRmwResouceInfo";
const char* kPowerPath = "/ehmsexp/rest/install/queryPowerInfo";
const char* kCookieName = "JSESSIONID";
const char* kHtml = "text/html;charset=UTF-8";
const char* kJson = "application/json;charset=UTF-8";
const char* kEmptyPage = "<html><head></head><body></body></html>";

struct User {
    const char* name;
    const char* password;
    bool banned;
};
const User kUsers[] = {{"demo", "demo123", false}, {"demo2", "demo123", false}, {"banned", "demo123", true}};

struct Session {
    std::string user;
    bool banned = false;
    std::deque<Clock::time_point> recent;
    long long lookups = 0;
};

struct OperatorState {
    std::mutex mutex;
    std::map<std::string, Session> sessions;
    std::mt19937_64 random{std::random_device{}()};
    long long floodLimit = 1200;
    long long noReplySeconds = 30;
    long long hugeBytes = 6 * 1024 * 1024;
    long long sessionLookups = 0; // lookups a session answers before it ends; 0: no end
};

// --- form bodies ---------------------------------------------------------------------------

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string formDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// Fields in the order sent, so a test can see a forged or reordered field.
std::vector<std::pair<std::string, std::string>> formFields(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string piece = body.substr(start, end - start);
        if (!piece.empty()) {
            const size_t eq = piece.find('=');
            if (eq == std::string::npos)
                fields.emplace_back(formDecode(piece), std::string());
            else
                fields.emplace_back(formDecode(piece.substr(0, eq)), formDecode(piece.substr(eq + 1)));
        }
        start = end + 1;
    }
    return fields;
}

std::string field(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& key) {
    for (const auto& [k, v] : fields)
        if (k == key)
            return v;
    return {};
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// --- pages ---------------------------------------------------------------------------------

std::string loginPage(const std::string& error, const std::string& user) {
    std::string page = R"(<!DOCTYPE html>
<html><head><meta charset="UTF-8"><title>装维综合支撑系统 - 登录</title></head>
<body>
<h2>装维综合支撑系统</h2>
)";
    if (!error.empty())
        page += "<p class=\"error\" style=\"color:red\">" + htmlEscape(error) + "</p>\n";
    page += std::string("<form method=\"post\" action=\"") + kLoginPath + R"(">
<p><label for="username">用户名：</label><input id="username" name="username" value=")" +
            htmlEscape(user) + R"("></p>
<p><label for="password">密码：</label><input id="password" name="password" type="password"></p>
<p><button type="submit">登录</button></p>
</form>
<p>演示帐号：demo / demo123（另有 demo2 / demo123）</p>
<p>封禁演示帐号：banned / demo123</p>
</body></html>
)";
    return page;
}

std::string homePage(const std::string& user) {
    return std::string(R"(<!DOCTYPE html>
<html><head><meta charset="UTF-8"><title>装维综合支撑系统</title></head>
<body>
<div class="top">当前用户：)") +
           htmlEscape(user) + " | <a href=\"" + kLogoutPath + R"(">注销</a></div>
<iframe id="content" src=")" +
           kWelcomePath + R"(" width="600" height="200"></iframe>
</body></html>
)";
}

const char* kWelcomePage = R"(<!DOCTYPE html>
<html><head><meta charset="UTF-8"><title>欢迎</title></head>
<body><p>欢迎使用装维综合支撑系统。</p></body></html>
)";

// --- sessions ------------------------------------------------------------------------------

std::string sessionIdOf(const httplib::Request& req) {
    const std::string header = req.get_header_value("Cookie");
    const std::string name = std::string(kCookieName) + "=";
    size_t pos = 0;
    while (pos < header.size()) {
        while (pos < header.size() && (header[pos] == ' ' || header[pos] == ';'))
            ++pos;
        size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        const std::string pair = header.substr(pos, end - pos);
        if (pair.rfind(name, 0) == 0)
            return pair.substr(name.size());
        pos = end;
    }
    return {};
}

enum class Access { None, Banned, Expired, Ok };

// Counts this request against the flood guard of its session, and a lookup against its lifetime.
Access touchSession(OperatorState& state, const httplib::Request& req, std::string* user,
                    bool lookup = false) {
    const std::string id = sessionIdOf(req);
    std::lock_guard lock(state.mutex);
    const auto it = state.sessions.find(id);
    if (id.empty() || it == state.sessions.end())
        return Access::None;
    Session& session = it->second;
    if (user)
        *user = session.user;
    if (session.banned)
        return Access::Banned;
    if (lookup && state.sessionLookups > 0 && ++session.lookups > state.sessionLookups) {
        state.sessions.erase(it);
        return Access::Expired;
    }
    if (state.floodLimit > 0) {
        const auto now = Clock::now();
        session.recent.push_back(now);
        while (!session.recent.empty() && now - session.recent.front() >= std::chrono::minutes(1))
            session.recent.pop_front();
        if (static_cast<long long>(session.recent.size()) > state.floodLimit) {
            session.banned = true;
            session.recent.clear();
            return Access::Banned;
        }
    }
    return Access::Ok;
}

std::string newSession(OperatorState& state, const User& user) {
    std::lock_guard lock(state.mutex);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llX%016llX", static_cast<unsigned long long>(state.random()),
                  static_cast<unsigned long long>(state.random()));
    Session session;
    session.user = user.name;
    session.banned = user.banned;
    state.sessions[buf] = session;
    return buf;
}

// --- line data -----------------------------------------------------------------------------

std::uint64_t fnv1a(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

struct LineData {
    std::string ems, oltIp, oltPon, loid, posName;
    std::string oltSend, onuSend, oltAccept, onuAccept; // JSON numbers
};

std::string reading(std::uint64_t bits, int low, int high) {
    // Two decimals between low and high (in dB).
    const long long span = (high - low) * 100LL;
    const long long hundredths =
        low * 100LL + static_cast<long long>(bits % static_cast<std::uint64_t>(span));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%lld.%02lld", hundredths < 0 ? "-" : "", std::llabs(hundredths) / 100,
                  std::llabs(hundredths) % 100);
    return buf;
}

LineData lineDataFor(const std::string& account) {
    static const char* districts[] = {"天河", "越秀", "海珠", "荔湾", "白云", "番禺", "黄埔", "花都"};
    const std::uint64_t h = fnv1a(account);
    const std::string district = districts[h % 8];
    LineData d;
    d.ems = "广州" + district + "EMS";
    char buf[64];
    std::snprintf(buf, sizeof buf, "10.%u.%u.%u", unsigned(16 + (h >> 8) % 16), unsigned((h >> 12) % 256),
                  unsigned(2 + (h >> 20) % 250));
    d.oltIp = buf;
    std::snprintf(buf, sizeof buf, "0/%u/%u", unsigned(1 + (h >> 28) % 16), unsigned((h >> 32) % 16));
    d.oltPon = buf;
    std::string digits;
    for (const char c : account)
        if (c >= '0' && c <= '9')
            digits += c;
    std::snprintf(buf, sizeof buf, "%010llu", static_cast<unsigned long long>((h >> 4) % 10000000000ULL));
    d.loid = "GZ" + (digits.empty() ? std::string(buf) : digits);
    std::snprintf(buf, sizeof buf, "-%u:8-%02u", unsigned(1 + (h >> 36) % 4), unsigned(1 + (h >> 40) % 32));
    d.posName = district + buf;
    d.oltSend = reading(h >> 7, 2, 7);
    d.onuSend = reading(h >> 17, 1, 4);
    d.oltAccept = reading(h >> 27, -30, -15);
    d.onuAccept = reading(h >> 37, -27, -8);
    // "pon-PORT-SPLITTER-N" and "pon-PORT-SPLITTER-N-weak": lines that share a PON port and a
    // splitter, the weak ones with an ONT receive below -28 dB, the others inside every window.
    if (account.rfind("pon-", 0) == 0) {
        const size_t portEnd = account.find('-', 4);
        const size_t splitterEnd = portEnd == std::string::npos ? portEnd : account.find('-', portEnd + 1);
        if (splitterEnd != std::string::npos) {
            const std::string port = account.substr(4, portEnd - 4);
            d.oltIp = "10.99.0." + port;
            d.oltPon = "0/1/" + port;
            d.posName =
                "测试小区" + port + "号分光器" + account.substr(portEnd + 1, splitterEnd - portEnd - 1);
            const bool weak = account.size() > 5 && account.compare(account.size() - 5, 5, "-weak") == 0;
            d.onuAccept = weak ? reading(h >> 37, -31, -28) : reading(h >> 37, -24, -12);
            d.oltAccept = reading(h >> 27, -25, -15);
        }
    }
    return d;
}

// --- fault cases ---------------------------------------------------------------------------

// An account "res-NAME" or "pow-NAME" selects the fault NAME of the resource or the power lookup.
struct Fault {
    std::string name;
    long long seconds = 0; // for slow-N
};

std::optional<Fault> faultFor(const std::string& account, const char* prefix) {
    if (account.rfind(prefix, 0) != 0)
        return std::nullopt;
    Fault fault;
    fault.name = account.substr(std::string(prefix).size());
    if (fault.name.rfind("slow-", 0) == 0) {
        try {
            fault.seconds = std::stoll(fault.name.substr(5));
        } catch (...) {
            fault.seconds = 1;
        }
        fault.name = "slow";
    }
    return fault;
}

const char* kServerErrorPage = R"(<html><head><title>500 Internal Server Error</title></head>
<body><h1>HTTP Status 500 - 服务器内部错误</h1><p>java.lang.NullPointerException</p></body></html>
)";

// Shared faults of both lookups; true when the reply is settled.
bool commonFault(OperatorState& state, const httplib::Server& server, const Fault& fault,
                 httplib::Response& res) {
    if (fault.name == "slow") {
        sleepUnlessStopping(server, fault.seconds * 1000);
        return false;
    }
    if (fault.name == "noreply") {
        sleepUnlessStopping(server, state.noReplySeconds * 1000);
        res.set_content("", kJson);
        return true;
    }
    if (fault.name == "500") {
        res.status = 500;
        res.set_content(kServerErrorPage, kHtml);
        return true;
    }
    if (fault.name == "empty") {
        res.set_content("", kJson);
        return true;
    }
    if (fault.name == "notjson") {
        res.set_content("系统繁忙，请稍后再试", "text/plain;charset=UTF-8");
        return true;
    }
    if (fault.name == "endless") {
        serveEndless(server, res, kJson);
        return true;
    }
    if (fault.name == "array") {
        res.set_content("[{\"rmw_test_desc\":\"成功\",\"test_desc\":\"成功\"}]", kJson);
        return true;
    }
    return false;
}

std::string padding(const OperatorState& state) {
    return ",\"rmw_remark\":\"" + std::string(static_cast<size_t>(state.hugeBytes), 'x') + "\"";
}

struct Member {
    std::string name;
    std::optional<std::string> json; // nullopt: left out
};

// The faults both lookups share: member 0 is the description, members 1 to valueCount the values.
void applyReplyFault(std::vector<Member>& m, const std::string& fault, size_t valueCount) {
    if (fault == "null" || fault == "missing")
        for (size_t i = 1; i <= valueCount; ++i) {
            if (fault == "null")
                m[i].json = "null";
            else
                m[i].json.reset();
        }
    if (fault == "empty-desc")
        m[0].json = "\"\"";
    if (fault == "null-desc")
        m[0].json = "null";
    if (fault == "missing-desc")
        m[0].json.reset();
}

std::string objectText(const std::vector<Member>& members, const std::string& extra = {}) {
    std::string body = "{";
    for (const Member& m : members) {
        if (!m.json)
            continue;
        if (body.size() > 1)
            body += ",";
        body += jsonString(m.name) + ":" + *m.json;
    }
    return body + extra + "}";
}

// The resource members an account gets; the power lookup checks its request against them.
std::vector<Member> resourceMembers(const std::string& account, const std::string& faultName) {
    LineData d = lineDataFor(account);
    if (faultName == "special") {
        d.ems = "佛山&南海 EMS=1+2%";
        d.oltIp = "10.0.0.1&x=1";
        d.oltPon = "0/1/3 ";
        d.loid = "LOID+100%";
        d.posName = "南海-1:8-03 #A&B";
    }
    if (faultName == "badutf8")
        d.posName = "天河-1:8-\xff\xfe"
                    "03";
    std::vector<Member> m = {{"rmw_test_desc", jsonString("资源查询成功")},
                             {"rmw_ems", jsonString(d.ems)},
                             {"rmw_olt_pon", jsonString(d.oltPon)},
                             {"rmw_loid", jsonString(d.loid)},
                             {"rmw_pos_name", jsonString(d.posName)},
                             {"rmw_olt_ip", jsonString(d.oltIp)},
                             {"rmw_pos_port", jsonString("5")}};
    applyReplyFault(m, faultName, 5);
    return m;
}

std::string memberValue(const std::vector<Member>& members, const std::string& name) {
    for (const Member& m : members)
        if (m.name == name && m.json && *m.json != "null") {
            // Unquote: the stand-in writes these members as plain JSON strings.
            std::string text = m.json->substr(1, m.json->size() - 2);
            std::string out;
            for (size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                out += text[i];
            }
            return out;
        }
    return {};
}

void resourceLookup(OperatorState& state, const httplib::Server& server, const httplib::Request& req,
                    httplib::Response& res) {
    const auto fields = formFields(req.body);
    const std::string account = field(fields, "no209");
    const auto fault = faultFor(account, "res-");
    const std::string name = fault ? fault->name : std::string();
    if (fault && commonFault(state, server, *fault, res))
        return;
    if (account.empty()) {
        res.set_content(objectText({{"rmw_test_desc", jsonString("")}}), kJson);
        return;
    }
    res.set_content(objectText(resourceMembers(account, name), name == "huge" ? padding(state) : ""), kJson);
}

void powerLookup(OperatorState& state, const httplib::Server& server, const httplib::Request& req,
                 httplib::Response& res) {
    const auto fields = formFields(req.body);
    const std::string account = field(fields, "no209");
    const auto fault = faultFor(account, "pow-");
    const std::string name = fault ? fault->name : std::string();
    if (fault && commonFault(state, server, *fault, res))
        return;

    // The request must carry the fields of the resource reply, unchanged and in order; anything
    // else (a field split by an unencoded '&', a lost value) gets a refusal the row shows.
    const auto resource = resourceMembers(account, faultFor(account, "res-").value_or(Fault{}).name);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"no209", account},
        {"rmwEms", memberValue(resource, "rmw_ems")},
        {"rmwOltIp", memberValue(resource, "rmw_olt_ip")},
        {"rmwOltPon", memberValue(resource, "rmw_olt_pon")},
        {"rmwLoid", memberValue(resource, "rmw_loid")}};
    if (fields != expected) {
        res.set_content(objectText({{"test_desc", jsonString("请求参数与资源信息不符")}}), kJson);
        return;
    }

    const LineData d = lineDataFor(account);
    std::vector<Member> m = {{"test_desc", jsonString("成功")}, {"olt_send", d.oltSend},
                             {"onu_send", d.onuSend},           {"olt_accept", d.oltAccept},
                             {"onu_accept", d.onuAccept},       {"test_time", jsonString("2")}};
    applyReplyFault(m, name, 4);
    if (name == "null-olt-send")
        m[1].json = "null";
    if (name == "missing-olt-send")
        m[1].json.reset();
    if (name == "null-onu-send")
        m[2].json = "null";
    if (name == "text-readings")
        for (size_t i = 1; i < 5; ++i)
            m[i].json = jsonString(*m[i].json);
    if (name == "offline")
        m = {{"test_desc", jsonString("光猫不在线")},
             {"olt_send", "null"},
             {"onu_send", "null"},
             {"olt_accept", "null"},
             {"onu_accept", "null"}};
    if (name == "badutf8")
        m[0].json = "\"成功\xff\"";
    res.set_content(objectText(m, name == "huge" ? padding(state) : ""), kJson);
}

bool isForm(const httplib::Request& req) {
    return req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
}

} // namespace

std::string operatorHelp() {
    return R"(Operator maintenance system (paths under /ehmsexp/):
  GET  jsp/login/login.jsp      sign-in form. Users: demo / demo123, demo2 / demo123, and the banned
                                account banned / demo123. POST it (username, password): a correct
                                sign-in sets "JSESSIONID=<hex>; Path=/ehmsexp; HttpOnly" (new for
                                every sign-in) and redirects (302) to jsp/main.jsp; a wrong one shows
                                the form again with an error.
  GET  jsp/main.jsp             home page with a "注销" link and an <iframe> of jsp/welcome.jsp (which
                                has no "注销"); without a session it redirects to the sign-in page.
                                A banned session (the banned account or a flooding one) gets
                                <html><head></head><body></body></html>.
  GET  jsp/login/logout.jsp     ends the session, redirects to the sign-in page.
  POST rest/install/queryRmwResouceInfo?testType=2   body no209=ACCOUNT
  POST rest/install/queryPowerInfo?testType=2        body no209=..&rmwEms=..&rmwOltIp=..&rmwOltPon=..&rmwLoid=..
                                Form POSTs with the session cookie; without a valid session the
                                sign-in page (status 200); a banned session gets an empty body.
                                UTF-8 JSON, deterministic per account. The power lookup answers
                                test_desc "请求参数与资源信息不符" unless its five fields, decoded, equal
                                the account and the resource values in this order.

  Fault cases, chosen by the account: "res-NAME" for the resource lookup, "pow-NAME" for the power
  lookup (the resource lookup of a pow- account is normal):
    slow-N         reply after N seconds          noreply      hold the reply (--noreply-seconds)
    500            HTTP 500 with an HTML body     empty        200 with an empty body
    notjson        plain text                     array        a JSON array
    null           data members null              missing      data members left out
    empty-desc     rmw_test_desc / test_desc ""   null-desc    ... null
    missing-desc   ... left out                   badutf8      invalid UTF-8 in a text member
    huge           a valid reply of --huge-bytes padding (default 6 MiB)
    endless        a 200 reply whose body never ends
    res-special    names holding & = + % and blanks (checks the request encoding)
    pow-null-olt-send, pow-missing-olt-send, pow-null-onu-send, pow-text-readings (readings as
    strings), pow-offline (test_desc "光猫不在线" with null readings)

  Shared lines, chosen by the account: "pon-PORT-SPLITTER-N" is a line on OLT 10.99.0.PORT, PON
  0/1/PORT, splitter "测试小区PORT号分光器SPLITTER", with readings inside every window;
  "pon-PORT-SPLITTER-N-weak" the same with an ONT receive below -28 dB.

  --flood-limit N     requests per minute per session before it is banned (default 1200; 0: off)
  --session-lookups N a session ends after answering N lookups: the next lookup is redirected
                      (302) to the sign-in page, and so is jsp/main.jsp (default 0: never)
  --noreply-seconds N how long a noreply case holds the connection (default 30)
  --huge-bytes N      padding of the huge cases (default 6291456)
)";
}

void installOperatorRoutes(httplib::Server& server, const Flags& flags) {
    auto state = std::make_shared<OperatorState>();
    state->floodLimit = flags.getInt("flood-limit", 1200);
    state->noReplySeconds = flags.getInt("noreply-seconds", 30);
    state->hugeBytes = flags.getInt("huge-bytes", state->hugeBytes);
    state->sessionLookups = flags.getInt("session-lookups", 0);

    // Deliberately slow handlers must not starve the others of workers.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };

    server.Get(kLoginPath, [](const httplib::Request&, httplib::Response& res) {
        res.set_content(loginPage({}, {}), kHtml);
    });

    server.Post(kLoginPath, [state](const httplib::Request& req, httplib::Response& res) {
        const auto fields = formFields(req.body);
        const std::string user = field(fields, "username");
        const std::string password = field(fields, "password");
        for (const User& u : kUsers) {
            if (user == u.name && password == u.password) {
                const std::string id = newSession(*state, u);
                res.set_header("Set-Cookie",
                               std::string(kCookieName) + "=" + id + "; Path=/ehmsexp; HttpOnly");
                res.set_redirect(kHomePath, 302);
                return;
            }
        }
        res.set_content(loginPage("用户名或密码错误，请重新输入。", user), kHtml);
    });

    server.Get(kHomePath, [state](const httplib::Request& req, httplib::Response& res) {
        std::string user;
        switch (touchSession(*state, req, &user)) {
        case Access::None:
        case Access::Expired:
            res.set_redirect(kLoginPath, 302);
            return;
        case Access::Banned:
            res.set_content(kEmptyPage, kHtml);
            return;
        case Access::Ok:
            res.set_content(homePage(user), kHtml);
            return;
        }
    });

    server.Get(kWelcomePath,
               [](const httplib::Request&, httplib::Response& res) { res.set_content(kWelcomePage, kHtml); });

    server.Get(kLogoutPath, [state](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(state->mutex);
            state->sessions.erase(sessionIdOf(req));
        }
        res.set_header("Set-Cookie", std::string(kCookieName) + "=; Path=/ehmsexp; Max-Age=0; HttpOnly");
        res.set_redirect(kLoginPath, 302);
    });

    auto lookup = [state, &server](auto handler) {
        return [state, &server, handler](const httplib::Request& req, httplib::Response& res) {
            switch (touchSession(*state, req, nullptr, true)) {
            case Access::None:
                res.set_content(loginPage({}, {}), kHtml);
                return;
            case Access::Expired:
                res.set_redirect(kLoginPath, 302);
                return;
            case Access::Banned:
                res.set_content("", kHtml);
                return;
            case Access::Ok:
                break;
            }
            if (req.get_param_value("testType") != "2") {
                res.status = 400;
                res.set_content("<html><body><h1>HTTP Status 400 - testType</h1></body></html>", kHtml);
                return;
            }
            if (!isForm(req)) {
                res.set_content(
                    objectText({{"rmw_test_desc", jsonString("")}, {"test_desc", jsonString("")}}), kJson);
                return;
            }
            handler(*state, server, req, res);
        };
    };
    server.Post(kResourcePath, lookup(resourceLookup));
    server.Post(kPowerPath, lookup(powerLookup));
}
