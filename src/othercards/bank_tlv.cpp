// SPDX-License-Identifier: MIT
// The TLV parsing of the bank-card number read: the payment system
// environment's answer, the directory record and the application records,
// all bytes as the card sent them.
#include <cstring>

#include "othercards/bank_card.h"

namespace kestrel::bank {

namespace {

constexpr unsigned char kTagFci = 0x6F;
constexpr unsigned char kTagProprietary = 0xA5;
constexpr unsigned char kTagDirectoryFile = 0x88;
constexpr unsigned char kTagRecord = 0x70;
constexpr unsigned char kTagApplication = 0x61;
constexpr unsigned char kTagAid = 0x4F;
constexpr unsigned char kTagAccountNumber = 0x5A;

constexpr unsigned char kLongLength = 0x81;

bool twoByteTag(unsigned char first) { return (first & 0x1F) == 0x1F; }

}  // namespace

bool findTlv(const unsigned char *data, unsigned len, unsigned char tag, TlvValue *out) {
    if (!data || !out) return false;
    unsigned pos = 0;
    while (pos < len) {
        const unsigned char first = data[pos];
        if (first == 0x00 || first == 0xFF) {
            ++pos;
            continue;
        }
        const bool two = twoByteTag(first);
        // Header: the tag, then a length byte (81 and one more byte).
        unsigned p = pos + (two ? 2u : 1u);
        if (p >= len) return false;
        unsigned valueLen = data[p];
        if (valueLen == kLongLength) {
            if (p + 1 >= len) return false;
            valueLen = data[p + 1];
            p += 2;
        } else {
            p += 1;
        }
        if (valueLen > len - p) return false;  // runs past the data
        if (!two && first == tag) {
            out->data = data + p;
            out->len = valueLen;
            return true;
        }
        pos = p + valueLen;
    }
    return false;
}

bool findTlvPath(const unsigned char *data, unsigned len, const unsigned char *tags, unsigned depth,
                 TlvValue *out) {
    TlvValue v{data, len};
    for (unsigned i = 0; i < depth; ++i)
        if (!findTlv(v.data, v.len, tags[i], &v)) return false;
    *out = v;
    return true;
}

unsigned char directoryFileId(const unsigned char *fci, unsigned len) {
    static const unsigned char kPath[] = {kTagFci, kTagProprietary, kTagDirectoryFile};
    TlvValue v;
    if (!findTlvPath(fci, len, kPath, sizeof kPath, &v) || v.len == 0) return 0;
    const unsigned char sfi = v.data[0];
    return sfi >= 1 && sfi <= kMaxShortFileId ? sfi : 0;
}

bool applicationId(const unsigned char *record, unsigned len, TlvValue *aid) {
    static const unsigned char kPath[] = {kTagRecord, kTagApplication, kTagAid};
    TlvValue v;
    if (!findTlvPath(record, len, kPath, sizeof kPath, &v) || v.len == 0) return false;
    *aid = v;
    return true;
}

int accountNumber(const unsigned char *record, unsigned len, char *out) {
    static const unsigned char kPath[] = {kTagRecord, kTagAccountNumber};
    TlvValue v;
    if (!findTlvPath(record, len, kPath, sizeof kPath, &v)) return -1;
    if (v.len == 0 || v.len > kMaxAccountNumberBytes) return -1;
    char text[kAccountTextSize];
    BinToCHex(text, reinterpret_cast<const char *>(v.data), static_cast<int>(v.len));
    unsigned n = 2 * v.len;
    // The last byte of an odd number of digits is padded with F.
    if (text[n - 1] == 'F') text[--n] = '\0';
    std::memcpy(out, text, n + 1);
    return static_cast<int>(n);
}

}  // namespace kestrel::bank
