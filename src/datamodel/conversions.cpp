// SPDX-License-Identifier: MIT
// Conversions between the card's value encodings (binary, cn, moneycn,
// moneyb) and the interface's text forms.
#include "datamodel/datamodel.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of a hexadecimal digit of either case; 0 for any other character.
unsigned nibble(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

bool isHex(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Money text is normalised in a working buffer of this size; a text that
// does not fit (128 characters or more) is not a writable amount.
constexpr size_t kMoneyWork = 128;

// Turns money text into its string of fen digits: the first "." is removed
// and exactly two characters are kept after where it stood (filled with
// "0", longer fractions cut); without a "." "00" is appended.  The text is
// read up to kMoneyWork - 1 characters; work holds kMoneyWork + 2 bytes.
void normaliseMoney(const char *text, char *work) {
    size_t n = 0;
    if (text) {
        while (n < kMoneyWork - 1 && text[n]) {
            work[n] = text[n];
            ++n;
        }
    }
    work[n] = 0;
    char *dot = std::strchr(work, '.');
    if (!dot) {
        work[n] = '0';
        work[n + 1] = '0';
        work[n + 2] = 0;
        return;
    }
    char *frac = dot + 1;  // the characters after the point move up by one
    size_t fracLen = std::strlen(frac);
    char keep[2] = {fracLen > 0 ? frac[0] : '0', fracLen > 1 ? frac[1] : '0'};
    dot[0] = keep[0];
    dot[1] = keep[1];
    dot[2] = 0;
}

// Formats fen as yuan with two decimals ("123.45", "0.00").
int formatFen(char *dst, unsigned long fen) {
    return std::snprintf(dst, 16, "%lu.%02lu", fen / 100, fen % 100);
}

}  // namespace

extern "C" {

char *CHexToBin(char *dst, const char *src, unsigned n) {
    if (!dst || !src) return dst;
    unsigned bytes = (n + 1) / 2;
    bool ended = false;  // nothing is read past a NUL
    auto next = [&](unsigned k) -> unsigned char {
        if (ended) return 0;
        unsigned char c = static_cast<unsigned char>(src[k]);
        if (c == 0) ended = true;
        return c;
    };
    for (unsigned i = 0; i < bytes; ++i) {
        unsigned char hi = next(2 * i);
        // With n odd the last low nibble comes from the character after the
        // n-th, which the caller's NUL terminator makes 0.
        unsigned char lo = next(2 * i + 1);
        dst[i] = static_cast<char>((nibble(hi) << 4) | nibble(lo));
    }
    return dst;
}

char *BinToCHex(char *dst, const char *src, int n) {
    if (!dst) return dst;
    int i = 0;
    for (; src && i < n; ++i) {
        unsigned char b = static_cast<unsigned char>(src[i]);
        dst[2 * i] = kHexDigits[b >> 4];
        dst[2 * i + 1] = kHexDigits[b & 0x0F];
    }
    dst[2 * i] = 0;
    return dst;
}

int checkHexNumber(const char *text) {
    if (!text) return -1;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
        if (!isHex(*p)) return -1;
    return 0;
}

int cnToAsc(char *dst, const char *src, int n) {
    if (!dst) return 0;
    if (n < 0) n = 0;
    BinToCHex(dst, src, n);
    int len = src ? 2 * n : 0;
    while (len > 0 && dst[len - 1] == 'F') dst[--len] = 0;
    return len;
}

int checkDigitalNumber(const char *text) {
    if (!text) return -1;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p)
        if (!isDigit(*p) && *p != '.') return -1;
    return 0;
}

int moneycnToAsc(char *dst, char *src) {
    if (!dst) return 0;
    dst[0] = 0;
    if (!src) return 0;
    unsigned char digits[2 * 4 + 1];
    int kept = moneycnRemoveNonnumchar(digits, reinterpret_cast<unsigned char *>(src), 4);
    if (kept == 0) return 0;
    unsigned long fen = 0;
    for (int i = 0; i < kept; ++i) fen = fen * 10 + (digits[i] - '0');
    return formatFen(dst, fen);
}

int moneybToAsc(char *dst, char *src) {
    if (!dst) return 0;
    dst[0] = 0;
    if (!src) return 0;
    const unsigned char *b = reinterpret_cast<const unsigned char *>(src);
    unsigned long fen = (static_cast<unsigned long>(b[0]) << 24) |
                        (static_cast<unsigned long>(b[1]) << 16) |
                        (static_cast<unsigned long>(b[2]) << 8) | b[3];
    if (fen == 0xFFFFFFFFUL) return 0;
    // Terminated as well, so the text is usable on its own; callers that
    // append a delimiter overwrite the NUL.
    return formatFen(dst, fen);
}

int ascToMoneyb(char *dst, char *src) {
    char work[kMoneyWork + 2];
    normaliseMoney(src, work);
    // Base-10 conversion of the leading digits, keeping the low 32 bits.
    uint32_t fen = 0;
    for (const unsigned char *p = reinterpret_cast<unsigned char *>(work); isDigit(*p); ++p)
        fen = fen * 10u + (*p - '0');
    if (dst) {
        dst[0] = static_cast<char>(fen >> 24);
        dst[1] = static_cast<char>(fen >> 16);
        dst[2] = static_cast<char>(fen >> 8);
        dst[3] = static_cast<char>(fen);
    }
    return 4;
}

int ascToMoneycn(char *dst, char *src) {
    char work[kMoneyWork + 2];
    normaliseMoney(src, work);
    const char *digits = work;
    while (digits[0] == '0' && digits[1] != 0) ++digits;
    char packed[8];
    std::memset(packed, 'F', sizeof packed);
    size_t n = std::strlen(digits);
    std::memcpy(packed, digits, n < sizeof packed ? n : sizeof packed);
    if (dst) {
        for (int i = 0; i < 4; ++i)
            dst[i] = static_cast<char>((nibble(packed[2 * i]) << 4) | nibble(packed[2 * i + 1]));
    }
    return 4;
}

int checkMoneyFormat(char *text) {
    if (!text || checkDigitalNumber(text) != 0) return 0;
    if (std::strlen(text) >= kMoneyWork) return 0;
    char work[kMoneyWork + 2];
    normaliseMoney(text, work);
    size_t n = std::strlen(work);
    // Only digits may remain: a second "." would be packed as a nibble or
    // end the number early and so store an amount that was never meant.
    for (size_t i = 0; i < n; ++i)
        if (!isDigit(static_cast<unsigned char>(work[i]))) return 0;
    if (n > 8) return 0;
    if (n == 8 && std::strcmp(work, "99999999") > 0) return 0;
    return 1;
}

int memcpyAdd0(char *dst, const char *src, int n) {
    if (n < 0) n = 0;
    if (!dst) return n + 1;
    if (src && n > 0) std::memcpy(dst, src, static_cast<size_t>(n));
    else n = 0;
    dst[n] = 0;
    return n + 1;
}

int strcpyFixLen(char *dst, const char *src, int n) {
    if (!dst) return 0;
    memcpyAdd0(dst, src, n);
    return static_cast<int>(std::strlen(dst));
}

double BCDTodouble(const unsigned char *src) {
    if (!src) return 0.0;
    uint32_t u = (static_cast<uint32_t>(src[0]) << 24) | (static_cast<uint32_t>(src[1]) << 16) |
                 (static_cast<uint32_t>(src[2]) << 8) | src[3];
    return static_cast<int32_t>(u) / 100.0;
}

void DoubleToBCD(unsigned char *dst, double value) {
    if (!dst) return;
    // Truncated to an integer and stored as 4 unsigned big-endian bytes:
    // 0 to 4 294 967 295 as they are, larger values as FF FF FF FF.
    // Negative values down to -2^31 are stored in two's complement, lower
    // ones as 80 00 00 00; NaN stores 0.
    uint32_t u;
    if (std::isnan(value)) u = 0;
    else if (value >= 4294967295.0) u = UINT32_MAX;
    else if (value >= 0) u = static_cast<uint32_t>(value);
    else if (value <= -2147483648.0) u = 0x80000000u;
    else u = static_cast<uint32_t>(static_cast<int32_t>(value));
    dst[0] = static_cast<unsigned char>(u >> 24);
    dst[1] = static_cast<unsigned char>(u >> 16);
    dst[2] = static_cast<unsigned char>(u >> 8);
    dst[3] = static_cast<unsigned char>(u);
}

}  // extern "C"

int moneycnRemoveNonnumchar(unsigned char *dst, unsigned char *src, unsigned n) {
    if (!dst) return 0;
    BinToCHex(reinterpret_cast<char *>(dst), reinterpret_cast<const char *>(src),
              static_cast<int>(n));
    if (!src) return 0;
    unsigned kept = 0;
    while (kept < 2 * n && isDigit(dst[kept])) ++kept;
    for (unsigned i = kept; i < 2 * n; ++i) dst[i] = 0;
    return static_cast<int>(kept);
}
