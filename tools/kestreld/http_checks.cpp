// SPDX-License-Identifier: MIT
#include "http_checks.h"

#include <cctype>

#include <nlohmann/json.hpp>

namespace kestreld {

namespace {

bool equalsIgnoringCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Counts depth, members and string sizes while the parser reads; stops it
// (by returning false) at the first bound passed.
class LimitChecker : public nlohmann::json::json_sax_t {
public:
    explicit LimitChecker(std::size_t maxString) : maxString_(maxString) {}
    std::string error;
    bool topIsObject = false;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t &) override { return value(); }
    bool string(string_t &s) override { return value() && length(s); }
    bool binary(binary_t &) override { return fail("binary values are not JSON"); }
    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t &k) override { return length(k); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &) override {
        if (error.empty()) error = "the body is not valid JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

private:
    const std::size_t maxString_;
    int depth_ = 0;
    int members_ = 0;
    bool sawTop_ = false;

    bool fail(const std::string &message) {
        if (error.empty()) error = message;
        return false;
    }
    // Every value: the top one must be an object, the others are counted.
    bool node(bool isObject) {
        if (!sawTop_) {
            sawTop_ = true;
            topIsObject = isObject;
            return isObject || fail("the body must be a JSON object");
        }
        return ++members_ <= kMaxJsonMembers ||
               fail("the body has more than " + std::to_string(kMaxJsonMembers) + " values");
    }
    bool value() { return node(false); }
    bool length(const std::string &s) {
        return s.size() <= maxString_ ||
               fail("a text in the body is longer than " + std::to_string(maxString_) + " bytes");
    }
    bool open(bool object) {
        return node(object) && (++depth_ <= kMaxJsonDepth ||
                                fail("the body is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels"));
    }
    bool close() {
        --depth_;
        return true;
    }
};

}  // namespace

bool hostAllowed(const std::string &host, int port) {
    const std::string p = ":" + std::to_string(port);
    for (const char *name : {"127.0.0.1", "[::1]", "localhost"}) {
        if (equalsIgnoringCase(host, name + p)) return true;
        if (port == 80 && equalsIgnoringCase(host, name)) return true;
    }
    return false;
}

bool originAllowed(const std::string &origin, const Config &config, int port) {
    if (origin.empty() || origin == "null") return false;
    for (const std::string &allowed : config.allowedOrigins)
        if (origin == allowed) return true;
    if (config.demo) {
        const std::string p = port == 80 ? "" : ":" + std::to_string(port);
        for (const char *name : {"http://127.0.0.1", "http://[::1]", "http://localhost"})
            if (origin == name + p) return true;
    }
    return false;
}

bool isJsonContentType(const std::string &contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    return equalsIgnoringCase(type, "application/json");
}

bool jsonWithinLimits(const std::string &body, std::string &error, std::size_t maxString) {
    LimitChecker checker(maxString);
    bool ok = nlohmann::json::sax_parse(body, &checker, nlohmann::json::input_format_t::json, true, false);
    if (ok && !checker.topIsObject) checker.error = "the body must be a JSON object";
    if (!ok || !checker.topIsObject) {
        error = checker.error.empty() ? "the body is not valid JSON" : checker.error;
        return false;
    }
    return true;
}

}  // namespace kestreld
