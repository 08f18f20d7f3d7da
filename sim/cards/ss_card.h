/* SPDX-License-Identifier: MIT */
// The holder's social-security card: a T=0 card whose application
// "sx1.sh.社会保障" (selected by DF name) holds the elementary files of the
// card's version and the sub-applications DF01 ... DF07, each with its
// files and keys (see ss_directory.h).
//
// The card keeps a small file system: the master file, the application
// below it and the sub-applications below that.  Each DF owns its
// elementary files and its keys: external-authentication keys by key
// identifier (with a try counter each) and internal-authentication keys.
// Commands: SELECT (by DF name, by file identifier), READ RECORD (by
// number, by identifier, next occurrence; by short file identifier too),
// READ BINARY, UPDATE RECORD (by identifier, by number, and the append of
// a cyclic file), UPDATE BINARY, GET CHALLENGE, EXTERNAL AUTHENTICATE,
// INTERNAL AUTHENTICATE, the PIN commands (see ss_pin.h) and the purse
// commands of DF04 (see ss_purse.h).  Reads and
// writes honour the file's read or write condition: free, the cardholder
// PIN, an external authentication with the file's key, either, or both
// (and never, for a write condition of 5); until then the card answers
// 6982.  Every record of a record file (fixed or TLV) is stored with its
// tag and length, as READ RECORD returns it.  A payment application may be
// added beside the social-security application (see ss_payment.h).
//
// Everything but the files' content, the keys' try counters and the purse's
// balance and serial is session state, cleared by the reset of a power-on.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "cards/ss_directory.h"
#include "cards/ss_payment.h"
#include "cards/ss_pin.h"
#include "cards/ss_purse.h"
#include "cards/t0_card.h"
#include "crypto.h"

namespace vr {

// "sx1.sh.社会保障": "sx1.sh." and the GB18030 bytes of 社会保障.
Bytes ssApplicationName();
// The answer to reset of a social-security card in the contact slot.
Bytes ssAtr();

// How the application's file control information tells the card's
// algorithm: in 6F / A5 / 9F0C as a two-byte value (00, indicator), as a
// tag 86 inside 9F0C, or not at all (9F0C holds something else, or is
// missing); the last two leave out A5 or 6F themselves.
enum class FciStyle { Indicator, Tag86, Neither, No9F0C, NoA5, No6F };
Bytes buildFci(FciStyle style, uint8_t value, const Bytes &dfName);

struct CardFile {
    uint16_t id = 0;
    int structure = kTlvRecords;
    DirAccess read, write;
    std::vector<Bytes> records;      // record n is records[n - 1]
    std::vector<DirItem> layout;     // the item of each record (record files)
    int capacity = 0;                // cyclic files: the most records held
    Bytes content;                   // transparent files
};

// Adds a record to a cyclic file as its newest (record 1), dropping the
// oldest once the file holds `capacity` records.  False for a file that is
// not cyclic or a record of another size than the file's records.
bool appendCyclicRecord(CardFile &f, const Bytes &record);

struct CardKey {
    KeyRef ref;    // the PSAM key that it is diversified from
    Bytes value;   // empty: the card has the slot but no key in it
    int tries = 3;
    int maxTries = 3;
};

struct CardDf {
    uint16_t id = 0;
    Bytes name;           // DF name, for selection by name; may be empty
    Bytes fci;            // answer to selection by name
    int parent = -1;
    std::vector<CardFile> files;
    std::map<uint8_t, CardKey> externalKeys;   // by key identifier
    std::map<uint8_t, CardKey> internalKeys;   // by P2 of INTERNAL AUTHENTICATE
};

class SsCard : public T0Card {
public:
    // A card of the given version (1, 2, 3: which files it carries) and
    // algorithm (1: 3DES, 2 and 3: SM4), its files holding default values.
    // Its FCI tells the algorithm in the 9F0C indicator.
    explicit SsCard(int version = 2, int algorithm = 2, Bytes atr = ssAtr());

    int version() const { return version_; }
    int algorithm() const { return algorithm_; }
    Cipher cipher() const { return cipherOfAlgorithm(algorithm_); }

    // --- content ---
    void setApplicationFci(Bytes fci);
    // The value of the occurrence-th record of `tag` in file ef of df
    // (0 for the application's own files), padded to the item's length (00,
    // or FF for digits).  False when the card has no such record or the
    // value is longer than the item.
    bool setRecord(uint16_t df, uint16_t ef, uint8_t tag, const Bytes &value, int occurrence = 1);
    Bytes record(uint16_t df, uint16_t ef, uint8_t tag, int occurrence = 1) const;
    // Adds the payment system environment and the payment application
    // (each part that `app` does not leave out), below the master file.
    void addPaymentApplication(const PaymentApplication &app);
    // The content of a transparent file (at most its size).
    bool setContent(uint16_t df, uint16_t ef, const Bytes &content);
    // Adds a record to a cyclic file as its newest (record 1); the oldest
    // goes once the file holds its most records.  False for another file
    // or a record of another size.
    bool addCyclicRecord(uint16_t df, uint16_t ef, const Bytes &record);
    CardFile *file(uint16_t df, uint16_t ef);

    Bytes identificationCode() const { return record(0, 0xEF05, 0x01); }
    // The 24 bytes from which the PSAM diversifies this card's keys.
    Bytes diversificationData() const;

    // --- keys ---
    // The PSAM key from which the internal-authentication key (P2 00) is
    // diversified; 48 01 unless set before installKeys.
    void setInternalKeyRef(KeyRef ref) { internalRef_ = ref; }
    KeyRef internalKeyRef() const { return internalRef_; }
    // The key references of this card: those of its files' access groups,
    // the PIN-service keys and the internal-authentication key.
    std::vector<KeyRef> keyReferences() const;
    // Derives every key of the card from the master keys (see crypto.h),
    // with the card's diversification data as it stands: call once the
    // answer to reset and the identification code are final.  Each key
    // gets `tries` tries.
    void installKeys(const KeySet &keys, int tries = 3);
    // A key by DF (0 for the application) and identifier, or null.
    CardKey *externalKey(uint16_t df, uint8_t kid);

    // --- the holder's PIN (ss_pin.cpp) ---
    // Sets the PIN (4 to 16 digits) with `tries` tries (1 to 15), all of
    // them left; false for anything else.
    bool setPin(const std::string &digits, int tries = 3);
    // Tries left (0: the PIN is blocked), at most the PIN's tries.
    void setPinTriesLeft(int n);
    std::string pin() const { return pinDigits(pin_.value); }
    int pinTriesLeft() const { return pin_.tries; }

    // --- the purse of DF04 (ss_purse.cpp) ---
    // Balance in fen, the serial of the next debit and the key version
    // (set the version before installKeys).
    void setBalance(uint32_t fen) { purse_.balance = fen; }
    uint32_t balance() const { return purse_.balance; }
    void setPurseSerial(uint16_t serial) { purse_.serial = serial; }
    uint16_t purseSerial() const { return purse_.serial; }
    void setPurseKeyVersion(uint8_t v) { purse_.keyVersion = v; }
    // The algorithm identifier the initialize answers: by default 00 for
    // triple DES, 04 for SM4, but 03 on cards of algorithm 3.
    void setPurchaseAlgorithmId(uint8_t id) { purse_.algorithmId = id; }
    uint8_t purchaseAlgorithmId() const;
    // A transaction record appended as the newest; the records of DF04
    // EF08, newest first.
    bool addPurseRecord(const Purchase &p);
    std::vector<Bytes> purseRecords();

    // --- session state, for tests ---
    const Bytes &lastChallenge() const { return challenge_; }
    void setChallengeSeed(uint64_t seed) { rng_ = seed ? seed : 1; }
    bool pinVerified() const { return pinVerified_; }

protected:
    Reply process(const Apdu &apdu) override;
    void onReset() override;

private:
    int findDf(uint16_t id) const;     // index of the DF with that identifier
    int dfIndex(uint16_t df) const;    // 0000: the application
    void enterDf(int index);
    CardFile *currentFile();
    const CardKey *findKey(bool external, uint8_t id, int *owner);
    bool mayRead(const CardFile &f);
    bool granted(const DirAccess &access);  // ss_files.cpp
    bool keyAuthenticated(uint8_t kid);
    Bytes random(size_t n);

    Reply select(const Apdu &a);
    Reply readRecord(const Apdu &a);
    Reply readBinary(const Apdu &a);
    Reply updateRecord(const Apdu &a);  // ss_files.cpp
    Reply updateBinary(const Apdu &a);  // ss_files.cpp
    Reply getChallenge(const Apdu &a);
    Reply externalAuthenticate(const Apdu &a);
    Reply internalAuthenticate(const Apdu &a);
    Reply verify(const Apdu &a);
    Reply changePin(const Apdu &a);
    Reply pinService(const Apdu &a);
    Reply wrongPin();
    Reply purse(const Apdu &a);
    Reply initializeForDebit(const Apdu &a);
    Reply debit(const Apdu &a);

    int version_;
    int algorithm_;
    std::vector<CardDf> dfs_;   // [0] the master file, [1] the application
    KeyRef internalRef_{0x48, 0x01};
    CardPin pin_;
    Bytes pinServiceKey_;  // diversified from kPinServiceKey
    CardPurse purse_;

    // session state
    int currentDf_ = 0;
    int currentEf_ = -1;
    int recordPointer_ = -1;
    Bytes challenge_;
    std::set<std::pair<int, uint8_t>> authenticated_;  // (owning DF, KID)
    bool pinVerified_ = false;
    uint64_t rng_;
};

class Psam;
// Makes a card and a PSAM belong together: the PSAM holds the master keys
// and the card the keys derived from them for its own diversification
// data.
void pairWithPsam(SsCard &card, Psam &psam, const KeySet &keys, int tries = 3);

// The master keys that a card's key references need, from a seed.
KeySet keysFromSeed(const std::string &seed, const SsCard &card);

}  // namespace vr
