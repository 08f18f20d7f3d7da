// SPDX-License-Identifier: MIT
// Image helpers for hosts: Base64 encoding and a photo-conversion
// placeholder.  Nothing in the library uses them.
#include "othercards/othercards.h"

const char base64[66] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

namespace {
constexpr unsigned char kPadIndex = 64;
}

char Encode_GetChar(unsigned char index) { return index <= kPadIndex ? base64[index] : '\0'; }

long Base64_Encode(char *out, const char *in, unsigned long len) {
    if (!out) return 0;
    if (!in) len = 0;
    const unsigned char *src = reinterpret_cast<const unsigned char *>(in);
    long n = 0;
    for (unsigned long i = 0; i < len; i += 3) {
        unsigned long rest = len - i;
        unsigned b0 = src[i];
        unsigned b1 = rest > 1 ? src[i + 1] : 0;
        unsigned b2 = rest > 2 ? src[i + 2] : 0;
        out[n++] = Encode_GetChar(static_cast<unsigned char>(b0 >> 2));
        out[n++] = Encode_GetChar(static_cast<unsigned char>((b0 & 0x03) << 4 | b1 >> 4));
        out[n++] = rest > 1 ? Encode_GetChar(static_cast<unsigned char>((b1 & 0x0F) << 2 | b2 >> 6))
                            : base64[kPadIndex];
        out[n++] = rest > 2 ? Encode_GetChar(static_cast<unsigned char>(b2 & 0x3F)) : base64[kPadIndex];
    }
    out[n] = '\0';
    return n;
}

long BMP2JPEG(unsigned char *bmp, unsigned long len, unsigned char *jpeg) {
    (void)bmp;
    (void)len;
    (void)jpeg;
    return 0;
}
