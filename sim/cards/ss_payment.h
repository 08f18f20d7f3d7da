/* SPDX-License-Identifier: MIT */
// The payment application that a social-security card may carry beside
// its own: the payment system environment "1PAY.SYS.DDF01" (a DF selected
// by name whose file control information names its directory file in tag
// 88), the directory's record 70 / 61 / 4F naming the application, and
// the application itself, selected by that identifier, whose records hold
// the account number as 70 / 5A.
//
// Records are read with READ RECORD by number, in the current file or by
// short file identifier; a missing record answers 6A 83, a missing file
// 6A 82.  Like every answer of the card they follow the T=0 rules: an Le
// of 00 gets 6C and the record's length first.
#pragma once

#include <string>

#include "bytes.h"

namespace vr {

// "1PAY.SYS.DDF01" in ASCII.
Bytes paymentEnvironmentName();

// An application identifier of the proprietary kind (first nibble F), so
// that it can name no registered application.
Bytes defaultPaymentAid();

// Decimal digits packed two per byte, a final odd digit padded with F.
Bytes packedDigits(const std::string &digits);

struct PaymentApplication {
    Bytes aid = defaultPaymentAid();
    Bytes accountNumber = packedDigits("6217000000000000042");  // value of tag 5A
    int record = 1;          // record number (1 to 255) of the account number
    int file = 1;            // short identifier (1 to 30) of its file
    int directoryFile = 1;   // short identifier of the environment's directory
    // Parts that a card may lack.
    bool environment = true;       // no: selecting "1PAY.SYS.DDF01" gets 6A 82
    bool directoryFileTag = true;  // no: the environment's FCI has no tag 88
    bool aidTag = true;            // no: the directory record has no tag 4F
    bool accountNumberTag = true;  // no: the account number's record has no tag 5A
};

}  // namespace vr
