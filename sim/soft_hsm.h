/* SPDX-License-Identifier: MIT */
// A software security module: answers the texts that the library's
// HSM-assisted steps write for the host's hardware security module, with
// the issuer's master keys and the key scheme of the virtual cards and
// PSAMs (crypto.h).  With the keys of a profile it serves the card of that
// profile exactly as a real module serves a real card: the card accepts
// its cryptograms and commands, and refuses them when keys or card differ.
//
// Requests it answers (fields each followed by "|"):
//
//   card check       region|atr|alg|cardId|R2|R1|R4|R3|device|
//                    (Step 1 of the basic-information read) ->
//                    expected|cryptogram|: the card's internal
//                    authentication over R2, R1 (8 bytes) followed by R1,
//                    and for R4, R3 given the external authentication with
//                    the basic-information key, else an empty field.
//   challenge block  alg|address|part1|part2|  ->  32 hexadecimal digits:
//                    the cryptogram of the addressed key for the card's
//                    last challenge (part1) over part2, then part2, as
//                    EXTERNAL AUTHENTICATE takes them (PIN reload and
//                    unblock, data-item read and write).
//   secured command  alg|address|challenge|header|pin|  ->  the whole
//                    command in hexadecimal: the header (84 24 P1 P2 Lc),
//                    for Lc above 4 the PIN block (its length in bytes,
//                    the packed PIN, 80, zeros) encrypted under the
//                    working key of the challenge, and the first 4 bytes of
//                    the MAC over header and data.
//   debit request    alg|017F|random|serial|amounts|32|terminal|date-time|
//                    (Step 1 of the debit) -> terminal serial|date-time|
//                    MAC1|: the module's terminal transaction serial (8
//                    digits), the request's date and time, and MAC1 of the
//                    card's purchase key as the PSAM computes it (80 70,
//                    ss_purse.h), over the amounts 0 and the two given.
//
// Requests without the card's own data (challenge block, secured command,
// debit request)
// are for the card set with setCard; the card-check text names its card.
// Further requests (other key addresses, other forms) are added beside
// these: a key address with setKeyAddress, a form as one more case of
// answer().
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bytes.h"
#include "crypto.h"

namespace vr {

struct Profile;

class SoftHsm {
public:
    // Key addresses that the module knows from the start: 0090, the
    // terminal's authentication before a PIN reload or unblock (PSAM key
    // 48 10), 0173, the PIN block and MAC of those commands (48 09), and
    // the address of every file's read and write key in the card's layout
    // (ss_directory.h), for the data-item steps.
    static constexpr uint16_t kPinAuthAddress = 0x0090;
    static constexpr uint16_t kPinCommandAddress = 0x0173;
    // The card's purchase key (PSAM key 4B of the purse's key version, 01
    // unless set), for MAC1 of a debit.
    static constexpr uint16_t kPurchaseAddress = 0x017F;

    explicit SoftHsm(KeySet keys);

    // Which master key a key address names.
    void setKeyAddress(uint16_t address, KeyRef ref);
    // The master key of the card's internal authentication (48 01 unless
    // set) and that of the external authentication before the
    // basic-information read of a version-3 card (67 0A unless set).
    void setInternalKey(KeyRef ref) { internal_ = ref; }
    void setBasicInfoKey(KeyRef ref) { basicInfo_ = ref; }
    // The card that requests without card data are for: its answer to
    // reset (at least its last 8 bytes) and identification code.
    void setCard(const Bytes &atr, const Bytes &identificationCode);
    // The terminal transaction serial that the debit answer carries (1
    // unless set).  A module keeps its own count; this one answers with
    // the serial it is given.
    void setTerminalSerial(uint32_t serial) { terminalSerial_ = serial; }

    // The answer to one request text, as the host passes it to the next
    // step.  False, with the reason in *error, for a text that is no
    // request of the library, names an unknown key, or cannot be served.
    bool answer(const std::string &request, std::string *reply, std::string *error) const;

private:
    bool cardCheck(const std::vector<std::string> &f, std::string *reply, std::string *error) const;
    bool challenge(const std::vector<std::string> &f, std::string *reply, std::string *error) const;
    bool securedCommand(const std::vector<std::string> &f, std::string *reply, std::string *error) const;
    bool debit(const std::vector<std::string> &f, std::string *reply, std::string *error) const;
    // The card key of a key address for the card set with setCard.
    bool addressedKey(const std::string &address, Cipher c, Bytes *key, std::string *error) const;
    bool cardKey(KeyRef ref, Cipher c, const Bytes &divData, Bytes *key, std::string *error) const;

    KeySet keys_;
    std::map<uint16_t, KeyRef> addresses_;
    KeyRef internal_{0x48, 0x01};
    KeyRef basicInfo_{0x67, 0x0A};
    Bytes divData_;  // empty until setCard
    uint32_t terminalSerial_ = 1;
};

// The module of a profile: its master keys, its internal-authentication
// key, and its card (when it has one) as the card the requests are for.
SoftHsm softHsmFor(const Profile &p);

}  // namespace vr
