// SPDX-License-Identifier: MIT
// The transaction records of the card's debit application as the card
// returns them.  Input: records of 28 bytes one after the other (a
// shorter tail is ignored), decoded into a buffer of the documented size
// of iReadDebitRecord's output.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "operations/debit.h"

namespace {

uint32_t amountAt(const unsigned char *rec) {
    return static_cast<uint32_t>(rec[0]) << 24 | static_cast<uint32_t>(rec[1]) << 16 |
           static_cast<uint32_t>(rec[2]) << 8 | rec[3];
}

// A money part: empty for FF FF FF FF, else yuan with two decimals that
// read back as the stored fen.
bool amountMatches(const char *p, size_t n, uint32_t fen) {
    if (fen == 0xFFFFFFFFu) return n == 0;
    if (n < 4 || p[n - 3] != '.') return false;
    uint64_t v = 0;
    for (size_t i = 0; i < n; i++) {
        if (i == n - 3) continue;
        if (p[i] < '0' || p[i] > '9') return false;
        v = v * 10 + static_cast<unsigned>(p[i] - '0');
    }
    return v == fen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    const size_t records = size / kDebitRecordSize;
    if (records > 30) return 0;
    std::unique_ptr<char[]> out(new char[KESTREL_DEBIT_RECORDS_SIZE]);
    int count = 0;
    for (size_t r = 0; r < records; r++) {
        // Exact-size copy: a read past the record is caught.
        std::unique_ptr<unsigned char[]> rec(new unsigned char[kDebitRecordSize]);
        std::memcpy(rec.get(), in + r * kDebitRecordSize, kDebitRecordSize);
        char *text = out.get() + count;
        int n = debitRecordText(rec.get(), text);
        if (n < 1 || static_cast<unsigned>(n) > kMaxDebitRecordText || text[n - 1] != '|') __builtin_trap();
        // Five parts: 4, 12 and 14 hexadecimal digits and two amounts.
        const char *p = text;
        const size_t hexLengths[3] = {4, 12, 14};
        for (size_t len : hexLengths) {
            const char *end = static_cast<const char *>(std::memchr(p, '^', text + n - p));
            if (!end || static_cast<size_t>(end - p) != len) __builtin_trap();
            p = end + 1;
        }
        for (unsigned at : {20u, 24u}) {
            const char *end = static_cast<const char *>(std::memchr(p, '^', text + n - p));
            if (!end || !amountMatches(p, static_cast<size_t>(end - p), amountAt(rec.get() + at))) __builtin_trap();
            p = end + 1;
        }
        if (p != text + n - 1) __builtin_trap();
        count += n;
    }
    out[count] = '\0';
    return 0;
}
