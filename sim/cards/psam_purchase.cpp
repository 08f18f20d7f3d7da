// SPDX-License-Identifier: MIT
// The PSAM's part of a card's debit (see ss_purse.h): MAC1 over the
// purchase, and the check of the card's MAC2.
#include "cards/psam.h"

namespace vr {

namespace {

// Fixed part of the MAC1 data before the diversification data.
constexpr size_t kMac1Fixed = 28;
constexpr size_t kMacSize = 4;

}  // namespace

Reply Psam::purchaseMac1(const Apdu &a) {
    if (a.p1 != 0x01 || a.p2 != 0x00) return {{}, 0x6A86};
    if (!inKeyDirectory_) return {{}, 0x6985};
    size_t divLen = a.data.size() < kMac1Fixed ? 0 : a.data.size() - kMac1Fixed;
    int level = static_cast<int>(divLen / 8);
    if (a.data.size() < kMac1Fixed || divLen % 8 || level < 1 || level > 3) return {{}, 0x6700};
    purchasePending_ = false;

    const uint8_t *d = a.data.data();
    Purchase p;
    p.random.assign(d, d + 4);
    p.serial = static_cast<uint16_t>(bigEndian(d + 4, 2));
    for (int i = 0; i < 3; i++) p.amounts[i] = bigEndian(d + 6 + 4 * i, 4);
    p.type = d[18];
    p.dateTime.assign(d + 19, d + 26);
    uint8_t keyVersion = d[26], algorithmId = d[27];
    Bytes div(d + kMac1Fixed, d + a.data.size());

    Cipher c = cipher();
    if (algorithmId != (c == Cipher::Sm4 ? kPurchaseSm4 : kPurchaseTdes)) return {{}, 0x6A80};
    const MasterKey *m = keys_.find(kPurchaseKeyType & 0x1F, keyVersion);
    if (!m || m->level != level) return {{}, 0x6A88};

    p.terminal = terminal_ ? *terminal_ : Bytes(6, 0x00);
    p.terminalSerial = transactionSerial_++;
    purchaseSession_ = purchaseSessionKey(c, deriveCardKey(c, m->value, level, div), p);
    purchase_ = p;
    purchasePending_ = true;

    Bytes answer;
    for (int i = 3; i >= 0; i--) answer.push_back(static_cast<uint8_t>(p.terminalSerial >> (8 * i)));
    Bytes mac1 = vr::purchaseMac1(c, purchaseSession_, p);
    answer.insert(answer.end(), mac1.begin(), mac1.end());
    return {answer, 0x9000};
}

Reply Psam::checkMac2(const Apdu &a) {
    if (a.p1 != 0x00 || a.p2 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != kMacSize) return {{}, 0x6700};
    if (!purchasePending_) return {{}, 0x6901};
    purchasePending_ = false;
    return {{}, a.data == purchaseMac2(cipher(), purchaseSession_, purchase_) ? uint16_t{0x9000} : uint16_t{0x9302}};
}

}  // namespace vr
