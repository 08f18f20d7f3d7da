// SPDX-License-Identifier: MIT
#include "cards/user_card.h"

#include <algorithm>

namespace vr {

Bytes contactAtr() { return hex("3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45"); }

Bytes contactlessAnswer(uint8_t firstByte) {
    Bytes b = hex("00 78 80 70 02 86 38 16 3C 4B 45");
    b[0] = firstByte;
    return b;
}

UserCard &UserCard::on(const std::string &prefix, const std::string &data, uint16_t sw) {
    rules_.push_back({hex(prefix), {hex(data), sw}});
    return *this;
}

Reply UserCard::process(const Apdu &a) {
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
        const Bytes &p = it->prefix;
        if (p.size() <= a.raw.size() && std::equal(p.begin(), p.end(), a.raw.begin())) return it->reply;
    }
    return {{}, 0x6D00};
}

}  // namespace vr
