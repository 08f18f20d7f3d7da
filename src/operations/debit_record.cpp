// SPDX-License-Identifier: MIT
// The text of one transaction record of the card's debit application.
#include <initializer_list>

#include "datamodel/datamodel.h"
#include "operations/debit.h"

namespace {

constexpr unsigned kSerial = 2, kTerminal = 6, kDateTime = 7;
constexpr unsigned kSecondAmountAt = 20, kThirdAmountAt = 24;

// Appends one part and its "^".
void packPart(const char *text, int len, char *out, int *count) {
    packWithDelimiter(reinterpret_cast<unsigned char *>(const_cast<char *>(text)), len, out, count, '^');
}

void packHexPart(const unsigned char *bytes, unsigned n, char *out, int *count) {
    char hex[2 * kDateTime + 1];
    debitHex(hex, bytes, n);
    packPart(hex, static_cast<int>(2 * n), out, count);
}

}  // namespace

void debitHex(char *dst, const unsigned char *src, unsigned n) {
    BinToCHex(dst, reinterpret_cast<const char *>(src), static_cast<int>(n));
}

int debitRecordText(const unsigned char *record, char *out) {
    int count = 0;
    packHexPart(record, kSerial, out, &count);
    packHexPart(record + 3, kTerminal, out, &count);
    packHexPart(record + 9, kDateTime, out, &count);
    for (unsigned at : {kSecondAmountAt, kThirdAmountAt}) {
        char money[16];
        int n = moneybToAsc(money, reinterpret_cast<char *>(const_cast<unsigned char *>(record + at)));
        packPart(money, n, out, &count);
    }
    packForResponse(nullptr, 0, out, &count);
    return count;
}
