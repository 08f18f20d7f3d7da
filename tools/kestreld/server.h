/* SPDX-License-Identifier: MIT */
// The HTTP side of kestreld: listens on 127.0.0.1 and ::1, checks every
// request (Host, Origin, size, method, content type, body) and runs the
// endpoints one card operation at a time.
#pragma once

#include <atomic>
#include <string>

#include "card_worker.h"
#include "config.h"
#include "service_log.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace kestreld {

struct Endpoint;

class Server {
public:
    Server(const Config &config, ServiceLog &log);
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // Listens on 127.0.0.1 (required) and ::1 (when the system has it) on
    // the configured port, or on one free port for both when it is 0.
    bool start(std::string &error);
    // Stops listening and waits for the requests in progress; a card
    // operation that has started runs to its end.
    void stop();

    int port() const { return port_; }
    bool ipv6() const { return daemon6_ != nullptr; }
    // Requests waiting for the reader now.
    int waiting() { return worker_.waiting(); }

    // Handler of every request (libmicrohttpd's access handler).
    int handle(MHD_Connection *connection, const char *url, const char *method, const char *uploadData,
               std::size_t *uploadSize, void **state);

    struct Request;

private:
    int refuse(MHD_Connection *c, Request &rq, unsigned status, const std::string &message);
    int checkHeaders(MHD_Connection *c, const char *url, const char *method, Request &rq);
    int dispatch(MHD_Connection *c, Request &rq);
    int serveDemo(MHD_Connection *c, Request &rq);
    int runOperation(MHD_Connection *c, Request &rq);
    int reply(MHD_Connection *c, Request &rq, unsigned status, const std::string &body, const char *contentType);
    void logRequest(const Request &rq, unsigned status, const std::string &detail);

    Config config_;
    ServiceLog &log_;
    int port_ = 0;
    MHD_Daemon *daemon4_ = nullptr;
    MHD_Daemon *daemon6_ = nullptr;
    // The destructor stops the daemons (and so every request that waits
    // for the worker) before the worker goes.
    CardWorker worker_;
    // The operation on the card worker now, for the busy answers.
    std::atomic<const Endpoint *> running_{nullptr};
};

}  // namespace kestreld
