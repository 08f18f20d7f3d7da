/* SPDX-License-Identifier: MIT */
// Bank-card number and card-type probe: internal declarations.  The
// exported functions (iReadBankNo, iReadCardType) are declared in kestrel.h.
//
// The parsers below take bytes exactly as the card sent them and never
// look past them: every element's stated length is checked against the
// bytes that hold it, at every level of nesting.
#pragma once

#include "kestrel.h"

namespace kestrel::bank {

// Size of the text that iReadBankNo writes: the longest error text with
// its NUL (an account number takes at most 2 * kMaxAccountNumberBytes
// digits and the NUL).
constexpr unsigned kBankNoTextSize = KESTREL_BANKNO_SIZE;

// An account number has at most 19 digits, packed two per byte with an F
// nibble filling the last byte.  A longer tag 5A is not an account number.
constexpr unsigned kMaxAccountNumberBytes = 10;
constexpr unsigned kAccountTextSize = 2 * kMaxAccountNumberBytes + 1;

// Short file identifiers are 1 to 30.
constexpr unsigned char kMaxShortFileId = 30;

// Result of a payment step that found no tag where one must be: the last
// status word, 90 00, negated.
constexpr int kErrMissingTag = -0x9000;

// The value of one element found in bytes from the card; data points into
// those bytes.
struct TlvValue {
    const unsigned char *data = nullptr;
    unsigned len = 0;
};

// The first element with the one-byte tag `tag` at the top level of
// data[0..len): 00 and FF where a tag is expected are padding; a tag has
// two bytes when its first byte's low five bits are all set; a length byte
// 81 takes the next byte as the length, any other length byte is the
// length itself.  The walk ends at the first element that runs past the
// data.  Returns false when no element with the tag lies wholly within the
// data; its value may be empty.
bool findTlv(const unsigned char *data, unsigned len, unsigned char tag, TlvValue *out);

// Follows nested one-byte tags: the first `tag[0]` at the top level, the
// first `tag[1]` within its value, and so on.  False when a level is
// missing.
bool findTlvPath(const unsigned char *data, unsigned len, const unsigned char *tags, unsigned depth,
                 TlvValue *out);

// The short file identifier of the payment directory, from the answer to
// the selection of the payment system environment: the first value byte of
// 6F / A5 / 88.  0 when there is none or it is no short file identifier.
unsigned char directoryFileId(const unsigned char *fci, unsigned len);

// The application identifier in a directory record: the value of
// 70 / 61 / 4F.  False when there is none or it is empty.
bool applicationId(const unsigned char *record, unsigned len, TlvValue *aid);

// The account number in an application record: the value of 70 / 5A as
// upper-case hexadecimal digits without a final padding F, written into
// out (kAccountTextSize bytes) with its NUL.  Returns the number of
// characters, or -1 (out untouched) when the record holds no tag 5A of 1
// to kMaxAccountNumberBytes bytes.
int accountNumber(const unsigned char *record, unsigned len, char *out);

}  // namespace kestrel::bank
