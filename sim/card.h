/* SPDX-License-Identifier: MIT */
// What sits in a slot of the virtual reader: a card, a PSAM or a side
// module.  The reader itself answers power-on, power-off and the status
// commands; everything else sent to a slot reaches its model here.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bytes.h"

namespace vr {

class Card {
public:
    virtual ~Card() = default;
    // Powers the card up: resets its session state and returns the answer
    // to reset.
    virtual Bytes reset() = 0;
    // One command; returns the response data followed by SW1 SW2.
    virtual Bytes transmit(const Bytes &command) = 0;
    // The slot was powered off.
    virtual void powerOff() {}
    // False for a card that the reader drives with its own commands, which
    // reach it whether or not the slot was powered.
    virtual bool needsPower() const { return true; }
};

// A card answering by rules given in advance: each rule matches commands
// that begin with a prefix and hands out its answers in turn (the last one
// repeats).  Unmatched commands get 6D 00.  Meant for tests that need one
// particular behaviour (61xx, 6Cxx, errors) rather than a whole card.
class ScriptedCard : public Card {
public:
    explicit ScriptedCard(Bytes atr = hex("3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45"))
        : atr_(std::move(atr)) {}

    // Adds a rule; later rules are tried first, so a test can override a
    // general rule with a more specific one.
    ScriptedCard &on(const std::string &prefix, const std::string &answer);
    ScriptedCard &on(const std::string &prefix, const std::vector<std::string> &answers);
    void setAtr(Bytes atr) { atr_ = std::move(atr); }

    Bytes reset() override { return atr_; }
    Bytes transmit(const Bytes &command) override;

private:
    struct Rule {
        Bytes prefix;
        std::deque<Bytes> answers;
    };
    Bytes atr_;
    std::vector<Rule> rules_;
};

}  // namespace vr
