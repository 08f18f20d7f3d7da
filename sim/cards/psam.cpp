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

Psam &Psam::addApplication(const Bytes &dfName) {
    applications_.push_back({dfName});
    return *this;
}

std::shared_ptr<Psam> Psam::withApplications(std::initializer_list<int> algorithms) {
    auto psam = std::make_shared<Psam>();
    for (int alg : algorithms) psam->addApplication(psamApplicationName(alg));
    return psam;
}

const PsamApplication *Psam::selected() const {
    return selected_ < 0 ? nullptr : &applications_[static_cast<size_t>(selected_)];
}

Reply Psam::select(const Apdu &a) {
    if (a.p1 != 0x04) return {{}, 0x6A86};
    for (size_t i = 0; i < applications_.size(); i++) {
        if (applications_[i].name != a.data) continue;
        selected_ = static_cast<int>(i);
        // File control information: 6F { 84 DF name }.
        Bytes fci{0x6F, static_cast<uint8_t>(a.data.size() + 2), 0x84,
                  static_cast<uint8_t>(a.data.size())};
        fci.insert(fci.end(), a.data.begin(), a.data.end());
        return {fci, 0x9000};
    }
    return {{}, 0x6A82};
}

Reply Psam::process(const Apdu &a) {
    if (a.cla != 0x00 && a.cla != 0x80) return {{}, 0x6E00};
    switch (a.ins) {
    case 0xA4:
        return select(a);
    default:
        return {{}, 0x6D00};
    }
}

}  // namespace vr
