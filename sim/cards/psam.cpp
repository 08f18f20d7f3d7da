// SPDX-License-Identifier: MIT
#include "cards/psam.h"

#include <memory>

namespace vr {

Bytes psamApplicationName(int algorithm) {
    // "sx?.sh." then 社会保障 in GB18030.
    Bytes name = hex("73 78 32 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF");
    name[2] = static_cast<uint8_t>('0' + algorithm);
    return name;
}

Bytes psamAtr() { return hex("3B 6C 00 00 50 53 41 4D 20 56 52 54 31 30"); }

Psam &Psam::addApplication(const Bytes &dfName, int algorithm) {
    applications_.push_back({dfName, algorithm});
    return *this;
}

std::shared_ptr<Psam> Psam::withApplications(std::initializer_list<int> algorithms) {
    auto psam = std::make_shared<Psam>();
    for (int alg : algorithms) psam->addApplication(psamApplicationName(alg), alg);
    return psam;
}

const PsamApplication *Psam::selected() const {
    return selected_ < 0 ? nullptr : &applications_[static_cast<size_t>(selected_)];
}

void Psam::onReset() {
    selected_ = -1;
    inKeyDirectory_ = false;
    terminalFileSelected_ = false;
    workingKey_.clear();
    purchasePending_ = false;
}

Cipher Psam::cipher() const {
    return selected_ < 0 ? Cipher::Tdes : cipherOfAlgorithm(applications_[static_cast<size_t>(selected_)].algorithm);
}

Reply Psam::select(const Apdu &a) {
    if (a.p1 == 0x04) {
        for (size_t i = 0; i < applications_.size(); i++) {
            if (applications_[i].name != a.data) continue;
            selected_ = static_cast<int>(i);
            inKeyDirectory_ = false;
            terminalFileSelected_ = false;
            workingKey_.clear();
            // File control information: 6F { 84 DF name }.
            Bytes fci{0x6F, static_cast<uint8_t>(a.data.size() + 2), 0x84, static_cast<uint8_t>(a.data.size())};
            fci.insert(fci.end(), a.data.begin(), a.data.end());
            return {fci, 0x9000};
        }
        return {{}, 0x6A82};
    }
    if (a.p1 != 0x00) return {{}, 0x6A86};
    if (a.data.size() != 2) return {{}, 0x6700};
    uint16_t id = static_cast<uint16_t>(a.data[0] << 8 | a.data[1]);
    switch (id) {
    case 0x3F00:
        onReset();
        return {{}, 0x9000};
    case 0x0016:
        if (!terminal_) return {{}, 0x6A82};
        terminalFileSelected_ = true;
        return {{}, 0x9000};
    case 0xDF01:
        inKeyDirectory_ = true;
        terminalFileSelected_ = false;
        workingKey_.clear();
        return {{}, 0x9000};
    default:
        return {{}, 0x6A82};
    }
}

Reply Psam::readBinary(const Apdu &a) {
    size_t offset;
    if (a.p1 & 0x80) {
        // By short file identifier: the terminal file is 16.
        if ((a.p1 & 0x1F) != 0x16 || !terminal_) return {{}, 0x6A82};
        terminalFileSelected_ = true;
        offset = a.p2;
    } else {
        if (!terminalFileSelected_) return {{}, 0x6986};
        offset = static_cast<size_t>(a.p1 << 8 | a.p2);
    }
    if (a.le < 0) return {{}, 0x6700};
    const Bytes &t = *terminal_;
    if (offset >= t.size()) return {{}, 0x6B00};
    size_t n = std::min(static_cast<size_t>(a.le), t.size() - offset);
    return {Bytes(t.begin() + static_cast<long>(offset), t.begin() + static_cast<long>(offset + n)), 0x9000};
}

Reply Psam::initialiseKey(const Apdu &a) {
    if (!inKeyDirectory_) return {{}, 0x6985};
    KeyRef ref{a.p1, a.p2};
    size_t n = static_cast<size_t>(ref.level());
    size_t b = blockSize(cipher());
    size_t divLen = 8 * n;
    if (a.data.size() < divLen || (a.data.size() - divLen != 0 && a.data.size() - divLen != b))
        return {{}, 0x6700};
    const MasterKey *m = keys_.find(ref.type(), ref.version);
    workingKey_.clear();
    if (!m || m->level != ref.level() || n == 0) return {{}, 0x6A88};
    Bytes div(a.data.begin(), a.data.begin() + static_cast<long>(divLen));
    Bytes random(a.data.begin() + static_cast<long>(divLen), a.data.end());
    workingKey_ = workingKey(cipher(), deriveCardKey(cipher(), m->value, m->level, div), random);
    return {{}, 0x9000};
}

Reply Psam::cipherService(const Apdu &a) {
    if (a.p2 != 0x00 || (a.p1 != 0x00 && a.p1 != 0x05)) return {{}, 0x6A86};
    if (workingKey_.empty()) return {{}, 0x6985};
    size_t b = blockSize(cipher());
    if (a.data.empty() || a.data.size() % b) return {{}, 0x6700};
    if (a.p1 == 0x00) return {encryptEcb(cipher(), workingKey_, a.data), 0x9000};
    // MAC: the initial value, then the padded data.
    if (a.data.size() < 2 * b) return {{}, 0x6700};
    Bytes iv(a.data.begin(), a.data.begin() + static_cast<long>(b));
    Bytes data(a.data.begin() + static_cast<long>(b), a.data.end());
    return {cbcMac(cipher(), workingKey_, iv, data), 0x9000};
}

Reply Psam::process(const Apdu &a) {
    if (a.cla == 0xBF && a.ins == 0xDE) return initialiseKey(a);
    if (a.cla != 0x00 && a.cla != 0x80) return {{}, 0x6E00};
    switch (a.ins) {
    case 0xA4:
        return select(a);
    case 0xB0:
        return readBinary(a);
    case 0xFA:
        if (a.cla != 0x80) return {{}, 0x6E00};
        return cipherService(a);
    case 0x70:
        return a.cla == 0x80 ? purchaseMac1(a) : Reply{{}, 0x6E00};
    case 0x72:
        return a.cla == 0x80 ? checkMac2(a) : Reply{{}, 0x6E00};
    default:
        return {{}, 0x6D00};
    }
}

}  // namespace vr
