/* SPDX-License-Identifier: MIT */
// The reader's PIN keypad, part of the reader itself (slot 0x00).  Tests
// and profiles "type" on it by queueing entries in advance; each entry
// command takes the next one.
//
// Commands:
//   00 F8 00 01 03 00 25 80   preparation                      90 00
//   00 F9 00 00 03 1B 43 30   reset                            90 00
//   00 F9 08 3C 03 00 hh ll   PIN entry, prompt code hh ll     the entry
//   00 F9 08 3A 03 00 1B xx   text entry, xx 49, 45 or 65      the entry
// An entry the holder types is answered with the number of keys, the keys
// as ASCII characters, 0D (the enter key) and 90 00.  With no entry queued
// the holder types nothing and the keypad's own time-out ends the entry
// with 69 02 (at once here).  Preparation and reset may be set to fail,
// as on a keypad that is not ready.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "bytes.h"

namespace vr {

// One answer to an entry command: its data and status word.
struct KeypadEntry {
    Bytes data;
    uint16_t sw = 0x9000;
};

// The longest entry a script may give: keys, or raw data bytes.
constexpr size_t kMaxKeypadEntry = 250;

// An entry of the given keys, framed as the keypad answers it.
KeypadEntry typedEntry(const std::string &keys);

// Parses a script of entries: words separated by blanks or commas, each
// one entry:
//   keys        the keys the holder types (printable ASCII: digits for a
//               PIN, any characters for a text entry)
//   timeout     nothing typed: 69 02
//   status:XXXX the entry refused with that status word
//   hex:XX..    an answer of exactly these data bytes (none for "hex:")
//               and 90 00, framing included
// Returns false with a message for anything else.
bool parseKeypadScript(const std::string &text, std::vector<KeypadEntry> *out, std::string *error);

class Keypad {
public:
    static constexpr uint16_t kSwTimedOut = 0x6902;

    // Queues entries; they are answered in turn.
    void type(const std::string &keys) { queue(typedEntry(keys)); }
    void timeOut() { queue({{}, kSwTimedOut}); }
    void queue(const KeypadEntry &e) { entries_.push_back(e); }
    size_t pending() const { return entries_.size(); }

    // The status words of preparation and reset (90 00 unless set).
    void setPreparationStatus(uint16_t sw) { prepareSw_ = sw; }
    void setResetStatus(uint16_t sw) { resetSw_ = sw; }

    // Whether a command is the keypad's (CLA 00, INS F8 or F9).
    static bool isKeypadCommand(const Bytes &command);
    Bytes transmit(const Bytes &command);

private:
    std::deque<KeypadEntry> entries_;
    uint16_t prepareSw_ = 0x9000;
    uint16_t resetSw_ = 0x9000;
};

}  // namespace vr
