// SPDX-License-Identifier: MIT
// The purse of the social-security card (see ss_purse.h): the purchase
// scheme shared with the PSAM, and the card's initialize-for-debit and
// debit commands.
#include "cards/ss_purse.h"

#include "cards/ss_card.h"

namespace vr {

namespace {

constexpr uint16_t kPurseDf = 0xDF04;
constexpr uint16_t kRecordFile = 0xEF08;
constexpr size_t kInitializeData = 19;
constexpr size_t kDebitData = 15;
constexpr size_t kMacSize = 4;

void putBe(Bytes *out, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; i--) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes amounts(const Purchase &p) {
    Bytes out;
    for (uint32_t a : p.amounts) putBe(&out, a, 4);
    return out;
}

// The first 4 bytes of the folded CBC-MAC with a zero initial value.
Bytes shortMac(Cipher c, const Bytes &key, const Bytes &data) {
    size_t b = blockSize(c);
    Bytes mac = fold(cbcMac(c, key, Bytes(b, 0x00), padIso(data, b)));
    return Bytes(mac.begin(), mac.begin() + kMacSize);
}

Bytes append(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

Bytes purchaseSessionKey(Cipher c, const Bytes &purchaseKey, const Purchase &p) {
    Bytes random = p.random;
    putBe(&random, p.serial, 2);
    putBe(&random, p.terminalSerial & 0xFFFF, 2);
    return workingKey(c, purchaseKey, padTo(random, blockSize(c)));
}

Bytes purchaseMac1(Cipher c, const Bytes &sessionKey, const Purchase &p) {
    Bytes data = amounts(p);
    data.push_back(p.type);
    data = append(append(data, p.terminal), p.dateTime);
    return shortMac(c, sessionKey, data);
}

Bytes purchaseMac2(Cipher c, const Bytes &sessionKey, const Purchase &p) { return shortMac(c, sessionKey, amounts(p)); }

Bytes purchaseTac(Cipher c, const Bytes &tacKey, const Purchase &p) {
    Bytes data = amounts(p);
    data.push_back(p.type);
    data = append(data, p.terminal);
    putBe(&data, p.terminalSerial, 4);
    return shortMac(c, tacKey, append(data, p.dateTime));
}

Bytes purseRecord(const Purchase &p) {
    Bytes r;
    putBe(&r, p.serial, 2);
    r.push_back(p.type);
    r = append(append(r, padTo(p.terminal, 6)), padTo(p.dateTime, 7));
    return append(r, amounts(p));
}

uint8_t SsCard::purchaseAlgorithmId() const {
    if (purse_.algorithmId >= 0) return static_cast<uint8_t>(purse_.algorithmId);
    if (algorithm_ == 3) return 0x03;
    return cipher() == Cipher::Sm4 ? kPurchaseSm4 : kPurchaseTdes;
}

Reply SsCard::initializeForDebit(const Apdu &a) {
    if (a.p1 != 0x01 || a.p2 != 0x01) return {{}, 0x6A86};
    if (a.data.size() != kInitializeData) return {{}, 0x6700};
    if (dfs_[static_cast<size_t>(currentDf_)].id != kPurseDf) return {{}, 0x6985};
    if (!pinVerified_) return {{}, 0x6982};
    purse_.pending = false;
    if (a.data[0] != 0x01 || purse_.purchaseKey.empty()) return {{}, 0x6A88};

    Purchase p;
    uint64_t total = 0;
    for (int i = 0; i < 3; i++) {
        p.amounts[i] = bigEndian(&a.data[static_cast<size_t>(1 + 4 * i)], 4);
        total += p.amounts[i];
    }
    if (total > purse_.balance) return {{}, 0x9401};
    p.terminal.assign(a.data.begin() + 13, a.data.end());
    p.serial = purse_.serial;
    p.random = random(4);
    purse_.current = p;
    purse_.pending = true;

    Bytes answer;
    putBe(&answer, purse_.balance, 4);
    answer.resize(14, 0x00);
    putBe(&answer, p.serial, 2);
    answer.push_back(purse_.keyVersion);
    answer.push_back(purchaseAlgorithmId());
    return {append(answer, p.random), 0x9000};
}

Reply SsCard::debit(const Apdu &a) {
    if (a.p1 != 0x01 || a.p2 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != kDebitData) return {{}, 0x6700};
    if (!purse_.pending) return {{}, 0x6901};
    purse_.pending = false;
    Purchase p = purse_.current;
    p.terminalSerial = bigEndian(a.data.data(), 4);
    p.dateTime.assign(a.data.begin() + 4, a.data.begin() + 11);
    Bytes mac1(a.data.begin() + 11, a.data.end());
    Bytes session = purchaseSessionKey(cipher(), purse_.purchaseKey, p);
    if (purchaseMac1(cipher(), session, p) != mac1) return {{}, 0x9302};

    purse_.balance -= p.amounts[0] + p.amounts[1] + p.amounts[2];
    purse_.serial++;
    addCyclicRecord(kPurseDf, kRecordFile, purseRecord(p));
    Bytes tac = purse_.tacKey.empty() ? Bytes(kMacSize, 0x00) : purchaseTac(cipher(), purse_.tacKey, p);
    return {append(tac, purchaseMac2(cipher(), session, p)), 0x9000};
}

Reply SsCard::purse(const Apdu &a) {
    switch (a.ins) {
    case 0x28:
        return initializeForDebit(a);
    case 0x2C:
        return debit(a);
    default:
        return {{}, 0x6D00};
    }
}

bool SsCard::addPurseRecord(const Purchase &p) { return addCyclicRecord(kPurseDf, kRecordFile, purseRecord(p)); }

std::vector<Bytes> SsCard::purseRecords() {
    CardFile *f = file(kPurseDf, kRecordFile);
    return f ? f->records : std::vector<Bytes>{};
}

}  // namespace vr
