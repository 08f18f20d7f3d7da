/* SPDX-License-Identifier: MIT */
// The purse of the social-security card's debit application (DF04) and the
// purchase that the card and the PSAM carry out together.
//
// Card commands, with DF04 selected and the holder's PIN verified (else
// 69 85 and 69 82):
//   INITIALIZE FOR DEBIT  B0 28 01 01 13, key index 01, three amounts (4
//                         bytes each, fen, big-endian), terminal number (6)
//     answer (22 bytes): balance (4), 10 zero bytes, transaction serial
//     (2), key version (1), algorithm identifier (1), pseudo-random
//     number (4).  The debit takes the sum of the three amounts: more than
//     the balance gets 94 01; another key index 6A 88.
//   DEBIT                 B0 2C 01 00 0F, terminal transaction serial (4),
//                         date and time (7), MAC1 (4)
//     answer: TAC (4), MAC2 (4).  Without an initialize first 69 01; a
//     wrong MAC1 gets 93 02 and leaves the balance alone.  A debit lowers
//     the balance, appends the transaction's record to DF04 EF08 (newest
//     first, the oldest dropped once the file is full) and counts the
//     transaction serial up.  Either way the initialize is used up.
//
// PSAM commands, with DF01 selected (else 69 85):
//   MAC1        80 70 01 00 Lc, pseudo-random number (4), transaction
//               serial (2), three amounts (12), transaction type (1), date
//               and time (7), key version (1), algorithm identifier (1),
//               the first 8 * n bytes of the card's diversification data
//               (n 1 to 3: the purchase key's level)
//     answer: terminal transaction serial (4), MAC1 (4); the PSAM counts
//     its transaction serial up.  6A 88 when it holds no purchase key of
//     that version at level n; 6A 80 when the algorithm identifier is not
//     that of its cipher (00 triple DES in the master file, 04 SM4 in the
//     applications).
//   CHECK MAC2  80 72 00 00 04, MAC2: 90 00, or 93 02 for a MAC2 that is
//               not the card's; 69 01 without a MAC1 before it.
//
// The scheme (ciphers and CBC-MAC as in crypto.h, B the block size):
//   purchase key K: the card key of PSAM key 4B (level 2, type 0B) of the
//     purse's key version, diversified for the card (crypto.h);
//   session key S = the working key of K for the random data
//     pseudo-random number || transaction serial || the low 2 bytes of the
//     terminal transaction serial, padded with zeros to B;
//   MAC1 = the first 4 bytes of the folded CBC-MAC under S (initial value
//     zero) over amounts (12) || transaction type || terminal number (6)
//     || date and time (7), padded 80 00..;
//   MAC2 = the same over the amounts alone;
//   TAC  = the same under the card key of PSAM key 4C (the purse's key
//     version, no random data) over amounts || transaction type ||
//     terminal number || terminal transaction serial (4) || date and time.
// The card checks MAC1 with the transaction type 32 (its one kind of
// debit) and the terminal number of the initialize; the PSAM uses its own
// terminal number (zeros without a terminal file).
#pragma once

#include <cstdint>

#include "bytes.h"
#include "crypto.h"

namespace vr {

// PSAM keys of the purse: the purchase key and the TAC key.
constexpr uint8_t kPurchaseKeyType = 0x4B;
constexpr uint8_t kTacKeyType = 0x4C;
// The kind of debit the card carries out.
constexpr uint8_t kPurchaseType = 0x32;
// A transaction record of DF04 EF08.
constexpr size_t kPurseRecordSize = 28;
// Algorithm identifiers of the purchase: triple DES, SM4.
constexpr uint8_t kPurchaseTdes = 0x00;
constexpr uint8_t kPurchaseSm4 = 0x04;

// A big-endian number of 1 to 4 bytes.
inline uint32_t bigEndian(const uint8_t *p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v = v << 8 | p[i];
    return v;
}

// What a purchase's cryptograms cover.
struct Purchase {
    Bytes random;                 // 4 bytes, the card's
    uint16_t serial = 0;          // the card's transaction serial
    uint32_t amounts[3] = {};     // fen
    uint8_t type = kPurchaseType;
    Bytes terminal;               // 6 bytes
    Bytes dateTime;               // 7 bytes
    uint32_t terminalSerial = 0;  // the PSAM's
};

Bytes purchaseSessionKey(Cipher c, const Bytes &purchaseKey, const Purchase &p);
Bytes purchaseMac1(Cipher c, const Bytes &sessionKey, const Purchase &p);
Bytes purchaseMac2(Cipher c, const Bytes &sessionKey, const Purchase &p);
Bytes purchaseTac(Cipher c, const Bytes &tacKey, const Purchase &p);

// A transaction record: serial (2), type (1), terminal number (6), date and
// time (7), the three amounts (4 each).
Bytes purseRecord(const Purchase &p);

// The purse's state on the card.
struct CardPurse {
    uint32_t balance = 0;        // fen
    uint16_t serial = 1;         // the serial of the next debit
    uint8_t keyVersion = 0x01;
    int algorithmId = -1;        // -1: by the card's algorithm (00, 04; 03 for algorithm 3)
    Bytes purchaseKey, tacKey;   // installed with the card's keys
    // session: the initialize waiting for its debit
    bool pending = false;
    Purchase current;
};

}  // namespace vr
