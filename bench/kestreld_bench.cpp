// SPDX-License-Identifier: MIT
// The local card service's own cost per request: the same library call
// made directly and through kestreld (HTTP on the loopback interface, the
// request checks, the card queue, the GB18030 conversion, the field
// decoding and the JSON answer), each request on a new connection as a
// browser's first fetch would be.
//
//   Libinfo/direct and Libinfo/http: a call that touches no reader, so the
//   HTTP figure is the service's overhead alone.
//   IdentityCard/direct and IdentityCard/http: the identity card through
//   the virtual reader (the largest result text); the counter overhead_ms
//   is the mean of http minus direct over interleaved pairs of calls.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "kestrel.h"
#include "profile.h"
#include "server.h"
#include "service_log.h"
#include "virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

// A running service in front of the virtual reader with the demonstration
// cards, for the whole program.
struct Service {
    kestreld::Config config;
    kestreld::ServiceLog log;
    std::unique_ptr<kestreld::Server> server;

    Service() {
        vr::VirtualReader::instance().plug();
        vr::insertProfile(*vr::VirtualReader::instance().reader(), vr::demoProfile());
        config.port = 0;
        std::string error;
        log.open("/dev/null", error);
        server = std::make_unique<kestreld::Server>(config, log);
        if (!server->start(error)) abort();
    }
};

Service &service() {
    static Service s;
    return s;
}

// One request on a new connection; true when the answer is 200.
bool request(const std::string &method, const std::string &path, const std::string &body = "") {
    const int port = service().server->port();
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                    "\r\nConnection: close\r\n";
    if (method == "POST")
        r += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    r += "\r\n" + body;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return false;
    }
    send(fd, r.data(), r.size(), MSG_NOSIGNAL);
    std::string answer;
    char buf[8192];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return answer.compare(0, 12, "HTTP/1.1 200") == 0;
}

void BM_Libinfo_direct(benchmark::State &state) {
    char info[KESTREL_LIBINFO_SIZE + 1] = {};
    for (auto _ : state) benchmark::DoNotOptimize(ICC_Reader_Libinfo(info));
}
BENCHMARK(BM_Libinfo_direct);

void BM_Libinfo_http(benchmark::State &state) {
    service();
    for (auto _ : state)
        if (!request("GET", "/v1/libinfo")) state.SkipWithError("request failed");
}
BENCHMARK(BM_Libinfo_http)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_IdentityCard_direct(benchmark::State &state) {
    service();
    static char out[KESTREL_ID_OUT_SIZE];
    for (auto _ : state)
        if (iReadIdentityCard(out) != 0) state.SkipWithError("iReadIdentityCard failed");
}
BENCHMARK(BM_IdentityCard_direct)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_IdentityCard_http(benchmark::State &state) {
    service();
    static char out[KESTREL_ID_OUT_SIZE];
    double direct = 0, http = 0;
    for (auto _ : state) {
        // Interleaved, so that both see the same reader timing.
        state.PauseTiming();
        auto t0 = Clock::now();
        if (iReadIdentityCard(out) != 0) state.SkipWithError("iReadIdentityCard failed");
        auto t1 = Clock::now();
        state.ResumeTiming();
        if (!request("POST", "/v1/identity-card", "{}")) state.SkipWithError("request failed");
        auto t2 = Clock::now();
        direct += std::chrono::duration<double>(t1 - t0).count();
        http += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["overhead_ms"] = (http - direct) / static_cast<double>(state.iterations()) * 1e3;
}
BENCHMARK(BM_IdentityCard_http)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
