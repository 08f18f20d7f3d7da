/* SPDX-License-Identifier: MIT */
// Helpers shared by the reader-link tests.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "fixture.h"
#include "kestrel.h"
#include "reader/reader.h"

namespace readertest {

// A report of the reader's answer with the given control byte and payload.
inline vr::Report answerReport(uint8_t control, const vr::Bytes &payload, uint8_t len = 0xFF) {
    vr::Report r;
    r.data[0] = 0x12;
    r.data[1] = control;
    r.data[2] = len == 0xFF ? static_cast<uint8_t>(payload.size()) : len;
    std::copy(payload.begin(), payload.end(), r.data + 3);
    return r;
}

inline vr::Bytes filled(size_t n, uint8_t first = 0) {
    vr::Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// Shortens the link's response wait for the duration of a test.
class ShortResponseWait {
public:
    explicit ShortResponseWait(unsigned ms) : saved_(kestrel::responseTimeoutMs) {
        kestrel::responseTimeoutMs = ms;
    }
    ~ShortResponseWait() { kestrel::responseTimeoutMs = saved_; }

private:
    unsigned saved_;
};

inline double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace readertest
