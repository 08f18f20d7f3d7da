// SPDX-License-Identifier: MIT
// The identity-card module's answer to the read frame: checking the frame,
// taking the text block and the photo out of it, and formatting the three
// readers' outputs from whatever text block it holds.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "othercards/othercards.h"

using namespace kestrel::idc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static char out[kOutSize];
    static char photo[2 * kMaxPhoto + 1];
    IdRecord rec;
    if (parseReadAnswer(data, size, &rec)) {
        // The whole text block is read, zeros past what the module sent.
        formatIdentityCard(rec.text, out);
        formatSFZ(rec.text, out);
        formatIDC(rec.text, out);
        if (rec.photoLen <= kMaxPhoto) photoHex(rec.photo, rec.photoLen, photo);
    }
    // The same bytes as a text block of their own.
    unsigned char text[kTextBlockSize] = {};
    std::memcpy(text, data, size < sizeof text ? size : sizeof text);
    size_t n = static_cast<size_t>(formatIdentityCard(text, out));
    if (n >= kOutSize || strlen(out) != n) __builtin_trap();
    n = static_cast<size_t>(formatSFZ(text, out));
    if (n >= kOutSize || strlen(out) != n) __builtin_trap();
    n = static_cast<size_t>(formatIDC(text, out));
    if (n >= kOutSize || strlen(out) != n) __builtin_trap();
    return 0;
}
