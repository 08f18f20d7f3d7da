// SPDX-License-Identifier: MIT
// The call log: one line describing the latest call, kept in logbuf, and
// the append-only log file.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "errors/errors.h"

char logbuf[KESTREL_LOGBUF_SIZE];

namespace {

// Lines are formatted here first and then copied into logbuf, so that an
// argument may itself point into logbuf.
char lineArea[KESTREL_LOGBUF_SIZE];

const char *orEmpty(const char *s) {
    return s != nullptr ? s : "";
}

bool endsWithCrLf(const char *s) {
    const std::size_t n = std::strlen(s);
    return n >= 2 && s[n - 2] == '\r' && s[n - 1] == '\n';
}

// Copies the first `len` bytes of lineArea and a NUL into logbuf.
void publish(std::size_t len) {
    lineArea[len] = '\0';
    std::memcpy(logbuf, lineArea, len + 1);
}

__attribute__((format(printf, 1, 0)))
void formatLine(const char *fmt, va_list ap) {
    const int n = std::vsnprintf(lineArea, sizeof lineArea, fmt, ap);
    std::size_t len;
    if (n < 0) {
        len = 0;
    } else if (static_cast<std::size_t>(n) >= sizeof lineArea) {
        // Cut to fit; a line that ends in CR LF keeps its ending.
        len = sizeof lineArea - 1;
        if (endsWithCrLf(fmt)) {
            lineArea[len - 2] = '\r';
            lineArea[len - 1] = '\n';
        }
    } else {
        len = static_cast<std::size_t>(n);
    }
    publish(len);
}

// Upper-case hexadecimal digits of `len` bytes at `dst`, as many as fit in
// `room` bytes; returns the number of characters written (no NUL).
std::size_t putHex(char *dst, std::size_t room, const unsigned char *bytes, std::size_t len) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::size_t w = 0;
    for (std::size_t i = 0; i < len && w + 2 <= room; ++i) {
        dst[w++] = kDigits[bytes[i] >> 4];
        dst[w++] = kDigits[bytes[i] & 0x0F];
    }
    return w;
}

}  // namespace

void logLine(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    formatLine(orEmpty(fmt), ap);
    va_end(ap);
}

void logInPara(const char *name, int a) {
    logLine("\r\n\r\n%s, in para: %d", orEmpty(name), a);
}

void logInPara(const char *name, const char *s) {
    logLine("\r\n\r\n%s, in para: %s", orEmpty(name), orEmpty(s));
}

void logInPara(const char *name, int a, const char *s) {
    logLine("\r\n\r\n%s, in para: %d, %s", orEmpty(name), a, orEmpty(s));
}

void logInPara(const char *name, int a, const char *s1, const char *s2) {
    logLine("\r\n\r\n%s, in para: %d, %s, %s", orEmpty(name), a, orEmpty(s1), orEmpty(s2));
}

void logInPara(const char *name, int a, const char *s1, const char *s2, const char *s3) {
    logLine("\r\n\r\n%s, in para: %d, %s, %s, %s", orEmpty(name), a, orEmpty(s1), orEmpty(s2),
            orEmpty(s3));
}

void logInPara(const char *name, int a, int b, const char *s1, const char *s2) {
    logLine("\r\n\r\n%s, in para: %d, %d, %s, %s", orEmpty(name), a, b, orEmpty(s1), orEmpty(s2));
}

void logInPara(const char *name, const char *s1, const char *s2) {
    logLine("\r\n\r\n%s, in para: %s, %s", orEmpty(name), orEmpty(s1), orEmpty(s2));
}

void logOutPara(const char *name, const char *text) {
    logLine("%s, out para: %s\r\n", orEmpty(name), orEmpty(text));
}

void logOutPara(const char *name, int code, const char *text) {
    logLine("%s, out para: %d, %s\r\n", orEmpty(name), code, orEmpty(text));
}

void logDivIndex(const unsigned char *data, std::size_t len) {
    static const char kPrefix[] = "DivIndex: ";
    std::size_t w = sizeof kPrefix - 1;
    std::memcpy(lineArea, kPrefix, w);
    if (data != nullptr) {
        w += putHex(lineArea + w, sizeof lineArea - 1 - w, data, len);
    }
    publish(w);
}

void logDes(const unsigned char *des1, const unsigned char *des2) {
    char hex1[17] = "";
    char hex2[17] = "";
    if (des1 != nullptr) hex1[putHex(hex1, 16, des1, 8)] = '\0';
    if (des2 != nullptr) hex2[putHex(hex2, 16, des2, 8)] = '\0';
    logLine("des1: %s, Des2: %s", hex1, hex2);
}

void log(char *, ...) {
}

// Appends the line and CR LF to the log file when it already exists.  The
// file is opened without O_CREAT, so a missing file stays missing, and
// without blocking, so a FIFO in its place cannot hang the caller.
extern "C" void Addlog(const char *line) {
    if (line == nullptr) return;
    const int fd = ::open("E:\\qvlog.txt", O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    const auto writeAll = [fd](const char *p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    };
    if (writeAll(line, std::strlen(line))) writeAll("\r\n", 2);
    ::close(fd);
}
