/* SPDX-License-Identifier: MIT */
// kestreld's log: one line per request and per event, with the time, to
// the configured file or to standard error.  Card data, PINs and request
// bodies are never logged.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace kestreld {

class ServiceLog {
public:
    ServiceLog() = default;
    ~ServiceLog();
    ServiceLog(const ServiceLog &) = delete;
    ServiceLog &operator=(const ServiceLog &) = delete;

    // Appends to `path` (created with mode 0600 when missing); an empty
    // path logs to standard error.  Returns false with a message.
    bool open(const std::string &path, std::string &error);

    // Writes "<UTC time> <message>" as one line.  Control characters in the
    // message become "?", so a request cannot forge log lines.
    void line(const std::string &message);

private:
    std::mutex mutex_;
    FILE *file_ = nullptr;  // null: standard error
};

}  // namespace kestreld
