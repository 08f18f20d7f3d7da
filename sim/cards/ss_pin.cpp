// SPDX-License-Identifier: MIT
// The PIN commands of the social-security card (see ss_pin.h).
#include <algorithm>

#include "cards/ss_card.h"

namespace vr {

namespace {

constexpr uint8_t kPinServiceKid = 0x06;  // the application's key of the terminal
constexpr size_t kMacSize = 4;
constexpr size_t kMinPinBytes = 2;
constexpr size_t kMaxPinBytes = 8;

// 2 to 8 bytes of packed digits, the last nibble possibly the padding F.
bool validPin(const Bytes &b) {
    if (b.size() < kMinPinBytes || b.size() > kMaxPinBytes) return false;
    for (size_t i = 0; i < b.size(); i++) {
        int hi = b[i] >> 4, lo = b[i] & 0x0F;
        bool last = i + 1 == b.size();
        if (hi > 9 || (lo > 9 && !(last && lo == 0x0F))) return false;
    }
    return true;
}

// The new PIN of a decrypted reload block, or empty.
Bytes pinOfBlock(const Bytes &block) {
    size_t n = block.empty() ? 0 : block[0];
    if (n + 2 > block.size() || block[n + 1] != 0x80) return {};
    if (std::any_of(block.begin() + static_cast<long>(n) + 2, block.end(), [](uint8_t b) { return b != 0; })) return {};
    Bytes pin(block.begin() + 1, block.begin() + 1 + static_cast<long>(n));
    return validPin(pin) ? pin : Bytes{};
}

}  // namespace

Bytes packPinDigits(const std::string &digits) {
    if (digits.size() < 4 || digits.size() > 2 * kMaxPinBytes ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return hex(digits.size() % 2 ? digits + "F" : digits);
}

std::string pinDigits(const Bytes &packed) {
    std::string s;
    for (uint8_t b : packed) {
        for (int nib : {b >> 4, b & 0x0F})
            if (nib <= 9) s += static_cast<char>('0' + nib);
    }
    return s;
}

bool SsCard::setPin(const std::string &digits, int tries) {
    Bytes v = packPinDigits(digits);
    if (v.empty() || tries < 1 || tries > 15) return false;
    pin_ = {v, tries, tries};
    return true;
}

void SsCard::setPinTriesLeft(int n) { pin_.tries = std::max(0, std::min(n, pin_.maxTries)); }

Reply SsCard::wrongPin() {
    if (pin_.tries > 0) pin_.tries--;
    pinVerified_ = false;
    return {{}, static_cast<uint16_t>(0x63C0 | pin_.tries)};
}

Reply SsCard::verify(const Apdu &a) {
    if (a.cla != 0x00) return {{}, 0x6E00};
    if (a.p1 != 0x00 || a.p2 != 0x00) return {{}, 0x6A86};
    if (a.data.empty() || a.data.size() > kMaxPinBytes) return {{}, 0x6700};
    if (pin_.tries <= 0) return {{}, 0x6983};
    if (a.data != pin_.value) return wrongPin();
    pin_.tries = pin_.maxTries;
    pinVerified_ = true;
    return {{}, 0x9000};
}

Reply SsCard::changePin(const Apdu &a) {
    if (a.cla != 0x80) return {{}, 0x6E00};
    if (a.p1 != 0x01 || a.p2 != 0x00) return {{}, 0x6A86};
    auto separator = std::find(a.data.begin(), a.data.end(), 0xFF);
    if (separator == a.data.end()) return {{}, 0x6A80};
    Bytes oldPin(a.data.begin(), separator), newPin(separator + 1, a.data.end());
    if (oldPin.empty() || oldPin.size() > kMaxPinBytes || !validPin(newPin)) return {{}, 0x6A80};
    if (pin_.tries <= 0) return {{}, 0x6983};
    if (oldPin != pin_.value) return wrongPin();
    pin_ = {newPin, pin_.maxTries, pin_.maxTries};
    return {{}, 0x9000};
}

Reply SsCard::pinService(const Apdu &a) {
    if (a.cla != 0x84) return {{}, 0x6982};  // only with a MAC
    if (a.p1 != 0x00 || (a.p2 != 0x00 && a.p2 != 0x01)) return {{}, 0x6A86};
    const bool reload = a.p2 == 0x01;
    const size_t b = blockSize(cipher());
    const size_t encrypted = a.data.size() >= kMacSize ? a.data.size() - kMacSize : 0;
    if (a.data.size() < kMacSize || (reload ? encrypted == 0 || encrypted % b : encrypted != 0))
        return {{}, 0x6700};
    if (!keyAuthenticated(kPinServiceKid)) return {{}, 0x6982};
    if (pinServiceKey_.empty()) return {{}, 0x6A88};
    if (challenge_.empty()) return {{}, 0x6984};
    Bytes s = workingKey(cipher(), pinServiceKey_, padTo(challenge_, b));
    challenge_.clear();  // a challenge serves one command

    Bytes macInput = {a.cla, a.ins, a.p1, a.p2, lengthByte(a.data.size())};
    macInput.insert(macInput.end(), a.data.begin(), a.data.begin() + static_cast<long>(encrypted));
    Bytes mac = fold(cbcMac(cipher(), s, Bytes(b, 0x00), padIso(macInput, b)));
    if (!std::equal(mac.begin(), mac.begin() + kMacSize, a.data.end() - kMacSize)) return {{}, 0x6988};

    if (reload) {
        Bytes pin = pinOfBlock(decryptEcb(cipher(), s, Bytes(a.data.begin(), a.data.begin() + static_cast<long>(encrypted))));
        if (pin.empty()) return {{}, 0x6A80};
        pin_.value = pin;
    }
    pin_.tries = pin_.maxTries;
    return {{}, 0x9000};
}

}  // namespace vr
