// SPDX-License-Identifier: MIT
#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <functional>

#include <microhttpd.h>
#include <nlohmann/json.hpp>

#include "embedded_files.h"
#include "endpoints.h"
#include "http_checks.h"

namespace kestreld {

using json = nlohmann::ordered_json;

namespace {

constexpr unsigned kConnectionLimit = 64;
constexpr unsigned kConnectionTimeoutSeconds = 10;
constexpr std::size_t kLoggedPathLength = 120;
// Most bytes of an oversized body read and dropped before the connection
// is closed without an answer.
constexpr std::size_t kMaxDropped = 65536;

// What a refused request is told, and browsers are allowed to ask.
const char kAllowedMethods[] = "GET, POST, OPTIONS";
const char kAllowedHeaders[] = "Content-Type";
const char kPreflightMaxAge[] = "600";
// The demonstration page may talk to services on the loopback addresses
// only.
const char kDemoPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self' http://127.0.0.1:* http://localhost:*; frame-ancestors 'none'; "
    "base-uri 'none'; form-action 'none'";

std::string dumpJson(const json &j) {
    // Texts from a card may hold anything: invalid UTF-8 is replaced, not
    // thrown on.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A value from the request, cut for messages and the log.
std::string shown(const std::string &value) {
    constexpr std::size_t kShown = 100;
    return "'" + (value.size() > kShown ? value.substr(0, kShown) + "..." : value) + "'";
}

std::string errorBody(unsigned status, const std::string &message) {
    return dumpJson(json{{"error", status}, {"message", message}});
}

// One header: how often it came and its first value.
struct HeaderCount {
    const char *name;
    int count = 0;
    std::string value;
};

MHD_Result countHeader(void *cls, MHD_ValueKind, const char *key, const char *value) {
    auto *h = static_cast<HeaderCount *>(cls);
    if (strcasecmp(key, h->name) == 0) {
        if (h->count++ == 0 && value) h->value = value;
    }
    return MHD_YES;
}

HeaderCount header(MHD_Connection *c, const char *name) {
    HeaderCount h;
    h.name = name;
    MHD_get_connection_values(c, MHD_HEADER_KIND, countHeader, &h);
    return h;
}

// The client has closed its side (or the connection broke).
bool clientGone(MHD_Connection *c) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (!info) return false;
    pollfd p{};
    p.fd = info->connect_fd;
    p.events = POLLRDHUP;
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

const char *contentTypeOf(const char *name) {
    const char *dot = strrchr(name, '.');
    if (dot && strcmp(dot, ".js") == 0) return "text/javascript; charset=utf-8";
    if (dot && strcmp(dot, ".css") == 0) return "text/css; charset=utf-8";
    return "text/html; charset=utf-8";
}

void mhdLog(void *cls, const char *format, va_list ap) {
    char text[512];
    vsnprintf(text, sizeof text, format, ap);
    std::size_t n = strlen(text);
    while (n > 0 && text[n - 1] == '\n') text[--n] = '\0';
    static_cast<ServiceLog *>(cls)->line(std::string("http: ") + text);
}

}  // namespace

// The state of one request across the calls of the access handler.
struct Server::Request {
    // The largest body the request may have.
    friend std::size_t bodyLimit(const Request &rq) {
        return rq.endpoint && rq.endpoint->maxBody ? rq.endpoint->maxBody : kMaxBody;
    }
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::string method;
    std::string path;
    std::string origin;         // the allowed Origin, echoed in CORS headers; empty: none
    bool preflightPrivateNetwork = false;
    const Endpoint *endpoint = nullptr;
    const EmbeddedFile *file = nullptr;
    bool answered = false;      // a response has been queued
    std::string body;
    bool tooLarge = false;      // the body outgrew kMaxBody
    std::size_t dropped = 0;    // bytes of it dropped since
};

namespace {

MHD_Result accessHandler(void *cls, MHD_Connection *c, const char *url, const char *method, const char *,
                         const char *uploadData, std::size_t *uploadSize, void **state) {
    return static_cast<MHD_Result>(static_cast<Server *>(cls)->handle(c, url, method, uploadData, uploadSize, state));
}

void requestCompleted(void *, MHD_Connection *, void **state, MHD_RequestTerminationCode) {
    delete static_cast<Server::Request *>(*state);
    *state = nullptr;
}

}  // namespace

Server::Server(const Config &config, ServiceLog &log)
    : config_(config), log_(log), worker_(config.queueLength, std::chrono::milliseconds(config.queueWaitMs)) {}

Server::~Server() { stop(); }

bool Server::start(std::string &error) {
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_ERROR_LOG;
    auto startOn = [&](unsigned extraFlags, const sockaddr *addr, int port) {
        return MHD_start_daemon(flags | extraFlags, static_cast<uint16_t>(port), nullptr, nullptr, accessHandler, this,
                                MHD_OPTION_EXTERNAL_LOGGER, mhdLog, &log_,
                                MHD_OPTION_SOCK_ADDR, addr,
                                MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                                MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, kMaxHeaderBytes,
                                MHD_OPTION_STRICT_FOR_CLIENT, 1,
                                MHD_OPTION_NOTIFY_COMPLETED, requestCompleted, nullptr,
                                MHD_OPTION_END);
    };
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(config_.port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    daemon4_ = startOn(0, reinterpret_cast<sockaddr *>(&v4), config_.port);
    if (!daemon4_) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(config_.port) + ": " + strerror(errno);
        return false;
    }
    const MHD_DaemonInfo *info = MHD_get_daemon_info(daemon4_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : config_.port;
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port_));
    v6.sin6_addr = in6addr_loopback;
    daemon6_ = startOn(MHD_USE_IPv6, reinterpret_cast<sockaddr *>(&v6), port_);
    if (!daemon6_) log_.line("not listening on [::1]:" + std::to_string(port_) + " (no IPv6 loopback)");
    return true;
}

void Server::stop() {
    if (daemon4_) MHD_stop_daemon(daemon4_);
    if (daemon6_) MHD_stop_daemon(daemon6_);
    daemon4_ = daemon6_ = nullptr;
}

int Server::handle(MHD_Connection *c, const char *url, const char *method, const char *uploadData,
                   std::size_t *uploadSize, void **state) {
    auto *rq = static_cast<Request *>(*state);
    if (!rq) {
        rq = new Request;
        *state = rq;
        rq->method = method;
        rq->path = url;
        return checkHeaders(c, url, method, *rq);
    }
    if (*uploadSize != 0) {
        // The body of a refused request, and a body without a declared
        // length (chunked) that outgrows the bound, are read on and
        // dropped, so that the client gets its answer, but only so far:
        // past that the connection is closed.
        if (rq->answered || rq->tooLarge || rq->body.size() + *uploadSize > bodyLimit(*rq)) {
            rq->tooLarge = !rq->answered;
            rq->dropped += *uploadSize;
            *uploadSize = 0;
            return rq->dropped > kMaxDropped ? MHD_NO : MHD_YES;
        }
        rq->body.append(uploadData, *uploadSize);
        *uploadSize = 0;
        return MHD_YES;
    }
    if (rq->answered) return MHD_YES;
    if (rq->tooLarge)
        return refuse(c, *rq, MHD_HTTP_CONTENT_TOO_LARGE,
                      "the request body is larger than " + std::to_string(bodyLimit(*rq)) + " bytes");
    return dispatch(c, *rq);
}

int Server::checkHeaders(MHD_Connection *c, const char *url, const char *method, Request &rq) {
    int headers = MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
    if (headers > kMaxHeaders)
        return refuse(c, rq, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                      "more than " + std::to_string(kMaxHeaders) + " header fields");

    HeaderCount host = header(c, "Host");
    if (host.count != 1 || !hostAllowed(host.value, port_))
        return refuse(c, rq, MHD_HTTP_FORBIDDEN,
                      host.count == 0 ? "the request names no Host"
                      : host.count > 1 ? "the request names more than one Host"
                                       : "Host " + shown(host.value) + " is not this service's loopback address");

    HeaderCount origin = header(c, "Origin");
    if (origin.count > 1) return refuse(c, rq, MHD_HTTP_FORBIDDEN, "the request has more than one Origin");
    if (origin.count == 1) {
        if (!originAllowed(origin.value, config_, port_))
            return refuse(c, rq, MHD_HTTP_FORBIDDEN, "origin " + shown(origin.value) + " is not allowed");
        rq.origin = origin.value;
    } else {
        // No Origin: a program, not a page.  A browser that sends none says
        // where the request comes from in Sec-Fetch-Site; a request that a
        // page of another site caused (an image, a link) is refused.
        HeaderCount site = header(c, "Sec-Fetch-Site");
        if (site.count > 0 && site.value != "same-origin" && site.value != "none")
            return refuse(c, rq, MHD_HTTP_FORBIDDEN, "a request from another site without an allowed Origin");
    }

    const std::string path = url;
    const bool get = strcmp(method, MHD_HTTP_METHOD_GET) == 0 || strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    const bool post = strcmp(method, MHD_HTTP_METHOD_POST) == 0;
    const bool options = strcmp(method, MHD_HTTP_METHOD_OPTIONS) == 0;
    const bool demoPath = path == "/" || path == "/demo" || path == "/demo/" || path.rfind("/demo/", 0) == 0;

    if (demoPath && config_.demo) {
        const std::string name = (path == "/" || path == "/demo" || path == "/demo/") ? "index.html" : path.substr(6);
        for (const EmbeddedFile *f = kEmbeddedFiles; f->name; ++f)
            if (name == f->name) rq.file = f;
        if (!rq.file) return refuse(c, rq, MHD_HTTP_NOT_FOUND, "no such page");
        if (!get) return refuse(c, rq, MHD_HTTP_METHOD_NOT_ALLOWED, "the page is read with GET");
        return MHD_YES;
    }
    rq.endpoint = findEndpoint(path);
    if (!rq.endpoint) return refuse(c, rq, MHD_HTTP_NOT_FOUND, "no such endpoint");

    if (options) {
        // A browser's preflight: the same checks, then what may follow.
        if (rq.origin.empty()) return refuse(c, rq, MHD_HTTP_FORBIDDEN, "a preflight request without Origin");
        HeaderCount pna = header(c, "Access-Control-Request-Private-Network");
        rq.preflightPrivateNetwork = pna.count == 1 && pna.value == "true";
        return MHD_YES;
    }
    const bool wantGet = rq.endpoint->method == Method::kGet;
    if ((wantGet && !get) || (!wantGet && !post))
        return refuse(c, rq, MHD_HTTP_METHOD_NOT_ALLOWED,
                      std::string(rq.endpoint->name) + " takes " + (wantGet ? "GET" : "POST"));

    if (rq.endpoint->opClass != kRead && !(config_.enabled & rq.endpoint->opClass)) {
        log_.line(std::string("refused ") + rq.endpoint->name + " (changes the card) from " +
                  (rq.origin.empty() ? "a local program" : "origin " + rq.origin) + ": not enabled");
        return refuse(c, rq, MHD_HTTP_FORBIDDEN,
                      std::string("operation '") + rq.endpoint->name + "' is disabled; enable '" +
                          operationClassName(rq.endpoint->opClass) + "' in the configuration to offer it");
    }
    if (post) {
        HeaderCount type = header(c, "Content-Type");
        if (type.count != 1 || !isJsonContentType(type.value))
            return refuse(c, rq, MHD_HTTP_UNSUPPORTED_MEDIA_TYPE, "the body must be sent as application/json");
        HeaderCount length = header(c, "Content-Length");
        if (length.count == 1 &&
            (length.value.size() > 9 || strtoul(length.value.c_str(), nullptr, 10) > bodyLimit(rq)))
            return refuse(c, rq, MHD_HTTP_CONTENT_TOO_LARGE,
                          "the request body is larger than " + std::to_string(bodyLimit(rq)) + " bytes");
    }
    return MHD_YES;
}

int Server::dispatch(MHD_Connection *c, Request &rq) {
    if (rq.file) return serveDemo(c, rq);
    if (rq.method == MHD_HTTP_METHOD_OPTIONS) return reply(c, rq, MHD_HTTP_NO_CONTENT, "", nullptr);
    return runOperation(c, rq);
}

int Server::serveDemo(MHD_Connection *c, Request &rq) {
    MHD_Response *r = MHD_create_response_from_buffer(rq.file->size, const_cast<unsigned char *>(rq.file->bytes),
                                                      MHD_RESPMEM_PERSISTENT);
    if (!r) return MHD_NO;
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, contentTypeOf(rq.file->name));
    MHD_add_response_header(r, "Content-Security-Policy", kDemoPolicy);
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "X-Frame-Options", "DENY");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result ok = MHD_queue_response(c, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    rq.answered = true;
    logRequest(rq, MHD_HTTP_OK, "");
    return ok;
}

int Server::runOperation(MHD_Connection *c, Request &rq) {
    const Endpoint &e = *rq.endpoint;
    const bool changesCard = e.opClass != kRead;
    const std::string who = rq.origin.empty() ? "a local program" : "origin " + rq.origin;
    if (!e.run) {
        if (changesCard) log_.line(std::string("refused ") + e.name + " from " + who + ": not in this build");
        return refuse(c, rq, MHD_HTTP_NOT_IMPLEMENTED, std::string("operation '") + e.name + "' is not offered by this build");
    }
    Params params;
    if (e.method == Method::kPost) {
        std::string error;
        if (rq.body.empty()) rq.body = "{}";
        if (!jsonWithinLimits(rq.body, error, e.maxString ? e.maxString : kMaxJsonString))
            return refuse(c, rq, MHD_HTTP_BAD_REQUEST, error);
        json body = json::parse(rq.body, nullptr, false);
        if (body.is_discarded() || !body.is_object())
            return refuse(c, rq, MHD_HTTP_BAD_REQUEST, "the body is not a valid JSON object");
        if (!parseParams(e, body, params, error)) return refuse(c, rq, MHD_HTTP_BAD_REQUEST, error);
    }
    if (changesCard) log_.line(std::string("request: ") + e.name + " (changes the card) from " + who);

    CallResult result;
    std::chrono::steady_clock::duration callTime{};
    // A client that gave up while waiting gets no card operation.
    const std::function<bool()> wanted = [c] { return !clientGone(c); };
    const std::function<void()> job = [&] {
        const auto callStarted = std::chrono::steady_clock::now();
        running_ = &e;
        result = runEndpoint(e, params);
        running_ = nullptr;
        callTime = std::chrono::steady_clock::now() - callStarted;
    };
    const CardWorker::Outcome outcome = worker_.run(wanted, job);
    if (outcome == CardWorker::kAbandoned) {
        logRequest(rq, 0, "client left before its turn; not started");
        return MHD_NO;
    }
    if (outcome != CardWorker::kDone) {
        logRequest(rq, MHD_HTTP_SERVICE_UNAVAILABLE, outcome == CardWorker::kQueueFull ? "queue full" : "waited too long");
        // Say so when the reader waits for a person, which takes longer.
        const Endpoint *running = running_;
        std::string busy = "busy: the reader is serving other requests";
        if (running && running->waitsFor)
            busy += std::string(" (") + running->name + ", which may wait for " + running->waitsFor + ")";
        return reply(c, rq, MHD_HTTP_SERVICE_UNAVAILABLE, errorBody(MHD_HTTP_SERVICE_UNAVAILABLE, busy + "; try again"),
                     "application/json; charset=utf-8");
    }
    if (changesCard)
        log_.line(std::string("done: ") + e.name + " from " + who + ", code " + std::to_string(result.code) +
                  (result.logNote.empty() ? "" : ", " + result.logNote));
    char call[64];
    snprintf(call, sizeof call, "code %ld, library %.1f ms", result.code,
             std::chrono::duration<double, std::milli>(callTime).count());
    logRequest(rq, MHD_HTTP_OK, call);
    return reply(c, rq, MHD_HTTP_OK, dumpJson(resultJson(e, result)), "application/json; charset=utf-8");
}

int Server::refuse(MHD_Connection *c, Request &rq, unsigned status, const std::string &message) {
    logRequest(rq, status, message);
    return reply(c, rq, status, errorBody(status, message), "application/json; charset=utf-8");
}

int Server::reply(MHD_Connection *c, Request &rq, unsigned status, const std::string &body, const char *contentType) {
    rq.answered = true;
    MHD_Response *r =
        MHD_create_response_from_buffer(body.size(), const_cast<char *>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (!r) return MHD_NO;
    if (contentType) MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, MHD_HTTP_HEADER_VARY, "Origin");
    if (!rq.origin.empty()) {
        // Only ever the one allowed origin that asked.
        MHD_add_response_header(r, "Access-Control-Allow-Origin", rq.origin.c_str());
        if (rq.method == MHD_HTTP_METHOD_OPTIONS) {
            MHD_add_response_header(r, "Access-Control-Allow-Methods", kAllowedMethods);
            MHD_add_response_header(r, "Access-Control-Allow-Headers", kAllowedHeaders);
            MHD_add_response_header(r, "Access-Control-Max-Age", kPreflightMaxAge);
            if (rq.preflightPrivateNetwork)
                MHD_add_response_header(r, "Access-Control-Allow-Private-Network", "true");
        }
    }
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(r, "Allow", kAllowedMethods);
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE) MHD_add_response_header(r, "Retry-After", "1");
    MHD_Result ok = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    if (rq.method == MHD_HTTP_METHOD_OPTIONS && status == MHD_HTTP_NO_CONTENT) logRequest(rq, status, "");
    return ok;
}

void Server::logRequest(const Request &rq, unsigned status, const std::string &detail) {
    auto ms = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - rq.started);
    std::string path = rq.path.size() > kLoggedPathLength ? rq.path.substr(0, kLoggedPathLength) + "..." : rq.path;
    std::string line = rq.method + " " + path + " " + (status ? std::to_string(status) : "-");
    if (!rq.origin.empty()) line += " origin " + rq.origin;
    if (!detail.empty()) line += " (" + detail + ")";
    char took[32];
    snprintf(took, sizeof took, " %.1f ms", static_cast<double>(ms.count()) / 1000.0);
    log_.line(line + took);
}

}  // namespace kestreld
