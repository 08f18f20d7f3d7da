// SPDX-License-Identifier: MIT
#include "config.h"

#include <cctype>
#include <fstream>

namespace kestreld {

namespace {

constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxOrigins = 64;
constexpr std::size_t kMaxOriginLength = 253 + 20;

std::string trim(const std::string &s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> listItems(const std::string &value) {
    std::vector<std::string> items;
    std::string cur;
    for (char c : value) {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!cur.empty()) items.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) items.push_back(cur);
    return items;
}

// Decimal integer in [lo, hi], nothing else.
bool parseInt(const std::string &s, long lo, long hi, long &out) {
    if (s.empty() || s.size() > 9) return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parseBool(const std::string &s, bool &out) {
    std::string v = lower(s);
    if (v == "yes" || v == "on" || v == "true" || v == "1") return out = true, true;
    if (v == "no" || v == "off" || v == "false" || v == "0") return out = false, true;
    return false;
}

bool hostNameChars(const std::string &host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.front() == '-') return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-')) return false;
    return true;
}

bool ipv6Literal(const std::string &host) {
    // "[" hex digits, ":" and "." "]", with at least one ":".
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
    bool colon = false;
    for (std::size_t i = 1; i + 1 < host.size(); ++i) {
        char c = host[i];
        if (c == ':') colon = true;
        else if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == '.')) return false;
    }
    return colon;
}

}  // namespace

const char *operationClassName(unsigned cls) {
    switch (cls) {
    case kWrite: return "write";
    case kPinChange: return "pin-change";
    case kDebit: return "debit";
    default: return "read";
    }
}

bool normaliseOrigin(const std::string &text, std::string &origin, std::string &error) {
    error = "'" + text + "' is not an origin (scheme://host[:port])";
    if (text.size() > kMaxOriginLength) return false;
    std::string t = text;
    if (lower(t) == "null") {
        error = "the origin null is never allowed";
        return false;
    }
    std::size_t sep = t.find("://");
    if (sep == std::string::npos) return false;
    std::string scheme = lower(t.substr(0, sep));
    std::string rest = t.substr(sep + 3);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (scheme != "http" && scheme != "https") {
        error = "origin '" + text + "': only http and https origins can be allowed";
        return false;
    }
    if (rest.find_first_of("/?#@*\\ ") != std::string::npos) {
        error = "origin '" + text + "': an origin has no path, query, user or wildcard";
        return false;
    }
    std::string host = rest, port;
    std::size_t colon = rest.rfind(':');
    std::size_t bracket = rest.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        long p;
        if (!parseInt(port, 1, 65535, p)) {
            error = "origin '" + text + "': bad port";
            return false;
        }
        port = std::to_string(p);
    }
    host = lower(host);
    if (!(host.front() == '[' ? ipv6Literal(host) : hostNameChars(host))) {
        error = "origin '" + text + "': bad host";
        return false;
    }
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443")) port.clear();
    origin = scheme + "://" + host + (port.empty() ? "" : ":" + port);
    error.clear();
    return true;
}

bool setOption(Config &config, const std::string &key, const std::string &value, std::string &error) {
    long n;
    if (key == "port") {
        if (!parseInt(value, 0, 65535, n)) return error = "port: a number from 0 to 65535", false;
        config.port = static_cast<int>(n);
    } else if (key == "allow-origin") {
        for (const std::string &item : listItems(value)) {
            std::string origin;
            if (!normaliseOrigin(item, origin, error)) return false;
            if (config.allowedOrigins.size() >= kMaxOrigins) return error = "allow-origin: too many origins", false;
            config.allowedOrigins.push_back(origin);
        }
    } else if (key == "enable") {
        for (const std::string &item : listItems(value)) {
            std::string name = lower(item);
            if (name == "none") config.enabled = 0;
            else if (name == "write") config.enabled |= kWrite;
            else if (name == "pin-change") config.enabled |= kPinChange;
            else if (name == "debit") config.enabled |= kDebit;
            else return error = "enable: unknown operation '" + item + "' (write, pin-change, debit, none)", false;
        }
    } else if (key == "log-file") {
        config.logFile = value;
    } else if (key == "queue-wait") {
        if (!parseInt(value, 1, 600, n)) return error = "queue-wait: seconds from 1 to 600", false;
        config.queueWaitMs = static_cast<int>(n * 1000);
    } else if (key == "queue-length") {
        if (!parseInt(value, 1, 64, n)) return error = "queue-length: a number from 1 to 64", false;
        config.queueLength = static_cast<int>(n);
    } else if (key == "demo") {
        if (!parseBool(value, config.demo)) return error = "demo: yes or no", false;
    } else {
        return error = "unknown key '" + key + "'", false;
    }
    return true;
}

bool loadConfigFile(Config &config, const std::string &path, std::string &error) {
    std::ifstream in(path);
    if (!in) return error = path + ": cannot be read", false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (line.size() > kMaxLine) return error = where + "line too long", false;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        std::size_t eq = t.find('=');
        if (eq == std::string::npos) return error = where + "expected key = value", false;
        std::string message;
        if (!setOption(config, trim(t.substr(0, eq)), trim(t.substr(eq + 1)), message))
            return error = where + message, false;
    }
    return true;
}

}  // namespace kestreld
