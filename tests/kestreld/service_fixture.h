/* SPDX-License-Identifier: MIT */
// Fixture of the service tests: kestreld's server running in this process
// on a free loopback port, in front of the virtual reader with the
// demonstration cards, and a plain HTTP client that sends requests byte
// for byte as written.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cards/reader_device.h"
#include "cards/ss_card.h"
#include "config.h"
#include "demo_cards.h"
#include "fixture.h"
#include "server.h"
#include "service_log.h"

namespace kestreldtest {

using nlohmann::json;

struct HttpResponse {
    int status = 0;                              // 0: no answer
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    bool has(const std::string &name) const { return headers.count(name) != 0; }
    std::string header(const std::string &name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
    json parsed() const { return json::parse(body, nullptr, false); }
};

// Connects to 127.0.0.1:port (or [::1]:port); -1 on failure.
inline int connectTo(int port, bool ipv6 = false) {
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval tv{20, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int rc;
    if (ipv6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        rc = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    if (rc != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline void sendAll(int fd, const std::string &bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the server may close early on a refused request
        sent += static_cast<std::size_t>(n);
    }
}

// Reads until the server closes and parses the answer.
inline HttpResponse readResponse(int fd) {
    std::string raw;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) raw.append(buf, static_cast<std::size_t>(n));
    HttpResponse r;
    std::size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return r;
    r.status = std::stoi(raw.substr(raw.find(' ') + 1, 3));
    std::istringstream head(raw.substr(0, end));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (char &c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        r.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    r.body = raw.substr(end + 4);
    return r;
}

inline HttpResponse httpExchange(int port, const std::string &request, bool ipv6 = false) {
    int fd = connectTo(port, ipv6);
    if (fd < 0) return {};
    sendAll(fd, request);
    HttpResponse r = readResponse(fd);
    close(fd);
    return r;
}

class ServiceTest : public vr::VirtualReaderTest {
protected:
    static constexpr const char *kAllowed = "https://his.example";
    // The demonstration card as a request names it.
    static constexpr const char *kCardId = "430105D1560000050000000000000042";
    static constexpr const char *kCardNumber = "K43000042";

    void SetUp() override {
        VirtualReaderTest::SetUp();
        vr::insertDemoCards(*reader());
        config.port = 0;
        config.allowedOrigins = {kAllowed};
        logPath = ::testing::TempDir() + "kestreld-test-" + std::to_string(getpid()) + ".log";
        std::remove(logPath.c_str());
    }

    void TearDown() override {
        server.reset();
        log.reset();
        std::remove(logPath.c_str());
    }

    // Starts the server with `config` (once per test, before the first
    // request).
    void start() {
        log = std::make_unique<kestreld::ServiceLog>();
        std::string error;
        ASSERT_TRUE(log->open(logPath, error)) << error;
        server = std::make_unique<kestreld::Server>(config, *log);
        ASSERT_TRUE(server->start(error)) << error;
        port = server->port();
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(port); }

    // A request with the usual headers and "Connection: close"; `extra`
    // lines end with CR LF each.
    std::string request(const std::string &method, const std::string &path, const std::string &body = "",
                        const std::string &extra = "") const {
        std::string r = method + " " + path + " HTTP/1.1\r\nHost: " + host() + "\r\nConnection: close\r\n" + extra;
        if (method == "POST") r += "Content-Type: application/json\r\n";
        if (!body.empty() || method == "POST") r += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return r + "\r\n" + body;
    }

    HttpResponse get(const std::string &path, const std::string &extra = "") {
        if (!server) start();
        return httpExchange(port, request("GET", path, "", extra));
    }
    HttpResponse post(const std::string &path, const std::string &body = "", const std::string &extra = "") {
        if (!server) start();
        return httpExchange(port, request("POST", path, body, extra));
    }
    HttpResponse raw(const std::string &bytes) {
        if (!server) start();
        return httpExchange(port, bytes);
    }

    // Every message the reader received, as "<NAD> <bytes>", then forgotten.
    static std::vector<std::string> takeTrace() {
        auto r = reader();
        std::vector<std::string> out;
        for (const auto &e : r->trace()) {
            std::string line;
            char hex[4];
            snprintf(hex, sizeof hex, "%02X", e.nad);
            line = hex;
            for (uint8_t b : e.command) {
                snprintf(hex, sizeof hex, " %02X", b);
                line += hex;
            }
            out.push_back(line);
        }
        r->clearTrace();
        return out;
    }

    // What the holder types on the keypad (keypad script words, one entry
    // each: "123456", "timeout").
    static void type(const std::string &entries) {
        auto r = reader();
        auto device = std::dynamic_pointer_cast<vr::ReaderDevice>(r->slot(0x00).card);
        std::vector<vr::KeypadEntry> parsed;
        std::string error;
        ASSERT_TRUE(device && vr::parseKeypadScript(entries, &parsed, &error)) << error;
        for (const vr::KeypadEntry &e : parsed) device->keypad().queue(e);
    }

    // The holder's card in the contact slot.
    static std::shared_ptr<vr::SsCard> holderCard() {
        return std::dynamic_pointer_cast<vr::SsCard>(reader()->slot(0x01).card);
    }

    std::string logText() const {
        std::ifstream in(logPath);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    kestreld::Config config;
    std::string logPath;
    std::unique_ptr<kestreld::ServiceLog> log;
    std::unique_ptr<kestreld::Server> server;
    int port = 0;
};

}  // namespace kestreldtest
