// SPDX-License-Identifier: MIT
#include "cards/m1_card.h"

#include <algorithm>

#include "cards/user_card.h"

namespace vr {

M1Card::M1Card() {
    const Key key = {0x5E, 0x3A, 0x91, 0xC7, 0x24, 0x8B};
    for (auto &k : keys_) k = {key, key};
    for (size_t b = 0; b < blocks_.size(); ++b)
        for (int i = 0; i < kBlockSize; ++i) blocks_[b][i] = static_cast<uint8_t>(b * kBlockSize + i);
    const uint8_t block0[kBlockSize] = {0x3A, 0x7C, 0x21, 0x9E, 0x3A ^ 0x7C ^ 0x21 ^ 0x9E,
                                        0x08, 0x04, 0x00, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69};
    std::copy(block0, block0 + kBlockSize, blocks_[0].begin());
}

void M1Card::setBlock(int block, const Bytes &data) {
    auto &b = blocks_.at(static_cast<size_t>(block));
    b.fill(0);
    std::copy(data.begin(), data.begin() + static_cast<long>(std::min<size_t>(data.size(), kBlockSize)), b.begin());
}

Bytes M1Card::block(int block) const {
    const auto &b = blocks_.at(static_cast<size_t>(block));
    return Bytes(b.begin(), b.end());
}

Bytes M1Card::reset() {
    active_ = false;
    authenticated_ = -1;
    return contactlessAnswer(kContactlessMemory1K);
}

Bytes M1Card::transmit(const Bytes &command) {
    if (command.size() < 5 || command[0] != 0x80 || command[1] != 0x11) return withStatus({}, 0x6D00);
    const uint8_t op = command[2];
    const size_t lc = command[4];
    if (op == 0x09 && command.size() == 5) {
        active_ = true;
        authenticated_ = -1;
        return withStatus({}, 0x9000);
    }
    if (op == 0x02 && lc == 8 && command.size() == 13) {
        if (!active_) return withStatus({}, 0x6985);
        int type = command[5], sector = command[6];
        if (type > 1 || sector >= kSectors) return withStatus({}, 0x6A86);
        Key key;
        std::copy(command.begin() + 7, command.end(), key.begin());
        if (key != keys_[sector][type]) {
            authenticated_ = -1;
            return withStatus({}, 0x6300);
        }
        authenticated_ = sector;
        return withStatus({}, 0x9000);
    }
    if (op == 0x03 && lc == 1 && command.size() == 6) {
        int b = command[5];
        if (b >= kSectors * kBlocksPerSector) return withStatus({}, 0x6A86);
        if (!active_ || authenticated_ != b / kBlocksPerSector) return withStatus({}, 0x6982);
        return withStatus(block(b), 0x9000);
    }
    return withStatus({}, 0x6D00);
}

}  // namespace vr
