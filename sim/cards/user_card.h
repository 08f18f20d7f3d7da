/* SPDX-License-Identifier: MIT */
// The holder's card, in the contact slot or in the contactless field, as
// far as the session needs it: an answer to reset of the kind the reader
// reports for each slot, and commands answered by rules under the T=0
// rules of T0Card (61xx for answers that wait for GET RESPONSE, 6Cxx for a
// wrong Le).
#pragma once

#include <string>
#include <vector>

#include "cards/t0_card.h"

namespace vr {

// What the reader reports when it powers a card in the contactless field:
// its first byte tells the kind of card.
enum ContactlessKind : uint8_t {
    kContactlessCpu = 0x3B,        // a processor card (its answer to reset)
    kContactlessTypeB = 0x50,      // a type B card that the reader cannot use
    kContactlessMemory1K = 0x04,   // memory cards without a processor
    kContactlessMemory4K = 0x02,
};

// Answers to reset: a contact card, and what the reader reports for a card
// of the given kind in the field (any first byte may be passed).
Bytes contactAtr();
Bytes contactlessAnswer(uint8_t firstByte);

class UserCard : public T0Card {
public:
    explicit UserCard(Bytes atr = contactAtr()) : T0Card(std::move(atr)) {}

    // Commands that begin with `prefix` (hex) are answered with `data` (hex)
    // and the status word; later rules are tried first.  Leave Le out of
    // the prefix so that a wrong Le meets the 6C La of the T=0 rules.
    UserCard &on(const std::string &prefix, const std::string &data, uint16_t sw = 0x9000);

protected:
    Reply process(const Apdu &apdu) override;

private:
    struct Rule {
        Bytes prefix;
        Reply reply;
    };
    std::vector<Rule> rules_;
};

}  // namespace vr
