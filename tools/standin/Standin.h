#pragma once

// Stand-in for the operator's maintenance web system and the vendor's update server, on loopback.

#include <httplib.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// "--name value" pairs from the command line; "--name" alone stands for "1".
class Flags {
public:
    std::string get(const std::string& name, const std::string& fallback = {}) const;
    long long getInt(const std::string& name, long long fallback) const;
    bool has(const std::string& name) const { return m_values.count(name) != 0; }
    void set(const std::string& name, const std::string& value) { m_values[name] = value; }

private:
    std::map<std::string, std::string> m_values;
};

// The command line as UTF-8, whatever the system's code page (Windows hands main() its arguments
// in the ANSI code page).
std::vector<std::string> utf8Arguments(int argc, char** argv);

// A file path from UTF-8 text; the plain std::string constructor reads the ANSI code page on Windows.
std::filesystem::path utf8Path(const std::string& text);

// Each route set installs its handlers and describes its flags for --help.
void installOperatorRoutes(httplib::Server& server, const Flags& flags);
std::string operatorHelp();

void installUpdateRoutes(httplib::Server& server, const Flags& flags);
std::string updateHelp();

// Sleeps in short steps so a stopping server is not held up by a deliberately slow handler.
void sleepUnlessStopping(const httplib::Server& server, long long milliseconds);

// A 200 reply whose chunked body never ends (until the client goes or the server stops).
void serveEndless(const httplib::Server& server, httplib::Response& res, const char* contentType);
