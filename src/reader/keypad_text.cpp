// SPDX-License-Identifier: MIT
// The keypad's answers to an entry: the keyed characters between one
// leading and one trailing byte.
#include <cstring>

#include "errors/errors.h"
#include "reader/keypad.h"

namespace {

constexpr unsigned kFraming = 2;
// Data bytes of an acceptable PIN entry, framing included: 4 to 16 keys.
constexpr unsigned kMinPinEntry = 6;
constexpr unsigned kMaxPinEntry = 18;

}  // namespace

int keypadPinText(const unsigned char *data, unsigned len, char *pin) {
    if (!data || !pin || len < kMinPinEntry || len > kMaxPinEntry) return static_cast<int>(kErrPinLength);
    const unsigned keys = len - kFraming;
    // The digits travel to the card packed two to a byte: any other key
    // would become a nibble that is no digit.
    for (unsigned i = 0; i < keys; i++)
        if (data[1 + i] < '0' || data[1 + i] > '9') return static_cast<int>(kErrPinLength);
    memcpy(pin, data + 1, keys);
    unsigned n = keys;
    if (n % 2) pin[n++] = 'F';
    pin[n] = '\0';
    return 0;
}

int keypadText(const unsigned char *data, unsigned len, char *out, unsigned capacity) {
    if (!data || !out || len < kFraming || len - kFraming >= capacity) return -1;
    const unsigned n = len - kFraming;
    memcpy(out, data + 1, n);
    out[n] = '\0';
    return static_cast<int>(n);
}
