// SPDX-License-Identifier: MIT
#include "service_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace kestreld {

ServiceLog::~ServiceLog() {
    if (file_) fclose(file_);
}

bool ServiceLog::open(const std::string &path, std::string &error) {
    if (path.empty()) return true;
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        error = path + ": " + strerror(errno);
        return false;
    }
    FILE *f = fdopen(fd, "a");
    if (!f) {
        error = path + ": " + strerror(errno);
        ::close(fd);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) fclose(file_);
    file_ = f;
    return true;
}

void ServiceLog::line(const std::string &message) {
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    std::string text = message;
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    std::lock_guard<std::mutex> lock(mutex_);
    FILE *out = file_ ? file_ : stderr;
    fprintf(out, "%s kestreld: %s\n", stamp, text.c_str());
    fflush(out);
}

}  // namespace kestreld
