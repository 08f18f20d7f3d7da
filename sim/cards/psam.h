/* SPDX-License-Identifier: MIT */
// A PSAM: the terminal's secure module in slots 0x11 to 0x14.  It holds
// applications selected by DF name (the social-security PSAM applications
// of algorithms 2 and 3 among them) and speaks T=0 like the user card.
//
// Files: the terminal file 0016 (its 6-byte terminal number; a PSAM may
// lack it) is reachable from everywhere; DF01, the key directory, exists
// below the master file and below each application.  The key directory of
// the master file works with 3DES on 8-byte blocks (cards of algorithm 1),
// those of the applications with SM4 on 16-byte blocks.  All of them hold
// the same master keys (see crypto.h for the scheme).
//
// Services, with DF01 selected: key initialisation BF DE (diversify a
// master key for the card and derive the working key from the random
// data; 6A88 when there is no key of that type and version at that
// level), encryption 80 FA 00 00 and MAC 80 FA 05 00 under the working key
// (6985 before a key initialisation).
//
// Purchase (psam_purchase.cpp, the scheme in ss_purse.h): MAC1 80 70 for
// a card's debit, with the PSAM's transaction serial, and the check of
// the card's MAC2, 80 72.
//
// Commands are dispatched by INS in process().
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cards/ss_purse.h"
#include "cards/t0_card.h"
#include "crypto.h"

namespace vr {

// DF names of the PSAM applications for the card algorithms 2 and 3:
// "sx2.sh.社会保障" and "sx3.sh.社会保障", the Chinese in GB18030.
Bytes psamApplicationName(int algorithm);

Bytes psamAtr();

struct PsamApplication {
    Bytes name;           // DF name
    int algorithm = 2;    // the cards it serves: their cipher
};

class Psam : public T0Card {
public:
    explicit Psam(Bytes atr = psamAtr()) : T0Card(std::move(atr)) {}

    // Adds an application selectable by its DF name.
    Psam &addApplication(const Bytes &dfName, int algorithm = 2);
    // A PSAM with the applications of the given algorithms (2, 3).
    static std::shared_ptr<Psam> withApplications(std::initializer_list<int> algorithms);

    // The application selected since the last reset, or null.
    const PsamApplication *selected() const;

    // The master keys of every key directory.
    void setKeys(KeySet keys) { keys_ = std::move(keys); }
    KeySet &keys() { return keys_; }
    // The terminal number (6 bytes), or no terminal file at all.
    void setTerminalNumber(std::optional<Bytes> number) { terminal_ = std::move(number); }
    const std::optional<Bytes> &terminalNumber() const { return terminal_; }

protected:
    Reply process(const Apdu &apdu) override;
    void onReset() override;

    Reply select(const Apdu &apdu);
    Reply readBinary(const Apdu &apdu);
    Reply initialiseKey(const Apdu &apdu);
    Reply cipherService(const Apdu &apdu);
    Reply purchaseMac1(const Apdu &apdu);
    Reply checkMac2(const Apdu &apdu);
    // The cipher of the current application (3DES in the master file).
    Cipher cipher() const;

    std::vector<PsamApplication> applications_;
    KeySet keys_;
    std::optional<Bytes> terminal_ = hex("00 00 00 00 00 01");
    uint32_t transactionSerial_ = 1;  // of the next MAC1

    // session state
    int selected_ = -1;
    bool inKeyDirectory_ = false;
    bool terminalFileSelected_ = false;
    Bytes workingKey_;   // empty until a key initialisation
    // the purchase whose MAC2 is awaited, with its session key
    bool purchasePending_ = false;
    Purchase purchase_;
    Bytes purchaseSession_;
};

}  // namespace vr
