// SPDX-License-Identifier: MIT
#include "soft_hsm.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cards/ss_directory.h"
#include "cards/ss_purse.h"
#include "profile.h"

namespace vr {

namespace {

constexpr size_t kChallenge = 8;
constexpr size_t kMacSent = 4;
constexpr size_t kMaxRequest = 4096;  // far beyond any request of the library

// The "|"-terminated fields of a text; characters after the last "|" form
// no field.
std::vector<std::string> fieldsOf(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        out.push_back(text.substr(start, bar - start));
    return out;
}

// Exactly `bytes` bytes of hexadecimal digits (either case); any other
// text gives false.  bytes 0: any even number of digits.
bool hexField(const std::string &text, size_t bytes, Bytes *out) {
    if (text.size() % 2 || (bytes && text.size() != 2 * bytes)) return false;
    Bytes b;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char *end = nullptr;
        if (!isxdigit(static_cast<unsigned char>(pair[0])) || !isxdigit(static_cast<unsigned char>(pair[1])))
            return false;
        b.push_back(static_cast<uint8_t>(strtoul(pair, &end, 16)));
    }
    *out = b;
    return true;
}

std::string hexText(const Bytes &b) {
    std::string s;
    char pair[3];
    for (uint8_t x : b) {
        snprintf(pair, sizeof pair, "%02X", x);
        s += pair;
    }
    return s;
}

// The algorithm field: two digits, hexadecimal in the challenge texts and
// decimal in the card-check text (which agree for 01 to 03).
bool algorithmField(const std::string &text, Cipher *c) {
    if (text.size() != 2 || !isdigit(static_cast<unsigned char>(text[0])) ||
        !isdigit(static_cast<unsigned char>(text[1])))
        return false;
    *c = cipherOfAlgorithm(std::atoi(text.c_str()));
    return true;
}

bool fail(std::string *error, const std::string &why) {
    *error = why;
    return false;
}

Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

SoftHsm::SoftHsm(KeySet keys) : keys_(std::move(keys)) {
    addresses_[kPinAuthAddress] = KeyRef{0x48, 0x10};
    addresses_[kPinCommandAddress] = KeyRef{0x48, 0x09};
    addresses_[kPurchaseAddress] = KeyRef{kPurchaseKeyType, 0x01};
    // The keys of the card's files, under the addresses of the card's
    // layout documents; an address names the same master on cards of every
    // version.
    for (int version : {1, 2, 3})
        for (const DirFile &f : cardDirectory(version))
            for (const DirAccess *a : {&f.read, &f.write})
                if (a->address) addresses_[a->address] = KeyRef{a->key.type, a->key.version};
}

void SoftHsm::setKeyAddress(uint16_t address, KeyRef ref) { addresses_[address] = ref; }

void SoftHsm::setCard(const Bytes &atr, const Bytes &identificationCode) {
    divData_ = diversificationData(atr, identificationCode);
}

bool SoftHsm::cardKey(KeyRef ref, Cipher c, const Bytes &divData, Bytes *key, std::string *error) const {
    *key = cardKeyFor(keys_, c, ref, divData);
    if (key->empty()) {
        char why[64];
        snprintf(why, sizeof why, "no master key %02X %02X", ref.typeByte, ref.version);
        return fail(error, why);
    }
    return true;
}

bool SoftHsm::addressedKey(const std::string &address, Cipher c, Bytes *key, std::string *error) const {
    Bytes a;
    if (!hexField(address, 2, &a)) return fail(error, "key address is not 4 hexadecimal digits: " + address);
    auto it = addresses_.find(static_cast<uint16_t>(a[0] << 8 | a[1]));
    if (it == addresses_.end()) return fail(error, "unknown key address " + address);
    if (divData_.empty()) return fail(error, "no card set for key address " + address);
    return cardKey(it->second, c, divData_, key, error);
}

bool SoftHsm::cardCheck(const std::vector<std::string> &f, std::string *reply, std::string *error) const {
    Cipher c;
    Bytes atrTail, id, r2, r1;
    if (!algorithmField(f[2], &c) || !hexField(f[1], 13, &atrTail) || !hexField(f[3], 16, &id) ||
        !hexField(f[4], kChallenge, &r2) || !hexField(f[5], kChallenge, &r1))
        return fail(error, "malformed card-check request");
    const Bytes div = diversificationData(atrTail, id);
    Bytes key;
    if (!cardKey(internal_, c, div, &key, error)) return false;
    std::string out = hexText(concat(authCryptogram(c, key, r2, r1), r1)) + "|";
    if (!f[6].empty() || !f[7].empty()) {
        Bytes r4, r3;
        if (!hexField(f[6], kChallenge, &r4) || !hexField(f[7], kChallenge, &r3))
            return fail(error, "malformed card-check request");
        if (!cardKey(basicInfo_, c, div, &key, error)) return false;
        out += hexText(concat(authCryptogram(c, key, r4, r3), r3));
    }
    *reply = out + "|";
    return true;
}

bool SoftHsm::challenge(const std::vector<std::string> &f, std::string *reply, std::string *error) const {
    Cipher c;
    Bytes part1, part2, key;
    if (!algorithmField(f[0], &c) || !hexField(f[2], kChallenge, &part1) || !hexField(f[3], kChallenge, &part2))
        return fail(error, "malformed challenge block");
    if (!addressedKey(f[1], c, &key, error)) return false;
    *reply = hexText(concat(authCryptogram(c, key, part1, part2), part2));
    return true;
}

bool SoftHsm::securedCommand(const std::vector<std::string> &f, std::string *reply, std::string *error) const {
    Cipher c;
    Bytes challenge, header, key;
    if (!algorithmField(f[0], &c) || !hexField(f[2], kChallenge, &challenge) || !hexField(f[3], 5, &header))
        return fail(error, "malformed command request");
    if (!addressedKey(f[1], c, &key, error)) return false;
    const size_t b = blockSize(c);
    const size_t lc = header[4];
    if (lc < kMacSent || (lc - kMacSent) % b) return fail(error, "the header's Lc does not fit the cipher's blocks");
    const Bytes s = workingKey(c, key, padTo(challenge, b));

    Bytes data;
    if (lc > kMacSent) {
        // The PIN block: the PIN's length in bytes, the packed PIN, 80.
        Bytes pin;
        if (!hexField(f[4], 0, &pin) || pin.empty()) return fail(error, "no PIN to encrypt");
        Bytes block = {static_cast<uint8_t>(pin.size())};
        block = concat(block, pin);
        block.push_back(0x80);
        if (block.size() > lc - kMacSent) return fail(error, "the PIN does not fit the header's block");
        data = encryptEcb(c, s, padTo(block, lc - kMacSent));
    }
    Bytes command = concat(header, data);
    Bytes mac = fold(cbcMac(c, s, Bytes(b, 0x00), padIso(command, b)));
    command.insert(command.end(), mac.begin(), mac.begin() + kMacSent);
    *reply = hexText(command);
    return true;
}

bool SoftHsm::debit(const std::vector<std::string> &f, std::string *reply, std::string *error) const {
    Cipher c;
    Bytes random, serial, amounts, type, terminal, dateTime, key;
    if (!algorithmField(f[0], &c) || !hexField(f[2], 4, &random) || !hexField(f[3], 2, &serial) ||
        !hexField(f[4], 8, &amounts) || !hexField(f[5], 1, &type) || !hexField(f[6], 6, &terminal) ||
        !hexField(f[7], 7, &dateTime))
        return fail(error, "malformed debit request");
    if (!addressedKey(f[1], c, &key, error)) return false;
    Purchase p;
    p.random = random;
    p.serial = static_cast<uint16_t>(bigEndian(serial.data(), 2));
    p.amounts[1] = bigEndian(amounts.data(), 4);
    p.amounts[2] = bigEndian(amounts.data() + 4, 4);
    p.type = type[0];
    p.terminal = terminal;
    p.dateTime = dateTime;
    p.terminalSerial = terminalSerial_;
    char serialText[9];
    snprintf(serialText, sizeof serialText, "%08X", terminalSerial_);
    *reply = std::string(serialText) + "|" + f[7] + "|" +
             hexText(purchaseMac1(c, purchaseSessionKey(c, key, p), p)) + "|";
    return true;
}

bool SoftHsm::answer(const std::string &request, std::string *reply, std::string *error) const {
    if (request.size() > kMaxRequest) return fail(error, "request too long");
    const std::vector<std::string> f = fieldsOf(request);
    // The card-check text ends with the reader's device number, which may
    // itself hold "|": its first eight fields decide.
    if (f.size() >= 9 && f[0].size() == 6) return cardCheck(f, reply, error);
    if (f.size() == 4) return challenge(f, reply, error);
    if (f.size() == 5) return securedCommand(f, reply, error);
    if (f.size() == 8) return debit(f, reply, error);
    return fail(error, "not a request of the library");
}

SoftHsm softHsmFor(const Profile &p) {
    std::shared_ptr<SsCard> card = buildCard(p);
    SoftHsm hsm(buildKeys(p, card.get()));
    hsm.setInternalKey(p.keys.internal);
    if (p.card) hsm.setKeyAddress(SoftHsm::kPurchaseAddress, KeyRef{kPurchaseKeyType, p.card->purse.keyVersion});
    if (card) hsm.setCard(card->atr(), card->identificationCode());
    return hsm;
}

}  // namespace vr
