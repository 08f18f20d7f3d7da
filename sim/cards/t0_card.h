/* SPDX-License-Identifier: MIT */
// Cards that speak T=0 as ISO/IEC 7816-3 and -4 describe it: a command
// with data (or a card set to answer that way) gets 61 La and its answer
// waits for GET RESPONSE; a command expecting data with the wrong Le gets
// 6C La and must be repeated.  The models of the user card and the PSAM
// build on this and only decide what each command answers.
#pragma once

#include <cstdint>

#include "card.h"

namespace vr {

// One command, split into its parts.
struct Apdu {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;      // command data (Lc bytes)
    int le = -1;     // expected length, 1 to 256; -1 when the command has none
    Bytes raw;       // the command as received
    bool hasData() const { return !data.empty(); }
};

// Splits a short command (case 1 to 4; Lc 0 is not used in T=0).  Returns
// false for anything that is not a well-formed command.
bool parseApdu(const Bytes &command, Apdu *out);

// An answer before the T=0 rules are applied to it.
struct Reply {
    Bytes data;
    uint16_t sw = 0x9000;
};

class T0Card : public Card {
public:
    // How answers with data leave the card.
    enum class Delivery {
        // Case 2 commands get their data at once (after 6C La when Le is
        // wrong); commands with data get 61 La.
        Direct,
        // Every answer with data waits for GET RESPONSE behind 61 La.
        GetResponse,
    };

    explicit T0Card(Bytes atr) : atr_(std::move(atr)) {}

    void setAtr(Bytes atr) { atr_ = std::move(atr); }
    const Bytes &atr() const { return atr_; }
    void setDelivery(Delivery d) { delivery_ = d; }

    Bytes reset() override;
    Bytes transmit(const Bytes &command) final;

protected:
    // Answers one command other than GET RESPONSE.  Called again for a
    // repeated command, so an answer that depends on state (a challenge)
    // changes as it would on a card.
    virtual Reply process(const Apdu &apdu) = 0;
    // The card was reset: clear session state.
    virtual void onReset() {}
    // Whether an answer of n data bytes to this command leaves the card
    // (false when the T=0 rules turn it into 6C La for a wrong Le), for
    // commands whose effect must not happen unless it does.
    bool delivers(const Apdu &apdu, size_t n) const;

private:
    Bytes getResponse(const Apdu &apdu);

    Bytes atr_;
    Delivery delivery_ = Delivery::Direct;
    bool pending_ = false;  // an answer waits for GET RESPONSE
    Bytes pendingData_;
    uint16_t pendingSw_ = 0x9000;
};

// The T=0 encoding of a length of 1 to 256 in one byte (256 is 00).
inline uint8_t lengthByte(size_t n) { return static_cast<uint8_t>(n & 0xFF); }

}  // namespace vr
