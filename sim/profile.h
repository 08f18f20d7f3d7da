/* SPDX-License-Identifier: MIT */
// Card profiles: text files that say what sits in the virtual reader's
// slots (the holder's card with its data and keys, the PSAMs, the reader's
// own device number).  sim/profiles/demo.profile documents every key.
//
// Format, line by line (UTF-8):
//   # comment               a line whose first non-blank character is #
//   [section]               starts a section
//   key = value             inside a section; blanks around both trimmed
// Sections: [reader], [card], [holder], [keys], [psam] (one per PSAM, may
// repeat), [items], [idcard] (the identity-card module and the card in its
// field), [memory-card] (a contactless memory card in the field) and
// [payment] (the card's payment application), [purse] (its debit
// application's balance and records), [keypad] (entries the
// holder types on the reader's keypad), [scanner] (the QR-code scanner) and
// [stripe] (the magnetic-stripe head).  Each section except [psam]
// appears at most once and each key at most once per section.  A section
// that is left out means "none" for [card], [psam] and [payment], and
// defaults for the others.
//
// The parser checks everything before anything is built, and refuses a
// file with one message naming the line: "demo.profile:12: ...".  Sizes are
// bounded: the file, each line, each value.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "cards/id_module.h"
#include "cards/keypad.h"
#include "cards/m1_card.h"
#include "cards/mag_stripe.h"
#include "cards/qr_scanner.h"
#include "cards/ss_card.h"
#include "crypto.h"

namespace vr {

class Reader;
class Psam;

constexpr size_t kMaxProfileSize = 1 << 20;
constexpr size_t kMaxProfileLine = 20000;

// A value for one item of the card's files, converted already.
struct ItemSetting {
    uint16_t df = 0;        // 0 for the application's own files
    uint16_t ef = 0;
    int tag = -1;           // -1: the whole content of a transparent file,
                            // or the records of a cyclic file
    int occurrence = 1;
    Bytes value;
    std::vector<Bytes> records;  // cyclic file: newest first
};

// The purse of the card's debit application and its transaction records
// (newest first).
struct PurseProfile {
    uint32_t balance = 0;     // fen
    uint16_t serial = 1;      // the serial of the next debit
    uint8_t keyVersion = 0x01;
    int algorithmId = -1;     // -1: the card's default
    std::vector<Purchase> records;
};

struct CardProfile {
    uint8_t slot = 0x01;
    int version = 2;
    Bytes versionText;               // 4 bytes
    int algorithm = 2;
    FciStyle fciStyle = FciStyle::Indicator;
    int fciValue = -1;               // -1: the algorithm
    std::optional<Bytes> fciBytes;   // the whole FCI, given as hex
    Bytes atr;
    Bytes identificationCode;        // 16 bytes
    // Values of the application's EF05 and EF06 records, card-encoded.
    Bytes cardType, institution, issueDate, expiryDate, cardNumber;
    Bytes socialSecurityNumber, name, nameExtension, sex, nation, birthplace, birthDate;
    std::vector<ItemSetting> items;
    // The reader's answer to the card category probe on the contact slot
    // (00 for a social-security card); -1: the probe reaches the card.
    int category = 0x00;
    // The card's payment application; none when [payment] is left out.
    std::optional<PaymentApplication> payment;
    // The holder's PIN, its tries and the tries left (-1: all).
    std::string pin = "480913";
    int pinTries = 3;
    int pinTriesLeft = -1;
    PurseProfile purse;
};

struct KeysProfile {
    std::string seed = "kestrel";
    int tries = 3;
    KeyRef internal{0x48, 0x01};
    std::vector<std::pair<KeyRef, Bytes>> keys;  // given explicitly
};

struct PsamProfile {
    uint8_t slot = 0x11;
    std::vector<int> applications{2, 3};
    std::optional<Bytes> terminalNumber;  // none: the PSAM has no terminal file
};

// The identity-card module in slot 0x1B, with or without a card in its
// field.
struct IdCardProfile {
    bool inField = true;
    IdHolder holder;
};

// A contactless memory card in slot 0x02: the key of every sector (none:
// the model's own) and the blocks given.
struct MemoryCardProfile {
    std::optional<M1Card::Key> key;
    std::vector<std::pair<int, Bytes>> blocks;
};

// The QR-code scanner in slot 0x1C: the code in front of it (none:
// nothing to scan), its mode byte and the commands it refuses.
struct ScannerProfile {
    std::optional<Bytes> code;
    uint8_t mode = 0x00;
    std::vector<QrScanner::Command> refusals;
};

// The magnetic-stripe head in slot 0x1A: the tracks of the card swiped
// (none at all: no card), its track setting and the commands it refuses.
struct StripeProfile {
    MagStripe::Tracks tracks;
    uint8_t setting = MagStripe::kDefaultSetting;
    std::vector<MagStripe::Command> refusals;
};

struct Profile {
    std::optional<Bytes> deviceNumber;
    std::optional<CardProfile> card;
    KeysProfile keys;
    std::vector<PsamProfile> psams;
    std::optional<IdCardProfile> idCard;
    std::optional<MemoryCardProfile> memoryCard;
    std::optional<ScannerProfile> scanner;
    std::optional<StripeProfile> stripe;
    // Entries waiting on the reader's keypad, answered in turn.
    std::vector<KeypadEntry> keypad;
};

// Parses a profile; `name` is used in messages.  On failure returns false
// and puts "name:line: what" (or "name: what") into *error.
bool parseProfile(const std::string &text, const std::string &name, Profile *out, std::string *error);
bool loadProfile(const std::string &path, Profile *out, std::string *error);

// The demonstration profile built into the virtual reader.
const std::string &demoProfileText();
Profile demoProfile();

// The models a profile describes.  The card's keys are derived from the
// profile's master keys: the seed's keys for every key reference of the
// card, replaced by the keys given explicitly.
std::shared_ptr<SsCard> buildCard(const Profile &p);
KeySet buildKeys(const Profile &p, const SsCard *card);
std::shared_ptr<Psam> buildPsam(const PsamProfile &p, const KeySet &keys);

// Puts everything the profile describes into the reader's slots (the
// device number and the keypad's entries into slot 0x00).  Slots the
// profile does not name are left as they are.
void insertProfile(Reader &reader, const Profile &p);

// UTF-8 to GB18030, as the card stores texts; false for text that is not
// UTF-8 or has no GB18030 form.
bool utf8ToGb18030(const std::string &utf8, Bytes *out);

}  // namespace vr
