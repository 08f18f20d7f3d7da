/* SPDX-License-Identifier: MIT */
// The holder's PIN on the social-security card: the PIN itself and its try
// counter.  The commands that use it are members of SsCard (ss_pin.cpp):
//
//   VERIFY       00 20 00 00 Lc PIN
//   CHANGE PIN   80 5E 01 00 Lc old PIN, FF, new PIN
//   RELOAD PIN   84 24 00 01 Lc encrypted PIN block, MAC
//   UNBLOCK PIN  84 24 00 00 04 MAC
//
// A PIN travels packed, two digits to a byte, an odd count padded with F.
// VERIFY and CHANGE PIN answer 90 00, 63 Cx for a wrong PIN (x: the tries
// left, one fewer than before) and 69 83 once no try is left; a right PIN
// restores the tries, and VERIFY opens the files guarded by the PIN until
// the next reset.
//
// RELOAD and UNBLOCK serve a terminal that has authenticated itself with
// the application's key 06: without that 69 82, without a challenge 69 84.
// Both are checked with the card's key of PSAM key 48 09 and the working
// key of its last challenge, padded with zeros to a block (crypto.h): the
// MAC is the first 4 bytes of the folded CBC-MAC, initial value zero, over
// the command's header (Lc included) and data, padded 80 00..; a wrong MAC
// gets 69 88 and changes nothing.  The reload's data is the PIN block
// (the PIN's length in bytes, the packed PIN, 80, zero bytes) encrypted
// whole under the working key; a block that does not read so gets 6A 80.
// A reload sets the new PIN, an unblock keeps the PIN; both restore the
// tries.  Either uses up the challenge.
#pragma once

#include <string>

#include "bytes.h"

namespace vr {

struct CardPin {
    Bytes value{0x48, 0x09, 0x13};  // the initial PIN 480913
    int tries = 3;                  // left
    int maxTries = 3;
};

// 4 to 16 digits packed two to a byte (an odd count padded with F);
// empty for any other text.
Bytes packPinDigits(const std::string &digits);
// The digits of a packed PIN, without the padding.
std::string pinDigits(const Bytes &packed);

}  // namespace vr
