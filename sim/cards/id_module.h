/* SPDX-License-Identifier: MIT */
// The reader's identity-card module (slot 0x1B) and the card in its field.
//
// The module speaks its own framed protocol inside the reader's exchange:
//   command  AA AA AA 96 69 | length (2, big-endian) | command | parameter |
//            data | checksum
//   answer   AA AA AA 96 69 | length | 00 00 result | data | checksum
// where the length counts the bytes after it and the checksum is the XOR of
// the length bytes through the data.  Every answer travels inside an
// exchange that the reader ends with 90 00, refusals included: the module's
// result byte tells them apart.
//
// Results: 90 done, 9F card found, 80 no card found, 81 card not selected,
// 41 card not read, 10 checksum wrong, 11 length wrong, 21 unknown command.
//
// Commands: 12 FF reset, 61 FF set the frame size, 20 01 find the card,
// 20 02 select it, 30 01 read text and photo (answer data: text length (2),
// photo length (2), text, photo).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "card.h"

namespace vr {

// The holder, as printed on the card; texts in UTF-8.  Which fields a kind
// of card carries and where they sit in the 256-byte text block:
//
//   resident (kind ""): name 0/30, sex 30/2, ethnic 32/4, birth 36/16,
//     address 52/70, number 122/36, authority 158/30, validFrom 188/16,
//     validTo 204/16
//   "J" residence permit: as resident without ethnic (32/4 reserved), and
//     passNumber 220/18, issueCount 238/4
//   "I" permanent residence: latinName 0/120, sex 120/2, number 122/30,
//     nationality 152/6, name (in Chinese) 158/30, validFrom 188/16,
//     validTo 204/16, birth 220/16, version 236/4, authority (a code) 240/8
//   every kind: the kind's letter at 248/2
//
// (offset/bytes; 16-bit characters, little-endian, padded with spaces; a
// text too long for its place is cut.)
struct IdHolder {
    std::string name;
    std::string sex = "1";      // "1" male, "2" female
    std::string ethnic = "01";  // two digits
    std::string birth;          // YYYYMMDD
    std::string address;
    std::string number;
    std::string authority;
    std::string validFrom;      // YYYYMMDD
    std::string validTo;        // YYYYMMDD or a text such as "长期"
    std::string kind;           // "", "I" or "J"
    std::string latinName;      // "I"
    std::string nationality;    // "I": three letters
    std::string version;        // "I": two digits
    std::string passNumber;     // "J"
    std::string issueCount;     // "J": two digits
    size_t photoLength = 1024;  // bytes of synthetic photo
};

// A resident identity card for tests and the demonstration.
IdHolder demoResident();

// The text block of a holder (256 bytes) and its synthetic photo.
Bytes idTextBlock(const IdHolder &holder);
Bytes idPhoto(const IdHolder &holder);

// UTF-8 to 16-bit characters, little-endian (characters beyond the basic
// plane become "?").
Bytes utf8ToUcs2le(const std::string &text);

// A frame in the module's format: preamble, length, body, checksum.
Bytes idFrame(const Bytes &body);

class IdModule : public Card {
public:
    IdModule() = default;
    explicit IdModule(IdHolder holder) : holder_(std::move(holder)) {}

    // The card in the field; none: finding a card fails.
    void setCard(IdHolder holder) { holder_ = std::move(holder); }
    void removeCard() { holder_.reset(); }
    const std::optional<IdHolder> &card() const { return holder_; }

    // --- deviations, for tests ---
    // The text block sent instead of the holder's (any length).
    void setRawText(Bytes text) { rawText_ = std::move(text); }
    // Text and photo lengths announced instead of the true ones.
    void announceLengths(int textLen, int photoLen) {
        announcedText_ = textLen;
        announcedPhoto_ = photoLen;
    }
    // The frame of command/parameter is answered with `result` and no data.
    void refuse(uint8_t command, uint8_t parameter, uint8_t result) {
        refusals_[{command, parameter}] = result;
    }
    // The frame of command/parameter is answered by the reader with `sw`
    // alone, no module answer.
    void failExchange(uint8_t command, uint8_t parameter, uint16_t sw) {
        exchangeFailures_[{command, parameter}] = sw;
    }
    // The next answers carry a wrong checksum.
    void corruptChecksums(bool on) { corruptChecksum_ = on; }

    Bytes reset() override;
    Bytes transmit(const Bytes &command) override;

private:
    Bytes answer(uint8_t result, const Bytes &data = {}) const;
    Bytes readTextAndPhoto() const;

    std::optional<IdHolder> holder_;
    bool found_ = false, selected_ = false;
    std::optional<Bytes> rawText_;
    int announcedText_ = -1, announcedPhoto_ = -1;
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> refusals_;
    std::map<std::pair<uint8_t, uint8_t>, uint16_t> exchangeFailures_;
    bool corruptChecksum_ = false;
};

}  // namespace vr
