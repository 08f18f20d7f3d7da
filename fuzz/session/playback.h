/* SPDX-License-Identifier: MIT */
// The fuzzing reader's input format: one byte string holds the state of the
// USB bus, everything the host passes to the operation, and every answer
// the reader gives, in the order the library asks.
//
//   input   = bus (1 byte) | host length (2 bytes, LE) | host bytes | answer...
//   answer  = shape (1 byte) | length (2 bytes, LE) | payload
//
// Bus: the flags below; 0 is one reader on the bus, ready to be claimed.
//
// Host bytes: the values an operation takes, in the order it takes them
// (HostArgs in operations.h): an integer is 4 bytes LE, a text or byte
// string is a 2-byte LE length and its bytes.  A value past the end of the
// host bytes takes the operation's default.
//
// Answers: one per message the library sends, taken when the message's
// first report goes out.  The payload is the message the reader answers
// with (data, SW1 SW2), shaped into IN reports by the shape byte:
//
//   bits 0-1  kind: 0 reports as a reader cuts them (61 payload bytes
//             each, the control byte's more-flag, LEN); 1 raw: the payload
//             is the IN transfers themselves, 64 bytes each (the last may
//             be shorter), with whatever control byte and LEN they hold;
//             2 no answer; 3 the message's first OUT transfer fails
//   bits 2-3  kind 0: zero-length transfers before the first report;
//             kind 1: the result every raw transfer reports (0 success,
//             1 overflow, 2 I/O error, 3 time-out) with its bytes;
//             kind 2: 1 or more: every read fails at once (no time-out)
//             until the next message; kind 3: 1 or more: the transfer
//             moves 32 bytes instead of failing
//   bit 4     kind 0: cut the payload into reports of bits 5-6 bytes
//             (1, 7, 31 or 60) instead of 61
//   bit 7     the reader is unplugged once these reports have been read
//
// An answer cut short by the end of the input keeps the bytes it has; once
// the answers run out, every read times out at once, so no run waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzreader {

enum BusFlag : uint8_t {
    kBusNoReader = 0x01,         // nothing on the bus
    kBusClaimRefused = 0x02,     // another program holds the interface
    kBusDriverBound = 0x04,      // the HID driver holds it until detached
    kBusOtherDeviceFirst = 0x08, // a device of another vendor comes first
    kBusNoDescriptor = 0x10,     // the reader's device descriptor cannot be read
    kBusNoConfiguration = 0x20,  // nor its configuration
};

enum AnswerKind : uint8_t { kReports = 0, kRaw = 1, kSilent = 2, kWriteFails = 3 };
constexpr uint8_t kKindMask = 0x03;
constexpr uint8_t kSmallReports = 0x10;
constexpr uint8_t kUnplugAfter = 0x80;

constexpr int kReportSize = 64;
constexpr int kReportPayload = 61;

// Appends little-endian fields, for the writers of seeds.
inline void put16(std::vector<uint8_t> &out, size_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void putAnswer(std::vector<uint8_t> &out, uint8_t shape, const std::vector<uint8_t> &payload) {
    out.push_back(shape);
    put16(out, payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
}

// A seed: bus 0, the host bytes, then the answers.
inline std::vector<uint8_t> makeInput(uint8_t bus, const std::vector<uint8_t> &host) {
    std::vector<uint8_t> out{bus};
    put16(out, host.size());
    out.insert(out.end(), host.begin(), host.end());
    return out;
}

// FNV-1a over the bytes, for comparing outcomes.
inline uint64_t fnv1a(const void *data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// A reader over a byte string: reads past the end give what is left.
class Cursor {
public:
    Cursor() = default;
    Cursor(const uint8_t *p, size_t n) : p_(p), n_(n) {}
    size_t left() const { return n_; }
    bool take(size_t want, const uint8_t **p, size_t *got) {
        if (n_ == 0) return false;
        *got = want < n_ ? want : n_;
        *p = p_;
        p_ += *got;
        n_ -= *got;
        return true;
    }
    bool u8(uint8_t *v) {
        const uint8_t *p;
        size_t got;
        if (!take(1, &p, &got)) return false;
        *v = p[0];
        return true;
    }
    // A 2-byte LE value; one byte left reads as its low byte.
    bool u16(size_t *v) {
        const uint8_t *p;
        size_t got;
        if (!take(2, &p, &got)) return false;
        *v = got == 2 ? (p[0] | p[1] << 8) : p[0];
        return true;
    }

private:
    const uint8_t *p_ = nullptr;
    size_t n_ = 0;
};

}  // namespace fuzzreader
