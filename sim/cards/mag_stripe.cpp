// SPDX-License-Identifier: MIT
#include "cards/mag_stripe.h"

namespace vr {

bool MagStripe::hasCard() const {
    for (const auto &t : tracks_)
        if (t) return true;
    return false;
}

Bytes MagStripe::transmit(const Bytes &c) {
    Command cmd;
    if (c == Bytes{0x80, 0x17, 0x03, 0x00, 0x01})
        cmd = Command::ReadSetting;
    else if (c.size() == 5 && c[0] == 0x80 && c[1] == 0x17 && c[2] == 0x03 && c[4] == 0x00)
        cmd = Command::SetTracks;
    else if (c == Bytes{0x00, 0x19, 0x06, 0x01, 0x00})
        cmd = Command::Channel;
    else if (c == Bytes{0x00, 0x19, 0x20, 0x08, 0x00})
        cmd = Command::Swipe;
    else if (c.size() == 5 && c[0] == 0x00 && c[1] == 0xB0 && c[3] == 0x00)
        cmd = Command::Read;
    else
        return withStatus({}, 0x6D00);

    auto refused = refusals_.find(cmd);
    if (refused != refusals_.end()) return withStatus({}, refused->second);
    switch (cmd) {
    case Command::SetTracks:
        if (c[3] != 0x02 && c[3] != 0x03 && c[3] != 0x06) return withStatus({}, 0x6A86);
        setting_ = c[3];
        return withStatus({}, 0x9000);
    case Command::ReadSetting:
        return withStatus({setting_}, 0x9000);
    case Command::Channel:
        return withStatus({}, 0x9000);
    case Command::Swipe:
        return withStatus({}, hasCard() ? 0x9000 : kSwNoCard);
    case Command::Read: {
        if (!hasCard()) return withStatus({}, kSwNoCard);
        if ((c[2] & 0x07) == 0 || (c[2] & ~0x07)) return withStatus({}, 0x6A86);
        Bytes data;
        for (size_t i = 0; i < tracks_.size(); ++i) {
            if (!(c[2] & (1u << i))) continue;
            if (tracks_[i]) data.insert(data.end(), tracks_[i]->begin(), tracks_[i]->end());
            data.push_back('|');
        }
        return withStatus(data, 0x9000);
    }
    }
    return withStatus({}, 0x6D00);
}

}  // namespace vr
