// SPDX-License-Identifier: MIT
// The keypad's answers to a PIN entry and a text entry.  Input: the data
// bytes of one answer (at most a whole response area).
#include <cstdint>
#include <cstring>
#include <memory>

#include "reader/keypad.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size > 4094) return 0;
    const unsigned len = static_cast<unsigned>(size);
    // Exact-size copies: any access past the answer or the buffers is caught.
    std::unique_ptr<unsigned char[]> data(new unsigned char[len ? len : 1]);
    if (len) std::memcpy(data.get(), in, len);

    std::unique_ptr<char[]> pin(new char[kPinTextSize]);
    if (keypadPinText(data.get(), len, pin.get()) == 0) {
        size_t n = std::strlen(pin.get());
        if (n % 2 || n < 4 || n > kPinTextSize - 1) __builtin_trap();
        for (size_t i = 0; i < n; i++) {
            bool padding = i == n - 1 && pin[i] == 'F' && len % 2;
            if (!padding && (pin[i] < '0' || pin[i] > '9')) __builtin_trap();
        }
    }

    std::unique_ptr<char[]> text(new char[KESTREL_PASSWORD_SIZE]);
    int n = keypadText(data.get(), len, text.get(), KESTREL_PASSWORD_SIZE);
    if (n >= 0 && (static_cast<unsigned>(n) + 2 != len || std::memcmp(text.get(), data.get() + 1, n) != 0 ||
                   text[n] != '\0'))
        __builtin_trap();
    return 0;
}
